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

} // namespace

BOOL AfxOleInit() {
    if (FAILED(g_oleInitialize(nullptr)))
        return FALSE;
    ++g_oleInitCount;
    return TRUE;
}

void AfxOleTerm() {
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
    if (pMainWnd != nullptr && pMainWnd->m_hWnd != nullptr && ::IsWindowEnabled(pMainWnd->m_hWnd))
        pMainWnd->DestroyWindow();
}

AfxOleInitializeFunction AfxSetOleInitializeFunction(AfxOleInitializeFunction function) {
    AfxOleInitializeFunction previous = g_oleInitialize;
    g_oleInitialize = function ? function : &::OleInitialize;
    return previous;
}
