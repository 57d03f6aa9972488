#include "framework/Ole.h"
#include <ole2.h>

namespace {

AfxOleInitializeFunction g_oleInitialize = &::OleInitialize;
int g_oleInitCount = 0;
BOOL g_bUserCtrl = TRUE;

} // namespace

BOOL AfxOleInit() {
    if (FAILED(g_oleInitialize(nullptr)))
        return FALSE;
    ++g_oleInitCount;
    return TRUE;
}

void AfxOleTerm() {
    for (; g_oleInitCount > 0; --g_oleInitCount)
        ::OleUninitialize();
}

void AfxOleSetUserCtrl(BOOL bUserCtrl) {
    g_bUserCtrl = bUserCtrl;
}

BOOL AfxOleGetUserCtrl() {
    return g_bUserCtrl;
}

AfxOleInitializeFunction AfxSetOleInitializeFunction(AfxOleInitializeFunction function) {
    AfxOleInitializeFunction previous = g_oleInitialize;
    g_oleInitialize = function ? function : &::OleInitialize;
    return previous;
}
