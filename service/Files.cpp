#include "service/Files.h"
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace service {

namespace {

// Why a file of this type is not read; empty for a regular file.
std::string NotAFile(const struct stat& info) {
    if (S_ISREG(info.st_mode))
        return "";
    return S_ISDIR(info.st_mode) ? "is a directory, not a file"
                                 : "is a device, a pipe or a socket, not a file";
}

std::string CannotRead() {
    return std::string("cannot be read: ") + std::strerror(errno);
}

} // namespace

bool ReadRegularFile(const std::string& path, std::string& text, struct stat& info,
                     std::string& reason) {
    // The type is checked before the open, which a serial line or a pipe would already answer
    // (a line's modem signals change, a pipe waits for a writer), and again on what was opened,
    // in case the path changed in between (O_NONBLOCK: without waiting for a writer then).
    if (::stat(path.c_str(), &info) != 0) {
        reason = CannotRead();
        return false;
    }
    reason = NotAFile(info);
    if (!reason.empty())
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        reason = CannotRead();
        return false;
    }
    reason = ::fstat(fd, &info) == 0 ? NotAFile(info) : CannotRead();
    text.clear();
    char buffer[65536];
    while (reason.empty()) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got > 0)
            text.append(buffer, static_cast<size_t>(got));
        else if (errno != EINTR)
            reason = CannotRead();
    }
    ::close(fd);
    return reason.empty();
}

} // namespace service
