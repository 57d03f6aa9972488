#include "service/Service.h"
#include <unordered_map>
#include "service/Log.h"

namespace service {

namespace {

// For each line of the configuration, the worker already at work on it; null for a line new to
// kelvaned. Both are compared as the configuration compares its targets: by the endpoints they
// name.
std::vector<std::shared_ptr<LineWorker>>
KeptWorkers(const Config& config, std::vector<std::shared_ptr<LineWorker>>& old) {
    std::vector<line::Target> targets;
    for (const auto& worker : old)
        targets.push_back(worker->Target());
    for (const LineConfig& line : config.lines)
        targets.push_back(line.target);
    const std::vector<std::size_t> lineOf = line::LinesOf(targets);
    std::unordered_map<std::size_t, std::size_t> oldOn; // a line of both lists -> an old worker
    for (std::size_t i = 0; i < old.size(); ++i)
        oldOn.emplace(lineOf[i], i);
    std::vector<std::shared_ptr<LineWorker>> kept(config.lines.size());
    for (std::size_t i = 0; i < config.lines.size(); ++i) {
        const auto found = oldOn.find(lineOf[old.size() + i]);
        if (found != oldOn.end() && old[found->second])
            kept[i] = std::move(old[found->second]);
    }
    return kept;
}

} // namespace

void Service::Apply(const Config& config) {
    const LineSettings settings{std::chrono::seconds(config.pollIntervalS), config.timing};
    // The monitors of each line, in the configuration's order.
    std::vector<std::vector<LineMonitor>> monitors(config.lines.size());
    for (const MonitorConfig& monitor : config.monitors)
        monitors[monitor.lineIndex].push_back({monitor.name, monitor.unit});

    std::vector<std::shared_ptr<LineWorker>> workers;
    std::vector<std::shared_ptr<LineWorker>> released;
    std::vector<std::shared_ptr<LineWorker>> added;
    std::vector<std::shared_ptr<LineWorker>> kept;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::shared_ptr<LineWorker>> old = std::move(m_workers);
        workers = KeptWorkers(config, old);
        for (std::size_t i = 0; i < workers.size(); ++i) {
            // Handed over before the fleet shows the monitors: an operation on a monitor the
            // reload added finds it on its worker.
            if (workers[i]) {
                workers[i]->Configure(std::move(monitors[i]), settings);
                kept.push_back(workers[i]);
                continue;
            }
            workers[i] = std::make_shared<LineWorker>(
                config.lines[i].target, std::move(monitors[i]), settings, m_fleet, m_open, m_clock);
            added.push_back(workers[i]);
        }
        for (auto& left : old)
            if (left)
                released.push_back(std::move(left));
        m_workers = workers;
    }
    m_fleet.Configure(config.monitors, config.lines, workers);
    // Started once the fleet has their monitors: a first poll that came sooner would be taken for
    // one of a monitor a reload removed, and lost until the next cycle.
    for (auto& worker : added)
        worker->Start();
    for (auto& worker : kept)
        worker->PollNewMonitors();
    // Outside the lock: a line let go ends its exchange first.
    for (auto& worker : released) {
        Log(worker->Target().text + ": no longer configured; the line is let go");
        worker->Stop(Cut::Reload);
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
