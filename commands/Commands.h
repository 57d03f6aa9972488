// The commands of the console programs (kelvanectl, and the service's operations): what is asked
// of one monitor, and what came of it, through the protocol core.
//   Command, Request  the command line as read
//   Outcome           what one target's command came to: an error or the values it read
//   RunCommand        runs the command on one line
#pragma once

#include <optional>
#include <string>
#include <vector>
#include "core/MonitorProtocol.h"

// In the order of their names in COMMAND_NAMES.
enum class Command { Status, Source, Reset, Diagnostic, Scan };
inline constexpr const char* COMMAND_NAMES[] = {"status", "source", "reset", "diagnostic", "scan"};

struct Request {
    Command command = Command::Status;
    int source = -1; // Source: 0 HDMI 1 to 3 VGA
    std::vector<std::string> targets;
    std::optional<int> unit;     // --unit: the unit to address; no unit-ID query at "0"
    int firstId = 1, lastId = 9; // Scan: the unit IDs to try
    bool json = false;
};

// The values are the core's status: unit, source (a code that is none of the four stays unknown),
// signal, firmware (unset also when the monitor refused the query).
struct Outcome : MonitorStatus {
    // Empty when the command succeeded; else "open", "no-answer", "refused" or "write".
    std::string error;
    std::string message;    // why, for a person: the open failure, the step that failed
    std::vector<int> units; // Scan
    int step = 0;           // Diagnostic: the frame that was not acknowledged
    bool ok() const { return error.empty(); }
};

// Runs the request's command on the monitor behind one line; never shows or prints anything.
Outcome RunCommand(const Request& request, MonitorProtocol& monitor);

// "status", "source", "reset", "diagnostic", "scan".
const char* CommandName(Command command);
