// Reading the monitor's unit ID, input source, signal status and firmware version.
// Each query asks the protocol core, shows what the answer said in its field and the status line,
// and reports a broken link in a box; without a connection it sends, shows and changes nothing.
#include "panel/KelvaneDlg.h"
#include <string>
#include "protocol/OperatorTexts.h"

BOOL CKelvaneDlg::CheckUnitId() {
    if (!g_bConnected)
        return FALSE;
    BeginWaitCursor();
    // Every monitor answers the unit-ID query at address "0", whatever its own unit ID.
    const UnitIdReading reading = m_protocol.ReadUnitId();
    BOOL answered = FALSE;
    switch (reading.result) {
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
        m_nUnitId = reading.unitId;
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
    const SourceReading reading = m_protocol.ReadSource(Address());
    if (!ReportFailedQuery(reading.result)) {
        // An unknown code leaves the source as it was.
        if (reading.source >= 0)
            m_nSource = reading.source;
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
    ShowSignal(m_protocol.ReadSignal(Address()));
    ClearReply();
    EndWaitCursor();
}

void CKelvaneDlg::CheckFirmwareVersion() {
    if (!g_bConnected)
        return;
    BeginWaitCursor();
    // Takes the checked source button into m_nSource along with the other controls.
    UpdateData(TRUE);
    const FirmwareReading reading = m_protocol.ReadFirmware(Address());
    if (!ReportFailedQuery(reading.result)) {
        if (reading.result == CMD_ACK) {
            m_strFirmware.clear();
            for (char c : reading.version)
                m_strFirmware += static_cast<wchar_t>(static_cast<unsigned char>(c));
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

void CKelvaneDlg::ShowSignal(const SignalReading& reading) {
    if (ReportFailedQuery(reading.result))
        return;
    m_strSignal = reading.signal ? L"Signal OK" : L"No Signal";
    m_strStatus = L"Current input signal status is updated";
    UpdateData(FALSE);
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

void CKelvaneDlg::RunQuery(Query query) {
    switch (query) {
    case Query::UnitId:
        CheckUnitId();
        break;
    case Query::Source:
        CheckCurrentSource();
        break;
    case Query::Signal:
        CheckSignalStatus();
        break;
    case Query::Firmware:
        CheckFirmwareVersion();
        break;
    }
}
