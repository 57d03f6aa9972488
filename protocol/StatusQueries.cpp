// Reading the monitor's unit ID, input source, signal status and firmware version.
// Each query sends one frame, reads what the answer's data bytes say into its field and the status
// line, and reports a broken link in a box; without a connection it sends, shows and changes
// nothing.
#include "panel/KelvaneDlg.h"
#include <string>
#include "protocol/OperatorTexts.h"
#include "protocol/Transaction.h"

namespace {

// The monitor's source codes in the order of the radio buttons.
constexpr const char* SOURCE_CODES[] = {"HD1", "HD2", "HD3", "VGA"};

bool ReplyIs(const char* code) {
    return g_reply[0] == BYTE(code[0]) && g_reply[1] == BYTE(code[1]) &&
           g_reply[2] == BYTE(code[2]);
}

bool IsBlank(BYTE c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The three data bytes as a decimal number: blanks first, a sign, then digits up to the first
// other byte; no digits give 0.
int UnitIdFromReply() {
    size_t i = 0;
    while (i < 3 && IsBlank(g_reply[i]))
        ++i;
    bool negative = false;
    if (i < 3 && (g_reply[i] == '+' || g_reply[i] == '-'))
        negative = g_reply[i++] == '-';
    int number = 0;
    for (; i < 3 && g_reply[i] >= '0' && g_reply[i] <= '9'; ++i)
        number = number * 10 + (g_reply[i] - '0');
    return negative ? -number : number;
}

// Data bytes 2 to 5 carry the version; a byte that did not come ends it early.
std::wstring FirmwareFromReply() {
    std::wstring text;
    for (size_t i = 2; i < 6 && g_reply[i] != 0; ++i)
        text += static_cast<wchar_t>(g_reply[i]);
    return text;
}

} // namespace

BOOL CKelvaneDlg::CheckUnitId() {
    if (!g_bConnected)
        return FALSE;
    BeginWaitCursor();
    // Every monitor answers the unit-ID query at address "0", whatever its own unit ID.
    const CommandResult result = SendCommand(TRUE, MakeFrame('0', "UIG", "000"));
    BOOL answered = FALSE;
    switch (result) {
    case CMD_LINK_ERROR:
        // Later frames go to address "0"; the field still shows the last unit ID read.
        m_nUnitId = 0;
        ShowError(TEXT_NO_ANSWER);
        break;
    case CMD_SEND_FAILED:
        ShowError(TEXT_SEND_FAILED);
        Disconnect();
        break;
    default:
        m_nUnitId = UnitIdFromReply();
        m_strUnitId = std::to_wstring(m_nUnitId);
        m_strStatus = L"Unit ID is updated.";
        UpdateData(FALSE);
        answered = TRUE;
        break;
    }
    ClearReply();
    EndWaitCursor();
    return answered;
}

void CKelvaneDlg::CheckCurrentSource() {
    if (!g_bConnected)
        return;
    BeginWaitCursor();
    const CommandResult result = SendCommand(TRUE, MakeFrame(AddressOf(m_nUnitId), "SSG", "000"));
    if (!ReportFailedQuery(result)) {
        // An unknown code leaves the source as it was.
        for (int i = 0; i < 4; ++i) {
            if (ReplyIs(SOURCE_CODES[i]))
                m_nSource = i;
        }
        m_strStatus = L"Current input source is updated";
        UpdateData(FALSE);
    }
    ClearReply();
    EndWaitCursor();
}

void CKelvaneDlg::CheckSignalStatus() {
    if (!g_bConnected)
        return;
    BeginWaitCursor();
    const CommandResult result = SendCommand(TRUE, MakeFrame(AddressOf(m_nUnitId), "SIG", "000"));
    if (!ReportFailedQuery(result)) {
        m_strSignal = ReplyIs("SOK") ? L"Signal OK" : L"No Signal";
        m_strStatus = L"Current input signal status is updated";
        UpdateData(FALSE);
    }
    ClearReply();
    EndWaitCursor();
}

void CKelvaneDlg::CheckFirmwareVersion() {
    if (!g_bConnected)
        return;
    BeginWaitCursor();
    // Takes the checked source button into m_nSource along with the other controls.
    UpdateData(TRUE);
    // The transaction reads the six data bytes of an "FV" command by itself.
    const CommandResult result = SendCommand(FALSE, MakeFrame(AddressOf(m_nUnitId), "FVS", "ENA"));
    if (!ReportFailedQuery(result)) {
        if (result == CMD_ACK) {
            m_strFirmware = FirmwareFromReply();
            m_strStatus = L"Firmware version is updated.";
        } else {
            // A refusal: the status line keeps what it said.
            m_strFirmware = L"Invalid";
        }
        UpdateData(FALSE);
    }
    ClearReply();
    EndWaitCursor();
}

bool CKelvaneDlg::ReportFailedQuery(CommandResult result) {
    if (result == CMD_LINK_ERROR) {
        ShowError(TEXT_LINK_ERROR);
        return true;
    }
    if (result == CMD_SEND_FAILED) {
        ShowError(TEXT_SEND_FAILED);
        Disconnect();
        return true;
    }
    return false;
}
