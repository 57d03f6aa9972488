// Connecting to a monitor, ending the connection, and closing the panel.
#include "panel/KelvaneDlg.h"
#include <string>
#include "core/ProtocolRules.h"
#include "protocol/OperatorTexts.h"

BYTE g_bConnected = 0;

namespace {

// The Connect button's caption is the connection's face: this one while a connection is up.
const wchar_t* const CAPTION_CONNECTED = L"Disconnect";
const wchar_t* const CAPTION_NOT_CONNECTED = L"Connect";

// The monitors' line: 19200 baud, 8 data bits, no parity check, no parity bit, one stop bit.
constexpr DWORD BAUD_RATE = protocol::BAUD_RATE;
constexpr int BYTE_SIZE = protocol::DATA_BITS;
// A read returns at once with a byte already there, else waits 100 ms for one; writes wait as
// long as the driver needs.
constexpr DWORD READ_INTERVAL = MAXDWORD;
constexpr DWORD READ_MULTIPLIER_MS = protocol::READ_TIMEOUT_MS;

// The selected entry of the port list as the list stores it, or empty when none is selected.
std::string SelectedPortName(const CComboBox& list) {
    const int index = list.GetCurSel();
    if (index < 0)
        return {};
    std::wstring name;
    list.GetLBText(index, name);
    std::string narrow;
    for (wchar_t c : name)
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

} // namespace

void CKelvaneDlg::OnConnect() {
    std::wstring caption;
    m_btnConnect.GetWindowText(caption);
    if (caption == CAPTION_CONNECTED) {
        Disconnect();
        return;
    }

    UpdateData(TRUE);
    BeginWaitCursor();
    // Text typed into the list's edit field is not a port: only a selected entry is. An empty name
    // would make the device path "//./" itself, so no selection counts as a port that does not
    // open.
    const std::string portName = SelectedPortName(m_cbComPort);
    if (portName.empty() || !m_serial.Open(portName.c_str())) {
        ShowError(L"Cannot open serial port. Please check your system configuration!");
    } else if (!m_serial.Setup(BAUD_RATE, BYTE_SIZE, 0, NOPARITY, ONESTOPBIT)) {
        ShowError(L"Cannot Configure Communication Port");
        m_serial.Close();
    } else if (!m_serial.SetTimeouts(READ_INTERVAL, READ_MULTIPLIER_MS, 0, 0, 0)) {
        ShowError(L"Cannot Configure Communication Timeouts");
        m_serial.Close();
    } else {
        g_bConnected = 1;
        if (!CheckUnitId()) {
            // After a failed write the query's Disconnect has already closed the port.
            if (g_bConnected) {
                m_serial.Close();
                g_bConnected = 0;
            }
        } else {
            CheckCurrentSource();
            CheckSignalStatus();
            CheckFirmwareVersion();
            if (g_bConnected) {
                m_btnConnect.SetWindowText(CAPTION_CONNECTED);
                m_strStatus = L"Connection is completed.";
                UpdateData(FALSE);
            }
        }
    }
    EndWaitCursor();
}

void CKelvaneDlg::Disconnect() {
    m_serial.Close();
    m_btnConnect.SetWindowText(CAPTION_NOT_CONNECTED);
    m_strStatus = L"Disconnected.";
    g_bConnected = 0;
    m_nSource = -1;
    m_strSignal.clear();
    m_strFirmware.clear();
    m_strUnitId.clear();
    EnableControls(FALSE);
    UpdateData(FALSE);
}

BOOL CKelvaneDlg::CanExit() {
    // The serial channel's boxes have no owner, so Exit and the close box still reach the panel
    // under them; the dialog must not end beneath the operation that shows them.
    if (m_bOperationRunning)
        return FALSE;
    // While an automation client holds the panel it only hides; the connection stays up.
    if (m_pAutoProxy != nullptr) {
        ShowWindow(SW_HIDE);
        return FALSE;
    }
    if (g_bConnected) {
        ResetTx();
        m_serial.Close();
        g_bConnected = 0;
    }
    return TRUE;
}

// The close request takes the dialog's default course: it becomes the cancel command, whose own
// exit check then finds the port already closed.
void CKelvaneDlg::OnClose() {
    if (CanExit())
        Default();
}

void CKelvaneDlg::OnOK() {
    if (CanExit())
        CDialog::OnOK();
}

void CKelvaneDlg::OnCancel() {
    if (CanExit())
        CDialog::OnCancel();
}

void CKelvaneDlg::ShowError(const wchar_t* text) {
    MessageBox(text, L"Error", MB_OK | MB_ICONHAND);
}
