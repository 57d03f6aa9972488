// kelvanectl's command line: what it takes and how it is read, with CLI11.
//   Parsed           what the command line asks for: a run, the help, the version, or nothing
//   ReadCommandLine  reads the arguments into a request and its targets
#pragma once

#include <string>
#include <vector>
#include "commands/Commands.h"
#include "line/Target.h"

enum class Parsed { Run, Help, Version, UsageError };

// Reads the arguments after the program's name. text is the help (of the whole program or of one
// command) for Help, the version for Version, and the one-line reason for UsageError.
Parsed ReadCommandLine(const std::vector<std::string>& args, Request& request,
                       std::vector<line::Target>& targets, std::string& text);
