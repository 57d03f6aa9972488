// The text Windows has for an error code, in UTF-8, without its closing full stop and line break.
#pragma once

#ifdef _WIN32
#include <string>

namespace line {

std::string WindowsErrorText(unsigned long code);

} // namespace line
#endif
