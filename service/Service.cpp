#include "service/Service.h"
#include <map>
#include "service/Log.h"

namespace service {

namespace {

struct LinePlan {
    line::Target target;
    std::vector<LineMonitor> monitors; // in the configuration's order
};

// The lines of a configuration in the order of their first monitor, and the line of each monitor.
std::vector<LinePlan> PlanLines(const Config& config, std::vector<std::size_t>& lineOf) {
    std::vector<LinePlan> lines;
    lineOf.clear();
    for (const MonitorConfig& monitor : config.monitors) {
        std::size_t i = 0;
        while (i < lines.size() && !line::SameLine(lines[i].target, monitor.target))
            ++i;
        if (i == lines.size())
            lines.push_back({monitor.target, {}});
        lines[i].monitors.push_back({monitor.name, monitor.unit});
        lineOf.push_back(i);
    }
    return lines;
}

} // namespace

void Service::Apply(const Config& config) {
    const LineSettings settings{std::chrono::seconds(config.pollIntervalS), config.timing};
    std::vector<std::size_t> lineOf;
    std::vector<LinePlan> lines = PlanLines(config, lineOf);

    std::vector<std::shared_ptr<LineWorker>> workers;
    std::vector<std::shared_ptr<LineWorker>> released;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::shared_ptr<LineWorker>> old = std::move(m_workers);
        for (LinePlan& plan : lines) {
            std::shared_ptr<LineWorker> worker;
            for (auto& candidate : old) {
                if (candidate && line::SameLine(candidate->Target(), plan.target)) {
                    worker = std::move(candidate);
                    break;
                }
            }
            // Handed over before the fleet shows the monitors: an operation on a monitor the
            // reload added finds it on its worker.
            if (worker) {
                worker->Configure(std::move(plan.monitors), settings);
            } else {
                worker = std::make_shared<LineWorker>(plan.target, std::move(plan.monitors),
                                                      settings, m_fleet, m_open, m_clock);
                worker->Start();
            }
            workers.push_back(worker);
        }
        for (auto& left : old)
            if (left)
                released.push_back(std::move(left));
        m_workers = workers;
    }
    std::vector<std::shared_ptr<LineWorker>> byMonitor;
    byMonitor.reserve(lineOf.size());
    for (const std::size_t line : lineOf)
        byMonitor.push_back(workers[line]);
    m_fleet.Configure(config.monitors, byMonitor);
    // Outside the lock: a line let go ends its exchange first.
    for (auto& worker : released) {
        Log(worker->Target().text + ": no longer configured; the line is let go");
        worker->Stop();
    }
}

bool Service::Healthy() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& worker : m_workers)
        if (!worker->Running())
            return false;
    return !m_stopping;
}

void Service::Stop() {
    m_stopping = true;
    std::vector<std::shared_ptr<LineWorker>> workers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        workers.swap(m_workers);
    }
    // All at once, then each waited for: the lines end their exchanges side by side.
    for (auto& worker : workers)
        worker->Stop();
    for (auto& worker : workers)
        worker->Join();
}

} // namespace service
