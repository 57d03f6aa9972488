#include "RandomFaults.h"

#include "Log.h"

#include <algorithm>
#include <array>

namespace monitor_sim {

namespace {

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

// A delay drawn from the window, spread over all of it.
unsigned lateDelay(unsigned dataReads, std::uint64_t amount) {
    const TimeWindow window = lateAnswerWindow(dataReads);
    return window.lowMs + static_cast<unsigned>(amount % (window.highMs - window.lowMs + 1));
}

} // namespace

TimeWindow lateAnswerWindow(unsigned dataReads) {
    // Every read of a late answer's frame waits out its time, data and acknowledge alike.
    const unsigned firstReadEnds =
        protocol::ANSWER_WAIT_MS + protocol::READ_TIMEOUT_MS * (dataReads + 1);
    const unsigned secondReadStarts = firstReadEnds + protocol::LATE_ACK_WAIT_MS;
    return {firstReadEnds + kLateMarginMs, secondReadStarts - kLateMarginMs};
}

const char* faultName(FaultKind kind) {
    switch (kind) {
    case FaultKind::None:
        return "none";
    case FaultKind::Late:
        return "late";
    case FaultKind::Partial:
        return "partial";
    case FaultKind::Junk:
        return "junk";
    case FaultKind::Silent:
        return "silent";
    case FaultKind::Nak:
        return "nak";
    case FaultKind::Refuse:
        return "refuse";
    case FaultKind::Pull:
        return "pull";
    }
    return "?";
}

std::optional<FaultKind> faultKindNamed(std::string_view name) {
    for (FaultKind kind : kAllFaultKinds)
        if (name == faultName(kind))
            return kind;
    return std::nullopt;
}

RandomFaults::RandomFaults(std::uint32_t seed, unsigned faultPercent, std::vector<FaultKind> kinds)
    : seed_(seed), faultPercent_(faultPercent > 100 ? 100 : faultPercent),
      kinds_(std::move(kinds)) {
}

// splitmix64 over a counter: small, fast and the same on every compiler, unlike the standard
// distributions, and any frame's numbers can be had without drawing those before it. Each frame
// takes three numbers, the 3N-2nd to the 3Nth of the seed's sequence.
std::uint64_t RandomFaults::number(std::uint64_t frameNumber, unsigned which) const {
    std::uint64_t z = seed_ + (3 * (frameNumber - 1) + which) * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool RandomFaults::makes(FaultKind kind) const {
    return std::find(kinds_.begin(), kinds_.end(), kind) != kinds_.end();
}

FrameFault RandomFaults::next(unsigned dataReads) {
    return draw(++drawn_, dataReads);
}

FrameFault RandomFaults::draw(std::uint64_t frameNumber, unsigned dataReads) const {
    const std::uint64_t which = number(frameNumber, 1);
    const std::uint64_t amount = number(frameNumber, 2);
    const std::uint64_t bytes = number(frameNumber, 3);

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
    if (!makes(fault.kind)) {
        fault.leftOut = fault.kind;
        fault.kind = FaultKind::None;
        return fault;
    }

    switch (fault.kind) {
    case FaultKind::Late:
        fault.delayMs = lateDelay(dataReads, amount);
        break;
    case FaultKind::Refuse:
        // Half the refusals, as drawn, come late, where the panel's second read finds them.
        if (amount % 2 == 1)
            fault.delayMs = lateDelay(dataReads, amount / 2);
        break;
    case FaultKind::Partial:
        // Which share of the answer goes out; the cut itself depends on the answer's length.
        fault.keep = static_cast<unsigned>(amount % 1000);
        break;
    case FaultKind::Junk: {
        const unsigned count = 1 + static_cast<unsigned>(amount % kMostJunkBytes);
        for (unsigned i = 0; i < count; ++i) {
            char byte = static_cast<char>((bytes >> (8 * i)) & 0xFF);
            // Junk must never read as an acknowledge.
            if (protocol::AcknowledgeOf(static_cast<std::uint8_t>(byte)) == CMD_ACK)
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
    const std::string bytes = answer.data + acknowledgeByte(answer.ack);
    switch (fault.kind) {
    case FaultKind::None:
        return {{0, bytes}};
    case FaultKind::Late:
        return {{fault.delayMs, bytes}};
    case FaultKind::Partial: {
        const std::size_t kept = keptBytes(fault, bytes.size());
        if (kept == 0)
            return {};
        return {{0, bytes.substr(0, kept)}};
    }
    case FaultKind::Junk:
        return {{0, fault.junk}};
    case FaultKind::Nak:
        return {{0, answer.data + acknowledgeByte(false)}};
    case FaultKind::Refuse:
        return {{fault.delayMs, std::string(1, acknowledgeByte(false))}};
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
        return fault.leftOut == FaultKind::None
                   ? "none"
                   : std::string("none (a ") + faultName(fault.leftOut) + ", left out)";
    case FaultKind::Late:
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
        return fault.delayMs == 0 ? "refuse"
                                  : "refuse late " + std::to_string(fault.delayMs) + " ms";
    case FaultKind::Pull:
        return "pull " + std::to_string(fault.pullMs) + " ms";
    }
    return "?";
}

} // namespace monitor_sim
