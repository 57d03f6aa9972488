#include "service/http/Listener.h"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace service::http {

namespace {

// A burst of connects beyond what the event loop has taken yet waits here, not for the client's
// retransmit a second later.
constexpr int LISTEN_BACKLOG = 1024;

std::string AddressText(const std::string& host, int port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

} // namespace

int Listen(const std::string& host, int& port, std::string& error) {
    sockaddr_storage address{};
    socklen_t length = 0;
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    if (::inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(port));
        length = sizeof v4;
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(port));
        length = sizeof v6;
    } else {
        error = "\"" + host + "\" is not a numeric address";
        return -1;
    }
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "cannot make a socket: " + std::string(std::strerror(errno));
        return -1;
    }
    // Takes the port back from the connections of a kelvaned just stopped (TIME_WAIT); Linux
    // still refuses it while another socket listens there.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (address.ss_family == AF_INET6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd, LISTEN_BACKLOG) != 0) {
        error = errno == EADDRINUSE
                    ? AddressText(host, port) + " is in use"
                    : "cannot listen on " + AddressText(host, port) + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.ss_family == AF_INET ? v4.sin_port : v6.sin6_port);
    return fd;
}

} // namespace service::http
