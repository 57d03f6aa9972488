// The panel's serial channel opened the way Connect opens it, for the tests and the benchmark that
// work the command transaction over the cable without clicking Connect.
//   OpenAsConnectDoes  opens the port, sets the line and the read time-outs, raises the flag
#pragma once

#include <windows.h>
#include <string>
#include "core/ProtocolRules.h"
#include "panel/KelvaneDlg.h"

// Opens the port on the panel's channel at the monitors' line settings, with reads that take a
// byte already there at once and otherwise wait 100 ms for one, and marks the connection up, as
// Connect does before its first query; false, the flag left down, when a step fails.
inline bool OpenAsConnectDoes(CKelvaneDlg& panel, const std::string& port) {
    if (!panel.m_serial.Open(port.c_str()) ||
        !panel.m_serial.Setup(protocol::BAUD_RATE, protocol::DATA_BITS, FALSE, NOPARITY,
                              ONESTOPBIT) ||
        !panel.m_serial.SetTimeouts(MAXDWORD, protocol::READ_TIMEOUT_MS, 0, 0, 0))
        return false;
    g_bConnected = 1;
    return true;
}
