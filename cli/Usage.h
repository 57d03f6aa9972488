// kelvanectl's command line: what it takes and how it is read.
//   USAGE            the text of --help, and of every usage error
//   ReadCommandLine  reads the arguments into a request and its targets
#pragma once

#include <string>
#include <vector>
#include "commands/Commands.h"
#include "line/Target.h"

extern const char* const USAGE;

enum class Parsed { Run, Help, Version, UsageError };

// Reads the arguments after the program's name. A usage error leaves its reason in error.
Parsed ReadCommandLine(const std::vector<std::string>& args, Request& request,
                       std::vector<line::Target>& targets, std::string& error);
