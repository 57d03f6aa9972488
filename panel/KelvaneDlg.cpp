#include "panel/KelvaneDlg.h"
#include <iterator>
#include "app/AboutDlg.h"
#include "app/AutoProxy.h"
#include "framework/DataExchange.h"
#include "framework/PaintDC.h"
#include "framework/WinApp.h"
#include "res/resource.h"

CKelvaneDlg::CKelvaneDlg(CWnd* pParent)
    : CDialog(IDD_CONTROL_PANEL, pParent), m_nUnitId(0), m_nSource(-1), m_pAutoProxy(nullptr) {
    m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

const CRuntimeClass* CKelvaneDlg::GetThisClass() {
    static constexpr CRuntimeClass record{"CKelvaneDlg", &CDialog::GetThisClass, nullptr};
    return &record;
}

const CRuntimeClass* CKelvaneDlg::GetRuntimeClass() const {
    return GetThisClass();
}

// The object outlives the panel while its client holds it, and must not reach back into it.
CKelvaneDlg::~CKelvaneDlg() {
    if (m_pAutoProxy != nullptr)
        m_pAutoProxy->m_pDialog = nullptr;
}

template <auto Operation, auto... Args>
void CKelvaneDlg::RunOperation() {
    if (m_bOperationRunning)
        return;
    m_bOperationRunning = true;
    (this->*Operation)(Args...);
    m_bOperationRunning = false;
}

template <auto Operation, auto... Args>
constexpr AFX_MSGMAP_ENTRY CKelvaneDlg::OnOperation(UINT id) {
    return OnCommand<&CKelvaneDlg::RunOperation<Operation, Args...>>(BN_CLICKED, id);
}

const AFX_MSGMAP* CKelvaneDlg::GetThisMessageMap() {
    static constexpr AFX_MSGMAP_ENTRY entries[] = {
        OnMessage<&CKelvaneDlg::OnSysCommand>(WM_SYSCOMMAND),
        OnMessage<&CKelvaneDlg::OnPaint>(WM_PAINT),
        OnMessage<&CKelvaneDlg::OnQueryDragIcon>(WM_QUERYDRAGICON),
        OnMessage<&CKelvaneDlg::OnClose>(WM_CLOSE),
        OnOperation<&CKelvaneDlg::OnConnect>(IDC_CONNECT),
        OnOperation<&CKelvaneDlg::ChangeSource, BYTE(0)>(IDC_SOURCE_HDMI1),
        OnOperation<&CKelvaneDlg::ChangeSource, BYTE(1)>(IDC_SOURCE_HDMI2),
        OnOperation<&CKelvaneDlg::ChangeSource, BYTE(2)>(IDC_SOURCE_HDMI3),
        OnOperation<&CKelvaneDlg::ChangeSource, BYTE(3)>(IDC_SOURCE_VGA),
        OnOperation<&CKelvaneDlg::CheckUnitId>(IDC_CHECK_UNIT_ID),
        OnOperation<&CKelvaneDlg::CheckCurrentSource>(IDC_CHECK_SOURCE),
        OnOperation<&CKelvaneDlg::CheckFirmwareVersion>(IDC_CHECK_FIRMWARE),
        OnOperation<&CKelvaneDlg::CheckSignalStatus>(IDC_CHECK_SIGNAL),
        OnOperation<&CKelvaneDlg::DefaultSetting>(IDC_DEFAULT_SETTING),
        OnCommand<&CKelvaneDlg::OnSelchangeModel>(CBN_SELCHANGE, IDC_MODEL),
        OnOperation<&CKelvaneDlg::DiagnosticMode>(IDC_DIAGNOSTIC),
    };
    static constexpr AFX_MSGMAP map{&CDialog::GetThisMessageMap, entries, std::size(entries)};
    return &map;
}

const AFX_MSGMAP* CKelvaneDlg::GetMessageMap() const {
    return GetThisMessageMap();
}

void CKelvaneDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_MODEL, m_cbModel);
    DDX_Control(pDX, IDC_COM_PORT, m_cbComPort);
    DDX_Control(pDX, IDC_CONNECT, m_btnConnect);
    DDX_Radio(pDX, IDC_SOURCE_HDMI1, m_nSource);
    DDX_Text(pDX, IDC_SIGNAL_STATUS, m_strSignal);
    DDX_Text(pDX, IDC_FIRMWARE_VERSION, m_strFirmware);
    DDX_Text(pDX, IDC_UNIT_ID, m_strUnitId);
    DDX_Text(pDX, IDC_STATUS, m_strStatus);
}

BOOL CKelvaneDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    CMenu sysMenu = GetSystemMenu(FALSE);
    if (sysMenu.m_hMenu != nullptr) {
        const wchar_t* text = nullptr;
        const int length =
            ::LoadStringW(AfxGetResourceHandle(), IDS_ABOUTBOX, reinterpret_cast<LPWSTR>(&text), 0);
        if (length > 0) {
            const std::wstring aboutMenu(text, size_t(length));
            sysMenu.AppendMenu(MF_SEPARATOR);
            sysMenu.AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutMenu.c_str());
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_cbComPort.SetCurSel(0);
    m_cbModel.SetCurSel(0);
    m_nUnitId = 0;
    m_strStatus = L"Ready .....";
    UpdateData(FALSE);
    return TRUE;
}

void CKelvaneDlg::OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        Default();
    }
}

POINT MinimizedIconOrigin(const RECT& client, int cxIcon, int cyIcon) {
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    return {(width - cxIcon + 1) / 2, (height - cyIcon + 1) / 2};
}

void CKelvaneDlg::OnPaint() {
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(&client);
    const POINT origin = MinimizedIconOrigin(client, cxIcon, cyIcon);
    dc.DrawIcon(origin.x, origin.y, m_hIcon);
}

HCURSOR CKelvaneDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}
