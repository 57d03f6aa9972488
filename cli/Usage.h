// kelvanectl's command line: what it takes and how it is read, with CLI11.
//   Parsed           what the command line asks for: a run, the help, the version, or nothing
//   Through          whether the commands go to the lines or through kelvaned, and how
//   ReadCommandLine  reads the arguments into a request and its targets
#pragma once

#include <string>
#include <vector>
#include "commands/Commands.h"
#include "line/Target.h"

enum class Parsed { Run, Help, Version, UsageError };

// --server (or KELVANE_SERVER): the commands go to kelvaned at that URL, and the request's targets
// are monitors' names or @GROUP; without it they are lines, opened here.
struct Through {
    std::string server;    // http://HOST:PORT or https://..., without its closing "/"
    std::string tokenFile; // --token-file or KELVANE_TOKEN_FILE
    std::string caFile;    // --ca-file
    bool Kelvaned() const { return !server.empty(); }
};

// Reads the arguments after the program's name. text is the help (of the whole program or of one
// command) for Help, the version for Version, and the one-line reason for UsageError. targets
// holds the lines to open, none through kelvaned.
Parsed ReadCommandLine(const std::vector<std::string>& args, Request& request,
                       std::vector<line::Target>& targets, Through& through, std::string& text);
