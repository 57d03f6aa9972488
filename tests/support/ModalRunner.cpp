#include "tests/support/ModalRunner.h"
#include <map>

namespace {

std::map<UINT_PTR, WhenDialogAppears*> g_watchers;

struct RunState {
    CDialog* dialog;
    const std::function<void()>* body;
    UINT_PTR timer;
    bool endAfterBody;
    UINT_PTR giveUpTimer = 0;
};
RunState* g_run = nullptr;

void CALLBACK RunBody(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    RunState* run = g_run;
    if (run == nullptr || run->timer != id)
        return;
    (*run->body)();
    if (run->endAfterBody)
        run->dialog->EndDialog(IDCANCEL);
}

void CALLBACK GiveUp(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    if (g_run != nullptr && g_run->giveUpTimer == id)
        g_run->dialog->EndDialog(-2);
}

// Runs the dialog with body called from its modal loop; giveUpMs 0 never gives up.
INT_PTR Run(CDialog& dialog, const std::function<void()>& body, bool endAfterBody, DWORD giveUpMs) {
    RunState state{&dialog, &body, 0, endAfterBody};
    RunState* outer = g_run;
    g_run = &state;
    // A thread timer fires from whichever loop pumps messages: the dialog's modal loop here.
    state.timer = ::SetTimer(nullptr, 0, 1, &RunBody);
    if (giveUpMs != 0)
        state.giveUpTimer = ::SetTimer(nullptr, 0, giveUpMs, &GiveUp);
    const INT_PTR result = dialog.DoModal();
    ::KillTimer(nullptr, state.timer);
    if (state.giveUpTimer != 0)
        ::KillTimer(nullptr, state.giveUpTimer);
    g_run = outer;
    return result;
}

} // namespace

INT_PTR RunModal(CDialog& dialog, const std::function<void()>& body) {
    return Run(dialog, body, true, 0);
}

INT_PTR RunModalUntilEnded(CDialog& dialog, const std::function<void()>& body, DWORD giveUpMs) {
    return Run(dialog, body, false, giveUpMs);
}

WhenDialogAppears::WhenDialogAppears(std::wstring caption, std::function<void(HWND)> onWindow)
    : m_caption(std::move(caption)), m_onWindow(std::move(onWindow)),
      m_timer(::SetTimer(nullptr, 0, 5, &OnTimer)) {
    g_watchers[m_timer] = this;
}

WhenDialogAppears::~WhenDialogAppears() {
    ::KillTimer(nullptr, m_timer);
    g_watchers.erase(m_timer);
}

void CALLBACK WhenDialogAppears::OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
    auto found = g_watchers.find(id);
    if (found == g_watchers.end() || found->second->m_seen)
        return;
    WhenDialogAppears& self = *found->second;
    HWND window = ::FindWindowW(L"#32770", self.m_caption.c_str());
    if (window == nullptr || !::IsWindowVisible(window))
        return;
    self.m_seen = true;
    ::KillTimer(nullptr, id);
    self.m_onWindow(window);
}
