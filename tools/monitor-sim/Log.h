#pragma once
// The event log: one line per event, "<GetTickCount64 ms> <KIND> <details>", written at once.

#include <cstdint>
#include <string>
#include <string_view>

namespace monitor_sim {

// Milliseconds since Windows started (GetTickCount64), the time stamp of every log line. It moves
// in steps of about 16 ms, on Windows and under Wine alike, so timers use steadyMs() instead.
std::uint64_t nowMs();

// A millisecond clock with fine resolution for timing answers; its zero point means nothing.
std::uint64_t steadyMs();

// Shows line bytes as text: '!'..'~' as they are except '<', everything else as <xx> in hex.
std::string showBytes(std::string_view bytes);

class Log {
public:
    Log() = default;
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Appends to this file from now on instead of writing to stdout; false with error text if not.
    bool openFile(const std::wstring& path, std::string& error);

    // Writes one line "<now> <kind> <details>" and returns only when it has been handed on.
    void line(std::string_view kind, std::string_view details);

private:
    void* file_ = nullptr; // HANDLE of the log file, or null for stdout
};

} // namespace monitor_sim
