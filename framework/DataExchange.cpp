#include "framework/DataExchange.h"

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    // Nothing routes messages to control objects, so attaching the handle is all it takes.
    if (rControl.m_hWnd == nullptr)
        rControl.m_hWnd = pDX->PrepareCtrl(nIDC);
}

void DDX_Radio(CDataExchange* pDX, int nIDC, int& value) {
    HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        value = -1;
    int index = 0;
    do {
        if (::SendMessageW(hWndCtrl, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) {
            if (pDX->m_bSaveAndValidate) {
                if (::SendMessageW(hWndCtrl, BM_GETCHECK, 0, 0) != BST_UNCHECKED)
                    value = index;
            } else {
                ::SendMessageW(hWndCtrl, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED,
                               0);
            }
            ++index;
        }
        hWndCtrl = ::GetWindow(hWndCtrl, GW_HWNDNEXT);
    } while (hWndCtrl != nullptr && !(::GetWindowLongW(hWndCtrl, GWL_STYLE) & WS_GROUP));
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::wstring& value) {
    CWnd control(pDX->PrepareCtrl(nIDC));
    std::wstring current;
    control.GetWindowText(current);
    if (pDX->m_bSaveAndValidate)
        value = current;
    else if (current != value)
        control.SetWindowText(value.c_str());
}
