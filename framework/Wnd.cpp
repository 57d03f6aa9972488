#include "framework/Wnd.h"
#include "framework/DataExchange.h"
#include "framework/MessageBox.h"
#include "framework/WinApp.h"

const CRuntimeClass* CWnd::GetThisClass() {
    static constexpr CRuntimeClass record{"CWnd", &CCmdTarget::GetThisClass, nullptr};
    return &record;
}

const CRuntimeClass* CWnd::GetRuntimeClass() const {
    return GetThisClass();
}

CWnd::~CWnd() {
    if (CWinApp* app = AfxGetApp(); app != nullptr && app->m_pMainWnd == this)
        app->m_pMainWnd = nullptr;
}

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
    static constexpr AFX_MSGMAP map{&CCmdTarget::GetThisMessageMap, nullptr, 0};
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const {
    return GetThisMessageMap();
}

int CWnd::MessageBox(const wchar_t* text, const wchar_t* caption, UINT type) const {
    return AfxShowMessageBox(m_hWnd, text, caption, type);
}

CWnd CWnd::GetDlgItem(int nID) const {
    return CWnd(::GetDlgItem(m_hWnd, nID));
}

BOOL CWnd::EnableWindow(BOOL bEnable) {
    return ::EnableWindow(m_hWnd, bEnable);
}

BOOL CWnd::ShowWindow(int nCmdShow) {
    return ::ShowWindow(m_hWnd, nCmdShow);
}

BOOL CWnd::DestroyWindow() {
    return ::DestroyWindow(m_hWnd);
}

void CWnd::SetWindowText(const wchar_t* text) {
    ::SetWindowTextW(m_hWnd, text);
}

void CWnd::GetWindowText(std::wstring& text) const {
    text.assign(static_cast<size_t>(::GetWindowTextLengthW(m_hWnd)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(m_hWnd, text.data(), int(text.size()))));
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}

void CWnd::GetClientRect(LPRECT rect) const {
    ::GetClientRect(m_hWnd, rect);
}

CMenu CWnd::GetSystemMenu(BOOL bRevert) const {
    return CMenu(::GetSystemMenu(m_hWnd, bRevert));
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {
}

LRESULT CWnd::Default() {
    m_bDefaultRequested = true;
    return 0;
}
