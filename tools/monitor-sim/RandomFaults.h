#pragma once
// The random-fault mode: for each frame, at random but the same for the same seed, a normal answer
// or one fault of the line or the monitor. No I/O in here.
//   FaultKind          what happens to one frame's answer
//   faultName, faultKindNamed, kAllFaultKinds   the kinds by their names in the log and --faults
//   FrameFault         one frame's fault with its delay, cut, junk bytes or pull length
//   RandomFaults       draws them from a seed and the frame's number: nothing else, time least
//   lateAnswerWindow   when a late answer goes out so that the panel takes it on its second read
//
// A draw never depends on time, so a client that paces its frames and one that sends each as soon
// as the answer before it is in meet the same faults, frame by frame. What a fault then does can
// depend on time, and a comparison of the two leaves such kinds out of the mix (--faults):
//   pull   the cable is out for the drawn time, and every frame sent meanwhile is lost; how many
//          frames that is, and so the number of every later frame, depends on the client's pace.
// A late answer does not: it goes out at its drawn time after the frame, whoever waits for it.

#include "Faults.h"
#include "Monitor.h"

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
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

// The kinds of fault, None aside, in the order of their shares.
inline constexpr FaultKind kAllFaultKinds[] = {
    FaultKind::Late, FaultKind::Partial, FaultKind::Junk, FaultKind::Silent,
    FaultKind::Nak,  FaultKind::Refuse,  FaultKind::Pull};

// The kind's name in the log and in --faults: "late", "partial"... ("none" for None).
const char* faultName(FaultKind kind);

// The kind of that name, None aside; nothing for any other name.
std::optional<FaultKind> faultKindNamed(std::string_view name);

struct FrameFault {
    FaultKind kind = FaultKind::None;
    unsigned delayMs = 0; // Late, and a late Refuse: after the frame's ninth byte
    unsigned keep = 0;    // Partial: picks how many bytes of the answer go out
    std::string junk;     // Junk: the bytes that go out
    unsigned pullMs = 0;  // Pull: how long the cable stays out
    // A kind drawn but left out of the mix (None when none was): the frame is answered as it is.
    FaultKind leftOut = FaultKind::None;
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
    // faultPercent: out of every 100 frames, how many draw a fault (0..100). kinds: the kinds that
    // are made; a frame that draws another kind is answered as it is, so that leaving a kind out
    // changes no other frame's fault.
    RandomFaults(std::uint32_t seed, unsigned faultPercent,
                 std::vector<FaultKind> kinds = {std::begin(kAllFaultKinds),
                                                 std::end(kAllFaultKinds)});

    // The fault of the frameNumber-th frame the line receives (from 1), from the seed and that
    // number alone; dataReads only places a late answer in its window.
    FrameFault draw(std::uint64_t frameNumber, unsigned dataReads) const;

    // The fault for the next frame: draw(1, ...), then draw(2, ...) and so on.
    FrameFault next(unsigned dataReads);

    // Whether the kind is in the mix.
    bool makes(FaultKind kind) const;

    // Whether the monitor carries out the frame's command under this fault.
    static bool monitorActs(FaultKind kind);

    // The writes that answer the frame under the fault. A late answer goes out late whatever its
    // acknowledge byte: a late refusal is read as a refusal.
    static std::vector<TimedWrite> shape(const FrameFault& fault, const Answer& answer);

    // The fault as it shapes this answer, for the log: "late 520 ms", "refuse late 480 ms",
    // "partial 2 of 4 bytes", "junk <03>~", "pull 1200 ms", "none (a pull, left out)"...
    static std::string describe(const FrameFault& fault, const Answer& answer);

private:
    std::uint64_t number(std::uint64_t frameNumber, unsigned which) const;

    std::uint32_t seed_;
    unsigned faultPercent_;
    std::vector<FaultKind> kinds_;
    std::uint64_t drawn_ = 0; // frames drawn by next()
};

} // namespace monitor_sim
