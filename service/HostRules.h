// Which names kelvaned answers to, and which pages may post to it. A page of another site can
// reach a kelvaned on 127.0.0.1 through its visitor's browser by a name of its own that it has
// made resolve there (DNS rebinding); the browser sends that name as Host and takes the answers
// as the other site's own. So kelvaned serves only the names it knows, and takes a POST only from
// a page of its own origin (or from a program, which sends no Origin).
//   Authority     the host and port of a Host header or an Origin, as compared
//   JudgeHost     421 for a request under any other name than a loopback one, the listening
//                 address or one of allowed_hosts
//   JudgeOrigin   403 for a POST whose Origin is not the origin its Host names
#pragma once

#include <optional>
#include <string>
#include <vector>
#include "service/Config.h"
#include "service/http/Message.h"

namespace service {

struct Authority {
    std::string host;        // lower case, without a final dot; an IPv6 address in brackets
    std::optional<int> port; // as given
};

// Reads "HOST", "HOST:PORT", "[IPv6]" or "[IPv6]:PORT"; nothing for anything else.
std::optional<Authority> ParseAuthority(const std::string& text);

// host: the Host header, empty when there is none (HTTP/1.0 without one is taken: no browser
// sends such a request).
http::Verdict JudgeHost(const std::string& host, const ListenAddress& listen,
                        const std::vector<std::string>& allowedHosts);

// origin: the Origin header, empty when there is none (a script's or curl's POST: taken).
http::Verdict JudgeOrigin(const std::string& origin, const std::string& host);

} // namespace service
