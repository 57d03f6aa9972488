#include "framework/MessageBox.h"

namespace {

AfxMessageBoxFunction g_messageBox = &::MessageBoxW;

} // namespace

int AfxShowMessageBox(HWND hWndOwner, const wchar_t* text, const wchar_t* caption, UINT type) {
    return g_messageBox(hWndOwner, text, caption, type);
}

AfxMessageBoxFunction AfxSetMessageBoxFunction(AfxMessageBoxFunction function) {
    AfxMessageBoxFunction previous = g_messageBox;
    g_messageBox = function ? function : &::MessageBoxW;
    return previous;
}
