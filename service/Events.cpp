// An event is "event: KIND", "data: JSON" on one line (the JSON is written without line breaks)
// and a blank line; a comment is a line that starts with ":", which a browser skips.
#include "service/Events.h"
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include "service/Api.h"

namespace service {

namespace {

// "2026-03-01T12:00:05.123Z": the page takes kelvaned's clock from it, since a phone's may be
// off by minutes and last_ok is kelvaned's.
std::string Rfc3339Ms(std::int64_t wallMs) {
    const std::time_t seconds = static_cast<std::time_t>(wallMs / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[40];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(wallMs % 1000));
    return text;
}

std::string Event(const char* kind, const nlohmann::json& data) {
    return std::string("event: ") + kind +
           "\ndata: " + data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
           "\n\n";
}

} // namespace

std::string EventStream::Next(std::chrono::steady_clock::time_point now, std::int64_t wallMs) {
    const Fleet::Changes changes = m_fleet.ChangedSince(m_taken);
    m_taken = changes.version;
    std::string text;
    if (!m_started || changes.reconfigured) {
        if (!m_started)
            text = "retry: " + std::to_string(EVENT_RETRY_MS) + "\n";
        nlohmann::json monitors = nlohmann::json::array();
        for (const MonitorState& monitor : changes.monitors)
            monitors.push_back(MonitorJson(monitor));
        text += Event("fleet", {{"now", Rfc3339Ms(wallMs)}, {"monitors", monitors}});
    } else {
        for (const MonitorState& monitor : changes.monitors)
            text += Event("monitor", MonitorJson(monitor));
    }
    if (!m_started) {
        m_started = true;
        m_keepAliveAt = now + EVENT_KEEP_ALIVE;
    } else if (now >= m_keepAliveAt) {
        text += ": keep-alive\n\n";
        m_keepAliveAt = now + EVENT_KEEP_ALIVE;
    }
    return text;
}

} // namespace service
