#include "app/AboutDlg.h"
#include "res/resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {
}

// No rows: OK, Escape and the close button take the dialog's default course and end it.
const AFX_MSGMAP* CAboutDlg::GetThisMessageMap() {
    static constexpr AFX_MSGMAP map{&CDialog::GetThisMessageMap, nullptr, 0};
    return &map;
}

const AFX_MSGMAP* CAboutDlg::GetMessageMap() const {
    return GetThisMessageMap();
}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}
