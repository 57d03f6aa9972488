// The fleet's workers: one per line, made from the configuration and remade by a reload without
// touching the lines that stay.
//   Service   starts the workers of a configuration, takes a new one, finds a monitor's worker,
//             and stops them all
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include "service/Config.h"
#include "service/Fleet.h"
#include "service/LineWorker.h"

namespace service {

class Service {
public:
    explicit Service(Fleet& fleet) : m_fleet(fleet) {}
    ~Service() { Stop(); }

    // Takes a configuration, the first or a reloaded one: a line still in it keeps its worker and
    // stays open (its monitors and settings are handed over between two polls), a new line gets
    // a worker, a line no longer in it is let go.
    void Apply(const Config& config);
    // The worker of the monitor's line; null for a name not configured.
    std::shared_ptr<LineWorker> WorkerOf(const std::string& monitor) const;
    // Whether every worker is at work.
    bool Healthy() const;
    // Stops every worker at once, waits for them and lets every line go.
    void Stop();

private:
    Fleet& m_fleet;
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<LineWorker>> m_workers;
    std::map<std::string, std::shared_ptr<LineWorker>> m_byMonitor;
    std::atomic<bool> m_stopping{false};
};

} // namespace service
