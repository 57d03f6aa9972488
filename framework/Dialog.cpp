#include "framework/Dialog.h"
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include "framework/WinApp.h"

namespace {

// The resource type of a template's list contents ("dialog initialisation data"). Each entry is
// a control identifier (WORD), a message (WORD), a byte count (DWORD) and that many bytes of ANSI
// text with its terminating zero; a zero identifier ends the data.
constexpr WORD RT_DLGINIT_ID = 240;
// The add-string message as the data stores it (its number from 16-bit Windows).
constexpr WORD DLGINIT_CB_ADDSTRING = 0x0403;

template <class T>
T ReadUnaligned(const BYTE* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Where a template places its dialog: DLGTEMPLATEEX begins with version 1 and 0xFFFF.
POINT TemplatePosition(const DLGTEMPLATE* lpTemplate) {
    const auto* p = reinterpret_cast<const BYTE*>(lpTemplate);
    const bool extended = ReadUnaligned<WORD>(p) == 1 && ReadUnaligned<WORD>(p + 2) == 0xFFFF;
    const size_t offset = extended ? 18 : 10;
    return {ReadUnaligned<short>(p + offset), ReadUnaligned<short>(p + offset + 2)};
}

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}

} // namespace

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {
}

const CRuntimeClass* CDialog::GetThisClass() {
    static constexpr CRuntimeClass record{"CDialog", &CWnd::GetThisClass, nullptr};
    return &record;
}

const CRuntimeClass* CDialog::GetRuntimeClass() const {
    return GetThisClass();
}

const AFX_MSGMAP* CDialog::GetThisMessageMap() {
    static constexpr AFX_MSGMAP_ENTRY entries[] = {
        OnCommand<&CDialog::OnOK>(BN_CLICKED, IDOK),
        OnCommand<&CDialog::OnCancel>(BN_CLICKED, IDCANCEL),
    };
    static constexpr AFX_MSGMAP map{&CWnd::GetThisMessageMap, entries, std::size(entries)};
    return &map;
}

const AFX_MSGMAP* CDialog::GetMessageMap() const {
    return GetThisMessageMap();
}

INT_PTR CDialog::DoModal() {
    HINSTANCE hInstance = AfxGetResourceHandle();
    HRSRC hResource = ::FindResourceW(hInstance, MAKEINTRESOURCEW(m_nIDTemplate), RT_DIALOG);
    if (hResource == nullptr)
        return -1;
    m_lpTemplate =
        static_cast<const DLGTEMPLATE*>(::LockResource(::LoadResource(hInstance, hResource)));

    HWND hWndOwner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (hWndOwner == nullptr && AfxGetMainWnd() != nullptr && AfxGetMainWnd() != this)
        hWndOwner = AfxGetMainWnd()->m_hWnd;
    const bool enableOwner = hWndOwner != nullptr && ::IsWindowEnabled(hWndOwner);
    if (enableOwner)
        ::EnableWindow(hWndOwner, FALSE);

    m_bContinueModal = true;
    m_nModalResult = -1;
    ::CreateDialogIndirectParamW(hInstance, m_lpTemplate, hWndOwner, &CDialog::DialogProc,
                                 reinterpret_cast<LPARAM>(this));
    if (m_hWnd != nullptr && m_bContinueModal) {
        if (!::IsWindowVisible(m_hWnd))
            ShowWindow(SW_SHOWNORMAL);
        RunModalLoop();
    }

    // The owner comes back before this window goes, so activation returns to it and not to
    // some other program's window.
    if (enableOwner)
        ::EnableWindow(hWndOwner, TRUE);
    if (m_hWnd != nullptr) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
        if (hWndOwner != nullptr && ::GetActiveWindow() == m_hWnd)
            ::SetActiveWindow(hWndOwner);
        DestroyWindow();
    }
    m_lpTemplate = nullptr;
    return m_nModalResult;
}

void CDialog::RunModalLoop() {
    MSG msg;
    while (m_bContinueModal && m_hWnd != nullptr) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT ends the run; it stays in the queue for whoever runs below us.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1)
            break;
        if (!::IsDialogMessageW(m_hWnd, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

void CDialog::EndDialog(int nResult) {
    m_nModalResult = nResult;
    m_bContinueModal = false;
    // Wakes the modal loop when the call came from outside a message it dispatched.
    if (m_hWnd != nullptr)
        ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::OnInitDialog() {
    if (!ExecuteDlgInit() || !UpdateData(FALSE)) {
        EndDialog(-1);
        return FALSE;
    }
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::ExecuteDlgInit() {
    HINSTANCE hInstance = AfxGetResourceHandle();
    HRSRC hResource = ::FindResourceW(hInstance, MAKEINTRESOURCEW(m_nIDTemplate),
                                      MAKEINTRESOURCEW(RT_DLGINIT_ID));
    if (hResource == nullptr)
        return TRUE;
    const auto* p = static_cast<const BYTE*>(::LockResource(::LoadResource(hInstance, hResource)));
    const BYTE* end = p + ::SizeofResource(hInstance, hResource);
    while (end - p >= 2) {
        const WORD nIDC = ReadUnaligned<WORD>(p);
        if (nIDC == 0)
            break;
        if (end - p < 8)
            return FALSE;
        const WORD message = ReadUnaligned<WORD>(p + 2);
        const DWORD length = ReadUnaligned<DWORD>(p + 4);
        p += 8;
        if (message != DLGINIT_CB_ADDSTRING || length > DWORD(end - p))
            return FALSE;
        const std::string text(reinterpret_cast<const char*>(p),
                               strnlen(reinterpret_cast<const char*>(p), length));
        std::wstring wide(text.size(), L'\0');
        wide.resize(static_cast<size_t>(::MultiByteToWideChar(
            CP_ACP, 0, text.data(), int(text.size()), wide.data(), int(wide.size()))));
        const LRESULT added = ::SendDlgItemMessageW(m_hWnd, nIDC, CB_ADDSTRING, 0,
                                                    reinterpret_cast<LPARAM>(wide.c_str()));
        if (added == CB_ERR || added == CB_ERRSPACE)
            return FALSE;
        p += length;
    }
    return TRUE;
}

void CDialog::CenterWindow() {
    // Over the owner when it is on the screen, else in the middle of the work area.
    RECT area{};
    HWND hWndOwner = ::GetWindow(m_hWnd, GW_OWNER);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(hWndOwner ? hWndOwner : m_hWnd, MONITOR_DEFAULTTOPRIMARY),
                      &monitor);
    if (hWndOwner != nullptr && ::IsWindowVisible(hWndOwner) && !::IsIconic(hWndOwner))
        ::GetWindowRect(hWndOwner, &area);
    else
        area = monitor.rcWork;

    RECT window{};
    ::GetWindowRect(m_hWnd, &window);
    const LONG width = window.right - window.left;
    const LONG height = window.bottom - window.top;
    LONG x = (area.left + area.right) / 2 - width / 2;
    LONG y = (area.top + area.bottom) / 2 - height / 2;
    const RECT& work = monitor.rcWork;
    x = std::max(work.left, std::min(x, work.right - width));
    y = std::max(work.top, std::min(y, work.bottom - height));
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // No exception may unwind through the window manager's frames. The standard library's
    // allocation failures are the only ones this program can meet; the message then counts as
    // not handled.
    try {
        if (message == WM_INITDIALOG) {
            auto* pDialog = reinterpret_cast<CDialog*>(lParam);
            ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, lParam);
            return pDialog->HandleInitDialog(hWnd);
        }
        auto* pDialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (pDialog == nullptr)
            return FALSE;
        if (message == WM_NCDESTROY) {
            ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
            pDialog->m_hWnd = nullptr;
            if (CWinApp* app = AfxGetApp(); app != nullptr && app->m_pMainWnd == pDialog)
                app->m_pMainWnd = nullptr;
            return FALSE;
        }
        return pDialog->Dispatch(hWnd, message, wParam, lParam);
    } catch (...) {
        return FALSE;
    }
}

INT_PTR CDialog::HandleInitDialog(HWND hWnd) {
    m_hWnd = hWnd;
    const INT_PTR result = OnInitDialog();
    // A template placed at 0, 0 asks to be centred when it opens.
    if (m_hWnd != nullptr && m_lpTemplate != nullptr) {
        const POINT position = TemplatePosition(m_lpTemplate);
        if (position.x == 0 && position.y == 0)
            CenterWindow();
    }
    return result;
}

// The one place that decides what the dialog procedure returns: the row of the message map
// (the dialog's, then the application's for a command), else FALSE for the platform's default.
INT_PTR CDialog::Dispatch(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const UINT code = message == WM_COMMAND ? HIWORD(wParam) : 0;
    const UINT id = message == WM_COMMAND ? LOWORD(wParam) : 0;
    CCmdTarget* target = this;
    const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(message, code, id);
    if (entry == nullptr && message == WM_COMMAND && AfxGetApp() != nullptr) {
        target = AfxGetApp();
        entry = target->FindMessageEntry(message, code, id);
    }
    if (entry == nullptr)
        return FALSE;

    const bool outerRequest = m_bDefaultRequested;
    m_bDefaultRequested = false;
    const LRESULT result = entry->pfn(*target, wParam, lParam);
    const bool wantsDefault = m_bDefaultRequested;
    m_bDefaultRequested = outerRequest;
    if (wantsDefault)
        return FALSE;
    if (ReturnsResultDirectly(message))
        return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}
