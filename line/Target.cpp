#include "line/Target.h"
#include "line/Sockets.h"
#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <numeric>
#include <system_error>
#include <thread>
#include <unordered_map>
#ifndef _WIN32
#include <climits>
#include <cstdlib>
#endif

namespace line {

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool AllDigits(const std::string& text) {
    return !text.empty() && text.size() <= 5 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ParseServer(const std::string& address, Target& target, std::string& error) {
    std::string host;
    std::string port;
    if (!address.empty() && address[0] == '[') {
        const size_t close = address.find(']');
        if (close == std::string::npos || address.compare(close, 2, "]:") != 0) {
            error = "a bracketed host wants the form tcp:[ADDRESS]:PORT";
            return false;
        }
        host = address.substr(1, close - 1);
        port = address.substr(close + 2);
    } else {
        const size_t colon = address.rfind(':');
        if (colon == std::string::npos) {
            error = "a device server wants the form tcp:HOST:PORT";
            return false;
        }
        host = address.substr(0, colon);
        port = address.substr(colon + 1);
        if (host.find(':') != std::string::npos) {
            error = "an IPv6 address goes in brackets: tcp:[ADDRESS]:PORT";
            return false;
        }
    }
    if (host.empty()) {
        error = "a device server needs a host";
        return false;
    }
    if (!AllDigits(port) || std::stoi(port) < 1 || std::stoi(port) > 65535) {
        error = "the port of a device server is a number from 1 to 65535";
        return false;
    }
    target.kind = Target::Kind::Tcp;
    target.host = host;
    target.port = static_cast<std::uint16_t>(std::stoi(port));
    return true;
}

#ifdef _WIN32
bool ParseSerial(const std::string& text, Target& target, std::string& error) {
    const std::string upper = [&] {
        std::string u = text;
        for (char& c : u)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return u;
    }();
    const std::string number = upper.size() > 3 ? upper.substr(3) : "";
    if (upper.compare(0, 3, "COM") != 0 || !AllDigits(number) || number[0] == '0' ||
        std::stoi(number) > 255) {
        error = "a serial line is named COM1, COM2 ... (or tcp:HOST:PORT for a device server)";
        return false;
    }
    target.path = upper;
    return true;
}

// A COM name is the line itself.
std::string Device(const std::string& path) {
    return path;
}
#else
bool ParseSerial(const std::string& text, Target& target, std::string& error) {
    if (text.empty() || text[0] == '-') {
        error = "a serial line is a device path such as /dev/ttyUSB0 (or tcp:HOST:PORT)";
        return false;
    }
    target.path = text;
    return true;
}

// The device a path leads to, or the path itself when it leads nowhere (yet).
std::string Device(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? resolved : path;
}
#endif

// The names of device servers are looked up side by side by this many threads at most.
constexpr std::size_t LOOKUP_THREADS = 4;

// An address as a key: its bytes, an IPv4-mapped IPv6 address as the IPv4 address it maps.
// (getaddrinfo gives IPv4 and IPv6 addresses alone.)
std::string AddressKey(const sockaddr* address) {
    if (address->sa_family == AF_INET) {
        const auto* bytes = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
        return "4" + std::string(reinterpret_cast<const char*>(bytes), 4);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(
        &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
    constexpr unsigned char MAPPED[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::equal(MAPPED, MAPPED + 12, bytes))
        return "4" + std::string(reinterpret_cast<const char*>(bytes + 12), 4);
    return "6" + std::string(reinterpret_cast<const char*>(bytes), 16);
}

// The addresses of a host as keys, none when it does not resolve; numeric alone asks no name
// server.
std::vector<std::string> AddressesOf(const std::string& host, bool numeric) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = numeric ? AI_NUMERICHOST : 0;
    addrinfo* found = nullptr;
    std::vector<std::string> keys;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return keys;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next)
        keys.push_back(AddressKey(address->ai_addr));
    ::freeaddrinfo(found);
    return keys;
}

// The lookups of names, shared with the threads that make them: a thread still waiting for a
// slow name server when the time is up ends on its own later, and its answer goes unused.
struct Lookups {
    std::mutex mutex;
    std::condition_variable done;
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> addresses;
    std::size_t next = 0;
    std::size_t finished = 0;
};

void LookUpNames(const std::shared_ptr<Lookups>& lookups) {
    std::unique_lock<std::mutex> lock(lookups->mutex);
    while (lookups->next < lookups->names.size()) {
        const std::size_t i = lookups->next++;
        lock.unlock();
        std::vector<std::string> found = AddressesOf(lookups->names[i], false);
        lock.lock();
        lookups->addresses[i] = std::move(found);
        ++lookups->finished;
        lookups->done.notify_all();
    }
}

// The addresses of each name, as keys, looked up within NAME_LOOKUP_LIMIT_MS; none for a name
// not answered by then.
std::vector<std::vector<std::string>> LookUp(std::vector<std::string> names) {
    auto lookups = std::make_shared<Lookups>();
    lookups->addresses.resize(names.size());
    lookups->names = std::move(names);
    for (std::size_t i = 0; i < std::min(lookups->names.size(), LOOKUP_THREADS); ++i) {
        try {
            std::thread([lookups] { LookUpNames(lookups); }).detach();
        } catch (const std::system_error&) {
            break; // the threads started look the names up; with none, none is found
        }
    }
    std::unique_lock<std::mutex> lock(lookups->mutex);
    lookups->done.wait_for(lock, std::chrono::milliseconds(NAME_LOOKUP_LIMIT_MS),
                           [&] { return lookups->finished == lookups->names.size(); });
    return lookups->addresses;
}

// The endpoints of each target as keys: a serial line's device, a device server's addresses with
// its port (or its host's text when it has none).
std::vector<std::vector<std::string>> EndpointsOf(const std::vector<Target>& targets) {
    // Numeric hosts at once, then the names, each distinct one once.
    StartSockets();
    std::unordered_map<std::string, std::vector<std::string>> addresses;
    std::vector<std::string> names;
    for (const Target& target : targets) {
        const std::string host = Lower(target.host);
        if (target.kind != Target::Kind::Tcp || addresses.count(host) != 0)
            continue;
        addresses[host] = AddressesOf(host, true);
        if (addresses[host].empty())
            names.push_back(host);
    }
    const std::vector<std::vector<std::string>> found = LookUp(names);
    for (std::size_t i = 0; i < names.size(); ++i)
        addresses[names[i]] = found[i];

    std::vector<std::vector<std::string>> endpoints(targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const Target& target = targets[i];
        if (target.kind == Target::Kind::Serial) {
            endpoints[i] = {"s" + Device(target.path)};
            continue;
        }
        const std::string host = Lower(target.host);
        const std::string port = ":" + std::to_string(target.port);
        for (const std::string& address : addresses[host])
            endpoints[i].push_back("a" + address + port);
        if (endpoints[i].empty())
            endpoints[i] = {"n" + host + port};
    }
    return endpoints;
}

} // namespace

bool ParseTarget(const std::string& text, Target& target, std::string& error) {
    target = Target{};
    target.text = text;
    if (Lower(text.substr(0, 4)) == "tcp:")
        return ParseServer(text.substr(4), target, error);
    return ParseSerial(text, target, error);
}

bool SameLine(const Target& a, const Target& b) {
    if (a.kind != b.kind)
        return false;
    // Without copies: a reload compares every line with every other.
    const auto sameLetter = [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    };
    if (a.kind == Target::Kind::Tcp)
        return a.port == b.port && a.host.size() == b.host.size() &&
               std::equal(a.host.begin(), a.host.end(), b.host.begin(), sameLetter);
    return Device(a.path) == Device(b.path);
}

std::vector<std::size_t> LinesOf(const std::vector<Target>& targets) {
    return LinesOfEndpoints(EndpointsOf(targets));
}

std::vector<std::size_t> LinesOfEndpoints(const std::vector<std::vector<std::string>>& endpoints) {
    // Items that share an endpoint are joined, each group under its first item.
    std::vector<std::size_t> first(endpoints.size());
    std::iota(first.begin(), first.end(), std::size_t{0});
    const auto firstOf = [&](std::size_t i) {
        while (first[i] != i)
            i = first[i] = first[first[i]];
        return i;
    };
    std::unordered_map<std::string, std::size_t> holder;
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
        for (const std::string& endpoint : endpoints[i]) {
            const std::size_t a = firstOf(i);
            const std::size_t b = firstOf(holder.emplace(endpoint, i).first->second);
            first[std::max(a, b)] = std::min(a, b);
        }
    }
    std::vector<std::size_t> lines(endpoints.size());
    std::vector<std::size_t> number(endpoints.size());
    std::size_t count = 0;
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
        const std::size_t group = firstOf(i);
        if (group == i)
            number[i] = count++;
        lines[i] = number[group];
    }
    return lines;
}

} // namespace line
