// The files kelvaned is given to read (its configuration, its token): regular files alone, so that
// a directory, a device or a pipe named by mistake is refused instead of read as nothing (or
// waited on for ever).
//   ReadRegularFile  a regular file's whole text, with the status of what was read
#pragma once

#include <sys/stat.h>
#include <string>

namespace service {

// Reads the file whole into text and its status into info; false with the reason, such as "is a
// directory, not a file" or "cannot be read: Permission denied" (the caller names the path).
bool ReadRegularFile(const std::string& path, std::string& text, struct stat& info,
                     std::string& reason);

} // namespace service
