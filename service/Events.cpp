// An event is "event: KIND", "data: JSON" on one line (the JSON is written without line breaks)
// and a blank line; a comment is a line that starts with ":", which a browser skips.
#include "service/Events.h"
#include <nlohmann/json.hpp>
#include "service/View.h"

namespace service {

namespace {

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
        text +=
            Event("fleet",
                  {{"now", Rfc3339(wallMs, true)}, {"words", WordsJson()}, {"monitors", monitors}});
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
