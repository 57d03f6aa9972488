// Where a monitor is: a serial line of this machine or a serial device server in raw TCP mode.
//   Target       where a monitor is, as kelvanectl and the service name it
//   ParseTarget  reads a target as this platform names lines
//   SameLine     whether two targets lead to the same line
//   LinesOf      the line of each target of a list, by the endpoints it names
//   LinesOfEndpoints  the same for targets already turned into their endpoints
//   NAME_LOOKUP_LIMIT_MS  how long LinesOf waits for the names of device servers
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace line {

inline constexpr std::uint32_t NAME_LOOKUP_LIMIT_MS = 5000;

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

// The line of each target, numbered from 0 in the order of each line's first target: targets that
// name one endpoint are one line. A serial path counts by the device its links lead to; a device
// server by the addresses its host resolves to (an IPv4-mapped IPv6 address is its IPv4 address)
// and its port, and every target sharing any one of those is on its line. Each distinct host is
// looked up once, all of them within NAME_LOOKUP_LIMIT_MS together; a host that does not resolve
// by then counts by its text (regardless of case), since a device server may be down or its name
// server late, and neither makes the targets wrong.
std::vector<std::size_t> LinesOf(const std::vector<Target>& targets);

// The line of each item of a list by the endpoints it names, numbered as LinesOf does: items that
// share an endpoint, directly or through others, are one line.
std::vector<std::size_t> LinesOfEndpoints(const std::vector<std::vector<std::string>>& endpoints);

} // namespace line
