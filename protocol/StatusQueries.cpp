// Reading the monitor's unit ID, input source, signal status and firmware version.
// The queries come with connecting. Until then no connection is ever up, and without one a query
// sends, shows and changes nothing.
#include "panel/KelvaneDlg.h"

BOOL CKelvaneDlg::CheckUnitId() {
    return FALSE;
}

void CKelvaneDlg::CheckCurrentSource() {}

void CKelvaneDlg::CheckSignalStatus() {}

void CKelvaneDlg::CheckFirmwareVersion() {}
