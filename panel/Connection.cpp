// Connecting to a monitor and closing the panel.
#include "panel/KelvaneDlg.h"

BYTE g_bConnected = 0;

// Connecting comes with the status queries; until then the button opens no port.
void CKelvaneDlg::OnConnect() {
}

// The close request takes the dialog's default course: it becomes the cancel command.
void CKelvaneDlg::OnClose() {
    Default();
}
