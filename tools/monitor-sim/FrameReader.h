#pragma once
// Finds nine-byte command frames in the bytes coming off the line, and when each would have been
// through a serial line (Wire.h). No I/O in here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include "Wire.h"
#include "core/Frame.h"

namespace monitor_sim {

// A partial frame whose first byte is older than this is thrown away.
inline constexpr std::uint64_t kStaleFrameMs = 500;

// Something the frame reader found: a whole frame, bytes it dropped, or a stale partial frame.
struct LineEvent {
    enum class Kind { Frame, Dropped, Stale };
    Kind kind;
    std::string bytes;
    // A frame: when its ninth byte was through, on the steady clock in microseconds. A frame that
    // came in faster than the line could carry it counts from then, not from when it came.
    std::uint64_t atUs = 0;
};

class FrameReader {
public:
    // Takes bytes that came in at nowUs and returns what they completed, in line order.
    std::vector<LineEvent> feed(std::string_view bytes, std::uint64_t nowUs);

    // Drops the partial frame if it has waited too long for the rest; returns it if so.
    std::vector<LineEvent> expire(std::uint64_t nowUs);

    // When the partial frame, if there is one, is dropped unless its rest comes.
    std::optional<std::uint64_t> expiresUs() const;

private:
    void push(char byte, std::uint64_t throughUs, std::vector<LineEvent>& events);
    static bool fitsFrame(const std::string& partial);
    static void addDropped(std::vector<LineEvent>& events, char byte);

    Receiver receiver_;
    std::string partial_;
    std::uint64_t partialSinceUs_ = 0;
};

} // namespace monitor_sim
