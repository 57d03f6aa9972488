// The page's event stream as a browser reads it: the whole fleet first, then each change, the
// whole fleet again after a reload, and a comment line to keep proxies open; and the fleet's call
// after each change, which wakes the streams.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include "service/Events.h"

using namespace std::chrono_literals;
using service::EVENT_KEEP_ALIVE;
using service::EventStream;
using service::Fleet;
using service::MonitorConfig;
using service::PollResult;

namespace {

using Time = std::chrono::steady_clock::time_point;
constexpr std::int64_t WALL_MS = 1700000000123; // 2023-11-14T22:13:20.123Z

std::vector<MonitorConfig> Monitors(std::initializer_list<const char*> names) {
    std::vector<MonitorConfig> monitors;
    for (const char* name : names) {
        MonitorConfig monitor;
        monitor.name = name;
        std::string error;
        line::ParseTarget("tcp:127.0.0.1:7001", monitor.target, error);
        monitor.unit = static_cast<int>(monitors.size()) + 1;
        monitors.push_back(monitor);
    }
    return monitors;
}

PollResult Answered(int source) {
    PollResult poll;
    poll.status.unit = 1;
    poll.status.source = source;
    poll.status.signal = true;
    poll.status.firmware = "1.02";
    poll.wallMs = WALL_MS;
    return poll;
}

// The events of a stream's text: (kind, data) for each, ("comment", "") for a comment line.
std::vector<std::pair<std::string, nlohmann::json>> Events(const std::string& text) {
    std::vector<std::pair<std::string, nlohmann::json>> events;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\n\n", at);
        EXPECT_NE(end, std::string::npos) << "every event ends with a blank line: " << text;
        if (end == std::string::npos)
            break;
        const std::string block = text.substr(at, end - at);
        at = end + 2;
        if (block.rfind(":", 0) == 0) {
            events.emplace_back("comment", nullptr);
            continue;
        }
        std::string kind;
        nlohmann::json data;
        size_t line = 0;
        while (line < block.size()) {
            size_t next = block.find('\n', line);
            if (next == std::string::npos)
                next = block.size();
            const std::string field = block.substr(line, next - line);
            if (field.rfind("event: ", 0) == 0)
                kind = field.substr(7);
            else if (field.rfind("data: ", 0) == 0)
                data = nlohmann::json::parse(field.substr(6));
            else
                EXPECT_EQ(field.rfind("retry: ", 0), 0u) << field;
            line = next + 1;
        }
        events.emplace_back(kind, data);
    }
    return events;
}

std::vector<std::string> Names(const nlohmann::json& monitors) {
    std::vector<std::string> names;
    for (const auto& m : monitors)
        names.push_back(m["name"]);
    return names;
}

} // namespace

TEST(EventStream, BeginsWithTheWholeFleetKelvanedsClockAndTheReconnectionTime) {
    Fleet fleet;
    fleet.Configure(Monitors({"lobby", "hall"}));
    fleet.RecordPoll("hall", Answered(1));
    EventStream stream(fleet);
    const std::string text = stream.Next(Time{}, WALL_MS);
    EXPECT_EQ(text.rfind("retry: 2000\n", 0), 0u) << text;
    const auto events = Events(text);
    ASSERT_EQ(events.size(), 1u) << text;
    EXPECT_EQ(events[0].first, "fleet");
    EXPECT_EQ(events[0].second["now"], "2023-11-14T22:13:20.123Z");
    EXPECT_EQ(Names(events[0].second["monitors"]), (std::vector<std::string>{"lobby", "hall"}));
    EXPECT_EQ(events[0].second["monitors"][1]["source"], "HDMI2");
    EXPECT_EQ(stream.Next(Time{} + 1s, WALL_MS), "") << "nothing changed since";
}

TEST(EventStream, SendsEachMonitorThatChangedOnceInTheConfigurationsOrder) {
    Fleet fleet;
    fleet.Configure(Monitors({"lobby", "hall", "depot"}));
    EventStream stream(fleet);
    stream.Next(Time{}, WALL_MS);
    fleet.RecordPoll("depot", Answered(0));
    fleet.RecordPoll("lobby", Answered(0));
    fleet.RecordPoll("lobby", Answered(3));
    const auto events = Events(stream.Next(Time{} + 1s, WALL_MS));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].first, "monitor");
    EXPECT_EQ(events[0].second["name"], "lobby");
    EXPECT_EQ(events[0].second["source"], "VGA");
    EXPECT_EQ(events[0].second["polls"], 2);
    EXPECT_EQ(events[1].second["name"], "depot");
    EXPECT_EQ(stream.Next(Time{} + 2s, WALL_MS), "");
}

TEST(EventStream, SendsTheWholeFleetAgainAfterAReloadWithoutTheReconnectionTime) {
    Fleet fleet;
    fleet.Configure(Monitors({"lobby", "hall"}));
    EventStream stream(fleet);
    stream.Next(Time{}, WALL_MS);
    fleet.Configure(Monitors({"lobby", "depot"}));
    const std::string text = stream.Next(Time{} + 1s, WALL_MS + 1000);
    EXPECT_EQ(text.find("retry:"), std::string::npos);
    const auto events = Events(text);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first, "fleet");
    EXPECT_EQ(events[0].second["now"], "2023-11-14T22:13:21.123Z");
    EXPECT_EQ(Names(events[0].second["monitors"]), (std::vector<std::string>{"lobby", "depot"}));
}

TEST(EventStream, WritesACommentLineEveryKeepAliveTimeAndNoSooner) {
    Fleet fleet;
    fleet.Configure(Monitors({"lobby"}));
    EventStream stream(fleet);
    stream.Next(Time{}, WALL_MS);
    EXPECT_EQ(stream.Next(Time{} + EVENT_KEEP_ALIVE - 1ms, WALL_MS), "");
    EXPECT_EQ(stream.Next(Time{} + EVENT_KEEP_ALIVE, WALL_MS), ": keep-alive\n\n");
    EXPECT_EQ(stream.Next(Time{} + 2 * EVENT_KEEP_ALIVE - 1ms, WALL_MS), "");
    fleet.RecordPoll("lobby", Answered(0));
    const auto events = Events(stream.Next(Time{} + 2 * EVENT_KEEP_ALIVE, WALL_MS));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].first, "monitor");
    EXPECT_EQ(events[1].first, "comment");
}

TEST(EventStream, TheFleetWakesItsListenerAfterEachChangeOutsideItsLock) {
    Fleet fleet;
    int calls = 0;
    // Asking the fleet from the listener would never return under its lock.
    fleet.AddChangeListener([&] {
        fleet.Version();
        ++calls;
    });
    fleet.Configure(Monitors({"lobby"}));
    EXPECT_EQ(calls, 1) << "a configuration taken";
    fleet.RecordPoll("lobby", Answered(0));
    EXPECT_EQ(calls, 2) << "a poll recorded";
    fleet.RecordPoll("nobody", Answered(0));
    EXPECT_EQ(calls, 2) << "no monitor of that name: nothing changed";
}
