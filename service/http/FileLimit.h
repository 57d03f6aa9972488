// The process's open-file limit, raised at the start to what MAX_CONNECTIONS needs: each
// connection is a file, and so are the lines, the event loop's own and the log.
//   FILES_NEEDED          MAX_CONNECTIONS and the files beside them
//   RaiseOpenFileLimit    raises the soft limit up to FILES_NEEDED; false with the reason when the
//                         hard limit is below it
#pragma once

#include <string>
#include "service/http/Limits.h"

namespace service::http {

// The lines are a file each (a fleet of 64 monitors is at most 64 lines); the rest are few.
inline constexpr unsigned FILES_BESIDE_CONNECTIONS = 256;
inline constexpr unsigned FILES_NEEDED = MAX_CONNECTIONS + FILES_BESIDE_CONNECTIONS;

bool RaiseOpenFileLimit(std::string& error);

} // namespace service::http
