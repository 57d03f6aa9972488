// The metrics as Prometheus reads them: which series exist in which state, and label values
// escaped. (promtool and a real Prometheus read them in tests/service/test_prometheus.py.)
#include <gtest/gtest.h>
#include "service/Metrics.h"

using protocol::Failure;
using service::MonitorState;
using service::PollResult;
using service::RenderMetrics;

namespace {

MonitorState Monitor(const std::string& name, std::optional<int> unit) {
    MonitorState m;
    m.name = name;
    m.target = "tcp:127.0.0.1:7001";
    m.line = "Lobby rack";
    m.unit = unit;
    m.unitConfigured = unit.has_value();
    return m;
}

PollResult Answered(int unit, int source, bool signal, std::optional<std::string> firmware) {
    PollResult poll;
    poll.status.unit = unit;
    poll.status.source = source;
    poll.status.signal = signal;
    poll.status.firmware = firmware;
    poll.status.firmwareRefused = !firmware;
    poll.seconds = 1.25;
    poll.wallMs = 1700000000123;
    return poll;
}

PollResult Failed(Failure error) {
    PollResult poll;
    poll.error = error;
    poll.seconds = 0.5;
    poll.wallMs = 1700000009000;
    return poll;
}

// The lines of the text that begin with the metric's name and a brace.
std::vector<std::string> Series(const std::string& text, const std::string& metric) {
    std::vector<std::string> found;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        if (line.rfind(metric + "{", 0) == 0)
            found.push_back(line);
        start = end + 1;
    }
    return found;
}

const std::string LABELS =
    "monitor=\"a\",target=\"tcp:127.0.0.1:7001\",unit=\"2\",line=\"Lobby rack\"";

} // namespace

TEST(Metrics, AMonitorNotYetPolledIsDownWithNoValuesAndZeroCounts) {
    const std::string text = RenderMetrics({Monitor("a", 2)}, {}, "1.0.0.1");
    EXPECT_EQ(Series(text, "kelvane_build_info"),
              std::vector<std::string>{"kelvane_build_info{version=\"1.0.0.1\"} 1"});
    EXPECT_EQ(Series(text, "kelvane_monitor_up"),
              std::vector<std::string>{"kelvane_monitor_up{" + LABELS + "} 0"});
    for (const char* absent : {"kelvane_monitor_signal", "kelvane_monitor_source",
                               "kelvane_monitor_last_success_timestamp_seconds",
                               "kelvane_monitor_poll_duration_seconds"})
        EXPECT_TRUE(Series(text, absent).empty()) << absent;
    EXPECT_EQ(Series(text, "kelvane_monitor_info"),
              std::vector<std::string>{"kelvane_monitor_info{" + LABELS + ",firmware=\"\"} 1"});
    EXPECT_EQ(Series(text, "kelvane_monitor_poll_failures_total").size(), 5u);
    EXPECT_EQ(Series(text, "kelvane_operations_total").size(), 6u);
    EXPECT_NE(text.find("# TYPE kelvane_monitor_polls_total counter\n"), std::string::npos);
    EXPECT_NE(text.find("# TYPE kelvane_monitor_up gauge\n"), std::string::npos);
}

TEST(Metrics, AReachableMonitorHasOneSeriesPerSourceAndItsSignalAndTimes) {
    MonitorState m = Monitor("a", 2);
    m.Record(Answered(2, 1, true, "1.02"));
    const std::string text = RenderMetrics({m}, {}, "1.0.0.1");
    EXPECT_EQ(Series(text, "kelvane_monitor_up"),
              std::vector<std::string>{"kelvane_monitor_up{" + LABELS + "} 1"});
    EXPECT_EQ(Series(text, "kelvane_monitor_signal"),
              std::vector<std::string>{"kelvane_monitor_signal{" + LABELS + "} 1"});
    EXPECT_EQ(
        Series(text, "kelvane_monitor_source"),
        (std::vector<std::string>{"kelvane_monitor_source{" + LABELS + ",source=\"HDMI1\"} 0",
                                  "kelvane_monitor_source{" + LABELS + ",source=\"HDMI2\"} 1",
                                  "kelvane_monitor_source{" + LABELS + ",source=\"HDMI3\"} 0",
                                  "kelvane_monitor_source{" + LABELS + ",source=\"VGA\"} 0"}));
    EXPECT_EQ(Series(text, "kelvane_monitor_info"),
              std::vector<std::string>{"kelvane_monitor_info{" + LABELS + ",firmware=\"1.02\"} 1"});
    EXPECT_EQ(Series(text, "kelvane_monitor_last_success_timestamp_seconds"),
              std::vector<std::string>{"kelvane_monitor_last_success_timestamp_seconds{" + LABELS +
                                       "} 1700000000.123"});
    EXPECT_EQ(
        Series(text, "kelvane_monitor_poll_duration_seconds"),
        std::vector<std::string>{"kelvane_monitor_poll_duration_seconds{" + LABELS + "} 1.250"});
    EXPECT_EQ(Series(text, "kelvane_monitor_polls_total"),
              std::vector<std::string>{"kelvane_monitor_polls_total{" + LABELS + "} 1"});
}

TEST(Metrics, AnUnreachableMonitorKeepsItsFirmwareAndLastSuccessButNotSignalOrSource) {
    MonitorState m = Monitor("a", 2);
    m.Record(Answered(2, 3, false, "2.00"));
    m.Record(Failed(Failure::NoAnswer));
    m.Record(Failed(Failure::Open));
    m.Record(Failed(Failure::Open));
    const std::string text = RenderMetrics({m}, {}, "1.0.0.1");
    EXPECT_EQ(Series(text, "kelvane_monitor_up"),
              std::vector<std::string>{"kelvane_monitor_up{" + LABELS + "} 0"});
    EXPECT_TRUE(Series(text, "kelvane_monitor_signal").empty());
    EXPECT_TRUE(Series(text, "kelvane_monitor_source").empty());
    EXPECT_EQ(Series(text, "kelvane_monitor_info"),
              std::vector<std::string>{"kelvane_monitor_info{" + LABELS + ",firmware=\"2.00\"} 1"});
    EXPECT_EQ(Series(text, "kelvane_monitor_last_success_timestamp_seconds").size(), 1u);
    EXPECT_EQ(Series(text, "kelvane_monitor_polls_total"),
              std::vector<std::string>{"kelvane_monitor_polls_total{" + LABELS + "} 4"});
    EXPECT_EQ(
        Series(text, "kelvane_monitor_poll_failures_total"),
        (std::vector<std::string>{
            "kelvane_monitor_poll_failures_total{" + LABELS + ",reason=\"open\"} 2",
            "kelvane_monitor_poll_failures_total{" + LABELS + ",reason=\"no-answer\"} 1",
            "kelvane_monitor_poll_failures_total{" + LABELS + ",reason=\"refused\"} 0",
            "kelvane_monitor_poll_failures_total{" + LABELS + ",reason=\"write\"} 0",
            "kelvane_monitor_poll_failures_total{" + LABELS + ",reason=\"several-answers\"} 0"}));
}

TEST(Metrics, AUnitIsEmptyUntilLearnedAndLabelValuesAreEscaped) {
    MonitorState m = Monitor("b", std::nullopt);
    m.target = "/dev/serial/by-id/odd\"name\\with\nbreak";
    EXPECT_EQ(Series(RenderMetrics({m}, {}, "1"), "kelvane_monitor_up"),
              std::vector<std::string>{
                  "kelvane_monitor_up{monitor=\"b\",target=\"/dev/serial/"
                  "by-id/odd\\\"name\\\\with\\nbreak\",unit=\"\",line=\"Lobby rack\"} 0"});
    m.target = "t";
    m.Record(Answered(7, 0, true, std::string("1\"\\\n")));
    const std::string text = RenderMetrics({m}, {}, "1");
    EXPECT_EQ(Series(text, "kelvane_monitor_info"),
              std::vector<std::string>{
                  "kelvane_monitor_info{monitor=\"b\",target=\"t\",unit=\"7\",line=\"Lobby rack\","
                  "firmware=\"1\\\"\\\\\\n\"} 1"});
}

TEST(Metrics, OperationsCountByOperationAndResult) {
    MonitorState m = Monitor("a", 2);
    Outcome ok;
    ok.source = 2;
    Outcome refused;
    refused.error = Failure::Refused;
    m.Record(Command::Source, ok);
    m.Record(Command::Source, refused);
    m.Record(Command::Diagnostic, refused);
    const std::string text = RenderMetrics({m}, {}, "1");
    EXPECT_EQ(
        Series(text, "kelvane_operations_total"),
        (std::vector<std::string>{
            "kelvane_operations_total{" + LABELS + ",operation=\"source\",result=\"ok\"} 1",
            "kelvane_operations_total{" + LABELS + ",operation=\"source\",result=\"failed\"} 1",
            "kelvane_operations_total{" + LABELS + ",operation=\"reset\",result=\"ok\"} 0",
            "kelvane_operations_total{" + LABELS + ",operation=\"reset\",result=\"failed\"} 0",
            "kelvane_operations_total{" + LABELS + ",operation=\"diagnostic\",result=\"ok\"} 0",
            "kelvane_operations_total{" + LABELS +
                ",operation=\"diagnostic\",result=\"failed\"} 1"}));
    EXPECT_EQ(m.source, 2) << "a switch shows at once";
}

TEST(Metrics, EachLineSaysWhetherItIsUpItsLastSweepAndItsOverruns) {
    service::LineState up{"Lobby rack", "tcp:10.0.0.7:4001", true, 0.4321, 0};
    service::LineState down{"tcp:10.0.0.8:4001", "tcp:10.0.0.8:4001", false, std::nullopt, 3};
    const std::string text = RenderMetrics({}, {up, down}, "1");
    const std::string lobby = "{line=\"Lobby rack\",target=\"tcp:10.0.0.7:4001\"}";
    const std::string other = "{line=\"tcp:10.0.0.8:4001\",target=\"tcp:10.0.0.8:4001\"}";
    EXPECT_EQ(Series(text, "kelvane_line_up"),
              (std::vector<std::string>{"kelvane_line_up" + lobby + " 1",
                                        "kelvane_line_up" + other + " 0"}));
    EXPECT_EQ(Series(text, "kelvane_line_sweep_duration_seconds"),
              std::vector<std::string>{"kelvane_line_sweep_duration_seconds" + lobby + " 0.432"})
        << "a line not swept yet has no duration";
    EXPECT_EQ(Series(text, "kelvane_line_sweep_overruns_total"),
              (std::vector<std::string>{"kelvane_line_sweep_overruns_total" + lobby + " 0",
                                        "kelvane_line_sweep_overruns_total" + other + " 3"}));
}
