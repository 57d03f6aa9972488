#include "service/View.h"
#include <cstdio>
#include <ctime>
#include "core/Sources.h"

namespace service {

namespace {

using nlohmann::json;

template <typename T, typename Show>
json Known(const std::optional<T>& value, Show show) {
    return value ? json(show(*value)) : json(nullptr);
}

} // namespace

std::string Rfc3339(std::int64_t wallMs, bool milliseconds) {
    const std::time_t seconds = static_cast<std::time_t>(wallMs / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[40];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    if (milliseconds)
        std::snprintf(text + length, sizeof text - length, ".%03d",
                      static_cast<int>(wallMs % 1000));
    return std::string(text) + "Z";
}

json MonitorJson(const MonitorState& m) {
    const auto same = [](const auto& value) {
        return value;
    };
    return {
        {"name", m.name},
        {"target", m.target},
        {"line", m.line},
        {"unit", Known(m.unit, same)},
        {"reachable", m.reachable},
        {"source", Known(m.source, protocol::SourceName)},
        {"signal", Known(m.signal, protocol::SignalName)},
        {"firmware", Known(m.firmware, same)},
        {"last_ok", Known(m.lastOkMs, [](std::int64_t ms) { return Rfc3339(ms); })},
        {"changed", Known(m.changedMs, [](std::int64_t ms) { return Rfc3339(ms); })},
        {"error",
         m.error == protocol::Failure::None ? json(nullptr) : json(protocol::FailureName(m.error))},
        {"polls", m.polls},
        {"failures", m.Failures()},
    };
}

json OperationJson(const OperationRecord& r) {
    const auto text = [](const std::string& value) {
        return value.empty() ? json(nullptr) : json(value);
    };
    const protocol::Failure error =
        r.cut != Cut::No ? protocol::Failure::Interrupted : r.outcome.error;
    return {
        {"ended", Rfc3339(r.endedMs)},
        {"monitor", r.monitor},
        {"target", r.target},
        {"operation", OperationText(r.request)},
        {"face", r.requester.face},
        {"address", text(r.requester.address)},
        {"label", text(r.requester.label)},
        {"ok", error == protocol::Failure::None},
        {"error", text(protocol::FailureName(error))},
        {"seconds", r.seconds},
    };
}

std::string MonitorText(const MonitorState& m) {
    if (!m.reachable)
        return std::string("not answering (") +
               (m.error == protocol::Failure::None ? "not polled yet"
                                                   : protocol::FailureWords(m.error)) +
               ")";
    return "answering: unit " + (m.unit ? std::to_string(*m.unit) : std::string("?")) +
           ", source " + (m.source ? protocol::SourceName(*m.source) : "?") + ", signal " +
           (m.signal ? protocol::SignalName(*m.signal) : "?") + ", firmware " +
           m.firmware.value_or("?");
}

json WordsJson() {
    json failures = json::object();
    for (int i = 1; i < protocol::FAILURE_COUNT; ++i)
        failures[protocol::FAILURES[i].name] = protocol::FAILURES[i].words;
    json sources = json::array();
    for (const protocol::InputSource& source : protocol::SOURCES)
        sources.push_back(source.name);
    return {{"failures", failures}, {"sources", sources}};
}

} // namespace service
