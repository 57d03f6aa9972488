// The console commands on a fake monitor and the virtual clock: what they ask where, what they
// report, and the exit status of a run.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>
#include "cli/Run.h"
#include "commands/Commands.h"
#include "commands/Report.h"
#include "tests/support/FakeMonitor.h"

namespace {

using Frames = std::vector<std::string>;

struct Monitor : FakeMonitor {
    explicit Monitor(std::vector<std::string> answers) : FakeMonitor(std::move(answers)) {}
    Outcome Run(const Request& request) { return RunCommand(request, core); }
};

Request Asking(Command command, std::optional<int> unit = std::nullopt) {
    Request request;
    request.command = command;
    request.unit = unit;
    request.source = 3;
    return request;
}

TEST(Commands, ResetWithAUnitNeverAsksAtZero) {
    Monitor m({"!", "SOK!", "HD2!", "SOK!", "004.10!"});
    const Outcome outcome = m.Run(Asking(Command::Reset, 4));
    EXPECT_TRUE(outcome.ok()) << outcome.message;
    EXPECT_EQ(m.line.frames,
              (Frames{"@@4DSSEXE", "@@4SIG000", "@@4SSG000", "@@4SIG000", "@@4FVSENA"}));
    EXPECT_EQ(outcome.unit, 4);
    EXPECT_EQ(outcome.source, 1);
    EXPECT_EQ(outcome.firmware, "4.10");
}

TEST(Commands, ScanTriesEveryIdOfItsRangeTheLastOneToo) {
    // Only unit 3 answers; the others are silent.
    Monitor m({});
    m.line.answers = {{""}, {""}, {"SOK!"}};
    Request request = Asking(Command::Scan);
    request.firstId = 1;
    request.lastId = 3;
    std::vector<int> tried;
    const Outcome outcome =
        RunCommand(request, m.core, [&](int id, const std::vector<int>&) { tried.push_back(id); });
    EXPECT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.units, std::vector<int>{3});
    EXPECT_EQ(m.line.frames, (Frames{"@@1SIG000", "@@2SIG000", "@@3SIG000"}));
    EXPECT_EQ(tried, (std::vector<int>{1, 2, 3}));
}

TEST(Commands, ScanCountsNoUnitOnALineThatEchoesOrBabbles) {
    // An adapter with its echo on sends every frame back; noise is bytes without an acknowledge.
    Monitor echo({});
    for (int id = 1; id <= 9; ++id)
        echo.line.answers.push_back({"@@" + std::to_string(id) + "SIG000"});
    Monitor noise({"~~~~~~", "SO", "SOK~", "SOK", "\x01\x02\x03\x04"});
    for (Monitor* m : {&echo, &noise}) {
        const Outcome outcome = m->Run(Asking(Command::Scan));
        EXPECT_EQ(outcome.units, std::vector<int>{});
        EXPECT_STREQ(protocol::FailureName(outcome.error), "no-answer");
        EXPECT_EQ(nlohmann::json::parse(JsonReport("t", Command::Scan, outcome))["units"],
                  nlohmann::json::array());
    }
    // A refusal is a unit that is there.
    Monitor refusing({"SOK?", "NOS!"});
    EXPECT_EQ(refusing.Run(Asking(Command::Scan)).units, (std::vector<int>{1, 2}));
}

TEST(Commands, ASuccessfulDiagnosticHasNoStep) {
    Monitor m({"!", "!", "!"});
    const Outcome outcome = m.Run(Asking(Command::Diagnostic, 2));
    EXPECT_TRUE(outcome.ok());
    const auto json = nlohmann::json::parse(JsonReport("t", Command::Diagnostic, outcome));
    EXPECT_EQ(json["step"], nullptr);
    EXPECT_EQ(json["unit"], 2);

    Monitor failing({"!", ""});
    const Outcome failed = failing.Run(Asking(Command::Diagnostic, 2));
    EXPECT_EQ(nlohmann::json::parse(JsonReport("t", Command::Diagnostic, failed))["step"], 2);
}

struct SwitchCase {
    std::vector<std::string> answers; // to the unit-ID query and the switch frames
    std::string error;
    std::string message;
};

class CommandsSwitch : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(CommandsSwitch, SaysWhatBecameOfEachTry) {
    Monitor m(GetParam().answers);
    const Outcome outcome = m.Run(Asking(Command::Source));
    EXPECT_EQ(protocol::FailureName(outcome.error), GetParam().error);
    EXPECT_EQ(outcome.message, GetParam().message);
    EXPECT_EQ(outcome.unit, 1) << "the unit read before the switch stays";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandsSwitch,
    ::testing::Values(
        SwitchCase{{"001!", "?", "?"}, "refused", "the monitor refused the switch to VGA twice"},
        SwitchCase{{"001!", "?", ""},
                   "no-answer",
                   "no answer to the switch to VGA when it was sent again after a refusal"},
        SwitchCase{{"001!", ""}, "no-answer", "no answer to the switch to VGA"},
        SwitchCase{{"001!", "x", "?"}, "refused", "the monitor refused the switch to VGA twice"}));

TEST(Commands, AStatusThatFailsHalfwayKeepsWhatItRead) {
    Monitor m({"003!", "VGA!"});
    const Outcome outcome = m.Run(Asking(Command::Status));
    EXPECT_STREQ(protocol::FailureName(outcome.error), "no-answer");
    EXPECT_EQ(TextReport("t", Command::Status, outcome),
              "t: error: no answer to the signal query (unit 3, source VGA)");
}

TEST(Commands, AFrameThatCannotBeWrittenIsAWriteFailureAndNothingFollowsIt) {
    Monitor m({"003!"});
    m.line.failingWrites = {1};
    const Outcome outcome = m.Run(Asking(Command::Status, 3));
    EXPECT_STREQ(protocol::FailureName(outcome.error), "write");
    EXPECT_EQ(outcome.message.rfind("cannot write to the line", 0), 0u) << outcome.message;
    EXPECT_TRUE(m.line.frames.empty());
}

// A unit ID read from a refusal (a monitor without the query, or a late answer whose bytes fell
// out of step) addresses no monitor: nothing that changes one follows.
TEST(Commands, ARefusedUnitIdQueryIsAFailureAndNothingThatChangesAMonitorFollows) {
    for (Command command : {Command::Source, Command::Reset, Command::Diagnostic}) {
        Monitor m({"001?"});
        const Outcome outcome = m.Run(Asking(command));
        EXPECT_STREQ(protocol::FailureName(outcome.error), "refused");
        EXPECT_EQ(outcome.message, "the monitor refused the unit-ID query");
        EXPECT_FALSE(outcome.unit.has_value());
        EXPECT_EQ(m.line.frames, Frames{"@@0UIG000"});
    }
}

// Several monitors answering at "0": each command stops there with several-answers, and nothing
// that changes a monitor follows.
struct SeveralCase {
    Command command;
    std::optional<int> unit;
    std::vector<std::string> answers;
    Frames frames;
};

class CommandsSeveral : public ::testing::TestWithParam<SeveralCase> {};

TEST_P(CommandsSeveral, StopWithSeveralAnswersAndChangeNothingMore) {
    const SeveralCase& c = GetParam();
    Monitor m(c.answers);
    const Outcome outcome = m.Run(Asking(c.command, c.unit));
    EXPECT_STREQ(protocol::FailureName(outcome.error), "several-answers");
    EXPECT_EQ(outcome.message, "more than one monitor answered at address 0: give --unit");
    EXPECT_EQ(m.line.frames, c.frames);
    EXPECT_EQ(ExitStatus({outcome}, false), EXIT_MONITOR_FAILED);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandsSeveral,
    ::testing::Values(
        SeveralCase{Command::Status, {}, {"000012!!"}, {"@@0UIG000"}},
        SeveralCase{Command::Source, {}, {"000012!!"}, {"@@0UIG000"}},
        SeveralCase{Command::Diagnostic, {}, {"001!001!"}, {"@@0UIG000"}},
        // Unit 0 given: the switch went out at "0", and its re-check tells that several took it.
        SeveralCase{Command::Source, 0, {"!", "SSOOKK!!"}, {"@@0SSSVGA", "@@0SIG000"}},
        // The reset's own reading of the unit ID meets the chain: the rest is not asked.
        SeveralCase{
            Command::Reset,
            {},
            {"001!", "!", "SOK!", "HD2!", "SOK!", "000012!!"},
            {"@@0UIG000", "@@1DSSEXE", "@@1SIG000", "@@1SSG000", "@@1SIG000", "@@0UIG000"}}));

struct ExitCase {
    std::vector<std::string> errors; // each target's error, in order; "" succeeded
    bool interrupted;
    int status;
};

class CommandsExit : public ::testing::TestWithParam<ExitCase> {};

TEST_P(CommandsExit, ThreeWinsOverOneAndCtrlCOverBoth) {
    std::vector<Outcome> outcomes;
    for (const std::string& error : GetParam().errors) {
        outcomes.emplace_back();
        outcomes.back().error = protocol::FailureNamed(error).value_or(protocol::Failure::None);
    }
    EXPECT_EQ(ExitStatus(outcomes, GetParam().interrupted), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandsExit,
    ::testing::Values(ExitCase{{"", ""}, false, 0}, ExitCase{{"", "no-answer"}, false, 1},
                      ExitCase{{"refused", "write"}, false, 1},
                      ExitCase{{"open", "no-answer"}, false, 3},
                      ExitCase{{"no-answer", "open"}, false, 3},
                      ExitCase{{"no-answer", "open", "refused"}, false, 3},
                      ExitCase{{"open", "no-answer", "interrupted"}, true, 130},
                      ExitCase{{"", ""}, true, 130}));

TEST(Commands, AThreadThatCannotStartIsItsTargetsOpenFailure) {
    const Outcome outcome = ThreadFailed(
        std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)));
    EXPECT_STREQ(protocol::FailureName(outcome.error), "open");
    EXPECT_NE(outcome.message.find("cannot start a thread"), std::string::npos);
    EXPECT_EQ(ExitStatus({Outcome{}, outcome}, false), EXIT_CANNOT_OPEN);
}

} // namespace
