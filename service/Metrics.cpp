#include "service/Metrics.h"
#include <cstdio>

namespace service {

namespace {

// One metric family: its HELP and TYPE lines, then its series.
class Family {
public:
    Family(std::string& out, const char* name, const char* type, const char* help)
        : m_out(out), m_name(name) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    // A series: the monitor's labels, more labels ("key=\"value\"" each), the value.
    void Series(const MonitorState* monitor, const std::string& more, const std::string& value) {
        std::string labels;
        if (monitor != nullptr)
            labels = "monitor=\"" + EscapeLabelValue(monitor->name) + "\",target=\"" +
                     EscapeLabelValue(monitor->target) + "\",unit=\"" +
                     (monitor->unit ? std::to_string(*monitor->unit) : "") + "\",line=\"" +
                     EscapeLabelValue(monitor->line) + "\"";
        if (!more.empty())
            labels += (labels.empty() ? "" : ",") + more;
        m_out += m_name + "{" + labels + "} " + value + "\n";
    }

private:
    std::string& m_out;
    std::string m_name;
};

std::string Label(const char* key, const std::string& value) {
    return std::string(key) + "=\"" + EscapeLabelValue(value) + "\"";
}

std::string Number(std::uint64_t value) {
    return std::to_string(value);
}

std::string Seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

} // namespace

std::string EscapeLabelValue(const std::string& value) {
    std::string escaped;
    for (const char c : value) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

std::string RenderMetrics(const std::vector<MonitorState>& monitors,
                          const std::vector<LineState>& lines, const std::string& version) {
    std::string out;
    Family(out, "kelvane_build_info", "gauge", "The version of kelvaned serving these metrics.")
        .Series(nullptr, Label("version", version), "1");

    const auto lineLabels = [](const LineState& line) {
        return Label("line", line.name) + "," + Label("target", line.target);
    };
    Family lineUp(out, "kelvane_line_up", "gauge",
                  "1 when the line is open and its last exchange was answered.");
    for (const LineState& line : lines)
        lineUp.Series(nullptr, lineLabels(line), line.up ? "1" : "0");
    Family sweep(out, "kelvane_line_sweep_duration_seconds", "gauge",
                 "How long the line's last sweep took: one poll of each of its monitors.");
    for (const LineState& line : lines)
        if (line.sweepSeconds)
            sweep.Series(nullptr, lineLabels(line), Seconds(*line.sweepSeconds));
    Family overruns(out, "kelvane_line_sweep_overruns_total", "counter",
                    "Sweeps of the line that took longer than the poll interval.");
    for (const LineState& line : lines)
        overruns.Series(nullptr, lineLabels(line), Number(line.overruns));

    Family up(out, "kelvane_monitor_up", "gauge", "1 when the monitor's last poll succeeded.");
    for (const MonitorState& m : monitors)
        up.Series(&m, "", m.reachable ? "1" : "0");

    Family signal(out, "kelvane_monitor_signal", "gauge",
                  "1 when the monitor finds a signal on its input, 0 when not.");
    for (const MonitorState& m : monitors)
        if (m.reachable && m.signal)
            signal.Series(&m, "", *m.signal ? "1" : "0");

    Family source(out, "kelvane_monitor_source", "gauge",
                  "1 for the input source the monitor shows, 0 for the others.");
    for (const MonitorState& m : monitors)
        if (m.reachable && m.source)
            for (int i = 0; i < protocol::SOURCE_COUNT; ++i)
                source.Series(&m, Label("source", protocol::SOURCES[i].name),
                              i == *m.source ? "1" : "0");

    Family info(out, "kelvane_monitor_info", "gauge",
                "The monitor's firmware version (empty while not known).");
    for (const MonitorState& m : monitors)
        info.Series(&m, Label("firmware", m.firmware.value_or("")), "1");

    Family lastOk(out, "kelvane_monitor_last_success_timestamp_seconds", "gauge",
                  "When the monitor's last successful poll ended, in seconds since 1970.");
    for (const MonitorState& m : monitors)
        if (m.lastOkMs)
            lastOk.Series(&m, "", Seconds(static_cast<double>(*m.lastOkMs) / 1000.0));

    Family polls(out, "kelvane_monitor_polls_total", "counter", "Polls of the monitor.");
    for (const MonitorState& m : monitors)
        polls.Series(&m, "", Number(m.polls));

    Family failures(out, "kelvane_monitor_poll_failures_total", "counter",
                    "Failed polls of the monitor, by what the poll met.");
    for (const MonitorState& m : monitors)
        for (const protocol::Failure reason : POLL_FAILURES)
            failures.Series(&m, Label("reason", protocol::FailureName(reason)),
                            Number(m.failures[static_cast<int>(reason)]));

    Family duration(out, "kelvane_monitor_poll_duration_seconds", "gauge",
                    "How long the monitor's last poll took.");
    for (const MonitorState& m : monitors)
        if (m.lastPollSeconds)
            duration.Series(&m, "", Seconds(*m.lastPollSeconds));

    Family operations(out, "kelvane_operations_total", "counter",
                      "Operations run on the monitor over the API, by operation and result.");
    for (const MonitorState& m : monitors)
        for (int op = 0; op < OPERATION_COUNT; ++op)
            for (int failed = 0; failed < 2; ++failed)
                operations.Series(&m,
                                  Label("operation", CommandName(OPERATIONS[op])) + "," +
                                      Label("result", failed ? "failed" : "ok"),
                                  Number(m.operations[op][failed]));
    return out;
}

} // namespace service
