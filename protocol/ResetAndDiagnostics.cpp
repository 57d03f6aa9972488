// Restoring the monitor's defaults and starting its diagnostic mode.
// Both come with connecting; without a connection they return at once.
#include "panel/KelvaneDlg.h"

void CKelvaneDlg::DefaultSetting() {
    if (!g_bConnected)
        return;
}

void CKelvaneDlg::DiagnosticMode() {
    if (!g_bConnected)
        return;
}
