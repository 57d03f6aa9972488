#include "tests/support/MessageBoxRecorder.h"

namespace {

MessageBoxRecorder* g_recorder = nullptr;

} // namespace

MessageBoxRecorder::MessageBoxRecorder() : m_previous(AfxSetMessageBoxFunction(&Show)) {
    g_recorder = this;
}

MessageBoxRecorder::~MessageBoxRecorder() {
    AfxSetMessageBoxFunction(m_previous);
    g_recorder = nullptr;
}

int MessageBoxRecorder::Show(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    const bool waitCursor = ::GetCursor() == ::LoadCursorW(nullptr, IDC_WAIT);
    g_recorder->boxes.push_back(
        {owner, text ? text : L"", caption ? caption : L"", type, waitCursor});
    return IDOK;
}
