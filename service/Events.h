// The fleet as Server-Sent Events, for the page: what changes, as it changes.
//   EVENT_STREAM_TYPE, EVENT_KEEP_ALIVE, EVENT_RETRY_MS
//   EventStream   one client's stream: the whole fleet first (and again after a reload), then
//                 each monitor that changed, and a comment line every EVENT_KEEP_ALIVE
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include "service/Fleet.h"

namespace service {

inline constexpr const char* EVENT_STREAM_TYPE = "text/event-stream";
// A proxy between the page and kelvaned closes a connection that stays silent for long.
inline constexpr std::chrono::seconds EVENT_KEEP_ALIVE{15};
// How long a browser waits before it opens a lost stream again.
inline constexpr int EVENT_RETRY_MS = 2000;

class EventStream {
public:
    explicit EventStream(const Fleet& fleet) : m_fleet(fleet) {}

    // What is due at now, as the stream's text: at the first call the reconnection time and a
    // "fleet" event ({"now": RFC 3339 with milliseconds, "monitors": [M, ...]}); after that a
    // "monitor" event (M) for each monitor that changed since the last call, or a "fleet" event
    // when the configuration was taken again; and a comment line when EVENT_KEEP_ALIVE has
    // passed since the last. Empty when nothing is due. wallMs is now in ms since 1970 (UTC).
    std::string Next(std::chrono::steady_clock::time_point now, std::int64_t wallMs);

private:
    const Fleet& m_fleet;
    bool m_started = false;
    std::uint64_t m_taken = 0; // the fleet's version at the last Next
    std::chrono::steady_clock::time_point m_keepAliveAt;
};

} // namespace service
