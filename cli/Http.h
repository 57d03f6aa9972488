// kelvaned's HTTP API as kelvanectl reaches it: one request at a time, its answer bounded in size
// and in time. One interface, spoken by a well-kept client library of each platform: libcurl on
// Linux (cli/HttpCurl.cpp), WinHTTP on Windows (cli/HttpWinHttp.cpp).
//   HttpRequest, HttpAnswer   what goes out and what came back
//   HttpFailure               why no answer came
//   MAX_ANSWER_BYTES, HTTP_CONNECT_LIMIT_MS  the bounds every request keeps
//   SendRequest               one request and its whole answer
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include "line/Cancel.h"

struct HttpRequest {
    std::string method = "GET"; // GET or POST
    std::string url;            // http:// or https://, the path included
    std::string body;           // a POST's JSON
    std::string token;          // sent as "Authorization: Bearer TOKEN" unless empty
    std::string caFile;         // https: the certificates kelvaned's must be signed by; empty:
                                // the system's (Linux alone: Windows takes its own store)
    std::uint32_t limitMs = 0;  // the whole request, connect and answer included
};

struct HttpAnswer {
    int status = 0;
    std::string body;
};

enum class HttpFailure {
    None,
    Connect,   // no connection: nothing listens, no route, the name is unknown, TLS failed
    TimedOut,  // connected, but the answer did not come whole within the limit
    TooLarge,  // the answer is over MAX_ANSWER_BYTES
    Cancelled, // the cancel ended it
    Other,     // anything else the library reports
};

// Far beyond any answer of kelvaned's API (a fleet of a thousand monitors is a few hundred KB).
inline constexpr std::size_t MAX_ANSWER_BYTES = 4 * 1024 * 1024;
inline constexpr std::uint32_t HTTP_CONNECT_LIMIT_MS = 5000;

// Sends the request and reads the whole answer, whatever its status. HttpFailure::None with the
// answer, or the failure with its reason (for a person) in error. A set cancel ends it within a
// few tenths of a second.
HttpFailure SendRequest(const HttpRequest& request, HttpAnswer& answer, std::string& error,
                        const line::Cancel* cancel);
