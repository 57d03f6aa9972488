// The bridge's topics and the commands that come on them, written once.
//   Topics, ONLINE, OFFLINE    every topic under the settings' prefixes, and the status words
//   CommandTopic, COMMAND_TOPICS  the command topics: a suffix, its command, its payload
//   MAX_COMMAND_BYTES          the longest payload a command is read from
//   CommandRead, ReadCommand   what a message on a command topic asks
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include "commands/Commands.h"
#include "core/Vocabulary.h"
#include "service/mqtt/MqttSettings.h"

namespace service::mqtt {

inline constexpr const char* ONLINE = "online";
inline constexpr const char* OFFLINE = "offline";

struct CommandTopic {
    const char* suffix; // after PREFIX/NAME/
    Command command;
    const char* payload; // the one payload taken; null: a source's name (any case)
};
inline constexpr CommandTopic COMMAND_TOPICS[] = {
    {"source/set", Command::Source, nullptr},
    {"reset/press", Command::Reset, "PRESS"},
    {"diagnostic/press", Command::Diagnostic, "PRESS"},
};

// A source's name or PRESS is a few bytes; anything longer is no command and is not read.
inline constexpr std::size_t MAX_COMMAND_BYTES = 64;

class Topics {
public:
    explicit Topics(const MqttSettings& settings)
        : m_prefix(settings.topicPrefix), m_discovery(settings.discoveryPrefix),
          m_commands(settings.commands) {}

    std::string Status() const { return m_prefix + "/status"; }
    std::string State(const std::string& monitor) const { return Of(monitor, "state"); }
    std::string Availability(const std::string& monitor) const {
        return Of(monitor, "availability");
    }
    std::string Result(const std::string& monitor) const { return Of(monitor, "result"); }
    std::string Of(const std::string& monitor, std::string_view suffix) const {
        return m_prefix + "/" + monitor + "/" + std::string(suffix);
    }
    // Whether discovery messages are published at all.
    bool Discovery() const { return !m_discovery.empty(); }
    // DISCOVERY/COMPONENT/kelvane_NAME/OBJECT/config.
    std::string DiscoveryConfig(const char* component, const std::string& monitor,
                                const char* object) const {
        return m_discovery + "/" + component + "/kelvane_" + monitor + "/" + object + "/config";
    }
    // Where Home Assistant says it has started ("online").
    std::string HomeAssistantStatus() const { return m_discovery + "/status"; }
    // What the bridge subscribes to: every monitor's state (to find those of monitors this
    // kelvaned no longer has), the command topics (unless commands are off) and Home Assistant's
    // status (unless there is no discovery).
    std::vector<std::string> Subscriptions() const;
    // The monitor whose state topic this is; none when it is no state topic.
    std::optional<std::string> MonitorOfState(std::string_view topic) const;

    const std::string& Prefix() const { return m_prefix; }

private:
    std::string m_prefix;
    std::string m_discovery;
    bool m_commands;
};

struct CommandRead {
    enum Kind { NotACommand, Valid, Invalid } kind = NotACommand;
    std::string monitor;
    Request request;   // Valid: the operation; Invalid: its command
    std::string error; // Invalid: why, for a person
};

// What a message on topic asks: no command (another topic), an operation on a monitor, or a
// command that cannot be run, with the reason. The payload is read only up to
// MAX_COMMAND_BYTES.
CommandRead ReadCommand(const std::string& prefix, std::string_view topic,
                        std::string_view payload);

} // namespace service::mqtt
