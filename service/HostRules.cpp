#include "service/HostRules.h"
#include <arpa/inet.h>
#include "service/Text.h"

namespace service {

namespace {

constexpr int HTTP_PORT = 80;
constexpr int HTTPS_PORT = 443;

bool ReadPort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(text);
    return port <= 65535;
}

// An IPv6 address in its one written form, for comparing; empty when it is none.
std::string CanonicalV6(const std::string& address) {
    in6_addr binary{};
    char text[INET6_ADDRSTRLEN] = {};
    if (::inet_pton(AF_INET6, address.c_str(), &binary) != 1 ||
        ::inet_ntop(AF_INET6, &binary, text, sizeof text) == nullptr)
        return "";
    return text;
}

bool LoopbackHost(const std::string& host) {
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    return host == "localhost" || host == "[::1]";
}

} // namespace

std::optional<Authority> ParseAuthority(const std::string& text) {
    Authority authority;
    std::string port;
    bool hasPort = false;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        const std::string address = CanonicalV6(text.substr(1, close - 1));
        if (address.empty())
            return std::nullopt;
        authority.host = "[" + address + "]";
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':')
                return std::nullopt;
            port = text.substr(close + 2);
            hasPort = true;
        }
    } else {
        const size_t colon = text.find(':');
        authority.host = Lower(text.substr(0, colon));
        if (colon != std::string::npos) {
            port = text.substr(colon + 1);
            hasPort = true;
        }
        if (!authority.host.empty() && authority.host.back() == '.')
            authority.host.pop_back();
        if (authority.host.empty() ||
            authority.host.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789.-") !=
                std::string::npos)
            return std::nullopt;
    }
    if (hasPort) {
        int number = 0;
        if (!ReadPort(port, number))
            return std::nullopt;
        authority.port = number;
    }
    return authority;
}

http::Verdict JudgeHost(const std::string& host, const ListenAddress& listen,
                        const std::vector<std::string>& allowedHosts) {
    const std::string given = Trimmed(host);
    if (given.empty())
        return {};
    const std::optional<Authority> authority = ParseAuthority(given);
    const bool v6 = listen.host.find(':') != std::string::npos;
    const std::string listening = v6 ? "[" + CanonicalV6(listen.host) + "]" : listen.host;
    if (authority && (LoopbackHost(authority->host) || authority->host == listening))
        return {};
    for (const std::string& allowed : allowedHosts)
        if (authority && authority->host == Lower(allowed))
            return {};
    return {421, "kelvaned answers only to the names of this machine's loopback, its listening "
                 "address and allowed_hosts"};
}

http::Verdict JudgeOrigin(const std::string& origin, const std::string& host) {
    const std::string given = Trimmed(origin);
    if (given.empty())
        return {};
    const http::Verdict refused{403, "an operation is taken only from kelvaned's own page"};
    const size_t separator = given.find("://");
    if (separator == std::string::npos)
        return refused;
    const std::string scheme = Lower(given.substr(0, separator));
    const std::optional<Authority> from = ParseAuthority(given.substr(separator + 3));
    const std::optional<Authority> to = ParseAuthority(Trimmed(host));
    // kelvaned speaks plain HTTP; an https origin of the same name and port is a proxy in front
    // of it that terminates TLS, and nobody else can serve a page there.
    if ((scheme != "http" && scheme != "https") || !from || !to || from->host != to->host)
        return refused;
    const int fromPort = from->port.value_or(scheme == "http" ? HTTP_PORT : HTTPS_PORT);
    // A Host without a port names the default port of the scheme the client used.
    const int toPort = to->port.value_or(scheme == "http" ? HTTP_PORT : HTTPS_PORT);
    return fromPort == toPort ? http::Verdict{} : refused;
}

} // namespace service
