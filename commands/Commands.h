// The commands of the console programs (kelvanectl, and the service's operations): what is asked
// of one monitor, and what came of it, through the protocol core.
//   Command, Request  the command line as read
//   Outcome           what one target's command came to: an error or the values it read
//   RunCommand        runs the command on one line
//   MarkInterrupted   what a command cut short by Ctrl-C or a stop came to
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>
#include "core/MonitorProtocol.h"
#include "core/Vocabulary.h"

// In the order of their names in COMMAND_NAMES.
enum class Command { Status, Source, Reset, Diagnostic, Scan };
inline constexpr const char* COMMAND_NAMES[] = {"status", "source", "reset", "diagnostic", "scan"};
// The unit IDs a scan tries unless told otherwise.
inline constexpr int DEFAULT_FIRST_ID = 1;
inline constexpr int DEFAULT_LAST_ID = 9;

struct Request {
    Command command = Command::Status;
    int source = -1; // Source: 0 HDMI 1 to 3 VGA
    std::vector<std::string> targets;
    std::optional<int> unit;        // --unit: the unit to address; no unit-ID query at "0"
    int firstId = DEFAULT_FIRST_ID; // Scan: the unit IDs to try
    int lastId = DEFAULT_LAST_ID;
    bool json = false;
    // --fast: each exchange reads the answer as it arrives; the monitor's own waits stay.
    Timing timing = Timing::Paced;
};

// The values are the core's status: unit, source (a code that is none of the four stays unknown),
// signal, firmware (unset also when the monitor refused the query).
struct Outcome : MonitorStatus {
    // None when the command succeeded.
    protocol::Failure error = protocol::Failure::None;
    std::string message;    // why, for a person: the open failure, the step that failed
    std::vector<int> units; // Scan
    int step = 0;           // Diagnostic: the frame that was not acknowledged
    bool ok() const { return error == protocol::Failure::None; }
};

// Runs the request's command on the monitor behind one line; never shows or prints anything.
// Scan calls tried after each unit ID it tried, with that ID and the units found so far.
Outcome RunCommand(const Request& request, MonitorProtocol& monitor,
                   const std::function<void(int id, const std::vector<int>& units)>& tried = {});

// A command whose line or clock was cut before it finished: a failure, with the values it had
// read (and the units a scan had found) kept.
void MarkInterrupted(Outcome& outcome);

// "status", "source", "reset", "diagnostic", "scan".
const char* CommandName(Command command);
