// Switching the monitor's input source.
#include "panel/KelvaneDlg.h"
#include <string>
#include "framework/Clock.h"
#include "framework/DataExchange.h"
#include "protocol/OperatorTexts.h"
#include "res/resource.h"

namespace {

struct Source {
    const char* code;     // the argument of the switch frame
    const wchar_t* label; // how the status line names it
};
// In the order of the radio buttons: HDMI 1, HDMI 2, HDMI 3, VGA.
constexpr Source SOURCES[] = {
    {"HD1", L"HDMI1"}, {"HD2", L"HDMI2"}, {"HD3", L"HDMI3"}, {"VGA", L"VGA"}};

// A monitor that refuses a switch gets it once more after this long.
constexpr DWORD RESEND_WAIT_MS = 2000;
// The monitor takes this long to change its input before the signal can be read.
constexpr DWORD SWITCH_WAIT_MS = 3000;

} // namespace

void CKelvaneDlg::ChangeSource(BYTE source) {
    if (!g_bConnected || source >= std::size(SOURCES))
        return;
    BeginWaitCursor();
    const Source& target = SOURCES[source];
    const char argument[4] = {target.code[0], target.code[1], target.code[2], 0};
    const CommandFrame frame = MakeFrame(AddressOf(m_nUnitId), "SSS", argument);

    CommandResult result = SendCommand(FALSE, frame);
    if (result == CMD_NAK) {
        AfxSleep(RESEND_WAIT_MS);
        result = SendCommand(FALSE, frame);
        if (result == CMD_NAK)
            MessageBox(L"This input source is not avaliable in this monitor !!!", L"Information",
                       MB_OK | MB_ICONINFORMATION);
    }
    // A resend is answered like the first send: acknowledged, it is a switch like any other.
    if (result == CMD_LINK_ERROR) {
        ShowError(TEXT_LINK_ERROR);
    } else if (result == CMD_SEND_FAILED) {
        ShowError(TEXT_SEND_FAILED);
        Disconnect();
    }
    ClearReply();

    if (result == CMD_ACK) {
        AfxSleep(SWITCH_WAIT_MS);
        m_nSource = source;
        UpdateData(FALSE);
        CheckSignalStatus();
        m_strStatus =
            std::wstring(L"Input source has been changed successfully. (") + target.label + L")";
        UpdateData(FALSE);
    } else if (g_bConnected) {
        // The button the operator clicked shows checked; the monitor did not take that source,
        // so the check mark goes back to the one it has.
        CDataExchange dx(this, FALSE);
        DDX_Radio(&dx, IDC_SOURCE_HDMI1, m_nSource);
    }
    EndWaitCursor();
}
