// What one client may cost kelvaned's HTTP layer, each bound named once: the manual page and the
// README list them, and the hostile-client tests hold the program to them.
//   MAX_HEAD_BYTES            the request line and headers; beyond: 431, connection closed
//   MAX_BODY_BYTES            the body as it is de-chunked; beyond: 413, connection closed
//   IDLE_LIMIT_S              a connection that sends no byte for this long is closed
//   MAX_CONNECTIONS_PER_ADDRESS, MAX_CONNECTIONS   beyond: closed as soon as accepted
//   MAX_EVENT_STREAMS         the page's event streams open at once; beyond: 503
//   STREAM_CHECK_MS           how often a quiet event stream looks whether its client has gone
#pragma once

#include <chrono>
#include <cstddef>

namespace service::http {

inline constexpr std::size_t MAX_HEAD_BYTES = 16 * 1024;
inline constexpr std::size_t MAX_BODY_BYTES = 4096;
inline constexpr unsigned IDLE_LIMIT_S = 10;
// A reverse proxy is one address: its clients share these.
inline constexpr unsigned MAX_CONNECTIONS_PER_ADDRESS = 64;
inline constexpr unsigned MAX_CONNECTIONS = 1024;
inline constexpr int MAX_EVENT_STREAMS = 256;
inline constexpr std::chrono::milliseconds STREAM_CHECK_MS{1000};

} // namespace service::http
