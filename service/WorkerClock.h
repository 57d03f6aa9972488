// The clock a line's worker runs on: when the next poll is due, the protocol's own waits, and the
// wall clock its reports carry. kelvaned's is the system's; the worker's tests put a virtual one
// in its place, so that an hour of polls costs no time.
//   WorkerClock  the clock's three calls
//   SystemClock  the steady clock and the system's wall clock
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace service {

class WorkerClock {
public:
    using Time = std::chrono::steady_clock::time_point;
    virtual ~WorkerClock() = default;
    virtual Time Now() = 0;
    // Milliseconds since 1970 (UTC), for what a report says of when.
    virtual std::int64_t WallMs() = 0;
    // Waits until the time comes, or until ready() holds when wake is notified; lock holds wake's
    // mutex on the call and on return. Returns at once when ready() holds already.
    virtual void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                           Time until, const std::function<bool()>& ready) = 0;
};

WorkerClock& SystemClock();

} // namespace service
