// A line's worker on virtual time, against the simulator's own model of a daisy chain: when it
// polls, how it opens and reopens its line, its queue of operations, a stop in the middle of an
// exchange, and a reload that keeps the line.
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <tuple>
#include "service/LineWorker.h"
#include "tests/support/CapturedStderr.h"
#include "tests/support/SimulatedLine.h"
#include "tests/support/VirtualWorkerClock.h"

using protocol::Failure;
using service::Admission;
using service::Cut;
using service::LineMonitor;
using service::LineSettings;
using service::LineWorker;
using service::OperationResult;
using service::PollResult;

namespace {

// How often the text holds the words.
int Count(const std::string& text, const std::string& words) {
    int count = 0;
    for (auto at = text.find(words); at != std::string::npos; at = text.find(words, at + 1))
        ++count;
    return count;
}

struct Poll {
    std::string monitor;
    std::uint64_t endMs;
    PollResult result;
};

class Reports final : public service::LineReports {
public:
    explicit Reports(VirtualTime& time) : m_time(time) {}
    void RecordPoll(const std::string& monitor, const PollResult& poll) override {
        polls.push_back({monitor, m_time.Now(), poll});
    }
    void RecordOperation(const std::string& monitor, Command, const Outcome& outcome,
                         std::int64_t) override {
        operations.emplace_back(monitor, outcome);
    }
    void RecordSweep(const LineWorker&, const service::SweepResult& sweep) override {
        sweeps.push_back(sweep);
    }
    std::vector<service::SweepResult> sweeps;
    std::vector<Poll> polls;
    std::vector<std::pair<std::string, Outcome>> operations;

private:
    VirtualTime& m_time;
};

Request Asking(Command command, int source = -1) {
    Request request;
    request.command = command;
    request.source = source;
    return request;
}

class LineWorkerOnVirtualTime : public ::testing::Test {
protected:
    VirtualTime time;
    VirtualWorkerClock clock{time};
    monitor_sim::Chain chain{monitor_sim::MonitorState{}, {1, 2, 3}, monitor_sim::Faults{}};
    Reports reports{time};
    // The frames every line opened got, with when; the opens tried, and how many lines are open.
    std::vector<std::pair<std::uint64_t, std::string>> frames;
    int opens = 0;
    int failingOpens = 0; // the first opens that fail
    int openLines = 0;
    std::function<void(const std::string& frame, SimulatedLine& line)> onFrame;
    std::map<std::string, OperationResult> results;
    std::unique_ptr<LineWorker> worker;

    void Make(std::vector<LineMonitor> monitors, int intervalS = 10,
              Timing timing = Timing::Paced) {
        line::Target target;
        target.text = "tcp:127.0.0.1:7001";
        worker = std::make_unique<LineWorker>(
            target, std::move(monitors), LineSettings{std::chrono::seconds(intervalS), timing},
            reports,
            [this](const line::Target&, const line::Cancel& stop, std::string& error) {
                return Open(stop, error);
            },
            clock);
    }

    std::unique_ptr<MonitorLine> Open(const line::Cancel& stop, std::string& error) {
        if (++opens <= failingOpens) {
            error = "connection refused";
            return nullptr;
        }
        auto opened = std::make_unique<Counted>(time, chain, &stop, openLines);
        SimulatedLine* line = opened.get();
        line->onFrame = [this, line](const std::string& frame) {
            frames.emplace_back(time.Now(), frame);
            if (onFrame)
                onFrame(frame, *line);
        };
        return opened;
    }

    Admission Submit(const std::string& key, const std::string& monitor, const Request& request) {
        return worker->Submit(monitor, request, [this, key](const OperationResult& result) {
            results[key] = result;
        });
    }

    // Runs the worker until the virtual time reaches endMs, then stops it.
    void RunTo(std::uint64_t endMs) {
        clock.RunTo(endMs);
        worker->Start();
        const bool ended = clock.WaitForEnd();
        worker->Stop();
        worker->Join();
        ASSERT_TRUE(ended) << "the worker did not reach " << endMs << " ms";
    }

    // When each poll cycle began: the times of the frames that open a cycle's first poll.
    std::vector<std::uint64_t> CycleStarts(const std::string& firstMonitor) const {
        std::vector<std::uint64_t> starts;
        std::uint64_t polledUntil = 0;
        for (const Poll& poll : reports.polls) {
            if (poll.monitor == firstMonitor)
                for (const auto& [at, frame] : frames)
                    if (at > polledUntil) {
                        starts.push_back(at);
                        break;
                    }
            polledUntil = poll.endMs;
        }
        return starts;
    }

private:
    class Counted final : public SimulatedLine {
    public:
        Counted(VirtualTime& time, monitor_sim::Chain& chain, const line::Cancel* stop, int& open)
            : SimulatedLine(time, chain, stop), m_open(++open) {}
        ~Counted() override { --m_open; }

    private:
        int& m_open;
    };
};

std::vector<std::string> Names(const std::vector<Poll>& polls) {
    std::vector<std::string> names;
    for (const Poll& poll : polls)
        names.push_back(poll.monitor);
    return names;
}

} // namespace

TEST_F(LineWorkerOnVirtualTime, PollsEachMonitorInTurnEveryIntervalCountedFromTheLastStart) {
    Make({{"m1", 1}, {"m2", 2}, {"m3", 3}});
    CapturedStderr log;
    RunTo(35000);
    EXPECT_EQ(log.Text(), "") << "sweeps within the interval say nothing";
    EXPECT_EQ(Names(reports.polls), (std::vector<std::string>{"m1", "m2", "m3", "m1", "m2", "m3",
                                                              "m1", "m2", "m3", "m1", "m2", "m3"}));
    for (const Poll& poll : reports.polls) {
        EXPECT_EQ(poll.result.error, Failure::None) << poll.monitor;
        EXPECT_EQ(poll.result.status.source, 0);
        EXPECT_EQ(poll.result.wallMs, VirtualWorkerClock::WALL_START_MS + poll.endMs);
    }
    // The drain before the first frame reads for 100 ms.
    EXPECT_EQ(CycleStarts("m1"), (std::vector<std::uint64_t>{100, 10100, 20100, 30100}));
    EXPECT_EQ(opens, 1) << "the line stays open between polls";
    ASSERT_EQ(reports.sweeps.size(), 4u);
    for (const service::SweepResult& sweep : reports.sweeps) {
        EXPECT_FALSE(sweep.overran);
        EXPECT_NEAR(sweep.seconds, 2.7, 0.2) << "three paced polls of three queries each";
    }
    for (const auto& [at, frame] : frames)
        EXPECT_NE(frame, "@@0UIG000") << "a configured unit is not asked at \"0\"";
}

TEST_F(LineWorkerOnVirtualTime, ASweepLongerThanTheIntervalIsFollowedByTheNextAtOnce) {
    Make({{"m1", 1}, {"m2", 2}, {"m3", 3}}, 1);
    RunTo(10000);
    const std::vector<std::uint64_t> starts = CycleStarts("m1");
    ASSERT_GE(starts.size(), 3u);
    // Each cycle (three paced polls of about 1.2 s) begins as the last poll of the one before
    // ends, plus the drain's read.
    for (size_t i = 1; i < starts.size(); ++i) {
        const Poll& last = reports.polls[3 * i - 1];
        EXPECT_EQ(last.monitor, "m3");
        EXPECT_EQ(starts[i], last.endMs + 100) << "cycle " << i;
    }
    ASSERT_GE(reports.sweeps.size(), 2u);
    for (const service::SweepResult& sweep : reports.sweeps) {
        EXPECT_TRUE(sweep.overran);
        EXPECT_GT(sweep.seconds, 1.0) << "longer than the 1 s interval";
    }
}

TEST_F(LineWorkerOnVirtualTime, ALineThatWillNotOpenIsTriedOncePerCycleUntilItOpens) {
    failingOpens = 2;
    Make({{"m1", 1}, {"m2", 2}});
    CapturedStderr log;
    RunTo(25000);
    const std::string logged = log.Text();
    ASSERT_EQ(reports.polls.size(), 6u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(reports.polls[i].result.error, Failure::Open) << i;
    EXPECT_EQ(reports.polls[4].result.error, Failure::None);
    EXPECT_EQ(reports.polls[5].result.error, Failure::None);
    EXPECT_EQ(opens, 3);
    // Once when the line fails, once when it is back.
    EXPECT_EQ(Count(logged, "cannot open the line (connection refused); tried again"), 1) << logged;
    EXPECT_EQ(Count(logged, "the line is open again"), 1) << logged;
}

TEST_F(LineWorkerOnVirtualTime, AConnectionThatDropsIsLetGoAndOpenedAfreshForTheNextMonitor) {
    Make({{"m1", 1}, {"m2", 2}, {"m3", 3}});
    onFrame = [this](const std::string& frame, SimulatedLine& line) {
        if (frame == "@@2SSG000" && opens == 1)
            line.dropped = true;
    };
    CapturedStderr log;
    RunTo(15000);
    EXPECT_EQ(Count(log.Text(), "open again"), 0) << "it never failed to open";
    ASSERT_EQ(reports.polls.size(), 6u);
    EXPECT_EQ(reports.polls[1].result.error, Failure::NoAnswer);
    for (size_t i : {0, 2, 3, 4, 5})
        EXPECT_EQ(reports.polls[i].result.error, Failure::None) << i;
    EXPECT_EQ(opens, 2);
    EXPECT_EQ(openLines, 0) << "the line is let go when the worker stops";
}

TEST_F(LineWorkerOnVirtualTime, AMonitorThatIsOffFailsAloneAndTheChainAfterItIsPolled) {
    Make({{"m1", 1}, {"off", 7}, {"m3", 3}});
    RunTo(25000);
    ASSERT_EQ(reports.polls.size(), 9u);
    for (const Poll& poll : reports.polls)
        EXPECT_EQ(poll.result.error, poll.monitor == "off" ? Failure::NoAnswer : Failure::None)
            << poll.monitor;
    EXPECT_EQ(opens, 4) << "let go after each no answer, opened again for the next monitor";
}

TEST_F(LineWorkerOnVirtualTime, OperationsRunAtOnceOneAtATimeInTheirOrderAndTheQueueIsBounded) {
    Make({{"m1", 1}, {"m2", 2}}, 3600);
    std::vector<Admission> admissions;
    for (size_t i = 0; i < service::MAX_WAITING_OPERATIONS; ++i)
        admissions.push_back(Submit("switch " + std::to_string(i), i % 2 ? "m2" : "m1",
                                    Asking(Command::Source, static_cast<int>(i % 4))));
    EXPECT_EQ(Submit("one too many", "m1", Asking(Command::Reset)), Admission::Busy);
    EXPECT_EQ(admissions,
              std::vector<Admission>(service::MAX_WAITING_OPERATIONS, Admission::Queued));
    RunTo(100000);

    ASSERT_EQ(results.size(), service::MAX_WAITING_OPERATIONS);
    EXPECT_EQ(results.count("one too many"), 0u) << "nothing is queued beyond the bound";
    std::vector<std::string> switches;
    for (const auto& [at, frame] : frames)
        if (frame.compare(3, 3, "SSS") == 0)
            switches.push_back(frame);
    ASSERT_EQ(switches.size(), service::MAX_WAITING_OPERATIONS);
    for (size_t i = 0; i < switches.size(); ++i) {
        const int source = static_cast<int>(i % 4);
        EXPECT_EQ(switches[i],
                  std::string("@@") + (i % 2 ? "2" : "1") + "SSS" + protocol::SOURCES[source].code);
        const OperationResult& result = results["switch " + std::to_string(i)];
        EXPECT_EQ(result.cut, Cut::No);
        EXPECT_TRUE(result.outcome.ok());
        EXPECT_EQ(result.outcome.source, source);
    }
    EXPECT_EQ(reports.operations.size(), service::MAX_WAITING_OPERATIONS);
    // The operations ran before the first poll, not an hour later.
    ASSERT_FALSE(reports.polls.empty());
    EXPECT_LT(frames.front().first, 1000u);
    EXPECT_EQ(frames.front().second.compare(3, 3, "SSS"), 0);
}

TEST_F(LineWorkerOnVirtualTime, AStopInAnExchangeLetsItEndSendsNothingMoreAndCutsWhatWaits) {
    Make({{"m1", 1}, {"m2", 2}, {"m3", 3}}, 3600);
    ASSERT_EQ(Submit("diagnostic", "m2", Asking(Command::Diagnostic)), Admission::Queued);
    ASSERT_EQ(Submit("switch", "m3", Asking(Command::Source, 1)), Admission::Queued);
    size_t stoppedAt = 0;
    onFrame = [&](const std::string& frame, SimulatedLine&) {
        if (frame == "@@2DCSPON") {
            stoppedAt = frames.size();
            worker->Stop();
        }
    };
    clock.RunTo(1000000);
    worker->Start();
    worker->Join();

    EXPECT_EQ(frames.size(), stoppedAt) << "nothing after the frame under way";
    EXPECT_EQ(results["diagnostic"].cut, Cut::Stop) << "its second frame was never sent";
    EXPECT_EQ(results["switch"].cut, Cut::Stop) << "it never ran";
    EXPECT_TRUE(reports.operations.empty()) << "nothing cut is counted as done";
    EXPECT_EQ(openLines, 0);
    EXPECT_FALSE(worker->Running());
    EXPECT_EQ(worker->Submit("m1", Asking(Command::Reset), [](const OperationResult&) {}),
              Admission::Stopping);
}

TEST_F(LineWorkerOnVirtualTime, AReloadThatKeepsTheLineKeepsItOpenAndTheUnitItLearned) {
    // m3 is the only monitor on its line: its unit is asked at "0".
    chain = monitor_sim::Chain(monitor_sim::MonitorState{}, {3}, monitor_sim::Faults{});
    Make({{"m3", std::nullopt}});
    onFrame = [this](const std::string&, SimulatedLine&) {
        if (time.Now() > 10000 && time.Now() < 11000) {
            worker->Configure({{"m3", std::nullopt}}, {std::chrono::seconds(5), Timing::Paced});
            worker->PollNewMonitors(); // it has none: the schedule holds
        }
    };
    RunTo(22000);
    EXPECT_EQ(opens, 1);
    int unitQueries = 0;
    for (const auto& [at, frame] : frames)
        unitQueries += frame == "@@0UIG000" ? 1 : 0;
    EXPECT_EQ(unitQueries, 1) << "the unit learned at the first poll is kept";
    // Cycles at 0 and 10 s; the next 5 s after the last start, then every 5 s.
    EXPECT_EQ(CycleStarts("m3"), (std::vector<std::uint64_t>{100, 10100, 15100, 20100}));
    for (const Poll& poll : reports.polls)
        EXPECT_EQ(poll.result.status.unit, 3);
}

TEST_F(LineWorkerOnVirtualTime, MonitorsAReloadBringsArePolledAtOnceWhenTheFleetShowsThem) {
    Make({{"m1", 1}, {"m2", 2}});
    onFrame = [this](const std::string& frame, SimulatedLine&) {
        // Handed over in the first cycle without the word that the fleet shows them: m3 waits
        // for the next cycle. In the second, m2 is renamed and the fleet shows it at once.
        if (frame == "@@1SSG000" && time.Now() < 1000)
            worker->Configure({{"m1", 1}, {"m2", 2}, {"m3", 3}}, {});
        if (frame == "@@3SSG000" && time.Now() < 12000) {
            worker->Configure({{"m1", 1}, {"renamed", 2}, {"m3", 3}}, {});
            worker->PollNewMonitors();
        }
    };
    RunTo(27000);
    EXPECT_EQ(Names(reports.polls),
              (std::vector<std::string>{"m1", "m2", "m1", "m2", "m3", "m1", "renamed", "m3", "m1",
                                        "renamed", "m3"}));
    const std::vector<std::uint64_t> starts = CycleStarts("m1");
    ASSERT_EQ(starts.size(), 4u);
    EXPECT_EQ(starts[1], 10100u);
    EXPECT_EQ(starts[2], reports.polls[4].endMs + 100) << "right after the cycle under way";
    EXPECT_EQ(starts[3], starts[2] + 10000) << "counted from there";
}

TEST_F(LineWorkerOnVirtualTime, OperationsOnAMonitorOrALineAReloadTookAwayAreCutByTheReload) {
    Make({{"m1", 1}, {"m2", 2}}, 3600);
    for (const auto& [key, monitor, command] :
         {std::tuple{"switch", "m2", Command::Source}, std::tuple{"reset m2", "m2", Command::Reset},
          std::tuple{"reset m1", "m1", Command::Reset}, std::tuple{"queued", "m1", Command::Reset}})
        ASSERT_EQ(Submit(key, monitor, Asking(command, 1)), Admission::Queued);
    // m2 leaves the line while it switches; the line is let go while m1 resets.
    onFrame = [this](const std::string& frame, SimulatedLine&) {
        if (frame == "@@2SSSHD2")
            worker->Configure({{"m1", 1}}, {});
        if (frame == "@@1DSSEXE")
            worker->Stop(Cut::Reload);
    };
    clock.RunTo(1000000);
    worker->Start();
    worker->Join();
    EXPECT_EQ(results["switch"].cut, Cut::No) << "it ran to its end";
    for (const char* key : {"reset m2", "reset m1", "queued"})
        EXPECT_EQ(results[key].cut, Cut::Reload) << key;
    EXPECT_EQ(reports.operations.size(), 1u);
    EXPECT_EQ(worker->Submit("m1", Asking(Command::Reset), [](const OperationResult&) {}),
              Admission::LetGo)
        << "one that comes after is told the same";
}
