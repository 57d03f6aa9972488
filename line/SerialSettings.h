// The monitor line's settings, built in one place for each platform: 19200 baud, 8 data bits, no
// parity, one stop bit, raw bytes, no flow control of either kind, DTR and RTS held off.
//   SetLineSettings        a DCB for a line (Windows); the panel's serial channel passes its own
//                          figures, the line library the monitor's
//   SetMonitorLineSettings termios for the monitor's line (POSIX)
#pragma once

#include "core/ProtocolRules.h"

#ifdef _WIN32
#include <windows.h>

namespace line {

// Binary, no parity check unless asked, no flow control of either kind, DTR and RTS held off.
// abortOnError: whether a framing error or a break fails every later read until the port is
// opened again (the panel's way), or the next read goes on (a script's next command should not
// inherit it).
inline void SetLineSettings(DCB& dcb, DWORD baudRate, BYTE byteSize, BOOL parityCheck, BYTE parity,
                            BYTE stopBits, BOOL abortOnError) {
    dcb.BaudRate = baudRate;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    dcb.fBinary = 1;
    dcb.fParity = parityCheck & 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = abortOnError & 1;
}

inline void SetMonitorLineSettings(DCB& dcb, BOOL abortOnError) {
    SetLineSettings(dcb, protocol::BAUD_RATE, protocol::DATA_BITS, FALSE, NOPARITY, ONESTOPBIT,
                    abortOnError);
}

} // namespace line

#else
#include <termios.h>

namespace line {

// Raw, 19200 baud 8N1, the receiver on, modem lines ignored, no flow control; a read returns what
// is there at once (the line library waits with poll).
inline void SetMonitorLineSettings(termios& settings) {
    static_assert(protocol::BAUD_RATE == 19200 && protocol::DATA_BITS == 8);
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, B19200);
    ::cfsetospeed(&settings, B19200);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
}

} // namespace line
#endif
