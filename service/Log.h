// kelvaned's log: lines on stderr, for the journal, which stamps them with the time. One line per
// change (a monitor's state, a line, a reload), never one per poll.
//   Log      writes one line
//   Escaped  a text as Log writes it
#pragma once

#include <string>
#include <string_view>

namespace service {

// Writes "kelvaned: TEXT" as one line, TEXT Escaped; safe from any thread.
void Log(const std::string& text);

// The text with its control characters and backslashes escaped (\n, \r, \t, \\, \xHH), so that
// what a monitor or a file sent can neither split a line nor forge one; printable UTF-8 stays as it
// is. A byte outside well-formed UTF-8 is escaped as well: the journal keeps a message holding one
// as binary data, which journalctl does not show.
std::string Escaped(std::string_view text);

} // namespace service
