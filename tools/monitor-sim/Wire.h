#pragma once
// The pace of a serial line at the protocol's speed (19200 baud 8N1, core/ProtocolRules.h),
// whatever carries the bytes. A pseudo-terminal or a TCP connection hands over a whole frame at
// once; a monitor's UART takes ten bit-times a byte each way. No I/O in here.
//   wireUs        how long a number of bytes takes on the line, in microseconds
//   Receiver      when each byte that came in would have been through a serial line
//   Transmitter   lets the monitor's bytes out no faster than the line carries them

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "core/ProtocolRules.h"

namespace monitor_sim {

// How long this many bytes take on the line, back to back, rounded up to the microsecond.
constexpr std::uint64_t wireUs(std::size_t bytes) {
    const double us = protocol::WireTimeMs(static_cast<unsigned>(bytes)) * 1000.0;
    const auto whole = static_cast<std::uint64_t>(us);
    return whole < us ? whole + 1 : whole;
}

// The monitor's side of the incoming line: a byte is through one byte-time after it could start,
// that is after it came in or after the byte before it was through, whichever is later. So nine
// bytes that come in at once are through 9 byte-times after the first, as on a serial line,
// and bytes that already came at the line's pace keep their own times.
class Receiver {
public:
    // When a byte that came in at receivedUs is through.
    std::uint64_t through(std::uint64_t receivedUs);

private:
    std::uint64_t burstStartUs_ = 0; // when the bytes back to back since then began
    std::size_t burstBytes_ = 0;
};

// The monitor's side of the outgoing line, one byte after another: a write starts when it is due
// or when the writes before it have gone, whichever is later, and its bytes are handed on one
// byte-time apart, each once it would be through (so the far end never has it sooner than a
// serial line would give it).
class Transmitter {
public:
    // Queues bytes due on the line at startUs. Noise is not an answer: it is not reported finished.
    void send(std::uint64_t startUs, std::string bytes, bool noise);

    // The bytes through by nowUs and not taken yet, in line order. The answers whose last byte is
    // among them are added to finished, whole.
    std::string take(std::uint64_t nowUs, std::vector<std::string>& finished);

    // When the next byte is through; nothing when none is queued.
    std::optional<std::uint64_t> nextUs() const;

    // Whether answer bytes are still queued.
    bool carriesAnswer() const;

    // Forgets every queued byte: they went with the cable.
    void clear();

private:
    struct Write {
        std::uint64_t startUs;
        std::string bytes;
        bool noise;
        std::size_t taken = 0;
    };
    std::deque<Write> queue_;
    std::uint64_t freeUs_ = 0; // when the last queued byte is through
};

} // namespace monitor_sim
