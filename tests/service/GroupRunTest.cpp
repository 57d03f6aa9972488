// A group's operation on a line's worker, on virtual time, against the simulator's model of a
// chain of more monitors than the line's queue holds.
#include <gtest/gtest.h>
#include <memory>
#include "service/GroupRun.h"
#include "service/LineWorker.h"
#include "tests/support/OneMonitorFleet.h"
#include "tests/support/SimulatedLine.h"
#include "tests/support/VirtualWorkerClock.h"

using service::OperationRecord;

TEST(GroupRun, AGroupLargerThanTheQueueRunsWholeInItsOrderEachMemberAfterTheOneBefore) {
    constexpr unsigned UNITS = 20;
    VirtualTime time;
    VirtualWorkerClock clock{time};
    line::Target target;
    target.text = "tcp:127.0.0.1:7001";
    std::vector<unsigned> units;
    std::vector<service::MonitorConfig> monitors;
    std::vector<service::LineMonitor> onLine;
    std::vector<std::string> members; // the last unit first, and one a reload took away
    for (unsigned unit = 1; unit <= UNITS; ++unit) {
        units.push_back(unit);
        monitors.push_back({"m" + std::to_string(unit), target, static_cast<int>(unit)});
        onLine.push_back({monitors.back().name, monitors.back().unit});
        members.insert(members.begin(), monitors.back().name);
    }
    members.insert(members.begin() + 1, "gone");
    monitor_sim::Chain chain{monitor_sim::MonitorState{}, units, monitor_sim::Faults{}};
    std::size_t switches = 0;
    service::Fleet fleet;
    auto worker = std::make_shared<service::LineWorker>(
        target, onLine, service::LineSettings{std::chrono::hours(1), Timing::Paced}, fleet,
        [&](const line::Target&, const line::Cancel& stop, std::string&) {
            auto opened = std::make_unique<SimulatedLine>(time, chain, &stop);
            opened->onFrame = [&](const std::string& frame) {
                switches += frame.compare(3, 3, "SSS") == 0 ? 1 : 0;
            };
            return std::unique_ptr<MonitorLine>(std::move(opened));
        },
        clock);
    fleet.Configure(monitors, {{target, target.text}}, {worker});
    service::Operations operations(fleet, clock);
    Request request;
    request.command = Command::Source;
    request.source = 2;
    std::vector<OperationRecord> records;
    int finished = 0;
    service::RunOnGroup(operations, fleet, members, request, {"api", "127.0.0.1", "desk"},
                        [&](const std::vector<OperationRecord>& ended) {
                            records = ended;
                            ++finished;
                        });
    clock.RunTo(3600000);
    worker->Start();
    ASSERT_TRUE(clock.WaitForEnd());
    worker->Stop();
    worker->Join();

    ASSERT_EQ(finished, 1);
    ASSERT_EQ(records.size(), members.size());
    EXPECT_EQ(switches, UNITS);
    std::int64_t lastEnd = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
        const OperationRecord& record = records[i];
        EXPECT_EQ(record.monitor, members[i]);
        EXPECT_EQ(record.requester.label, "desk");
        if (members[i] == "gone") {
            EXPECT_EQ(record.outcome.error, protocol::Failure::Interrupted);
            EXPECT_EQ(record.cut, service::Cut::Reload) << "only a reload takes a member away";
            continue;
        }
        EXPECT_TRUE(record.outcome.ok()) << members[i];
        EXPECT_EQ(record.target, target.text);
        // Queued only when the one before it had ended: none waited behind the others.
        EXPECT_GT(record.endedMs, lastEnd) << members[i];
        EXPECT_LT(record.seconds, 2 * records[0].seconds) << members[i];
        lastEnd = record.endedMs;
    }

    // Every member refused at once: the group still ends, once.
    service::RunOnGroup(operations, fleet, {"gone", "away"}, request, {"api", "127.0.0.1", "desk"},
                        [&](const std::vector<OperationRecord>& ended) {
                            records = ended;
                            ++finished;
                        });
    EXPECT_EQ(finished, 2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].cut, service::Cut::Reload);
}

TEST(GroupRun, AMemberMeetingAFullQueueFailsBusyAndOneMeetingALineLetGoIsCutByTheReload) {
    OneMonitorFleet one;
    auto& [time, clock, target, fleet, worker] = one;
    service::Operations operations(fleet, clock);
    Request request;
    request.command = Command::Reset;
    const service::Requester desk{"api", "127.0.0.1", "desk"};
    // The worker is not started: what is queued waits.
    for (std::size_t i = 0; i < service::MAX_WAITING_OPERATIONS; ++i)
        ASSERT_EQ(operations.Start("m1", request, desk, [](const OperationRecord&) {}),
                  service::Started::Queued);
    std::vector<OperationRecord> records;
    const auto keep = [&](const std::vector<OperationRecord>& ended) {
        records = ended;
    };
    service::RunOnGroup(operations, fleet, {"m1"}, request, desk, keep);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].monitor, "m1");
    EXPECT_EQ(records[0].target, target.text);
    EXPECT_EQ(records[0].requester.label, "desk");
    EXPECT_EQ(records[0].outcome.error, protocol::Failure::Busy);
    EXPECT_EQ(records[0].cut, service::Cut::No);

    worker->Stop(service::Cut::Reload);
    EXPECT_EQ(operations.Start("m1", request, desk, [](const OperationRecord&) {}),
              service::Started::LetGo);
    service::RunOnGroup(operations, fleet, {"m1"}, request, desk, keep);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].cut, service::Cut::Reload);
    EXPECT_EQ(records[0].outcome.message, "a reload took the monitor or its line away");
}
