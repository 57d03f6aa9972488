// What kelvanectl prints of an outcome: the text line and the JSON object, whatever bytes the
// monitor or the command line held.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>
#include "commands/Report.h"

namespace {

using nlohmann::json;

Outcome StatusRead(int unit, int source, bool signal, const std::string& firmware) {
    Outcome o;
    o.unit = unit;
    o.source = source;
    o.signal = signal;
    o.firmware = firmware;
    return o;
}

Outcome Failed(Outcome o, const std::string& error, const std::string& message) {
    o.error = protocol::FailureNamed(error).value_or(protocol::Failure::None);
    o.message = message;
    return o;
}

struct TextCase {
    Command command;
    Outcome outcome;
    std::string target;
    std::string text;
};

class ReportText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ReportText, ShowsTheValuesReadAndEveryByteSafely) {
    const TextCase& c = GetParam();
    EXPECT_EQ(TextReport(c.target, c.command, c.outcome), c.text);
}

Outcome UnitAndSource() {
    Outcome o;
    o.unit = 3;
    o.source = 3;
    return o;
}

Outcome ScanFound(std::vector<int> units) {
    Outcome o;
    o.units = std::move(units);
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportText,
    ::testing::Values(
        TextCase{Command::Status, StatusRead(3, 3, true, "2.05"), "/dev/a",
                 "/dev/a: unit 3, source VGA, signal ok, firmware 2.05"},
        TextCase{Command::Status,
                 Failed(UnitAndSource(), "no-answer", "no answer to the signal query"), "/dev/a",
                 "/dev/a: error: no answer to the signal query (unit 3, source VGA)"},
        TextCase{Command::Source, Failed(UnitAndSource(), "interrupted", "interrupted"), "t",
                 "t: error: interrupted (unit 3, switched to VGA)"},
        TextCase{Command::Scan, Failed(ScanFound({1, 2}), "interrupted", "stopped"), "t",
                 "t: error: stopped (units 1, 2 answered)"},
        TextCase{Command::Scan, ScanFound({5}), "t", "t: unit 5 answered"},
        TextCase{Command::Status, Failed(Outcome{}, "open", "cannot open"), "t",
                 "t: error: cannot open"},
        // A monitor's control bytes and stray bytes, and a name that is not UTF-8.
        TextCase{Command::Status, StatusRead(1, 0, false, "1\x1b[2J"), "/dev/\xC3\xA9\xFF\t",
                 "/dev/\xC3\xA9<ff><09>: unit 1, source HDMI1, signal none, firmware 1<1b>[2J"},
        TextCase{Command::Status, StatusRead(1, 0, false, "\xC0\xAF\xED\xA0\x80\xC2\x85"), "t",
                 "t: unit 1, source HDMI1, signal none, firmware <c0><af><ed><a0><80><c2><85>"},
        // Printable characters of two, three and four bytes stay as they are.
        TextCase{
            Command::Status, StatusRead(1, 0, false, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80x"), "t",
            "t: unit 1, source HDMI1, signal none, firmware \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80x"},
        TextCase{Command::Status, Failed(Outcome{}, "open", "no\nsuch \x7F"), "t",
                 "t: error: no<0a>such <7f>"}));

// Bytes a monitor may send that are not well-formed UTF-8, or not printable.
const std::vector<std::string> BAD_BYTES = {
    "\xC0\xAF",             // an overlong "/"
    "\xE0\x80\xAF",         // another
    "\xF0\x80\x80\xAF",     // and another
    "\xED\xA0\x80",         // a surrogate
    "\xED\xBF\xBF",         // the last surrogate
    "\xF4\x90\x80\x80",     // beyond U+10FFFF
    "\xF8\x88\x80\x80\x80", // a five-byte form
    "\x80",                 // a continuation byte alone
    "\xC3",                 // a sequence cut short
    "\xE2\x82",             // another
    "\xFE\xFF",             // never in UTF-8
    "\x01\x1F\x7F\"\\",     // controls, a quote, a backslash
};

// Strict UTF-8: nlohmann-json's default dump throws on anything else.
bool WellFormed(const std::string& text) {
    try {
        (void)json(text).dump();
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

class ReportBytes : public ::testing::TestWithParam<std::string> {};

TEST_P(ReportBytes, GiveStrictUtf8AndValidJsonWithEveryKey) {
    const std::string bad = GetParam();
    ASSERT_FALSE(WellFormed(bad) && bad.find_first_of("\x01\x1F\x7F") == std::string::npos);
    const std::vector<std::pair<Command, std::vector<std::string>>> keys = {
        {Command::Status, {"unit", "source", "signal", "firmware"}},
        {Command::Reset, {"unit", "source", "signal", "firmware"}},
        {Command::Source, {"unit", "source", "signal"}},
        {Command::Diagnostic, {"unit", "step"}},
        {Command::Scan, {"units"}}};
    for (const auto& [command, values] : keys) {
        for (const Outcome& o :
             {StatusRead(1, 2, true, "v" + bad), Failed(Outcome{}, "open", bad)}) {
            const std::string line = JsonReport("/dev/" + bad, command, o);
            EXPECT_TRUE(WellFormed(line)) << line;
            EXPECT_EQ(line.find('\n'), std::string::npos);
            nlohmann::ordered_json parsed;
            ASSERT_NO_THROW(parsed = nlohmann::ordered_json::parse(line)) << line;
            std::vector<std::string> expected = {"target", "command", "ok", "error", "message"};
            expected.insert(expected.end(), values.begin(), values.end());
            std::vector<std::string> got;
            for (const auto& item : parsed.items())
                got.push_back(item.key());
            EXPECT_EQ(got, expected) << line;

            const std::string text = TextReport("/dev/" + bad, command, o);
            EXPECT_TRUE(WellFormed(text)) << text;
            for (const char c : text)
                EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) << text;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FromTheMonitor, ReportBytes, ::testing::ValuesIn(BAD_BYTES));

TEST(ReportJson, EscapesBackslashesAndControlsAndReplacesWhatIsNotUtf8) {
    Outcome o = StatusRead(255, 1, false, "1\\\x01\xC0");
    o.firmwareRefused = false;
    EXPECT_EQ(JsonReport("C:\\x\t\"q\"", Command::Status, o),
              "{\"target\":\"C:\\\\x\\t\\\"q\\\"\",\"command\":\"status\",\"ok\":true,"
              "\"error\":null,\"message\":null,\"unit\":255,\"source\":\"HDMI2\","
              "\"signal\":\"none\",\"firmware\":\"1\\\\\\u0001\xEF\xBF\xBD\"}");
}

TEST(ReportJson, KeepsTheValuesOfAnInterruptedCommandAndNullsTheRest) {
    Outcome o = ScanFound({2, 7});
    MarkInterrupted(o);
    EXPECT_EQ(json::parse(JsonReport("t", Command::Scan, o)),
              json::parse(R"({"target":"t","command":"scan","ok":false,"error":"interrupted",
                  "message":"interrupted before it finished","units":[2,7]})"));
    Outcome switched;
    switched.unit = 4;
    switched.source = 2;
    MarkInterrupted(switched);
    EXPECT_EQ(json::parse(JsonReport("t", Command::Source, switched)),
              json::parse(R"({"target":"t","command":"source","ok":false,"error":"interrupted",
                  "message":"interrupted before it finished","unit":4,"source":"HDMI3",
                  "signal":null})"));
    EXPECT_EQ(json::parse(JsonReport("t", Command::Diagnostic, Outcome{}))["step"], nullptr);
}

} // namespace
