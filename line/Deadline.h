// Time for the line library and the programs on it: a monotonic clock, immune to changes of the
// wall clock, and deadlines on it.
//   Deadline, DeadlineIn, MsUntil   a point on the monotonic clock, and the time left until it
//   MonotonicMs                     milliseconds on the monotonic clock, for the protocol's clock
// Standard C++ only.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace line {

using MonotonicClock = std::chrono::steady_clock;
using Deadline = MonotonicClock::time_point;

inline Deadline DeadlineIn(std::uint32_t milliseconds) {
    return MonotonicClock::now() + std::chrono::milliseconds(milliseconds);
}

// Whole milliseconds left until the deadline, rounded up, 0 once it has passed.
inline std::uint32_t MsUntil(Deadline deadline) {
    const auto left = deadline - MonotonicClock::now();
    if (left <= MonotonicClock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<std::uint32_t>(std::min<long long>(ms, UINT32_MAX));
}

inline std::uint64_t MonotonicMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          MonotonicClock::now().time_since_epoch())
                                          .count());
}

} // namespace line
