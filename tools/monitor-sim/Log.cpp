#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>
#endif

#include "Log.h"

#include "Console.h"

#include <chrono>

namespace monitor_sim {

std::uint64_t nowMs() {
#ifdef _WIN32
    return GetTickCount64();
#else
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
           static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
#endif
}

std::uint64_t steadyMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::uint64_t steadyUs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string showBytes(std::string_view bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x21 && byte <= 0x7E && byte != '<') {
            text += c;
        } else {
            text += '<';
            text += hex[byte >> 4];
            text += hex[byte & 0x0F];
            text += '>';
        }
    }
    return text;
}

Log::Log(Log& shared, std::string tag) : shared_(&shared), tag_(std::move(tag)) {
}

#ifdef _WIN32
Log::~Log() {
    if (file_)
        CloseHandle(static_cast<HANDLE>(file_));
}

bool Log::openFile(const std::wstring& path, std::string& error) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA makes every write land at the end of the file, and
    // the share flags let a test read (or even delete) the log while we still write to it.
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot open log file " + toUtf8(path) + ": " + windowsErrorText(GetLastError());
        return false;
    }
    file_ = file;
    return true;
}
#else
Log::~Log() {
    if (file_ >= 0)
        ::close(file_);
}

// O_APPEND makes every write land at the end of the file; a test may read it meanwhile.
bool Log::openFile(const std::wstring& path, std::string& error) {
    const int fd = ::open(toUtf8(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open log file " + toUtf8(path) + ": " + std::strerror(errno);
        return false;
    }
    file_ = fd;
    return true;
}
#endif

void Log::line(std::string_view kind, std::string_view details) {
    if (shared_) {
        shared_->line(kind, "[" + tag_ + "] " + std::string(details));
        return;
    }
    // The time is taken under the lock too, so that the lines of a fleet's threads stay in order.
    const std::lock_guard<std::mutex> lock(mutex_);
    std::string text = std::to_string(nowMs());
    text += ' ';
    text += kind;
    if (!details.empty()) {
        text += ' ';
        text += details;
    }
    text += '\n';
    write(text);
}

void Log::write(const std::string& text) {
#ifdef _WIN32
    if (!file_) {
        writeStdout(text);
        return;
    }
    DWORD written = 0;
    WriteFile(static_cast<HANDLE>(file_), text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
#else
    if (file_ < 0) {
        writeStdout(text);
        return;
    }
    // One write per line: with O_APPEND, a reader never sees half of it.
    [[maybe_unused]] const ssize_t written = ::write(file_, text.data(), text.size());
#endif
}

} // namespace monitor_sim
