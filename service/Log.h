// kelvaned's log: lines on stderr, for the journal, which stamps them with the time; anywhere else
// each line begins with its own time. One line per change (a monitor's state, a line, a reload,
// an operation), never one per poll.
//   Log        writes one line
//   Escaped    a text as Log writes it
//   IsJournal  whether stderr is the journal's stream
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace service {

// Writes "kelvaned: TEXT" as one line, TEXT Escaped, after "2026-12-09T09:14:03.120Z " unless
// stderr is the journal; safe from any thread.
void Log(const std::string& text);

// The text with its control characters and backslashes escaped (\n, \r, \t, \\, \xHH), so that
// what a monitor or a file sent can neither split a line nor forge one; printable UTF-8 stays as it
// is. A byte outside well-formed UTF-8 is escaped as well: the journal keeps a message holding one
// as binary data, which journalctl does not show.
std::string Escaped(std::string_view text);

// Whether JOURNAL_STREAM's value ("DEVICE:INODE", set by systemd when stderr goes to the journal)
// names the file stderr is: a program started from a service's shell inherits the variable with
// another stderr.
bool IsJournal(const char* journalStream, std::uint64_t device, std::uint64_t inode);

} // namespace service
