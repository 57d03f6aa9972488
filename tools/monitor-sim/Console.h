#pragma once
// Text for the user on stdout and stderr, and the UTF-8 conversions it needs.

#include <string>
#include <string_view>

namespace monitor_sim {

// Converts UTF-16 text from the Windows API to UTF-8.
std::string toUtf8(std::wstring_view text);

// Converts UTF-8 text to UTF-16 for the Windows API.
std::wstring toUtf16(std::string_view text);

// Writes UTF-8 text to standard output, unbuffered.
void writeStdout(std::string_view text);

// Writes UTF-8 text to standard error, unbuffered.
void writeStderr(std::string_view text);

// Describes a Windows error code as "<code> (<system message>)".
std::string windowsErrorText(unsigned long code);

} // namespace monitor_sim
