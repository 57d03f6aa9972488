// The one door to the platform's message box.
//   AfxShowMessageBox         shows a modal box (MessageBoxW unless a test put a stand-in there)
//   AfxSetMessageBoxFunction  replaces the box, for tests that answer boxes instead of an operator
#pragma once

#include <windows.h>

using AfxMessageBoxFunction = int (*)(HWND hWndOwner, const wchar_t* text, const wchar_t* caption,
                                      UINT type);

int AfxShowMessageBox(HWND hWndOwner, const wchar_t* text, const wchar_t* caption, UINT type);

// Returns the function in use before; null puts MessageBoxW back.
AfxMessageBoxFunction AfxSetMessageBoxFunction(AfxMessageBoxFunction function);
