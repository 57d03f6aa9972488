// Restoring the monitor's defaults and starting its diagnostic mode.
#include "panel/KelvaneDlg.h"
#include "protocol/OperatorTexts.h"

void CKelvaneDlg::DefaultSetting() {
    if (!g_bConnected)
        return;
    BeginWaitCursor();
    // The reset, its polls and settling wait, then the four queries as their buttons run them,
    // each showing its own box, each whatever the one before did.
    const ResetOutcome outcome = m_protocol.RestoreDefaults(Address(), [this](Query query) {
        RunQuery(query);
        return true;
    });
    if (outcome.result == CMD_LINK_ERROR || outcome.result == CMD_NAK) {
        ShowError(TEXT_LINK_ERROR_OR_NAK);
    } else if (outcome.result == CMD_SEND_FAILED) {
        ShowError(TEXT_SEND_FAILED);
        Disconnect();
    }
    ClearReply();
    EndWaitCursor();
    // Only a reset the monitor acknowledged is reported as done; after a failed one the status
    // line keeps what it said, or "Disconnected.".
    if (outcome.result == CMD_ACK)
        m_strStatus = L"Default setting is done.";
    UpdateData(FALSE);
}

void CKelvaneDlg::DiagnosticMode() {
    if (!g_bConnected)
        return;
    BeginWaitCursor();
    const DiagnosticOutcome outcome = m_protocol.StartDiagnostic(Address());
    if (outcome.Started()) {
        m_strStatus = L"Diagnostic mode is running...";
        UpdateData(FALSE);
        EnableControls(TRUE);
        EndWaitCursor();
        return;
    }
    EndWaitCursor();
    if (outcome.failedStep == 1 && outcome.result == CMD_NAK) {
        ShowError(L"This monitor has old firmware so this mode can't be executed.");
    } else if (outcome.failedStep == 1) {
        ShowError(TEXT_SEND_FAILED);
        Disconnect();
    } else {
        // A failure after the first frame leaves the connection up: the sequence can start again.
        ShowError(TEXT_LINK_ERROR_OR_NAK);
    }
}
