// The serial port of the panel's connection.
//   CSerialChannel  one port: open by name, line settings, time-outs, single-byte reads and
//                   writes, draining stale input, close. Codes, not exceptions, report failures.
#pragma once

#include <windows.h>
#include "framework/Wnd.h"
#include "core/ProtocolRules.h"

class CSerialChannel : public CWnd {
public:
    // A new channel holds no port.
    CSerialChannel();
    // Closes nothing: the owner closes the port first.
    ~CSerialChannel() override;

    // Opens "//./" + the name for exclusive, synchronous reading and writing. 1 opened, 0 failed;
    // shows no message.
    int Open(const char* portName);

    // Applies the baud rate, byte size, parity-check flag, parity and stop bits with binary mode,
    // no flow control, DTR and RTS held off and abort-on-error. 1 done, 0 failed: the failure is
    // shown in a box ("GetCommState Error" / "SetCommState Error") and the port is released.
    int Setup(DWORD baudRate, int byteSize, int parityCheck, int parity, int stopBits);

    // Applies the read interval, read multiplier, read constant, write multiplier and write
    // constant, then purges the port. 1 done, 0 failed: a refused GetCommTimeouts fails silently
    // with the port open, a refused SetCommTimeouts shows "StCommTimeouts function failed" and
    // releases the port.
    int SetTimeouts(DWORD readInterval, DWORD readMultiplier, DWORD readConstant,
                    DWORD writeMultiplier, DWORD writeConstant);

    // 1 written, 0 failed (also without a port). Only the call's success counts.
    int WriteByte(BYTE byte);

    // Fills *target (0 first) and answers 0 a byte was read, 1 nothing arrived within the
    // time-out, 2 the read failed (also without a port).
    BYTE ReadByte(BYTE* target);

    // Reads and discards until the line is quiet: 1 it fell quiet, 2 a read failed or the line
    // did not fall quiet within DRAIN_LIMIT_MS.
    BYTE Drain();

    // Stops event reporting, waits until every written byte has left and releases the port;
    // without a port it does nothing.
    void Close();

    // A line that never falls quiet (a babbling device, a crossed cable) would keep Drain reading
    // for ever and freeze the panel; after this long Drain gives up.
    static constexpr ULONGLONG DRAIN_LIMIT_MS = protocol::DRAIN_LIMIT_MS;

    const AFX_MSGMAP* GetMessageMap() const override;
    static const AFX_MSGMAP* GetThisMessageMap();

private:
    // Lets go of the port handle, if any, without waiting for unsent bytes.
    void Release();

    HANDLE m_hComm;
    DCB m_dcb;
    COMMTIMEOUTS m_timeouts;
};
