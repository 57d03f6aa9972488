// The listening socket, made here and handed to the event loop. Without SO_REUSEPORT: a second
// kelvaned on an address in use fails at its start instead of sharing the first one's clients.
//   Listen   binds and listens; the socket, or -1 with the error
#pragma once

#include <string>

namespace service::http {

// host: numeric IPv4 or IPv6 (no brackets); port 0 takes a free port, set in port. The error
// says "127.0.0.1:9420 is in use" when another program listens there.
int Listen(const std::string& host, int& port, std::string& error);

} // namespace service::http
