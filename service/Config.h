// kelvaned's configuration: one TOML file, read whole and checked before anything is opened.
//   ListenAddress    where the HTTP API listens: a numeric IPv4 or IPv6 address and a port
//   MonitorConfig    one [[monitor]]: its name, its target, its unit (when given) and its line
//   LineConfig       one line: the monitors whose targets name one endpoint share it
//   ValidHostName    whether a text is a host name allowed_hosts takes
//   Config           the whole file, with its lines and the file line each setting was read from
//   ReadConfig, ParseConfig  read and check a file, or a text (for the tests)
//   DEFAULT_CONFIG_FILE, DEFAULT_LISTEN, DEFAULT_POLL_INTERVAL_S, POLL_INTERVAL_LIMITS_S
// An error names the file, the line and the key: "FILE:LINE: KEY: what is wrong".
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include "core/MonitorProtocol.h"
#include "line/Target.h"

namespace service {

inline constexpr const char* DEFAULT_CONFIG_FILE = "/etc/kelvaned/kelvaned.toml";
inline constexpr const char* DEFAULT_LISTEN = "127.0.0.1:9420";
inline constexpr int DEFAULT_POLL_INTERVAL_S = 10;
inline constexpr int MIN_POLL_INTERVAL_S = 1;
inline constexpr int MAX_POLL_INTERVAL_S = 3600;
inline constexpr std::size_t MAX_NAME_LENGTH = 64;
inline constexpr int MAX_UNIT = 255;

struct ListenAddress {
    std::string host = "127.0.0.1"; // numeric, without brackets
    int port = 9420;                // 0: any free port (the tests' choice)
    bool Loopback() const;
    // "127.0.0.1:9420", "[::1]:9420".
    std::string Text() const;
};

// Reads "HOST:PORT" with a numeric IPv4 host, or "[IPv6]:PORT"; false with the reason.
bool ParseListen(const std::string& text, ListenAddress& address, std::string& error);

struct MonitorConfig {
    std::string name;
    line::Target target;       // as the user wrote it, for the page and the metrics
    std::optional<int> unit;   // unset: asked at address "0", as Connect does
    int line = 0;              // of its [[monitor]] in the file
    std::size_t lineIndex = 0; // its line in Config::lines
};

struct LineConfig {
    line::Target target; // as the line's first monitor names it
};

struct Config {
    std::string file;
    ListenAddress listen;
    int pollIntervalS = DEFAULT_POLL_INTERVAL_S;
    Timing timing = Timing::Paced;
    std::optional<std::string> tokenFile;
    std::vector<std::string> allowedHosts; // lower case; the names kelvaned answers to besides
                                           // loopback's and the listening address
    std::vector<MonitorConfig> monitors;   // in the file's order
    std::vector<LineConfig> lines;         // in the order of each line's first monitor
    std::map<std::string, int> keyLines;   // the file line of each top-level key given
    // "FILE:LINE: KEY: " for errors found after reading (the token file, for one).
    std::string Where(const std::string& key) const;
};

// Letters, digits and hyphens in dot-separated labels of 1-63, 253 in all: "screens.example.org".
bool ValidHostName(const std::string& name);

// Reads and checks the file; false with the error, which names the file, the line and the key.
bool ReadConfig(const std::string& file, Config& config, std::string& error);
// The same for a text that stands for the file.
bool ParseConfig(std::string_view text, const std::string& file, Config& config,
                 std::string& error);

} // namespace service
