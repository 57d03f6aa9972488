// A line worker's clock on virtual time: every wait of the worker (for its next poll, the
// protocol's pauses) moves the time at once, up to an end; there the worker waits for real until
// it is stopped. The test runs the worker on its thread to the end, then looks.
//   VirtualWorkerClock  the clock, on the same virtual time as the fake line
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include "service/WorkerClock.h"
#include "tests/support/FakeLine.h"

class VirtualWorkerClock final : public service::WorkerClock {
public:
    // Virtual ms 0 is this wall time.
    static constexpr std::int64_t WALL_START_MS = 1700000000000;

    explicit VirtualWorkerClock(VirtualTime& time) : m_time(time) {}

    // Where the worker's time stops, in virtual ms.
    void RunTo(std::uint64_t endMs) { m_endMs = endMs; }
    // Waits (for real, a few seconds at most) until the worker has reached the end; false when it
    // did not.
    bool WaitForEnd() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_ended.wait_for(lock, std::chrono::seconds(20), [this] { return m_atEnd; });
    }

    Time Now() override { return Time(std::chrono::milliseconds(m_time.Now())); }
    std::int64_t WallMs() override {
        return WALL_START_MS + static_cast<std::int64_t>(m_time.Now());
    }
    void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, Time until,
                   const std::function<bool()>& ready) override {
        if (ready())
            return;
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(until.time_since_epoch()).count();
        if (ms >= 0 && static_cast<std::uint64_t>(ms) <= m_endMs) {
            m_time.AdvanceTo(static_cast<std::uint64_t>(ms));
            return;
        }
        m_time.AdvanceTo(m_endMs);
        {
            std::lock_guard<std::mutex> ended(m_mutex);
            m_atEnd = true;
        }
        m_ended.notify_all();
        wake.wait(lock, ready);
    }

private:
    VirtualTime& m_time;
    std::uint64_t m_endMs = 0;
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_atEnd = false;
};
