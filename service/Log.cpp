#include "service/Log.h"
#include <cstdio>
#include <mutex>

namespace service {

void Log(const std::string& text) {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::fprintf(stderr, "kelvaned: %s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace service
