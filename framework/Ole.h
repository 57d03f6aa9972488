// The framework's OLE support for the user-interface thread.
//   AfxOleInit                 initialises OLE (a single-threaded apartment)
//   AfxOleTerm                 revokes the class factories and uninitialises OLE at program end
//   AfxOleSetUserCtrl/GetUserCtrl  whether the operator, not an automation client, runs the program
//   AfxEnableControlContainer  lets dialogs host controls
//   AfxSetOleInitializeFunction  replaces OleInitialize, for tests of a failing start
#pragma once

#include <windows.h>

using AfxOleInitializeFunction = HRESULT(WINAPI*)(LPVOID pvReserved);

BOOL AfxOleInit();
void AfxOleTerm();

void AfxOleSetUserCtrl(BOOL bUserCtrl);
BOOL AfxOleGetUserCtrl();

// The panel hosts no ActiveX controls, so there is nothing to prepare; the call keeps start-up's
// order readable.
inline void AfxEnableControlContainer() {
}

// Returns the function in use before; null puts OleInitialize back.
AfxOleInitializeFunction AfxSetOleInitializeFunction(AfxOleInitializeFunction function);
