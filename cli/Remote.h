// kelvanectl through kelvaned: each target a monitor's name or @GROUP, each command a request to
// kelvaned's API, and each answer read back into the outcome a line would have given.
//   Server           where kelvaned is, and what every request carries
//   Reported         one line of the output: what it is about, and what came of it
//   RunThroughServer one target's command through kelvaned
//   GROUP_PREFIX     what marks a target as a group
//   *_LIMIT_MS       how long kelvanectl waits for kelvaned's answers
#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include "cli/Http.h"
#include "commands/Commands.h"
#include "core/ProtocolRules.h"
#include "line/Cancel.h"

struct Server {
    std::string url;     // http://HOST:PORT, no "/" at its end
    std::string token;   // empty: none
    std::string caFile;  // https: the certificates that vouch for kelvaned's
    std::string problem; // not empty: nothing is sent, and every target fails with it (open)
};

struct Reported {
    std::string target; // the monitor's name, or the group's when it failed as a whole
    Outcome outcome;
};

inline constexpr char GROUP_PREFIX = '@';
// kelvaned answers a reading from memory at once.
inline constexpr std::uint32_t READ_LIMIT_MS = 10000;
// An operation waits its turn on the monitor's line behind the poll under way and the operations
// queued before it; a group's operations each take theirs.
inline constexpr std::uint32_t OPERATION_LIMIT_MS = 4 * protocol::RESET_LIMIT_MS + READ_LIMIT_MS;

// How a request goes out: SendRequest, or a fake of the tests.
using HttpSend = HttpFailure (*)(const HttpRequest&, HttpAnswer&, std::string&,
                                 const line::Cancel*);

// The command on one monitor (by its name) or on every monitor of a group (@NAME), through
// kelvaned; a group gives one report per monitor, in the group's order. scan is not taken here:
// it needs the line itself. A target kelvaned does not know, a kelvaned that cannot be reached or
// that refuses the token fail as a line that cannot be opened does (open).
std::vector<Reported> RunThroughServer(const Request& request, const Server& server,
                                       const std::string& target, const line::Cancel& cancel,
                                       HttpSend send = SendRequest);
