// The operations' log in memory: bounded, newest first, and each entry as GET /api/log shows it.
#include <gtest/gtest.h>
#include "service/OperationLog.h"
#include "service/View.h"

using service::OperationLog;
using service::OperationRecord;

namespace {

OperationRecord Ended(int n) {
    OperationRecord record;
    record.monitor = "m" + std::to_string(n);
    record.endedMs = 1000 * n;
    return record;
}

std::vector<std::string> Monitors(const std::vector<OperationRecord>& records) {
    std::vector<std::string> names;
    for (const OperationRecord& record : records)
        names.push_back(record.monitor);
    return names;
}

} // namespace

TEST(OperationLog, KeepsTheLastOnesAndAnswersNewestFirstUpToTheLimit) {
    OperationLog log(3);
    EXPECT_TRUE(log.Newest(10).empty());
    for (int n = 1; n <= 5; ++n)
        log.Add(Ended(n));
    const struct {
        std::size_t limit;
        std::vector<std::string> monitors;
    } cases[] = {
        {1, {"m5"}}, {2, {"m5", "m4"}}, {3, {"m5", "m4", "m3"}}, {100, {"m5", "m4", "m3"}}};
    for (const auto& c : cases)
        EXPECT_EQ(Monitors(log.Newest(c.limit)), c.monitors) << c.limit;
}

TEST(OperationLog, AnEntryNamesWhoAskedAndACutOperationAsInterrupted) {
    OperationRecord record = Ended(2);
    record.request.command = Command::Reset;
    record.requester = {"mqtt", "", ""};
    record.outcome.error = protocol::Failure::NoAnswer;
    nlohmann::json entry = service::OperationJson(record);
    EXPECT_EQ(entry["ended"], "1970-01-01T00:00:02Z");
    EXPECT_EQ((std::vector<nlohmann::json>{entry["operation"], entry["address"], entry["label"],
                                           entry["ok"], entry["error"]}),
              (std::vector<nlohmann::json>{"reset", nullptr, nullptr, false, "no-answer"}));
    record.outcome.error = protocol::Failure::None;
    record.cut = service::Cut::Stop;
    entry = service::OperationJson(record);
    EXPECT_EQ((std::vector<nlohmann::json>{entry["ok"], entry["error"]}),
              (std::vector<nlohmann::json>{false, "interrupted"}));
}
