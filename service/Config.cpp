// The configuration file: every key known, every value checked, every error at its line.
#include "service/Config.h"
#include <arpa/inet.h>
#include <map>
#include <set>
#include <toml++/toml.h>
#include <algorithm>
#include "service/Files.h"
#include "service/Text.h"

namespace service {

namespace {

constexpr const char* TOP_KEYS[] = {"listen",     "poll_interval_s", "timing",
                                    "token_file", "allowed_hosts",   "monitor"};
constexpr std::size_t MAX_HOST_NAME_LENGTH = 253;
constexpr std::size_t MAX_LABEL_LENGTH = 63;
constexpr const char* MONITOR_KEYS[] = {"name", "target", "unit"};

// The names of the timings, in the order of Timing.
constexpr const char* TIMING_NAMES[] = {"paced", "fast"};

bool Known(const std::string& key, const auto& keys) {
    for (const char* known : keys)
        if (key == known)
            return true;
    return false;
}

// An error at a node of the file: "FILE:LINE: KEY: message".
struct Errors {
    const std::string& file;
    std::string& error;
    bool At(int line, const std::string& key, const std::string& message) {
        error = file + ":" + std::to_string(line) + ": " + key + ": " + message;
        return false;
    }
    bool At(const toml::node& node, const std::string& key, const std::string& message) {
        return At(static_cast<int>(node.source().begin.line), key, message);
    }
};

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > MAX_NAME_LENGTH)
        return false;
    for (const char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
            return false;
    return true;
}

bool ReadString(const toml::node& node, const std::string& key, Errors& errors,
                std::string& value) {
    if (!node.is_string())
        return errors.At(node, key, "a text in quotes is wanted");
    value = node.as_string()->get();
    return true;
}

bool ReadInteger(const toml::node& node, const std::string& key, long long low, long long high,
                 Errors& errors, long long& value) {
    if (!node.is_integer())
        return errors.At(node, key, "a whole number is wanted");
    value = node.as_integer()->get();
    if (value < low || value > high)
        return errors.At(node, key,
                         std::to_string(value) + " is not within " + std::to_string(low) + "-" +
                             std::to_string(high));
    return true;
}

bool ReadMonitor(const toml::table& table, const std::string& key, Errors& errors,
                 MonitorConfig& monitor) {
    monitor.line = static_cast<int>(table.source().begin.line);
    for (auto&& [name, node] : table)
        if (!Known(std::string(name.str()), MONITOR_KEYS))
            return errors.At(node, key + "." + std::string(name.str()),
                             "unknown key (a monitor has name, target and unit)");
    const toml::node* name = table.get("name");
    if (name == nullptr)
        return errors.At(monitor.line, key + ".name", "missing: every monitor needs a name");
    if (!ReadString(*name, key + ".name", errors, monitor.name))
        return false;
    if (!ValidName(monitor.name))
        return errors.At(*name, key + ".name",
                         "\"" + monitor.name + "\" is not a name: 1-64 of a-z, 0-9, _ and -");
    const toml::node* target = table.get("target");
    if (target == nullptr)
        return errors.At(monitor.line, key + ".target",
                         "missing: where is " + monitor.name +
                             "? (a device path or tcp:HOST:PORT)");
    std::string text;
    std::string reason;
    if (!ReadString(*target, key + ".target", errors, text))
        return false;
    if (!line::ParseTarget(text, monitor.target, reason))
        return errors.At(*target, key + ".target", "\"" + text + "\": " + reason);
    if (const toml::node* unit = table.get("unit")) {
        long long value = 0;
        if (!ReadInteger(*unit, key + ".unit", 0, MAX_UNIT, errors, value))
            return false;
        monitor.unit = static_cast<int>(value);
    }
    return true;
}

// " (A and B are one line)" when two monitors of a line name it differently, else nothing.
std::string Spellings(const MonitorConfig& monitor, const MonitorConfig& other) {
    if (monitor.target.text == other.target.text)
        return "";
    return " (" + monitor.target.text + " and " + other.target.text + " are one line)";
}

// The lines of the monitors, each computed once here for the rest of kelvaned.
void FindLines(Config& config) {
    std::vector<line::Target> targets;
    for (const MonitorConfig& monitor : config.monitors)
        targets.push_back(monitor.target);
    const std::vector<std::size_t> lines = line::LinesOf(targets);
    for (std::size_t i = 0; i < config.monitors.size(); ++i) {
        config.monitors[i].lineIndex = lines[i];
        if (lines[i] == config.lines.size())
            config.lines.push_back({config.monitors[i].target});
    }
}

// The rules across monitors: names unique, units unique on a line, and a monitor asked at "0"
// (no unit given, or unit 0) alone on its line, since every monitor of a chain answers there.
bool CheckFleet(const Config& config, Errors& errors) {
    std::vector<std::vector<std::size_t>> members(config.lines.size());
    for (std::size_t i = 0; i < config.monitors.size(); ++i)
        members[config.monitors[i].lineIndex].push_back(i);
    std::vector<std::map<int, std::size_t>> units(config.lines.size());
    std::set<std::string> names;
    for (size_t i = 0; i < config.monitors.size(); ++i) {
        const MonitorConfig& monitor = config.monitors[i];
        const std::string key = "monitor[" + std::to_string(i + 1) + "]";
        if (!names.insert(monitor.name).second)
            return errors.At(monitor.line, key + ".name",
                             "\"" + monitor.name + "\" names another monitor already");
        const std::vector<std::size_t>& mates = members[monitor.lineIndex];
        const bool askedAtZero = !monitor.unit || *monitor.unit == 0;
        if (askedAtZero && mates.size() > 1) {
            const MonitorConfig& other = config.monitors[mates[0] == i ? mates[1] : mates[0]];
            const std::string shared =
                monitor.name + " shares its line with " + other.name + Spellings(monitor, other);
            return errors.At(monitor.line, key + ".unit",
                             monitor.unit ? "0 is where every monitor of a line answers, and " +
                                                shared + ": give it its own unit"
                                          : "missing: " + shared + ", so its unit must be given");
        }
        if (!monitor.unit)
            continue;
        const auto [held, fresh] = units[monitor.lineIndex].emplace(*monitor.unit, i);
        if (!fresh) {
            const MonitorConfig& other = config.monitors[held->second];
            return errors.At(monitor.line, key + ".unit",
                             "unit " + std::to_string(*monitor.unit) + " on " +
                                 monitor.target.text + " is " + other.name + " already" +
                                 Spellings(monitor, other));
        }
    }
    return true;
}

bool ReadTop(const toml::table& root, Config& config, Errors& errors) {
    for (auto&& [name, node] : root) {
        const std::string key(name.str());
        if (!Known(key, TOP_KEYS))
            return errors.At(node, key,
                             "unknown key (known: listen, poll_interval_s, timing, token_file, "
                             "allowed_hosts, [[monitor]])");
        config.keyLines[key] = static_cast<int>(node.source().begin.line);
    }
    std::string text;
    std::string reason;
    if (const toml::node* node = root.get("listen")) {
        if (!ReadString(*node, "listen", errors, text))
            return false;
        if (!ParseListen(text, config.listen, reason))
            return errors.At(*node, "listen", "\"" + text + "\": " + reason);
    }
    if (const toml::node* node = root.get("poll_interval_s")) {
        long long value = 0;
        if (!ReadInteger(*node, "poll_interval_s", MIN_POLL_INTERVAL_S, MAX_POLL_INTERVAL_S, errors,
                         value))
            return false;
        config.pollIntervalS = static_cast<int>(value);
    }
    if (const toml::node* node = root.get("timing")) {
        if (!ReadString(*node, "timing", errors, text))
            return false;
        if (text == TIMING_NAMES[0])
            config.timing = Timing::Paced;
        else if (text == TIMING_NAMES[1])
            config.timing = Timing::AnswerDriven;
        else
            return errors.At(*node, "timing", "\"" + text + "\" is neither \"paced\" nor \"fast\"");
    }
    if (const toml::node* node = root.get("token_file")) {
        if (!ReadString(*node, "token_file", errors, text))
            return false;
        if (text.empty() || text[0] != '/')
            return errors.At(*node, "token_file", "an absolute path is wanted");
        config.tokenFile = text;
    }
    if (const toml::node* node = root.get("allowed_hosts")) {
        const toml::array* names = node->as_array();
        if (names == nullptr)
            return errors.At(*node, "allowed_hosts", "a list of host names is wanted");
        for (const toml::node& name : *names) {
            if (!ReadString(name, "allowed_hosts", errors, text))
                return false;
            if (!ValidHostName(text))
                return errors.At(name, "allowed_hosts",
                                 "\"" + text +
                                     "\" is not a host name (such as screens.example.org)");
            config.allowedHosts.push_back(Lower(text));
        }
    }
    if (const toml::node* node = root.get("monitor")) {
        const toml::array* monitors = node->as_array();
        if (monitors == nullptr || !monitors->is_array_of_tables())
            return errors.At(*node, "monitor", "monitors are [[monitor]] tables");
        for (size_t i = 0; i < monitors->size(); ++i) {
            MonitorConfig monitor;
            if (!ReadMonitor(*(*monitors)[i].as_table(), "monitor[" + std::to_string(i + 1) + "]",
                             errors, monitor))
                return false;
            config.monitors.push_back(std::move(monitor));
        }
    }
    FindLines(config);
    return CheckFleet(config, errors);
}

} // namespace

bool ValidHostName(const std::string& name) {
    if (name.empty() || name.size() > MAX_HOST_NAME_LENGTH)
        return false;
    size_t begin = 0;
    while (true) {
        const size_t end = std::min(name.find('.', begin), name.size());
        const std::string label = name.substr(begin, end - begin);
        if (label.empty() || label.size() > MAX_LABEL_LENGTH || label.front() == '-' ||
            label.back() == '-' ||
            Lower(label).find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") !=
                std::string::npos)
            return false;
        if (end == name.size())
            return true;
        begin = end + 1;
    }
}

bool ListenAddress::Loopback() const {
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    return host == "::1";
}

std::string ListenAddress::Text() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool ParseListen(const std::string& text, ListenAddress& address, std::string& error) {
    std::string host;
    std::string port;
    bool v6 = false;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find("]:");
        if (close == std::string::npos) {
            error = "an IPv6 address goes in brackets: [::1]:9420";
            return false;
        }
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
        v6 = true;
    } else {
        const size_t colon = text.rfind(':');
        if (colon == std::string::npos) {
            error = "the form is ADDRESS:PORT, such as 127.0.0.1:9420";
            return false;
        }
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    in6_addr scratch{};
    if (::inet_pton(v6 ? AF_INET6 : AF_INET, host.c_str(), &scratch) != 1) {
        error = "\"" + host + "\" is not a numeric " + (v6 ? "IPv6" : "IPv4") + " address";
        return false;
    }
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535) {
        error = "the port is a number from 0 to 65535";
        return false;
    }
    address.host = host;
    address.port = std::stoi(port);
    return true;
}

std::string Config::Where(const std::string& key) const {
    const auto found = keyLines.find(key);
    return file + ":" + std::to_string(found == keyLines.end() ? 0 : found->second) + ": " + key +
           ": ";
}

bool ParseConfig(std::string_view text, const std::string& file, Config& config,
                 std::string& error) {
    config = Config{};
    config.file = file;
    Errors errors{file, error};
    try {
        const toml::table root = toml::parse(text, file);
        return ReadTop(root, config, errors);
    } catch (const toml::parse_error& e) {
        return errors.At(static_cast<int>(e.source().begin.line), "syntax",
                         std::string(e.description()));
    }
}

bool ReadConfig(const std::string& file, Config& config, std::string& error) {
    std::string text;
    struct stat info {};
    if (!ReadRegularFile(file, text, info, error)) {
        error = file + ": " + error;
        return false;
    }
    return ParseConfig(text, file, config, error);
}

} // namespace service
