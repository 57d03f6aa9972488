// Switching the monitor's input source.
#include "panel/KelvaneDlg.h"
#include <string>
#include "core/Sources.h"
#include "framework/DataExchange.h"
#include "protocol/OperatorTexts.h"
#include "res/resource.h"

void CKelvaneDlg::ChangeSource(BYTE source) {
    if (!g_bConnected || source >= protocol::SOURCE_COUNT)
        return;
    BeginWaitCursor();
    // The switch, its one resend after a refusal and, once acknowledged, the wait and the signal
    // re-check: the operator hears of it when the monitor's part is over.
    const SwitchOutcome outcome = m_protocol.SwitchSource(Address(), source);
    if (outcome.result == CMD_NAK) {
        MessageBox(L"This input source is not avaliable in this monitor !!!", L"Information",
                   MB_OK | MB_ICONINFORMATION);
    } else if (outcome.result == CMD_LINK_ERROR) {
        ShowError(TEXT_LINK_ERROR);
    } else if (outcome.result == CMD_SEND_FAILED) {
        ShowError(TEXT_SEND_FAILED);
        Disconnect();
    }
    ClearReply();

    if (outcome.Switched()) {
        m_nSource = source;
        UpdateData(FALSE);
        ShowSignal(outcome.signal);
        ClearReply();
        // The names are ASCII; in the order of the radio buttons.
        const std::string name = protocol::SOURCES[source].name;
        m_strStatus = L"Input source has been changed successfully. (" +
                      std::wstring(name.begin(), name.end()) + L")";
        UpdateData(FALSE);
    } else if (g_bConnected) {
        // The button the operator clicked shows checked; the monitor did not take that source,
        // so the check mark goes back to the one it has.
        CDataExchange dx(this, FALSE);
        DDX_Radio(&dx, IDC_SOURCE_HDMI1, m_nSource);
    }
    EndWaitCursor();
}
