#pragma once
// Finds nine-byte command frames in the bytes coming off the line. No I/O in here.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>
#include "core/Frame.h"

namespace monitor_sim {

// A partial frame whose first byte is older than this is thrown away.
inline constexpr std::uint64_t kStaleFrameMs = 500;

// Something the frame reader found: a whole frame, bytes it dropped, or a stale partial frame.
struct LineEvent {
    enum class Kind { Frame, Dropped, Stale };
    Kind kind;
    std::string bytes;
};

class FrameReader {
public:
    // Takes bytes that arrived at nowMs and returns what they completed, in line order.
    std::vector<LineEvent> feed(std::string_view bytes, std::uint64_t nowMs);

    // Drops the partial frame if it has waited too long for the rest; returns it if so.
    std::vector<LineEvent> expire(std::uint64_t nowMs);

private:
    void push(char byte, std::vector<LineEvent>& events);
    static bool fitsFrame(const std::string& partial);
    static void addDropped(std::vector<LineEvent>& events, char byte);

    std::string partial_;
    std::uint64_t partialSinceMs_ = 0;
};

} // namespace monitor_sim
