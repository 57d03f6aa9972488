// What a command came to on one target, as kelvanectl prints it and the service answers it: a line
// a person reads at a glance, or one JSON object.
#pragma once

#include <string>
#include "commands/Commands.h"

// "TARGET: unit 1, source HDMI1, signal ok, firmware 1.02", or "TARGET: error: ...".
std::string TextReport(const std::string& target, Command command, const Outcome& outcome);

// {"target":..., "command":..., "ok":..., "error":..., "message":..., and the command's values};
// valid JSON whatever bytes the monitor or the command line held.
std::string JsonReport(const std::string& target, Command command, const Outcome& outcome);
