// Whether a kelvaned of this machine holds a line kelvanectl could not use: kelvaned holds each
// serial line and each device server's one connection alone, so a script that works the line
// directly fails while it runs. Its configuration says which lines it holds.
//   KELVANED_CONFIG_VARIABLE  names the configuration, when not kelvaned's own file
//   HeldByKelvaned  what to tell of a line that the configuration names
#pragma once

#include <string>
#include "line/Target.h"

inline constexpr const char* KELVANED_CONFIG_VARIABLE = "KELVANED_CONFIG";

// "; kelvaned holds this line for its monitor NAME: send the command through it, --server URL"
// when the configuration (the file KELVANED_CONFIG names, else the package's
// /etc/kelvaned/kelvaned.toml) names the target's line; "" when it does not, or cannot be read
// (nor on Windows, which has no kelvaned).
std::string HeldByKelvaned(const line::Target& target);
