#include "tests/e2e/PanelOperator.h"
#include <atomic>
#include <thread>
#include "res/resource.h"

namespace {

// How often the operator looks at the screen while a click's operation runs.
constexpr DWORD LOOK_INTERVAL_MS = 10;

std::wstring WindowText(HWND window) {
    wchar_t text[512] = {};
    DWORD_PTR length = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                          SMTO_NORMAL, 5000, &length);
    return text;
}

struct FindBoxState {
    HWND panel;
    HWND box;
};

BOOL CALLBACK FindBoxWindow(HWND window, LPARAM param) {
    auto& find = *reinterpret_cast<FindBoxState*>(param);
    wchar_t className[16] = {};
    ::GetClassNameW(window, className, 16);
    if (window != find.panel && std::wstring(className) == L"#32770" && ::IsWindowVisible(window)) {
        find.box = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

PanelOperator::PanelOperator(HWND panel)
    : m_panel(panel), m_thread(::GetWindowThreadProcessId(panel, nullptr)) {
}

std::vector<SeenBox> PanelOperator::Click(int id, DWORD timeoutMs,
                                          const std::function<void(const SeenBox&)>& answer) {
    HWND button = Item(id);
    // Wine's buttons take BM_CLICK even when disabled; the operator's mouse cannot.
    if (!::IsWindowEnabled(button) || !::IsWindowEnabled(m_panel)) {
        m_finished = true;
        m_clickedAt = m_endedAt = ::GetTickCount64();
        return {};
    }
    return Operate(button, BM_CLICK, 0, timeoutMs, answer);
}

void PanelOperator::Press(int id) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(Item(id), BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &result);
}

std::vector<SeenBox>
PanelOperator::SystemCommand(UINT command, DWORD timeoutMs,
                             const std::function<void(const SeenBox&)>& answer) {
    return Operate(m_panel, WM_SYSCOMMAND, command, timeoutMs, answer);
}

std::vector<SeenBox> PanelOperator::Operate(HWND target, UINT message, WPARAM wParam,
                                            DWORD timeoutMs,
                                            const std::function<void(const SeenBox&)>& answer) {
    // The message is sent from a thread of its own, which the panel holds until the operation
    // behind it has returned; meanwhile this thread watches for boxes and answers them.
    std::atomic<bool> done{false};
    m_clickedAt = ::GetTickCount64();
    std::thread sender([&] {
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(target, message, wParam, 0, SMTO_NORMAL, timeoutMs, &result);
        done = true;
    });

    std::vector<SeenBox> seen;
    const ULONGLONG deadline = m_clickedAt + timeoutMs;
    HWND answered = nullptr;
    while (!done && ::GetTickCount64() < deadline) {
        HWND box = FindBox();
        if (box != answered && answered != nullptr)
            seen.back().closedAt = ::GetTickCount64();
        if (box != nullptr && box != answered) {
            seen.push_back(Read(box));
            if (answer)
                answer(seen.back());
            else
                ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
        answered = box;
        ::Sleep(LOOK_INTERVAL_MS);
    }
    sender.join();
    m_finished = done;
    m_endedAt = ::GetTickCount64();
    if (answered != nullptr && m_finished)
        seen.back().closedAt = m_endedAt;
    return seen;
}

void PanelOperator::Choose(int listId, int index) {
    ::SendMessageW(Item(listId), CB_SETCURSEL, WPARAM(index), 0);
    ::SendMessageW(m_panel, WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(Item(listId)));
}

void PanelOperator::Command(UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(m_panel, message, wParam, lParam, SMTO_NORMAL, 30000, &result);
}

std::wstring PanelOperator::Text(int id) const {
    return WindowText(Item(id));
}

bool PanelOperator::Checked(int id) const {
    return ::SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool PanelOperator::Enabled(int id) const {
    return ::IsWindowEnabled(Item(id)) != FALSE;
}

bool PanelOperator::Visible() const {
    return ::IsWindowVisible(m_panel) != FALSE;
}

std::vector<int> PanelOperator::CheckedSources() const {
    std::vector<int> checked;
    for (int i = 0; i < 4; ++i)
        if (Checked(IDC_SOURCE_HDMI1 + i))
            checked.push_back(i);
    return checked;
}

bool PanelOperator::WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (::GetTickCount64() >= deadline)
            return false;
        ::Sleep(LOOK_INTERVAL_MS);
    }
    return true;
}

HWND PanelOperator::FindBox() const {
    FindBoxState find{m_panel, nullptr};
    ::EnumThreadWindows(m_thread, &FindBoxWindow, reinterpret_cast<LPARAM>(&find));
    return find.box;
}

SeenBox PanelOperator::Read(HWND box) const {
    SeenBox seen{};
    seen.shownAt = ::GetTickCount64();
    seen.closedAt = 0;
    seen.caption = WindowText(box);
    // A message box keeps its text in a static control with the identifier 0xFFFF.
    seen.text = WindowText(::GetDlgItem(box, 0xFFFF));
    seen.ownedByPanel = ::GetWindow(box, GW_OWNER) == m_panel && !::IsWindowEnabled(m_panel);
    return seen;
}
