// The workers of a configuration: a line's first poll comes after the fleet has its monitors, so
// that no first result is dropped as one of a monitor a reload removed; its sweep is its line's.
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include "service/Service.h"

namespace {

TEST(ServiceStart, EveryLinesFirstOpenFindsItsMonitorsInTheFleet) {
    // Many lines: the first worker would reach its line while the others are still being made.
    constexpr int LINES = 50;
    service::Config config;
    config.pollIntervalS = 3600;
    for (int i = 0; i < LINES; ++i) {
        service::LineConfig line;
        line.target.text = "tcp:127.0.0.1:" + std::to_string(7001 + i);
        line.name = line.target.text;
        config.lines.push_back(line);
        service::MonitorConfig monitor;
        monitor.name = "m" + std::to_string(i);
        monitor.target = line.target;
        monitor.lineIndex = static_cast<std::size_t>(i);
        config.monitors.push_back(monitor);
    }
    service::Fleet fleet;
    std::atomic<int> opened{0};
    std::atomic<int> unknown{0};
    service::Service workers(
        fleet, [&](const line::Target& target, const line::Cancel&, std::string& error) {
            const std::string name = "m" + std::to_string(std::stoi(target.text.substr(14)) - 7001);
            unknown += fleet.Find(name) ? 0 : 1;
            ++opened;
            error = "connection refused";
            return std::unique_ptr<MonitorLine>();
        });
    workers.Apply(config);
    for (int i = 0; i < 1000 && opened < LINES; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(opened, LINES);
    EXPECT_EQ(unknown, 0);
    workers.Stop();
    for (const service::MonitorState& monitor : fleet.Snapshot())
        EXPECT_EQ(monitor.polls, 1u) << monitor.name;
    // And each line's sweep went to that line.
    for (const service::LineState& line : fleet.Lines())
        EXPECT_TRUE(line.sweepSeconds.has_value()) << line.name;
}

} // namespace
