#include "framework/WinApp.h"
#include "framework/MessageBox.h"
#include "framework/Ole.h"
#include "framework/Wnd.h"

namespace {

CWinApp* g_pApp = nullptr;

std::wstring ModuleBaseName() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos)
        name.resize(dot);
    return name;
}

// Finds the switch character followed by the word and takes both out of the command line.
bool TakeSwitch(std::wstring& commandLine, const std::wstring& word) {
    for (size_t i = 0; i < commandLine.size(); ++i) {
        if ((commandLine[i] == L'-' || commandLine[i] == L'/') &&
            commandLine.compare(i + 1, word.size(), word) == 0) {
            commandLine.erase(i, word.size() + 1);
            return true;
        }
    }
    return false;
}

} // namespace

CWinApp::CWinApp(const wchar_t* pszAppName)
    : m_strAppName(pszAppName ? pszAppName : ModuleBaseName()) {
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this)
        g_pApp = nullptr;
}

const AFX_MSGMAP* CWinApp::GetThisMessageMap() {
    static constexpr AFX_MSGMAP map{&CCmdTarget::GetThisMessageMap, nullptr, 0};
    return &map;
}

const AFX_MSGMAP* CWinApp::GetMessageMap() const {
    return GetThisMessageMap();
}

BOOL CWinApp::InitInstance() {
    return FALSE;
}

BOOL CWinApp::RunEmbedded() {
    if (!TakeSwitch(m_strCmdLine, L"Embedding"))
        return FALSE;
    AfxOleSetUserCtrl(FALSE);
    return TRUE;
}

BOOL CWinApp::RunAutomated() {
    if (!TakeSwitch(m_strCmdLine, L"Automation"))
        return FALSE;
    AfxOleSetUserCtrl(FALSE);
    return TRUE;
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

CWnd* AfxGetMainWnd() {
    return g_pApp ? g_pApp->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetResourceHandle() {
    return ::GetModuleHandleW(nullptr);
}

int AfxMessageBox(UINT nIDPrompt, UINT nType) {
    const wchar_t* resource = nullptr;
    const int length =
        ::LoadStringW(AfxGetResourceHandle(), nIDPrompt, reinterpret_cast<LPWSTR>(&resource), 0);
    const std::wstring text(resource, length > 0 ? size_t(length) : 0);
    if ((nType & MB_ICONMASK) == 0)
        nType |= MB_ICONEXCLAMATION;
    CWnd* pMainWnd = AfxGetMainWnd();
    return AfxShowMessageBox(pMainWnd ? pMainWnd->m_hWnd : nullptr, text.c_str(),
                             g_pApp ? g_pApp->m_strAppName.c_str() : nullptr, nType);
}

int AfxWinMain(HINSTANCE hInstance, LPWSTR lpCmdLine, int) {
    // No exception may leave the program's entry point; the standard library's allocation
    // failures are the only ones this program can meet.
    try {
        CWinApp* app = AfxGetApp();
        if (app == nullptr)
            return -1;
        app->m_hInstance = hInstance;
        app->m_strCmdLine = lpCmdLine ? lpCmdLine : L"";
        app->InitInstance();
        AfxOleTerm();
        return 0;
    } catch (...) {
        return -1;
    }
}
