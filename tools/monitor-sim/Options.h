#pragma once
// The command-line switches of monitor-sim and its usage text.

#include "Faults.h"
#include "Monitor.h"
#include "RandomFaults.h"

#include <optional>
#include <string>
#include <vector>

namespace monitor_sim {

// Where --listen takes clients: an IPv4 address or a name of this machine, and count TCP ports
// from port on, each a device server of its own (port 0: count free ones that the system picks).
struct ListenAddress {
    std::string host = "127.0.0.1";
    unsigned port = 0;
    unsigned count = 1;
};

// The most ports one simulator serves, each on a thread of its own.
inline constexpr unsigned kMostPorts = 64;

struct Options {
    bool help = false;
    std::string port;                    // "COMn", upper case; empty with --listen
    std::optional<ListenAddress> listen; // a device server's TCP port instead of a COM port
    std::vector<unsigned> unitIds{1};    // the units on each line: one, or a daisy chain
    MonitorState monitor;                // the settings every unit starts with, its ID aside
    Faults faults;
    std::wstring logFile;    // empty: log to stdout
    std::wstring readyEvent; // empty: no event
    std::optional<unsigned> exitAfterMs;
    std::optional<unsigned> randomSeed; // --random: faults drawn from this seed
    unsigned faultPercent = kDefaultFaultPercent;
    std::vector<FaultKind> faultKinds{std::begin(kAllFaultKinds), std::end(kAllFaultKinds)};
    std::wstring cableFolder; // the test cable's folder (Windows path); empty: none
};

// Reads the switches (without the program name); false with a one-line error if they are wrong.
// cableFromEnvironment is KELVANE_CABLE, the cable's folder when no --cable is given.
bool parseOptions(const std::vector<std::wstring>& args, Options& options, std::string& error,
                  const std::wstring& cableFromEnvironment = {});

// The --help text.
std::string usageText();

} // namespace monitor_sim
