// /metrics and /api/monitors rendered once and sent again: what a monitor shows is never behind,
// its counters at most COUNTERS_LAG, on a clock the test moves; and /api/log's length by default.
#include <gtest/gtest.h>
#include <thread>
#include "service/Api.h"

using namespace std::chrono_literals;
using service::COUNTERS_LAG;

namespace {

class SteppedClock final : public service::WorkerClock {
public:
    Time Now() override { return now; }
    std::int64_t WallMs() override { return 1700000000000; }
    void WaitUntil(std::unique_lock<std::mutex>&, std::condition_variable&, Time,
                   const std::function<bool()>&) override {}
    Time now{};
};

service::PollResult Answered(int source) {
    service::PollResult poll;
    poll.status.unit = 1;
    poll.status.source = source;
    poll.status.signal = true;
    poll.status.firmwareRefused = true;
    poll.wallMs = 1700000000000;
    return poll;
}

class Rendering : public testing::Test {
protected:
    Rendering() {
        service::MonitorConfig lobby;
        lobby.name = "lobby";
        lobby.target.text = "tcp:127.0.0.1:7001";
        fleet.Configure({lobby});
        fleet.RecordPoll("lobby", Answered(0));
    }

    // The polls the answer to path counts for the monitor.
    std::string Polls(const std::string& path) {
        service::http::Request request;
        request.method = "GET";
        request.path = path;
        request.client = "127.0.0.1";
        request.headers = {{"Host", "127.0.0.1:9420"}};
        const std::string body = *api.Answer(request).response.body;
        const std::string key = path == "/metrics" ? "kelvane_monitor_polls_total{" : "\"polls\":";
        const size_t at = body.find(key);
        if (at == std::string::npos)
            return "none";
        const size_t start = path == "/metrics" ? body.find("} ", at) + 2 : at + key.size();
        return body.substr(start, body.find_first_of(",\n}", start) - start);
    }

    SteppedClock clock;
    service::Fleet fleet;
    service::Service workers{fleet};
    service::Operations operations{fleet};
    service::OperationLog log;
    service::Api api{fleet, workers, operations, log, clock};
};

TEST_F(Rendering, CountersMayLagTheirTimeButWhatAMonitorShowsNever) {
    for (const std::string path : {"/metrics", "/api/monitors"}) {
        SCOPED_TRACE(path);
        fleet.RecordPoll("lobby", Answered(0));
        const std::string first = Polls(path);
        fleet.RecordPoll("lobby", Answered(0));
        clock.now += COUNTERS_LAG - 1ms;
        EXPECT_EQ(Polls(path), first) << "a poll that moved counters alone";

        // Past twice the lag, nothing old is sent.
        clock.now += COUNTERS_LAG + 2ms;
        const std::string second = Polls(path);
        EXPECT_NE(second, first);

        // A change of source is sent at once, counters and all.
        fleet.RecordPoll("lobby", Answered(3));
        const std::string third = Polls(path);
        EXPECT_NE(third, second);
        fleet.RecordPoll("lobby", Answered(3));
        EXPECT_EQ(Polls(path), third);
    }
}

TEST_F(Rendering, CountersLagFromWhenTheFleetMovedNotFromWhenTheAnswerWasMade) {
    for (const std::string path : {"/metrics", "/api/monitors"}) {
        SCOPED_TRACE(path);
        const std::string first = Polls(path);
        // A quiet spell, asked about all along: the answer stays the fleet's own.
        clock.now += 10 * COUNTERS_LAG;
        EXPECT_EQ(Polls(path), first);
        fleet.RecordPoll("lobby", Answered(0));
        clock.now += COUNTERS_LAG - 1ms;
        EXPECT_EQ(Polls(path), first) << "the first poll after it";
        clock.now += COUNTERS_LAG + 1ms;
        EXPECT_NE(Polls(path), first);
    }
}

TEST_F(Rendering, TheLogGivesTheNewestHundredWithoutALimit) {
    for (int n = 1; n <= 101; ++n) {
        service::OperationRecord record;
        record.monitor = "m" + std::to_string(n);
        log.Add(record);
    }
    service::http::Request request;
    request.method = "GET";
    request.path = "/api/log";
    request.client = "127.0.0.1";
    request.headers = {{"Host", "127.0.0.1:9420"}};
    const auto entries = nlohmann::json::parse(*api.Answer(request).response.body)["operations"];
    ASSERT_EQ(entries.size(), 100u);
    EXPECT_EQ(entries[0]["monitor"], "m101");
}

TEST_F(Rendering, AnOperationIsSentAtOnceEvenWhenTheMonitorShowsTheSame) {
    const auto diagnostics = [this] {
        service::http::Request request;
        request.method = "GET";
        request.path = "/metrics";
        request.headers = {{"Host", "127.0.0.1:9420"}};
        const std::string body = *api.Answer(request).response.body;
        const std::string key = "operation=\"diagnostic\",result=\"ok\"} ";
        const size_t at = body.find(key) + key.size();
        return body.substr(at, body.find('\n', at) - at);
    };
    EXPECT_EQ(diagnostics(), "0");
    Outcome outcome;
    fleet.RecordOperation("lobby", Command::Diagnostic, outcome, 1700000000000);
    EXPECT_EQ(diagnostics(), "1");
}

TEST_F(Rendering, PastTheLagTheLastIsSentWhileTheNextIsMadeAsideEachTime) {
    std::string last = Polls("/metrics");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        fleet.RecordPoll("lobby", Answered(0));
        clock.now += COUNTERS_LAG + 1ms;
        EXPECT_EQ(Polls("/metrics"), last);
        // The next rendering comes from another thread; a few seconds of real time at most.
        std::string now = last;
        for (int i = 0; i < 500 && now == last; ++i) {
            std::this_thread::sleep_for(10ms);
            now = Polls("/metrics");
        }
        EXPECT_NE(now, last);
        last = now;
    }
}

} // namespace
