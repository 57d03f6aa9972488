// kelvaned's log: lines on stderr, for the journal, which stamps them with the time. One line per
// change (a monitor's state, a line, a reload), never one per poll.
#pragma once

#include <string>

namespace service {

// Writes "kelvaned: TEXT" as one line; safe from any thread.
void Log(const std::string& text);

} // namespace service
