// Where a monitor is: a serial line of this machine or a serial device server in raw TCP mode.
//   Target       where a monitor is, as kelvanectl and the service name it
//   ParseTarget  reads a target as this platform names lines
//   SameLine     whether two targets lead to the same line
#pragma once

#include <cstdint>
#include <string>

namespace line {

struct Target {
    enum class Kind { Serial, Tcp };
    Kind kind = Kind::Serial;
    std::string text; // as the user gave it, for the report
    std::string path; // Serial: the device path (Linux) or "COMn" (Windows)
    std::string host; // Tcp
    std::uint16_t port = 0;
};

// Linux takes a device path or tcp:HOST:PORT, Windows COMn (any n from 1) or tcp:HOST:PORT; a
// numeric IPv6 host goes in brackets. False with the reason when the text names no line.
bool ParseTarget(const std::string& text, Target& target, std::string& error);

// Serial lines compare by the device they lead to (a link and its device are one line), COM
// names regardless of case, servers by host (regardless of case) and port.
bool SameLine(const Target& a, const Target& b);

} // namespace line
