// Switching the monitor's input source.
// The switch comes with connecting. Until then no connection is ever up, and without one a source
// button only moves its check mark.
#include "panel/KelvaneDlg.h"

void CKelvaneDlg::ChangeSource(BYTE) {}
