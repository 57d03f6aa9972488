#include "line/Target.h"
#include <algorithm>
#include <cctype>
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
    if (a.kind == Target::Kind::Tcp)
        return Lower(a.host) == Lower(b.host) && a.port == b.port;
#ifdef _WIN32
    return a.path == b.path;
#else
    return Device(a.path) == Device(b.path);
#endif
}

} // namespace line
