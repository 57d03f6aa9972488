#include "service/Service.h"
#include "service/Log.h"

namespace service {

void Service::Apply(const Config& config) {
    const LineSettings settings{std::chrono::seconds(config.pollIntervalS), config.timing};
    // The monitors of each line in the configuration's order; the lines in the order of their
    // first monitor.
    std::vector<std::pair<line::Target, std::vector<LineMonitor>>> lines;
    std::map<std::string, size_t> lineOf;
    for (const MonitorConfig& monitor : config.monitors) {
        size_t i = 0;
        while (i < lines.size() && !line::SameLine(lines[i].first, monitor.target))
            ++i;
        if (i == lines.size())
            lines.push_back({monitor.target, {}});
        lines[i].second.push_back({monitor.name, monitor.unit});
        lineOf[monitor.name] = i;
    }
    m_fleet.Configure(config.monitors);

    std::vector<std::shared_ptr<LineWorker>> workers;
    std::vector<std::shared_ptr<LineWorker>> released;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::shared_ptr<LineWorker>> old = m_workers;
        for (auto& [target, monitors] : lines) {
            std::shared_ptr<LineWorker> worker;
            for (auto& candidate : old) {
                if (candidate && line::SameLine(candidate->Target(), target)) {
                    worker = std::move(candidate);
                    break;
                }
            }
            if (worker)
                worker->Configure(monitors, settings);
            else
                worker = std::make_shared<LineWorker>(target, monitors, settings, m_fleet);
            workers.push_back(worker);
        }
        for (auto& left : old)
            if (left)
                released.push_back(std::move(left));
        m_workers = workers;
        m_byMonitor.clear();
        for (const auto& [name, index] : lineOf)
            m_byMonitor[name] = workers[index];
    }
    // Outside the lock: a line let go ends its exchange first.
    for (auto& worker : released) {
        Log(worker->Target().text + ": no longer configured; the line is let go");
        worker->Stop();
    }
    released.clear();
}

std::shared_ptr<LineWorker> Service::WorkerOf(const std::string& monitor) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_byMonitor.find(monitor);
    return found == m_byMonitor.end() ? nullptr : found->second;
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
        m_byMonitor.clear();
    }
    // All at once, then each waited for: the lines end their exchanges side by side.
    for (auto& worker : workers)
        worker->Stop();
    workers.clear();
}

} // namespace service
