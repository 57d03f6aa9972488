// A way to end a program's waits early: Ctrl-C for the command line, a stop for the service.
//   Cancel           a flag that, once set, ends every wait on it at once
//   CancellableClock the protocol's clock, waiting on a Cancel; it remembers a wait it cut short
// Standard C++ only.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include "core/MonitorLine.h"
#include "line/Deadline.h"

namespace line {

class Cancel {
public:
    // Sets the flag and wakes every wait; safe from any thread (not from a signal handler).
    void Set();
    bool IsSet() const { return m_set.load(); }
    // Waits this long, or less when the flag is set; false when it was set.
    bool Wait(std::uint32_t milliseconds);

private:
    std::atomic<bool> m_set{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
};

class CancellableClock final : public ProtocolClock {
public:
    explicit CancellableClock(Cancel& cancel) : m_cancel(cancel) {}
    void Sleep(std::uint32_t milliseconds) override {
        if (!m_cancel.Wait(milliseconds))
            m_cut = true;
    }
    std::uint64_t NowMs() override { return MonotonicMs(); }
    // Whether a wait ended early because the Cancel was set.
    bool WasCut() const { return m_cut; }

private:
    Cancel& m_cancel;
    bool m_cut = false;
};

} // namespace line
