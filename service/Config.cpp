// The configuration file: every key known, every value checked, every error at its line.
#include "service/Config.h"
#include <arpa/inet.h>
#include <map>
#include <set>
#include <toml++/toml.h>
#include <algorithm>
#include "service/Files.h"
#include "service/Text.h"
#include "service/mqtt/MqttConfig.h"

namespace service {

namespace {

constexpr const char* TOP_KEYS[] = {"listen",       "poll_interval_s", "timing",
                                    "token_file",   "allowed_hosts",   "tls_cert_file",
                                    "tls_key_file", "monitor",         "line",
                                    "mqtt",         "group"};
constexpr std::size_t MAX_HOST_NAME_LENGTH = 253;
constexpr std::size_t MAX_LABEL_LENGTH = 63;
constexpr const char* MONITOR_KEYS[] = {"name", "target", "unit"};
constexpr const char* LINE_KEYS[] = {"name", "target"};
constexpr const char* GROUP_KEYS[] = {"name", "monitors"};

// The names of the timings, in the order of Timing.
constexpr const char* TIMING_NAMES[] = {"paced", "fast"};

bool Known(const std::string& key, const auto& keys) {
    for (const char* known : keys)
        if (key == known)
            return true;
    return false;
}

// The errors of a file, each at its node: "FILE:LINE: KEY: message". Every error found is kept,
// with its line; each At is false for its caller's return.
struct Errors {
    const std::string& file;
    std::vector<std::pair<int, std::string>> found;
    bool At(int line, const std::string& key, const std::string& message) {
        found.emplace_back(line, file + ":" + std::to_string(line) + ": " + key + ": " + message);
        return false;
    }
    // In the file's order of lines; errors of one line in the order found.
    std::vector<std::string> InOrder() {
        std::stable_sort(found.begin(), found.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<std::string> list;
        for (auto& [line, text] : found)
            list.push_back(std::move(text));
        return list;
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

// A line's name is shown as text: any 1-64 bytes but control characters.
bool ValidLineName(const std::string& name) {
    if (name.empty() || name.size() > MAX_NAME_LENGTH)
        return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
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

// Every key of a table is one of known; false after an error for each that is not.
bool KnownKeys(const toml::table& table, const std::string& key, const auto& known,
               const std::string& hint, Errors& errors) {
    bool good = true;
    for (auto&& [name, node] : table)
        if (!Known(std::string(name.str()), known))
            good =
                errors.At(node, key + "." + std::string(name.str()), "unknown key (" + hint + ")");
    return good;
}

// The table's target, as ParseTarget reads it; what is asked of a missing one is the caller's.
bool ReadTarget(const toml::table& table, const std::string& key, const std::string& missing,
                Errors& errors, line::Target& target) {
    const toml::node* node = table.get("target");
    if (node == nullptr)
        return errors.At(static_cast<int>(table.source().begin.line), key + ".target", missing);
    std::string text;
    std::string reason;
    if (!ReadString(*node, key + ".target", errors, text))
        return false;
    if (!line::ParseTarget(text, target, reason))
        return errors.At(*node, key + ".target", "\"" + text + "\": " + reason);
    return true;
}

bool ReadMonitor(const toml::table& table, const std::string& key, Errors& errors,
                 MonitorConfig& monitor) {
    monitor.line = static_cast<int>(table.source().begin.line);
    bool good = KnownKeys(table, key, MONITOR_KEYS, "a monitor has name, target and unit", errors);
    const toml::node* name = table.get("name");
    if (name == nullptr)
        good = errors.At(monitor.line, key + ".name", "missing: every monitor needs a name");
    else if (!ReadString(*name, key + ".name", errors, monitor.name))
        good = false;
    else if (!ValidName(monitor.name))
        good = errors.At(*name, key + ".name",
                         "\"" + monitor.name + "\" is not a name: 1-64 of a-z, 0-9, _ and -");
    const std::string where = monitor.name.empty() ? "this monitor" : monitor.name;
    if (!ReadTarget(table, key, "missing: where is " + where + "? (a device path or tcp:HOST:PORT)",
                    errors, monitor.target))
        good = false;
    if (const toml::node* unit = table.get("unit")) {
        long long value = 0;
        if (ReadInteger(*unit, key + ".unit", 0, MAX_UNIT, errors, value))
            monitor.unit = static_cast<int>(value);
        else
            good = false;
    }
    return good;
}

// One [[line]]: the name a line is shown by, and the target it is found by.
struct NamedLine {
    std::string key;
    int line = 0;
    std::string name;
    line::Target target;
};

bool ReadLine(const toml::table& table, const std::string& key, Errors& errors, NamedLine& line) {
    line.key = key;
    line.line = static_cast<int>(table.source().begin.line);
    bool good = KnownKeys(table, key, LINE_KEYS, "a line has name and target", errors);
    const toml::node* name = table.get("name");
    if (name == nullptr)
        good = errors.At(line.line, key + ".name", "missing: a [[line]] is there to name a line");
    else if (!ReadString(*name, key + ".name", errors, line.name))
        good = false;
    else if (!ValidLineName(line.name))
        good =
            errors.At(*name, key + ".name",
                      "\"" + line.name + "\" is not a line's name: 1-64 characters, no controls");
    if (!ReadTarget(table, key, "missing: which line? (a monitor's target)", errors, line.target))
        good = false;
    return good;
}

// " (A and B are one line)" when two monitors of a line name it differently, else nothing.
std::string Spellings(const line::Target& target, const line::Target& other) {
    if (target.text == other.text)
        return "";
    return " (" + target.text + " and " + other.text + " are one line)";
}

// The lines of the monitors, each computed once here for the rest of kelvaned, and the names the
// [[line]] tables give them, found by the same endpoints. A [[line]] that names no monitor's line,
// names one a second time or takes a name already given is an error.
void FindLines(Config& config, const std::vector<NamedLine>& named, Errors& errors) {
    std::vector<line::Target> targets;
    for (const MonitorConfig& monitor : config.monitors)
        targets.push_back(monitor.target);
    for (const NamedLine& line : named)
        targets.push_back(line.target);
    const std::vector<std::size_t> lines = line::LinesOf(targets);
    for (std::size_t i = 0; i < config.monitors.size(); ++i) {
        config.monitors[i].lineIndex = lines[i];
        if (lines[i] == config.lines.size())
            config.lines.push_back({config.monitors[i].target, config.monitors[i].target.text});
    }
    std::map<std::size_t, const NamedLine*> namedLines;
    std::map<std::string, const NamedLine*> names;
    for (std::size_t i = 0; i < named.size(); ++i) {
        const NamedLine& line = named[i];
        const std::size_t index = lines[config.monitors.size() + i];
        if (index >= config.lines.size()) {
            errors.At(line.line, line.key + ".target",
                      line.target.text + " is the line of no monitor");
            continue;
        }
        const auto [held, fresh] = namedLines.emplace(index, &line);
        if (!fresh) {
            errors.At(line.line, line.key + ".target",
                      "this line is named by " + held->second->key + " already" +
                          Spellings(line.target, held->second->target));
            continue;
        }
        const auto [taken, unique] = names.emplace(line.name, &line);
        if (!unique) {
            errors.At(line.line, line.key + ".name",
                      "\"" + line.name + "\" names " + taken->second->key + "'s line already");
            continue;
        }
        config.lines[index].name = line.name;
    }
}

// The rules across monitors: names unique, units unique on a line, and a monitor asked at "0"
// (no unit given, or unit 0) alone on its line, since every monitor of a chain answers there.
// keys holds each monitor's key.
void CheckFleet(const Config& config, const std::vector<std::string>& keys, Errors& errors) {
    std::vector<std::vector<std::size_t>> members(config.lines.size());
    for (std::size_t i = 0; i < config.monitors.size(); ++i)
        members[config.monitors[i].lineIndex].push_back(i);
    std::vector<std::map<int, std::size_t>> units(config.lines.size());
    std::set<std::string> names;
    for (size_t i = 0; i < config.monitors.size(); ++i) {
        const MonitorConfig& monitor = config.monitors[i];
        const std::string& key = keys[i];
        if (!names.insert(monitor.name).second)
            errors.At(monitor.line, key + ".name",
                      "\"" + monitor.name + "\" names another monitor already");
        const std::vector<std::size_t>& mates = members[monitor.lineIndex];
        const bool askedAtZero = !monitor.unit || *monitor.unit == 0;
        if (askedAtZero && mates.size() > 1) {
            const MonitorConfig& other = config.monitors[mates[0] == i ? mates[1] : mates[0]];
            const std::string shared = monitor.name + " shares its line with " + other.name +
                                       Spellings(monitor.target, other.target);
            errors.At(monitor.line, key + ".unit",
                      monitor.unit ? "0 is where every monitor of a line answers, and " + shared +
                                         ": give it its own unit"
                                   : "missing: " + shared + ", so its unit must be given");
            continue;
        }
        if (!monitor.unit)
            continue;
        const auto [held, fresh] = units[monitor.lineIndex].emplace(*monitor.unit, i);
        if (!fresh) {
            const MonitorConfig& other = config.monitors[held->second];
            errors.At(monitor.line, key + ".unit",
                      "unit " + std::to_string(*monitor.unit) + " on " + monitor.target.text +
                          " is " + other.name + " already" +
                          Spellings(monitor.target, other.target));
        }
    }
}

// One [[group]], read after every monitor: its patterns are resolved against their names.
bool ReadGroup(const toml::table& table, const std::string& key, const Config& config,
               Errors& errors, GroupConfig& group) {
    const int line = static_cast<int>(table.source().begin.line);
    for (auto&& [name, node] : table)
        if (!Known(std::string(name.str()), GROUP_KEYS))
            return errors.At(node, key + "." + std::string(name.str()),
                             "unknown key (a group has name and monitors)");
    const toml::node* name = table.get("name");
    if (name == nullptr)
        return errors.At(line, key + ".name", "missing: every group needs a name");
    if (!ReadString(*name, key + ".name", errors, group.name))
        return false;
    if (!ValidName(group.name))
        return errors.At(*name, key + ".name",
                         "\"" + group.name + "\" is not a name: 1-64 of a-z, 0-9, _ and -");
    for (const MonitorConfig& monitor : config.monitors)
        if (monitor.name == group.name)
            return errors.At(*name, key + ".name",
                             "\"" + group.name + "\" names a monitor already");
    for (const GroupConfig& other : config.groups)
        if (other.name == group.name)
            return errors.At(*name, key + ".name",
                             "\"" + group.name + "\" names another group already");
    const toml::node* node = table.get("monitors");
    const toml::array* patterns = node != nullptr ? node->as_array() : nullptr;
    if (patterns == nullptr || patterns->empty())
        return errors.At(node != nullptr ? static_cast<int>(node->source().begin.line) : line,
                         key + ".monitors",
                         "a list of monitors' names is wanted, such as [\"lobby-*\", \"hall\"]");
    for (const toml::node& element : *patterns) {
        std::string pattern;
        if (!ReadString(element, key + ".monitors", errors, pattern))
            return false;
        bool matched = false;
        for (const MonitorConfig& monitor : config.monitors) {
            if (!NameMatches(pattern, monitor.name))
                continue;
            matched = true;
            if (std::find(group.monitors.begin(), group.monitors.end(), monitor.name) ==
                group.monitors.end())
                group.monitors.push_back(monitor.name);
        }
        if (!matched)
            return errors.At(element, key + ".monitors", "\"" + pattern + "\" matches no monitor");
    }
    return true;
}

// An optional absolute path.
void ReadPath(const toml::table& root, const char* key, Errors& errors,
              std::optional<std::string>& path) {
    std::string text;
    if (const toml::node* node = root.get(key)) {
        if (!ReadString(*node, key, errors, text))
            return;
        if (text.empty() || text[0] != '/')
            errors.At(*node, key, "an absolute path is wanted");
        else
            path = text;
    }
}

// The [[KEY]] tables of the file, each read by read; the good ones in good with their keys.
template <typename Item, typename ReadItem>
void ReadTables(const toml::table& root, const std::string& key, Errors& errors, ReadItem read,
                std::vector<Item>& good, std::vector<std::string>& keys) {
    const toml::node* node = root.get(key);
    if (node == nullptr)
        return;
    const toml::array* tables = node->as_array();
    if (tables == nullptr || !tables->is_array_of_tables()) {
        errors.At(*node, key, key + "s are [[" + key + "]] tables");
        return;
    }
    for (size_t i = 0; i < tables->size(); ++i) {
        Item item;
        const std::string itemKey = key + "[" + std::to_string(i + 1) + "]";
        if (read(*(*tables)[i].as_table(), itemKey, errors, item)) {
            good.push_back(std::move(item));
            keys.push_back(itemKey);
        }
    }
}

void ReadTop(const toml::table& root, Config& config, Errors& errors) {
    for (auto&& [name, node] : root) {
        const std::string key(name.str());
        if (!Known(key, TOP_KEYS))
            errors.At(node, key,
                      "unknown key (known: listen, poll_interval_s, timing, token_file, "
                      "allowed_hosts, tls_cert_file, tls_key_file, [[monitor]], [[line]], [mqtt], [[group]])");
        else
            config.keyLines[key] = static_cast<int>(node.source().begin.line);
    }
    std::string text;
    std::string reason;
    if (const toml::node* node = root.get("listen");
        node && ReadString(*node, "listen", errors, text))
        if (!ParseListen(text, config.listen, reason))
            errors.At(*node, "listen", "\"" + text + "\": " + reason);
    long long value = 0;
    if (const toml::node* node = root.get("poll_interval_s");
        node && ReadInteger(*node, "poll_interval_s", MIN_POLL_INTERVAL_S, MAX_POLL_INTERVAL_S,
                            errors, value))
        config.pollIntervalS = static_cast<int>(value);
    if (const toml::node* node = root.get("timing");
        node && ReadString(*node, "timing", errors, text)) {
        if (text == TIMING_NAMES[0])
            config.timing = Timing::Paced;
        else if (text == TIMING_NAMES[1])
            config.timing = Timing::AnswerDriven;
        else
            errors.At(*node, "timing", "\"" + text + "\" is neither \"paced\" nor \"fast\"");
    }
    ReadPath(root, "token_file", errors, config.tokenFile);
    ReadPath(root, "tls_cert_file", errors, config.tlsCertFile);
    ReadPath(root, "tls_key_file", errors, config.tlsKeyFile);
    // HTTPS takes both; the missing one is named at the line of the other.
    if (root.get("tls_cert_file") && !root.get("tls_key_file"))
        errors.At(config.keyLines["tls_cert_file"], "tls_key_file",
                  "missing: HTTPS needs the certificate's private key too");
    if (root.get("tls_key_file") && !root.get("tls_cert_file"))
        errors.At(config.keyLines["tls_key_file"], "tls_cert_file",
                  "missing: HTTPS needs the certificate of the key too");
    if (const toml::node* node = root.get("allowed_hosts")) {
        const toml::array* names = node->as_array();
        if (names == nullptr)
            errors.At(*node, "allowed_hosts", "a list of host names is wanted");
        for (std::size_t i = 0; names != nullptr && i < names->size(); ++i) {
            const toml::node& name = (*names)[i];
            if (!ReadString(name, "allowed_hosts", errors, text))
                continue;
            if (ValidHostName(text))
                config.allowedHosts.push_back(Lower(text));
            else
                errors.At(name, "allowed_hosts",
                          "\"" + text + "\" is not a host name (such as screens.example.org)");
        }
    }
    std::vector<std::string> monitorKeys;
    ReadTables(root, "monitor", errors, ReadMonitor, config.monitors, monitorKeys);
    std::vector<NamedLine> named;
    std::vector<std::string> lineKeys;
    ReadTables(root, "line", errors, ReadLine, named, lineKeys);
    FindLines(config, named, errors);
    CheckFleet(config, monitorKeys, errors);
    // The bridge's own table, read by its own reader.
    if (const toml::node* node = root.get("mqtt")) {
        std::string error;
        if (!mqtt::ReadMqttTable(*node, errors.file, config.mqtt, error))
            errors.found.emplace_back(static_cast<int>(node->source().begin.line), error);
    }
    std::vector<std::string> groupKeys;
    ReadTables(
        root, "group", errors,
        [&config](const toml::table& table, const std::string& key, Errors& errors,
                  GroupConfig& group) { return ReadGroup(table, key, config, errors, group); },
        config.groups, groupKeys);
}

} // namespace

bool NameMatches(std::string_view pattern, std::string_view name) {
    // The usual greedy walk: on a mismatch after a '*', that '*' takes one character more.
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string_view::npos;
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

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
                 std::vector<std::string>& found) {
    config = Config{};
    config.file = file;
    Errors errors{file, {}};
    // A syntax error leaves the rest unread: it is the one error then.
    try {
        const toml::table root = toml::parse(text, file);
        ReadTop(root, config, errors);
    } catch (const toml::parse_error& e) {
        errors.At(static_cast<int>(e.source().begin.line), "syntax", std::string(e.description()));
    }
    found = errors.InOrder();
    return found.empty();
}

bool ReadConfig(const std::string& file, Config& config, std::vector<std::string>& found) {
    std::string text;
    std::string error;
    struct stat info {};
    found.clear();
    if (!ReadRegularFile(file, text, info, error)) {
        found.push_back(file + ": " + error);
        return false;
    }
    return ParseConfig(text, file, config, found);
}

namespace {

bool FirstOf(bool good, const std::vector<std::string>& found, std::string& error) {
    if (!good)
        error = found.front();
    return good;
}

} // namespace

bool ParseConfig(std::string_view text, const std::string& file, Config& config,
                 std::string& error) {
    std::vector<std::string> found;
    return FirstOf(ParseConfig(text, file, config, found), found, error);
}

bool ReadConfig(const std::string& file, Config& config, std::string& error) {
    std::vector<std::string> found;
    return FirstOf(ReadConfig(file, config, found), found, error);
}

} // namespace service
