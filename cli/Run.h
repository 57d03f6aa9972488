// kelvanectl's targets: each one's work on a thread of its own, and what the outcomes come to.
//   EXIT_ALL_DONE ... EXIT_CANNOT_OPEN  the exit statuses (EXIT_INTERRUPTED is Ctrl-C's)
//   RunTarget     one target: opens its line, runs the command, lets the line go
//   LineInUse, NothingAnswered  the failures a line that kelvaned holds gives
//   ThreadFailed  the outcome of a target whose thread could not start
//   ExitStatus    the exit status of the outcomes
#pragma once

#include <functional>
#include <system_error>
#include <vector>
#include "commands/Commands.h"
#include "line/Cancel.h"
#include "line/Target.h"

inline constexpr int EXIT_ALL_DONE = 0;
inline constexpr int EXIT_MONITOR_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;
inline constexpr int EXIT_CANNOT_OPEN = 3;

// Opens the target's line, runs the command on it and lets the line go again. A target whose
// line or clock the cancel cut (or whose connect it ended) is "interrupted", with what it had read.
// A line in use, or a device server where nothing answered, that a kelvaned of this machine holds
// says so (cli/HeldLine.h).
Outcome RunTarget(const Request& request, const line::Target& target, line::Cancel& cancel,
                  const std::function<void(int id, const std::vector<int>& units)>& tried = {});

// Whether the line did not open because another program holds it.
bool LineInUse(const std::string& reason);
// Whether nothing at all answered the command: what a device server shows a second client while
// it serves one.
bool NothingAnswered(const Request& request, const Outcome& outcome);

// A thread that cannot start fails its target alone, as a line that cannot be opened does.
Outcome ThreadFailed(const std::system_error& error);

// 130 after Ctrl-C, whatever else happened; else 3 when a line could not be opened, whichever
// target that was; else 1 when a monitor failed; else 0.
int ExitStatus(const std::vector<Outcome>& outcomes, bool interrupted);
