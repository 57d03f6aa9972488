// The fleet's workers: one per line, made from the configuration and remade by a reload without
// touching the lines that stay.
//   Service   starts the workers of a configuration, takes a new one, and stops them all
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>
#include "service/Config.h"
#include "service/Fleet.h"
#include "service/LineWorker.h"

namespace service {

class Service {
public:
    // The workers report to the fleet, open their lines with open and wait on clock.
    explicit Service(Fleet& fleet, LineOpener open = OpenLine, WorkerClock& clock = SystemClock())
        : m_fleet(fleet), m_open(std::move(open)), m_clock(clock) {}
    ~Service() { Stop(); }

    // Takes a configuration, the first or a reloaded one: a line still in it keeps its worker and
    // stays open (its monitors and settings are handed over between two polls), a new line gets
    // a worker, a line no longer in it is let go. The fleet takes the monitors with their workers
    // in one step.
    void Apply(const Config& config);
    // Whether every worker is at work.
    bool Healthy() const;
    // Stops every worker at once, waits for them and lets every line go.
    void Stop();

private:
    Fleet& m_fleet;
    const LineOpener m_open;
    WorkerClock& m_clock;
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<LineWorker>> m_workers;
    std::atomic<bool> m_stopping{false};
};

} // namespace service
