// The framework's OLE support for the user-interface thread.
//   AfxOleInit                 initialises OLE (a single-threaded apartment)
//   AfxOleTerm                 revokes the class factories, then uninitialises OLE at program end
//   AfxOleSetUserCtrl/GetUserCtrl  whether the operator, not an automation client, runs the program
//   AfxOleLockApp/UnlockApp    the count of live automation objects; the last one of an
//                              automation-started program closes the main window
//   AfxEnableControlContainer  lets dialogs host controls
//   AfxSetOleInitializeFunction  replaces OleInitialize, for tests of a failing start
#pragma once

#include <windows.h>

using AfxOleInitializeFunction = HRESULT(WINAPI*)(LPVOID pvReserved);

BOOL AfxOleInit();
void AfxOleTerm();

void AfxOleSetUserCtrl(BOOL bUserCtrl);
BOOL AfxOleGetUserCtrl();

// One more live automation object.
void AfxOleLockApp();
// One fewer. When none is left and the application is not under the user's control, it comes
// under the user's control for good and the main window, when it exists and is enabled, is
// destroyed without asking it: its modal run, and with it the program, ends. A disabled main
// window (a box open over it) stays, and the operator ends the program as usual.
void AfxOleUnlockApp();

// The panel hosts no ActiveX controls, so there is nothing to prepare; the call keeps start-up's
// order readable.
inline void AfxEnableControlContainer() {
}

// Returns the function in use before; null puts OleInitialize back.
AfxOleInitializeFunction AfxSetOleInitializeFunction(AfxOleInitializeFunction function);
