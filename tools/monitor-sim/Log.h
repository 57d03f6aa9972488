#pragma once
// The event log: one line per event, "<GetTickCount64 ms> <KIND> <details>", written at once, from
// any thread. A port of a fleet logs through a Log of its own that puts "[PORT] " before the
// details of its lines and hands them to the fleet's.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace monitor_sim {

// Milliseconds since Windows started (GetTickCount64), the time stamp of every log line. It moves
// in steps of about 16 ms, on Windows and under Wine alike, so timers use steadyMs() instead.
std::uint64_t nowMs();

// A millisecond clock with fine resolution for timing answers; its zero point means nothing.
std::uint64_t steadyMs();

// The same clock in microseconds, for the pace of the line's bytes.
std::uint64_t steadyUs();

// Shows line bytes as text: '!'..'~' as they are except '<', everything else as <xx> in hex.
std::string showBytes(std::string_view bytes);

class Log {
public:
    Log() = default;
    // A port's log: its lines go to shared, with "[tag] " before their details.
    Log(Log& shared, std::string tag);
    ~Log();

    // Changes a port's tag, before its lines start: a free port's number is known once it listens.
    void setTag(std::string tag) { tag_ = std::move(tag); }
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Appends to this file from now on instead of writing to stdout; false with error text if not.
    bool openFile(const std::wstring& path, std::string& error);

    // Writes one line "<now> <kind> <details>" and returns only when it has been handed on.
    void line(std::string_view kind, std::string_view details);

private:
    void write(const std::string& text);

    Log* shared_ = nullptr; // the fleet's log, for a port's
    std::string tag_;
#ifdef _WIN32
    void* file_ = nullptr; // HANDLE of the log file, or null for stdout
#else
    int file_ = -1; // the log file's descriptor, or -1 for stdout
#endif
    std::mutex mutex_; // one line at a time, whole, whatever the thread
};

} // namespace monitor_sim
