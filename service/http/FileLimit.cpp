#include "service/http/FileLimit.h"
#include <sys/resource.h>
#include <cerrno>
#include <cstring>

namespace service::http {

bool RaiseOpenFileLimit(std::string& error) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        error = "cannot read the open-file limit: " + std::string(std::strerror(errno));
        return false;
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= FILES_NEEDED)
        return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < FILES_NEEDED) {
        error = "the open-file limit is " + std::to_string(limit.rlim_max) +
                " and kelvaned needs " + std::to_string(FILES_NEEDED) + " (" +
                std::to_string(MAX_CONNECTIONS) +
                " connections and its lines): raise LimitNOFILE= in its unit, or ulimit -n";
        return false;
    }
    limit.rlim_cur = FILES_NEEDED;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        error = "cannot raise the open-file limit to " + std::to_string(FILES_NEEDED) + ": " +
                std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace service::http
