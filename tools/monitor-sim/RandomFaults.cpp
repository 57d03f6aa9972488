#include "RandomFaults.h"

#include "Log.h"

#include <array>

namespace monitor_sim {

namespace {

// The panel's side of one exchange, as far as a late answer has to fit it.
constexpr unsigned kPanelAnswerWaitMs = 200;
constexpr unsigned kPanelReadMs = 100;
constexpr unsigned kPanelLateAckWaitMs = 500;
constexpr unsigned kLateMarginMs = 100;

constexpr unsigned kShortestPullMs = 300;
constexpr unsigned kLongestPullMs = 3000;
constexpr unsigned kMostJunkBytes = 6;

// How the faulty frames share out among the kinds; a pull is the rarest.
struct Share {
    FaultKind kind;
    unsigned weight;
};
constexpr std::array<Share, 7> kShares{{
    {FaultKind::Late, 6},
    {FaultKind::Partial, 5},
    {FaultKind::Junk, 5},
    {FaultKind::Silent, 4},
    {FaultKind::Nak, 5},
    {FaultKind::Refuse, 4},
    {FaultKind::Pull, 1},
}};

constexpr unsigned totalWeight() {
    unsigned total = 0;
    for (const Share& share : kShares)
        total += share.weight;
    return total;
}

// At least one byte of the answer goes out and at least one is missing; a one-byte answer is
// lost whole.
std::size_t keptBytes(const FrameFault& fault, std::size_t answerSize) {
    return answerSize <= 1 ? 0 : 1 + fault.keep % (answerSize - 1);
}

} // namespace

TimeWindow lateAnswerWindow(unsigned dataReads) {
    const unsigned firstReadEnds = kPanelAnswerWaitMs + kPanelReadMs * dataReads + kPanelReadMs;
    const unsigned secondReadStarts = firstReadEnds + kPanelLateAckWaitMs;
    return {firstReadEnds + kLateMarginMs, secondReadStarts - kLateMarginMs};
}

unsigned panelDataReads(std::string_view command) {
    if (command.substr(0, 2) == "FV")
        return 6;
    if (command == "UIG" || command == "SSG" || command == "SIG")
        return 3;
    return 0;
}

RandomFaults::RandomFaults(std::uint32_t seed, unsigned faultPercent)
    : state_(seed), faultPercent_(faultPercent > 100 ? 100 : faultPercent) {
}

// splitmix64: small, fast and the same on every compiler, unlike the standard distributions.
std::uint64_t RandomFaults::nextNumber() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

FrameFault RandomFaults::next(unsigned dataReads) {
    const std::uint64_t which = nextNumber();
    const std::uint64_t amount = nextNumber();
    const std::uint64_t bytes = nextNumber();

    FrameFault fault;
    const unsigned perTenThousand = static_cast<unsigned>(which % 10000);
    if (perTenThousand >= faultPercent_ * 100)
        return fault;
    unsigned slot = perTenThousand * totalWeight() / (faultPercent_ * 100);
    for (const Share& share : kShares) {
        if (slot < share.weight) {
            fault.kind = share.kind;
            break;
        }
        slot -= share.weight;
    }

    switch (fault.kind) {
    case FaultKind::Late: {
        const TimeWindow window = lateAnswerWindow(dataReads);
        fault.delayMs =
            window.lowMs + static_cast<unsigned>(amount % (window.highMs - window.lowMs + 1));
        break;
    }
    case FaultKind::Partial:
        // Which share of the answer goes out; the cut itself depends on the answer's length.
        fault.keep = static_cast<unsigned>(amount % 1000);
        break;
    case FaultKind::Junk: {
        const unsigned count = 1 + static_cast<unsigned>(amount % kMostJunkBytes);
        for (unsigned i = 0; i < count; ++i) {
            char byte = static_cast<char>((bytes >> (8 * i)) & 0xFF);
            // Junk must never read as an acknowledge.
            if (byte == kAck)
                byte = kNoiseByte;
            fault.junk += byte;
        }
        break;
    }
    case FaultKind::Pull:
        fault.pullMs = kShortestPullMs +
                       static_cast<unsigned>(amount % (kLongestPullMs - kShortestPullMs + 1));
        break;
    default:
        break;
    }
    return fault;
}

bool RandomFaults::monitorActs(FaultKind kind) {
    return kind != FaultKind::Silent && kind != FaultKind::Refuse && kind != FaultKind::Pull;
}

std::vector<TimedWrite> RandomFaults::shape(const FrameFault& fault, const Answer& answer) {
    const std::string bytes = answer.data + (answer.ack ? kAck : kNak);
    switch (fault.kind) {
    case FaultKind::None:
        return {{0, bytes}};
    case FaultKind::Late:
        return {{answer.ack ? fault.delayMs : 0, bytes}};
    case FaultKind::Partial: {
        const std::size_t kept = keptBytes(fault, bytes.size());
        if (kept == 0)
            return {};
        return {{0, bytes.substr(0, kept)}};
    }
    case FaultKind::Junk:
        return {{0, fault.junk}};
    case FaultKind::Nak:
        return {{0, answer.data + kNak}};
    case FaultKind::Refuse:
        return {{0, std::string(1, kNak)}};
    case FaultKind::Silent:
    case FaultKind::Pull:
        return {};
    }
    return {};
}

std::string RandomFaults::describe(const FrameFault& fault, const Answer& answer) {
    const std::size_t size = answer.data.size() + 1;
    switch (fault.kind) {
    case FaultKind::None:
        return "none";
    case FaultKind::Late:
        if (!answer.ack)
            return "late, but a refusal goes out at once";
        return "late " + std::to_string(fault.delayMs) + " ms";
    case FaultKind::Partial:
        return "partial " + std::to_string(keptBytes(fault, size)) + " of " + std::to_string(size) +
               " bytes";
    case FaultKind::Junk:
        return "junk " + showBytes(fault.junk);
    case FaultKind::Silent:
        return "silent";
    case FaultKind::Nak:
        return "nak";
    case FaultKind::Refuse:
        return "refuse";
    case FaultKind::Pull:
        return "pull " + std::to_string(fault.pullMs) + " ms";
    }
    return "?";
}

} // namespace monitor_sim
