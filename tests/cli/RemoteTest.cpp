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
    std::ofstream(config) << "listen = \"127.0.0.1:0\"\n"
                             "[[monitor]]\nname = \"hall\"\ntarget = \"tcp:10.0.0.7:4001\"\n";
    EXPECT_NE(HeldByKelvaned(hall).find("--server and the address its log names \"listening on\""),
              std::string::npos)
        << "port 0 is the system's pick at each start";
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
    Outcome halfway[3] = {silent, silent, silent};
    halfway[0].source = 1;
    halfway[1].signal = false;
    halfway[2].firmware = "1.02";
    for (const Outcome& read : halfway)
        EXPECT_FALSE(NothingAnswered(request, read));
    request.unit.reset();
    EXPECT_FALSE(NothingAnswered(request, silent)) << "a unit ID read is an answer";
    EXPECT_FALSE(NothingAnswered(request, Failing(protocol::Failure::Refused, "refused")));
}

// kelvaned as a table: each request recorded, and answered by its "METHOD PATH" (404 when none).
struct Answered {
    HttpFailure failure;
    int status;
    std::string body;
};
const std::string M2 = R"({"name": "a", "reachable": true, "unit": 2, "source": "HDMI2"})";
const std::string SWITCHED = R"({"command": "source", "ok": true, "unit": 1, "source": "HDMI2"})";
// Every case's kelvaned has the group g of a and b, an empty group e, and the monitor a.
const std::map<std::string, Answered> FLEET = {
    {"GET /api/groups",
     {HttpFailure::None, 200,
      R"({"groups": [{"name": "g", "monitors": ["a", "b"]}, {"name": "e", "monitors": []}]})"}},
    {"GET /api/monitors", {HttpFailure::None, 200, "{\"monitors\": [" + M2 + "]}"}}};
std::map<std::string, Answered> g_answers;
std::vector<HttpRequest> g_asked;

HttpFailure FakeSend(const HttpRequest& request, HttpAnswer& answer, std::string& error,
                     const line::Cancel*) {
    g_asked.push_back(request);
    const auto found = g_answers.find(request.method + " " + request.url.substr(8));
    const Answered given =
        found == g_answers.end() ? Answered{HttpFailure::None, 404, ""} : found->second;
    answer = {given.status, given.body};
    error = "it broke";
    return given.failure;
}

struct ThroughCase {
    Command command;
    std::string target;
    std::string asked; // "METHOD PATH" of the answer below
    Answered answer;
    std::string text; // the reports' lines
    int exit;
};

ThroughCase Through(Command command, const std::string& target, const std::string& asked,
                    HttpFailure failure, int status, const std::string& body,
                    const std::string& text, int exit) {
    return {command, target, asked, {failure, status, body}, text, exit};
}

class RemoteThroughKelvaned : public ::testing::TestWithParam<ThroughCase> {};

TEST_P(RemoteThroughKelvaned, AnswersAsTheTableSays) {
    const ThroughCase& c = GetParam();
    g_answers = FLEET;
    g_answers[c.asked] = c.answer;
    Request request;
    request.command = c.command;
    request.source = 1;
    line::Cancel cancel;
    std::string text;
    std::vector<Outcome> outcomes;
    for (const Reported& r :
         RunThroughServer(request, {"http://k", "", "", ""}, c.target, cancel, FakeSend)) {
        text += (text.empty() ? "" : "\n") + TextReport(r.target, c.command, r.outcome);
        outcomes.push_back(r.outcome);
    }
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(ExitStatus(outcomes, false), c.exit);
}

using F = HttpFailure;
using C = Command;
INSTANTIATE_TEST_SUITE_P(
    Cases, RemoteThroughKelvaned,
    ::testing::Values(
        Through(C::Status, "a", "GET /api/monitors/a", F::None, 200, M2,
                "a: unit 2, source HDMI2, signal ?, firmware ?", 0),
        Through(C::Source, "a", "POST /api/monitors/a/source", F::None, 502,
                R"({"command": "source", "ok": false, "message": "no"})", "a: error: no", 1),
        Through(C::Reset, "a", "POST /api/monitors/a/reset", F::None, 401, "{",
                "a: error: kelvaned at http://k refused the operation: HTTP status 401 (give its "
                "token with --token-file)",
                3),
        Through(C::Reset, "a", "POST /api/monitors/a/reset", F::None, 429, R"({"error": "full"})",
                "a: error: full", 1),
        Through(C::Reset, "a", "POST /api/monitors/a/reset", F::None, 503, "",
                "a: error: HTTP status 503", 1),
        Through(C::Status, "a", "GET /api/monitors/a", F::None, 500, R"({"error": "oops"})",
                "a: error: unexpected answer from kelvaned at http://k: HTTP status 500: oops", 3),
        Through(C::Status, "a", "GET /api/monitors/a", F::None, 200, "<",
                "a: error: unexpected answer from kelvaned at http://k: its body is not JSON", 3),
        Through(C::Status, "a", "GET /api/monitors/a", F::None, 200, "1",
                "a: error: unexpected answer from kelvaned at http://k: not a monitor's state or "
                "outcome",
                3),
        Through(C::Status, "a", "GET /api/monitors/a", F::Connect, 0, "",
                "a: error: cannot reach kelvaned at http://k: it broke", 3),
        Through(C::Status, "a", "GET /api/monitors/a", F::Other, 0, "",
                "a: error: unexpected answer from kelvaned at http://k: it broke", 3),
        Through(C::Diagnostic, "a", "POST /api/monitors/a/diagnostic", F::TimedOut, 0, "",
                "a: error: kelvaned at http://k did not answer within 112 s; the operation may "
                "still run there",
                1),
        Through(C::Status, "a", "GET /api/monitors/a", F::Cancelled, 0, "",
                "a: error: interrupted before kelvaned answered", 1),
        Through(
            C::Status, "@g", "GET /api/groups", F::None, 404, "",
            "@g: error: kelvaned at http://k knows no groups (it is older than this kelvanectl)",
            3),
        Through(C::Status, "@g", "", F::None, 0, "",
                "a: unit 2, source HDMI2, signal ?, firmware ?\nb: error: kelvaned at http://k "
                "knows no monitor named b",
                3),
        Through(C::Source, "@g", "POST /api/groups/g/source", F::None, 200,
                "{\"results\": [" + SWITCHED + ", " + SWITCHED + "]}",
                "a: switched to HDMI2, signal ?\nb: switched to HDMI2, signal ?", 0),
        Through(C::Source, "@g", "POST /api/groups/g/source", F::None, 503,
                R"({"error": "stopping", "results": [)" + SWITCHED +
                    R"(, {"command": "source", "ok": false, "error": "interrupted",
                          "message": "kelvaned is stopping"}]})",
                "a: switched to HDMI2, signal ?\nb: error: kelvaned is stopping", 1),
        Through(C::Source, "@g", "POST /api/groups/g/source", F::None, 200, "{}",
                "@g: error: unexpected answer from kelvaned at http://k: no results of the group",
                3),
        Through(C::Reset, "@z", "", F::None, 0, "",
                "@z: error: kelvaned at http://k knows no group named z", 3),
        Through(C::Reset, "@e", "", F::None, 0, "", "@e: error: the group has no monitors", 1)));

TEST(RemoteRequests, CarryTheTokenTheBodyAndTheBoundOfWhatTheyAsk) {
    g_answers = FLEET;
    g_asked.clear();
    Request request;
    request.command = Command::Source;
    request.source = 3;
    line::Cancel cancel;
    const Server server{"http://k", "t0ken", "/ca", ""};
    RunThroughServer(request, server, "a b", cancel, FakeSend);
    RunThroughServer(request, server, "@g", cancel, FakeSend);
    request.command = Command::Status;
    RunThroughServer(request, server, "a", cancel, FakeSend);
    ASSERT_EQ(g_asked.size(), 4u);
    EXPECT_EQ(g_asked[0].url, "http://k/api/monitors/a%20b/source");
    EXPECT_EQ(g_asked[0].body, R"({"source":"VGA"})");
    EXPECT_EQ(g_asked[0].limitMs, OPERATION_LIMIT_MS);
    EXPECT_EQ(g_asked[2].url, "http://k/api/groups/g/source");
    EXPECT_EQ(g_asked[2].limitMs, OPERATION_LIMIT_MS + 2 * protocol::RESET_LIMIT_MS);
    EXPECT_EQ((g_asked[3].method + g_asked[3].body), "GET");
    EXPECT_EQ(g_asked[3].limitMs, READ_LIMIT_MS);
    for (const HttpRequest& asked : g_asked)
        EXPECT_EQ(asked.token + asked.caFile, "t0ken/ca");
    const Server broken{"http://k", "", "", "/t is readable by others"};
    const auto reported = RunThroughServer(request, broken, "a", cancel, FakeSend);
    EXPECT_EQ(reported.at(0).outcome.message, "/t is readable by others");
    EXPECT_EQ(g_asked.size(), 4u) << "nothing sent";
}

} // namespace
