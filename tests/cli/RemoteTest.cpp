// kelvaned's answers read back into outcomes: an operation's report (R) gives back the outcome it
// was rendered from, and a monitor's state (M) the status a line would have given.
#include <gtest/gtest.h>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include "cli/HeldLine.h"
#include "cli/Remote.h"
#include "cli/Run.h"
#include "commands/Report.h"
#include "line/Line.h"

namespace {

using Json = nlohmann::json;

Outcome Failing(protocol::Failure error, const std::string& message) {
    Outcome outcome;
    outcome.error = error;
    outcome.message = message;
    return outcome;
}

struct RoundTrip {
    Command command;
    Outcome outcome;
};

std::vector<RoundTrip> Outcomes() {
    Outcome status;
    status.unit = 3;
    status.source = 3;
    status.signal = false;
    status.firmware = "2.05";
    Outcome halfway = Failing(protocol::Failure::NoAnswer, "no answer to the signal query");
    halfway.unit = 4;
    halfway.source = 1;
    Outcome switched;
    switched.unit = 2;
    switched.source = 1;
    switched.signal = true;
    Outcome step = Failing(protocol::Failure::Refused, "the monitor refused diagnostic frame 2");
    step.unit = 1;
    step.step = 2;
    Outcome units;
    units.units = {1, 2, 5};
    return {{Command::Status, status},
            {Command::Status, halfway},
            {Command::Reset, status},
            {Command::Source, switched},
            {Command::Source, Failing(protocol::Failure::SeveralAnswers, "more than one")},
            {Command::Source, Failing(protocol::Failure::Open, "in use by another program")},
            {Command::Diagnostic, step},
            {Command::Scan, units}};
}

TEST(RemoteReading, AReportReadBackRendersAsTheOutcomeItWasRenderedFrom) {
    for (const RoundTrip& c : Outcomes()) {
        const std::string sent = JsonReport("t", c.command, c.outcome);
        Outcome read;
        ASSERT_TRUE(ReadReport(Json::parse(sent), c.command, read)) << sent;
        EXPECT_EQ(JsonReport("t", c.command, read), sent);
        EXPECT_EQ(TextReport("t", c.command, read), TextReport("t", c.command, c.outcome));
        EXPECT_EQ(read.error, c.outcome.error) << sent;
    }
}

TEST(RemoteReading, AReportOfAnotherCommandOrNoReportIsNotRead) {
    Outcome read;
    const Json status = ReportJson("t", Command::Status, Outcome{});
    EXPECT_FALSE(ReadReport(status, Command::Reset, read));
    for (const char* text : {"[]", "{}", R"({"ok": 1, "command": "status"})", R"("ok")"})
        EXPECT_FALSE(ReadReport(Json::parse(text), Command::Status, read)) << text;
    // A failure whose name this kelvanectl does not know still fails, with the name kept.
    ASSERT_TRUE(ReadReport(Json::parse(R"({"command": "reset", "ok": false, "error": "melted",
                                           "message": "it melted", "unit": "7"})"),
                           Command::Reset, read));
    EXPECT_STREQ(protocol::FailureName(read.error), "no-answer");
    EXPECT_EQ(read.message, "it melted (melted)");
    EXPECT_FALSE(read.unit.has_value()) << "a value of the wrong type is unknown";
}

struct ViewCase {
    const char* monitor; // M
    const char* text;    // its status, as the text report shows it for target "m"
    const char* error;   // its failure's name; "" none
};

class RemoteView : public ::testing::TestWithParam<ViewCase> {};

TEST_P(RemoteView, IsTheStatusALineWouldHaveGiven) {
    Outcome outcome;
    ASSERT_TRUE(ReadMonitorView(Json::parse(GetParam().monitor), outcome));
    EXPECT_EQ(TextReport("m", Command::Status, outcome), GetParam().text);
    EXPECT_STREQ(protocol::FailureName(outcome.error), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoteView,
    ::testing::Values(
        ViewCase{R"({"reachable": true, "unit": 2, "source": "HDMI2", "signal": "ok",
                     "firmware": "1.02", "error": null})",
                 "m: unit 2, source HDMI2, signal ok, firmware 1.02", ""},
        ViewCase{R"({"reachable": true, "unit": null, "source": "VGA", "signal": "none",
                     "firmware": null})",
                 "m: unit ?, source VGA, signal none, firmware ?", ""},
        ViewCase{R"({"reachable": false, "unit": 4, "source": "HDMI1", "signal": "ok",
                     "firmware": "1.02", "error": "no-answer"})",
                 "m: error: kelvaned's last poll: no answer (unit 4, source HDMI1, signal ok, "
                 "firmware 1.02)",
                 "no-answer"},
        ViewCase{R"({"reachable": false, "error": "several-answers", "signal": "maybe"})",
                 "m: error: kelvaned's last poll: more than one monitor answered at address 0: "
                 "give --unit",
                 "several-answers"},
        ViewCase{R"({"reachable": false, "error": null})",
                 "m: error: kelvaned has not polled it yet", "no-answer"},
        ViewCase{R"({"reachable": false, "error": "melted"})",
                 "m: error: kelvaned's last poll: no answer (melted)", "no-answer"}));

TEST(RemoteReading, SomethingElseIsNoMonitorsState) {
    Outcome outcome;
    for (const char* text : {"[]", "{}", R"({"reachable": "yes"})", "null"})
        EXPECT_FALSE(ReadMonitorView(Json::parse(text), outcome)) << text;
}

// A line that kelvanectl cannot use, and that a kelvaned of this machine holds, says so.
TEST(RemoteHeldLine, IsNamedWithItsMonitorAndTheServerThatHoldsIt) {
    const std::string config = ::testing::TempDir() + "kelvaned-held.toml";
    ::setenv(KELVANED_CONFIG_VARIABLE, config.c_str(), 1);
    std::ofstream(config) << "listen = \"0.0.0.0:9500\"\n"
                             "[[monitor]]\nname = \"hall\"\ntarget = \"tcp:10.0.0.7:4001\"\n"
                             "[[monitor]]\nname = \"lobby\"\ntarget = \"/dev/ttyKelvane9\"\n";
    line::Target lobby, hall, other;
    std::string error;
    ASSERT_TRUE(line::ParseTarget("/dev/ttyKelvane9", lobby, error));
    ASSERT_TRUE(line::ParseTarget("TCP:10.0.0.7:4001", hall, error));
    ASSERT_TRUE(line::ParseTarget("tcp:10.0.0.7:4002", other, error));
    EXPECT_EQ(HeldByKelvaned(lobby), "; kelvaned holds this line for its monitor lobby: send the "
                                     "command through it, --server http://127.0.0.1:9500");
    EXPECT_NE(HeldByKelvaned(hall).find("monitor hall"), std::string::npos);
    EXPECT_EQ(HeldByKelvaned(other), "");
    std::ofstream(config) << "[[monitor]]\nname = \"hall\"\ntarget = \"tcp:10.0.0.7:4001\"\n";
    EXPECT_NE(HeldByKelvaned(hall).find("--server http://127.0.0.1:9420"), std::string::npos)
        << "kelvaned's own address unless its configuration gives one";
    std::ofstream(config) << "[[monitor]\nname = ";
    EXPECT_EQ(HeldByKelvaned(hall), "") << "a file that is no configuration says nothing";
    ::setenv(KELVANED_CONFIG_VARIABLE, (config + ".gone").c_str(), 1);
    EXPECT_EQ(HeldByKelvaned(hall), "");
    ::unsetenv(KELVANED_CONFIG_VARIABLE);
}

TEST(RemoteHeldLine, IsLookedForOnALineInUseAndOnADeviceServerWhereNothingAnswered) {
    EXPECT_TRUE(LineInUse(line::IN_USE));
    EXPECT_FALSE(LineInUse("cannot open: No such file or directory"));
    Request request;
    Outcome silent = Failing(protocol::Failure::NoAnswer, "no answer to the unit-ID query");
    EXPECT_TRUE(NothingAnswered(request, silent));
    request.unit = 3;
    silent.unit = 3;
    EXPECT_TRUE(NothingAnswered(request, silent)) << "the unit given was not an answer";
    Outcome halfway = silent;
    for (auto read : {+[](Outcome& o) { o.source = 1; }, +[](Outcome& o) { o.signal = false; },
                      +[](Outcome& o) {
                          o.firmware = "1.02";
                      }}) {
        halfway = silent;
        read(halfway);
        EXPECT_FALSE(NothingAnswered(request, halfway));
    }
    request.unit.reset();
    EXPECT_FALSE(NothingAnswered(request, silent)) << "a unit ID read is an answer";
    EXPECT_FALSE(NothingAnswered(request, Failing(protocol::Failure::Refused, "refused")));
}

} // namespace

namespace {

// kelvaned as a table: each request recorded, and answered by its "METHOD URL" (404 when none).
struct Answered {
    HttpFailure failure;
    int status;
    std::string body;
};
std::map<std::string, Answered> g_answers;
std::vector<HttpRequest> g_asked;

HttpFailure FakeSend(const HttpRequest& request, HttpAnswer& answer, std::string& error,
                     const line::Cancel*) {
    g_asked.push_back(request);
    const auto found = g_answers.find(request.method + " " + request.url);
    const Answered given =
        found == g_answers.end() ? Answered{HttpFailure::None, 404, ""} : found->second;
    answer = {given.status, given.body};
    error = "it broke";
    return given.failure;
}

struct ThroughCase {
    Command command;
    std::string target;
    std::map<std::string, Answered> answers;
    std::string text; // the reports' lines
    int exit;
};

const std::string M2 = R"({"name": "a", "reachable": true, "unit": 2, "source": "HDMI2"})";
const std::string SWITCHED = R"({"command": "source", "ok": true, "unit": 1, "source": "HDMI2"})";
const std::string GROUPS = R"({"groups": [{"name": "g", "monitors": ["a", "b"]},
                                          {"name": "e", "monitors": []}]})";

class RemoteThroughKelvaned : public ::testing::TestWithParam<ThroughCase> {};

TEST_P(RemoteThroughKelvaned, AnswersAsTheTableSays) {
    const ThroughCase& c = GetParam();
    g_answers = c.answers;
    g_asked.clear();
    Request request;
    request.command = c.command;
    request.source = 1;
    line::Cancel cancel;
    std::string text;
    std::vector<Outcome> outcomes;
    for (const Reported& r :
         RunThroughServer(request, {"http://k:1", "", "", ""}, c.target, cancel, FakeSend)) {
        text += (text.empty() ? "" : "\n") + TextReport(r.target, c.command, r.outcome);
        outcomes.push_back(r.outcome);
    }
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(ExitStatus(outcomes, false), c.exit);
}

using F = HttpFailure;
INSTANTIATE_TEST_SUITE_P(
    Cases, RemoteThroughKelvaned,
    ::testing::Values(
        ThroughCase{Command::Status,
                    "a",
                    {{"GET http://k:1/api/monitors/a", {F::None, 200, M2}}},
                    "a: unit 2, source HDMI2, signal ?, firmware ?",
                    0},
        ThroughCase{Command::Source,
                    "a",
                    {{"POST http://k:1/api/monitors/a/source",
                      {F::None, 502, R"({"command": "source", "ok": false, "error": "refused",
                                         "message": "refused twice", "unit": 1})"}}},
                    "a: error: refused twice (unit 1)",
                    1},
        ThroughCase{Command::Reset,
                    "x/y",
                    {},
                    "x/y: error: kelvaned at http://k:1 knows no "
                    "monitor named x/y",
                    3},
        ThroughCase{Command::Reset,
                    "a",
                    {{"POST http://k:1/api/monitors/a/reset", {F::None, 401, R"({"error": "no")"}}},
                    "a: error: kelvaned at http://k:1 refused the operation: HTTP status 401 "
                    "(give its token with --token-file)",
                    3},
        ThroughCase{
            Command::Reset,
            "a",
            {{"POST http://k:1/api/monitors/a/reset", {F::None, 429, R"({"error": "full"})"}}},
            "a: error: full",
            1},
        ThroughCase{Command::Reset,
                    "a",
                    {{"POST http://k:1/api/monitors/a/reset", {F::None, 503, ""}}},
                    "a: error: HTTP status 503",
                    1},
        ThroughCase{Command::Status,
                    "a",
                    {{"GET http://k:1/api/monitors/a", {F::None, 500, R"({"error": "oops"})"}}},
                    "a: error: unexpected answer from kelvaned at http://k:1: HTTP status 500: "
                    "oops",
                    3},
        ThroughCase{Command::Status,
                    "a",
                    {{"GET http://k:1/api/monitors/a", {F::None, 200, "<"}}},
                    "a: error: unexpected answer from kelvaned at http://k:1: its body is not "
                    "JSON",
                    3},
        ThroughCase{Command::Status,
                    "a",
                    {{"GET http://k:1/api/monitors/a", {F::None, 200, "1"}}},
                    "a: error: unexpected answer from kelvaned at http://k:1: not a monitor's "
                    "state or outcome",
                    3},
        ThroughCase{Command::Status,
                    "a",
                    {{"GET http://k:1/api/monitors/a", {F::Connect, 0, ""}}},
                    "a: error: cannot reach kelvaned at http://k:1: it broke",
                    3},
        ThroughCase{Command::Status,
                    "a",
                    {{"GET http://k:1/api/monitors/a", {F::Other, 0, ""}}},
                    "a: error: unexpected answer from kelvaned at http://k:1: it broke",
                    3},
        ThroughCase{Command::Diagnostic,
                    "a",
                    {{"POST http://k:1/api/monitors/a/diagnostic", {F::TimedOut, 0, ""}}},
                    "a: error: kelvaned at http://k:1 did not answer within 112 s; the operation "
                    "may still run there",
                    1},
        ThroughCase{Command::Status,
                    "a",
                    {{"GET http://k:1/api/monitors/a", {F::Cancelled, 0, ""}}},
                    "a: error: interrupted before kelvaned answered",
                    1},
        ThroughCase{Command::Status,
                    "@g",
                    {},
                    "@g: error: kelvaned at http://k:1 knows no groups "
                    "(it is older than this kelvanectl)",
                    3},
        ThroughCase{
            Command::Status,
            "@g",
            {{"GET http://k:1/api/groups", {F::None, 200, GROUPS}},
             {"GET http://k:1/api/monitors", {F::None, 200, "{\"monitors\": [" + M2 + "]}"}}},
            "a: unit 2, source HDMI2, signal ?, firmware ?\nb: error: kelvaned at "
            "http://k:1 knows no monitor named b",
            3},
        ThroughCase{
            Command::Source,
            "@g",
            {{"GET http://k:1/api/groups", {F::None, 200, GROUPS}},
             {"POST http://k:1/api/groups/g/source",
              {F::None, 200, "{\"ok\": true, \"results\": [" + SWITCHED + ", " + SWITCHED + "]}"}}},
            "a: switched to HDMI2, signal ?\nb: switched to HDMI2, signal ?",
            0},
        ThroughCase{Command::Source,
                    "@g",
                    {{"GET http://k:1/api/groups", {F::None, 200, GROUPS}},
                     {"POST http://k:1/api/groups/g/source", {F::None, 200, "{\"ok\": true}"}}},
                    "@g: error: unexpected answer from kelvaned at http://k:1: no results of the "
                    "group",
                    3},
        ThroughCase{Command::Reset,
                    "@z",
                    {{"GET http://k:1/api/groups", {F::None, 200, GROUPS}}},
                    "@z: error: kelvaned at http://k:1 knows no group named z",
                    3},
        ThroughCase{Command::Reset,
                    "@e",
                    {{"GET http://k:1/api/groups", {F::None, 200, GROUPS}}},
                    "@e: error: the group has no monitors",
                    1}));

TEST(RemoteRequests, CarryTheTokenTheBodyAndTheBoundOfWhatTheyAsk) {
    g_answers = {{"GET http://k:1/api/groups", {F::None, 200, GROUPS}}};
    g_asked.clear();
    Request request;
    request.command = Command::Source;
    request.source = 3;
    line::Cancel cancel;
    const Server server{"http://k:1", "t0ken", "/ca", ""};
    RunThroughServer(request, server, "a b", cancel, FakeSend);
    RunThroughServer(request, server, "@g", cancel, FakeSend);
    request.command = Command::Status;
    RunThroughServer(request, server, "a", cancel, FakeSend);
    ASSERT_EQ(g_asked.size(), 4u);
    EXPECT_EQ(g_asked[0].url, "http://k:1/api/monitors/a%20b/source");
    EXPECT_EQ(g_asked[0].body, R"({"source":"VGA"})");
    EXPECT_EQ(g_asked[0].limitMs, OPERATION_LIMIT_MS);
    EXPECT_EQ(g_asked[2].url, "http://k:1/api/groups/g/source");
    EXPECT_EQ(g_asked[2].limitMs, OPERATION_LIMIT_MS + 2 * protocol::RESET_LIMIT_MS);
    EXPECT_EQ((g_asked[3].method + g_asked[3].body), "GET");
    EXPECT_EQ(g_asked[3].limitMs, READ_LIMIT_MS);
    for (const HttpRequest& asked : g_asked)
        EXPECT_EQ(asked.token + asked.caFile, "t0ken/ca");
    const Server broken{"http://k:1", "", "", "/t is readable by others"};
    const auto reported = RunThroughServer(request, broken, "a", cancel, FakeSend);
    EXPECT_EQ(reported.at(0).outcome.message, "/t is readable by others");
    EXPECT_EQ(g_asked.size(), 4u) << "nothing sent";
}

} // namespace
