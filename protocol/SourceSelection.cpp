// Switching the monitor's input source.
// The switch comes with connecting; without a connection a source button only moves its check
// mark.
#include "panel/KelvaneDlg.h"

void CKelvaneDlg::ChangeSource(BYTE) {
    if (!g_bConnected)
        return;
}
