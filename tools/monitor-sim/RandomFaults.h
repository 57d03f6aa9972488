#pragma once
// The random-fault mode: for each frame, at random but the same for the same seed, a normal answer
// or one fault of the line or the monitor. No I/O in here.
//   FaultKind          what happens to one frame's answer
//   FrameFault         one frame's fault with its delay, cut, junk bytes or pull length
//   RandomFaults       draws them from a seed: the same seed gives the same sequence
//   lateAnswerWindow   when a late answer goes out so that the panel takes it on its second read

#include "Faults.h"
#include "Monitor.h"

#include <cstdint>
#include <string>
#include <vector>

namespace monitor_sim {

enum class FaultKind {
    None,    // the answer as it is, at once
    Late,    // the whole answer late, after the panel's first acknowledge read
    Partial, // only the first bytes of the answer
    Junk,    // junk bytes (never "!") instead of the answer
    Silent,  // the frame is lost: no answer, nothing done
    Nak,     // the command is done but the acknowledge byte comes as the NAK byte
    Refuse,  // the command is refused: nothing done, the NAK byte alone, at once or late
    Pull,    // the cable is pulled out instead of an answer and put back a while later
};

struct FrameFault {
    FaultKind kind = FaultKind::None;
    unsigned delayMs = 0; // Late, and a late Refuse: after the frame's ninth byte
    unsigned keep = 0;    // Partial: picks how many bytes of the answer go out
    std::string junk;     // Junk: the bytes that go out
    unsigned pullMs = 0;  // Pull: how long the cable stays out
};

// Out of every 100 frames, how many get a fault when no --fault-rate is given.
inline constexpr unsigned kDefaultFaultPercent = 30;

// The span after the frame's ninth byte in which a late answer must go out.
struct TimeWindow {
    unsigned lowMs;
    unsigned highMs;
};

// For a frame after which the panel reads dataReads data bytes (protocol::DataBytes): a late
// answer goes out after the panel's first acknowledge read has given up and before its second
// read starts, with 100 ms to spare on either side, so that it is read as this frame's
// acknowledge and never lies on the line when the next frame's answer is read.
TimeWindow lateAnswerWindow(unsigned dataReads);

class RandomFaults {
public:
    // faultPercent: out of every 100 frames, how many get a fault (0..100).
    RandomFaults(std::uint32_t seed, unsigned faultPercent);

    // The fault for the next frame. Every call takes the same amount of randomness, so the Nth
    // frame gets the Nth draw whatever the frames before it were; dataReads only places a late
    // answer in its window.
    FrameFault next(unsigned dataReads);

    // Whether the monitor carries out the frame's command under this fault.
    static bool monitorActs(FaultKind kind);

    // The writes that answer the frame under the fault. A late answer goes out late whatever its
    // acknowledge byte: a late refusal is read as a refusal.
    static std::vector<TimedWrite> shape(const FrameFault& fault, const Answer& answer);

    // The fault as it shapes this answer, for the log: "late 520 ms", "refuse late 480 ms",
    // "partial 2 of 4 bytes", "junk <03>~", "pull 1200 ms"...
    static std::string describe(const FrameFault& fault, const Answer& answer);

private:
    std::uint64_t nextNumber();

    std::uint64_t state_;
    unsigned faultPercent_;
};

} // namespace monitor_sim
