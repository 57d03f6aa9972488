// The lines the command line opens, behind the protocol core's MonitorLine.
//   OpenedLine            a line this program opened, released when the object goes; what is
//                         common to every kind of line (the read time-out, the drain, Ctrl-C)
//                         is here, the transport's own calls in the kinds below
//   OpenTarget            opens the line of a target with the monitor's settings
//   OpenSerial, OpenTcp   the two kinds: a serial line of this machine, a device server
//   TCP_CONNECT_LIMIT_MS  how long a device server may take to take the connection
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include "cli/Target.h"
#include "protocol/MonitorLine.h"

inline constexpr std::uint32_t TCP_CONNECT_LIMIT_MS = 5000;
// A write that the line does not take within this long has failed (a serial line without flow
// control takes a byte at once; a device server whose window stays shut is gone).
inline constexpr std::uint32_t WRITE_LIMIT_MS = 1000;

class OpenedLine : public MonitorLine {
public:
    bool WriteByte(std::uint8_t byte) final;
    ReadResult ReadByte(std::uint8_t* target) final;
    void Drain() final;

protected:
    // Writes one byte; false when it could not be written.
    virtual bool Send(std::uint8_t byte) = 0;
    // Takes one byte that comes within timeoutMs: READ_BYTE with it, READ_NOTHING, READ_FAILED.
    virtual ReadResult Receive(std::uint8_t& byte, std::uint32_t timeoutMs) = 0;
};

// The line, or null with the reason (for a person) in error.
std::unique_ptr<OpenedLine> OpenTarget(const Target& target, std::string& error);
std::unique_ptr<OpenedLine> OpenSerial(const Target& target, std::string& error);
std::unique_ptr<OpenedLine> OpenTcp(const Target& target, std::string& error);
