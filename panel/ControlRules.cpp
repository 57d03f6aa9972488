// Which operation buttons the panel offers: the model rule and diagnostic mode's lockout.
#include "panel/KelvaneDlg.h"
#include "res/resource.h"

namespace {

// The PX-400 has no HDMI 3 and no VGA input.
constexpr int MODEL_WITHOUT_HDMI3_AND_VGA = 4;

} // namespace

void CKelvaneDlg::OnSelchangeModel() {
    const BOOL enable = m_cbModel.GetCurSel() != MODEL_WITHOUT_HDMI3_AND_VGA;
    GetDlgItem(IDC_SOURCE_HDMI3).EnableWindow(enable);
    GetDlgItem(IDC_SOURCE_VGA).EnableWindow(enable);
    UpdateData(FALSE);
}

void CKelvaneDlg::EnableControls(BOOL diagnosticRunning) {
    const BOOL enable = !diagnosticRunning;
    GetDlgItem(IDC_SOURCE_HDMI1).EnableWindow(enable);
    GetDlgItem(IDC_SOURCE_HDMI2).EnableWindow(enable);
    const BOOL enableHdmi3AndVga = m_cbModel.GetCurSel() != MODEL_WITHOUT_HDMI3_AND_VGA && enable;
    GetDlgItem(IDC_SOURCE_HDMI3).EnableWindow(enableHdmi3AndVga);
    GetDlgItem(IDC_SOURCE_VGA).EnableWindow(enableHdmi3AndVga);
    GetDlgItem(IDC_CHECK_SOURCE).EnableWindow(enable);
    GetDlgItem(IDC_DEFAULT_SETTING).EnableWindow(enable);
    GetDlgItem(IDC_CHECK_UNIT_ID).EnableWindow(enable);
    GetDlgItem(IDC_CHECK_SIGNAL).EnableWindow(enable);
    GetDlgItem(IDC_CHECK_FIRMWARE).EnableWindow(enable);
    GetDlgItem(IDC_DIAGNOSTIC).EnableWindow(enable);
}
