#include "framework/Ole.h"
#include <ole2.h>
#include "framework/ObjectFactory.h"
#include "framework/WinApp.h"
#include "framework/Wnd.h"

namespace {

AfxOleInitializeFunction g_oleInitialize = &::OleInitialize;
int g_oleInitCount = 0;
BOOL g_bUserCtrl = TRUE;
LONG g_nObjectCount = 0;
// Set when the last object's release closed the main window, so the program ends straight after
// answering a client's call.
bool g_bEndedByRelease = false;

// Wine quirk: the thread of Wine's RPC layer that sends the answer to a call counts the call as
// running until just after the answer has gone, while this thread, woken by the same answer, can
// already be in OleUninitialize. That waits for the running calls of the interfaces it takes down,
// and when the count drops during a narrow moment of that wait, nothing wakes it: the program
// hangs at its end, seen under load after a script released its object. Waiting this long first
// lets the answer go out; a program that ends for its client has no one waiting on it.
constexpr DWORD LAST_ANSWER_GRACE_MS = 250;

} // namespace

BOOL AfxOleInit() {
    if (FAILED(g_oleInitialize(nullptr)))
        return FALSE;
    ++g_oleInitCount;
    return TRUE;
}

void AfxOleTerm() {
    if (g_bEndedByRelease) {
        ::Sleep(LAST_ANSWER_GRACE_MS);
        g_bEndedByRelease = false;
    }
    // Revoking after OLE is gone would reach a runtime that no longer knows the registrations.
    COleObjectFactory::RevokeAll();
    for (; g_oleInitCount > 0; --g_oleInitCount)
        ::OleUninitialize();
}

void AfxOleSetUserCtrl(BOOL bUserCtrl) {
    g_bUserCtrl = bUserCtrl;
}

BOOL AfxOleGetUserCtrl() {
    return g_bUserCtrl;
}

void AfxOleLockApp() {
    ::InterlockedIncrement(&g_nObjectCount);
}

void AfxOleUnlockApp() {
    if (::InterlockedDecrement(&g_nObjectCount) != 0 || AfxOleGetUserCtrl())
        return;
    AfxOleSetUserCtrl(TRUE);
    CWnd* pMainWnd = AfxGetMainWnd();
    if (pMainWnd != nullptr && pMainWnd->m_hWnd != nullptr && ::IsWindowEnabled(pMainWnd->m_hWnd)) {
        g_bEndedByRelease = true;
        pMainWnd->DestroyWindow();
    }
}

AfxOleInitializeFunction AfxSetOleInitializeFunction(AfxOleInitializeFunction function) {
    AfxOleInitializeFunction previous = g_oleInitialize;
    g_oleInitialize = function ? function : &::OleInitialize;
    return previous;
}
