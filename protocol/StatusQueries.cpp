// Reading the monitor's unit ID, input source, signal status and firmware version.
// The queries come with connecting; until then no connection is ever up, and without one each
// of them returns at once.
#include "panel/KelvaneDlg.h"

BOOL CKelvaneDlg::CheckUnitId() {
    if (!g_bConnected)
        return FALSE;
    return FALSE;
}

void CKelvaneDlg::CheckCurrentSource() {
    if (!g_bConnected)
        return;
}

void CKelvaneDlg::CheckSignalStatus() {
    if (!g_bConnected)
        return;
}

void CKelvaneDlg::CheckFirmwareVersion() {
    if (!g_bConnected)
        return;
}
