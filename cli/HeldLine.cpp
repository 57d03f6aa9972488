#include "cli/HeldLine.h"

#ifdef _WIN32

std::string HeldByKelvaned(const line::Target&) {
    return "";
}

#else

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <toml++/toml.h>
#include "service/Config.h"

namespace {

// A configuration is a few KB; anything far larger is not one.
constexpr std::streamsize MAX_CONFIG_BYTES = 1024 * 1024;

// The URL that reaches kelvaned from this machine: an address that listens everywhere is reached
// on loopback.
std::string LocalUrl(std::string listen) {
    if (listen.rfind("0.0.0.0:", 0) == 0)
        listen.replace(0, 7, "127.0.0.1");
    else if (listen.rfind("[::]:", 0) == 0)
        listen.replace(0, 4, "[::1]");
    return "http://" + listen;
}

// How to reach it: its URL, unless it listens on port 0, which the system picks afresh at each
// start and only kelvaned's log tells.
std::string ServerHint(const std::string& listen) {
    if (listen.size() > 2 && listen.compare(listen.size() - 2, 2, ":0") == 0)
        return "--server and the address its log names \"listening on\"";
    return "--server " + LocalUrl(listen);
}

} // namespace

std::string HeldByKelvaned(const line::Target& target) {
    const char* named = std::getenv(KELVANED_CONFIG_VARIABLE);
    std::ifstream in(named != nullptr && *named != '\0' ? named : service::DEFAULT_CONFIG_FILE);
    std::string text(MAX_CONFIG_BYTES + 1, '\0');
    in.read(text.data(), MAX_CONFIG_BYTES + 1);
    if (in.gcount() == 0 || in.gcount() > MAX_CONFIG_BYTES)
        return "";
    text.resize(static_cast<size_t>(in.gcount()));
    try {
        const toml::table config = toml::parse(text);
        const toml::array* monitors = config["monitor"].as_array();
        if (monitors == nullptr)
            return "";
        for (const toml::node& node : *monitors) {
            const toml::table* monitor = node.as_table();
            if (monitor == nullptr)
                continue;
            line::Target configured;
            std::string error;
            const std::string name = (*monitor)["name"].value_or(std::string());
            if (!line::ParseTarget((*monitor)["target"].value_or(std::string()), configured,
                                   error) ||
                !line::SameLine(configured, target))
                continue;
            return "; kelvaned holds this line for its monitor " + name +
                   ": send the command through it, " +
                   ServerHint(config["listen"].value_or(std::string(service::DEFAULT_LISTEN)));
        }
    } catch (const toml::parse_error&) {
    }
    return "";
}

#endif
