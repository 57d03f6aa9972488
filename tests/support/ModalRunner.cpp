#include "tests/support/ModalRunner.h"
#include <map>

namespace {

std::map<UINT_PTR, WhenDialogAppears*> g_watchers;

struct RunState {
    CDialog* dialog;
    const std::function<void()>* body;
    UINT_PTR timer;
};
RunState* g_run = nullptr;

void CALLBACK RunBody(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    RunState* run = g_run;
    if (run == nullptr || run->timer != id)
        return;
    (*run->body)();
    run->dialog->EndDialog(IDCANCEL);
}

} // namespace

INT_PTR RunModal(CDialog& dialog, const std::function<void()>& body) {
    RunState state{&dialog, &body, 0};
    RunState* outer = g_run;
    g_run = &state;
    // A thread timer fires from whichever loop pumps messages: the dialog's modal loop here.
    state.timer = ::SetTimer(nullptr, 0, 1, &RunBody);
    const INT_PTR result = dialog.DoModal();
    ::KillTimer(nullptr, state.timer);
    g_run = outer;
    return result;
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
