#pragma once
// Line faults that the simulated monitor can be told to make, and how they shape an answer into
// the bytes it writes and when. No I/O in here.

#include "Monitor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace monitor_sim {

struct Faults {
    bool silent = false;               // never answer
    bool nakAlways = false;            // NAK byte instead of "!", data bytes still sent
    unsigned nakFirst = 0;             // NAK for the first N answered frames
    unsigned delayMs = 0;              // whole answer this long after the ninth byte
    unsigned delayFirst = 0;           // only the first N answered frames are delayed (0: all)
    std::optional<unsigned> lateAckMs; // acknowledge byte this long after the ninth byte
    std::optional<unsigned> partial;   // send only the first N data bytes
    std::optional<unsigned> noiseMs;   // one junk byte this often, forever
    std::optional<unsigned> dropAfter; // close the port after N frames
    std::optional<unsigned> pullAfter; // pull the cable out after N frames
};

// The junk byte --noise sends: not "!", not "@", not a letter or digit the panel could take for
// an answer.
inline constexpr char kNoiseByte = '~';

// Bytes to write some time after the frame's ninth byte came in.
struct TimedWrite {
    std::uint64_t afterMs = 0;
    std::string bytes;
};

// Turns the monitor's answers into timed writes, keeping count of frames for --nak-first.
class FaultShaper {
public:
    explicit FaultShaper(Faults faults) : faults_(faults) {}

    // The writes for the next frame's answer; empty when the line stays silent.
    std::vector<TimedWrite> shape(const Answer& answer);

    // A short description of the active faults for the log, or "none".
    std::string describe() const;

private:
    Faults faults_;
    unsigned framesSeen_ = 0;
};

} // namespace monitor_sim
