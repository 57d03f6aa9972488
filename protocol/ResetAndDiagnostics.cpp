// Restoring the monitor's defaults and starting its diagnostic mode.
#include "panel/KelvaneDlg.h"
#include <cstring>
#include "framework/Clock.h"
#include "protocol/OperatorTexts.h"
#include "protocol/Transaction.h"

namespace {

// After a reset the monitor looks for a signal; it is asked at most this often whether it has one.
constexpr int SIGNAL_POLLS = 5;
// Then it gets this long to settle before its state is read afresh.
constexpr DWORD SETTLE_WAIT_MS = 2500;
// The diagnostic sequence's pauses after its first and second frames.
constexpr DWORD DIAGNOSTIC_FIRST_WAIT_MS = 2000;
constexpr DWORD DIAGNOSTIC_SECOND_WAIT_MS = 1000;

} // namespace

void CKelvaneDlg::DefaultSetting() {
    if (!g_bConnected)
        return;
    BeginWaitCursor();
    const CommandResult result = SendCommand(FALSE, MakeFrame(AddressOf(m_nUnitId), "DSS", "EXE"));
    if (result == CMD_LINK_ERROR || result == CMD_NAK) {
        ShowError(TEXT_LINK_ERROR_OR_NAK);
    } else if (result == CMD_SEND_FAILED) {
        ShowError(TEXT_SEND_FAILED);
        Disconnect();
    } else {
        // The polls' results are not consulted: one that fails counts as one of the five.
        for (int poll = 0; poll < SIGNAL_POLLS; ++poll) {
            SendCommand(TRUE, MakeFrame(AddressOf(m_nUnitId), "SIG", "000"));
            if (std::memcmp(g_reply, "SOK", 3) == 0)
                break;
        }
        AfxSleep(SETTLE_WAIT_MS);
        CheckCurrentSource();
        CheckSignalStatus();
        CheckUnitId();
        CheckFirmwareVersion();
    }
    ClearReply();
    EndWaitCursor();
    // Only a reset the monitor acknowledged is reported as done; after a failed one the status
    // line keeps what it said, or "Disconnected.".
    if (result == CMD_ACK)
        m_strStatus = L"Default setting is done.";
    UpdateData(FALSE);
}

void CKelvaneDlg::DiagnosticMode() {
    if (!g_bConnected)
        return;
    BeginWaitCursor();
    const CommandResult first = SendCommand(FALSE, MakeFrame(AddressOf(m_nUnitId), "DCS", "PON"));
    if (first == CMD_NAK) {
        EndWaitCursor();
        ShowError(L"This monitor has old firmware so this mode can't be executed.");
        return;
    }
    if (first != CMD_ACK) {
        EndWaitCursor();
        ShowError(TEXT_SEND_FAILED);
        Disconnect();
        return;
    }
    AfxSleep(DIAGNOSTIC_FIRST_WAIT_MS);

    // A failure after the first frame leaves the connection up: the sequence can start again.
    if (SendCommand(FALSE, MakeFrame(AddressOf(m_nUnitId), "KES", "FAC")) != CMD_ACK) {
        EndWaitCursor();
        ShowError(TEXT_LINK_ERROR_OR_NAK);
        return;
    }
    AfxSleep(DIAGNOSTIC_SECOND_WAIT_MS);
    if (SendCommand(FALSE, MakeFrame(AddressOf(m_nUnitId), "KES", "PLS")) != CMD_ACK) {
        EndWaitCursor();
        ShowError(TEXT_LINK_ERROR_OR_NAK);
        return;
    }
    m_strStatus = L"Diagnostic mode is running...";
    UpdateData(FALSE);
    EnableControls(TRUE);
    EndWaitCursor();
}
