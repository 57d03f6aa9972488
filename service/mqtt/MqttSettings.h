// The [mqtt] section of kelvaned's configuration: where the broker is, who kelvaned is there, and
// the topics it publishes under.
//   BrokerAddress   mqtt://HOST[:PORT] or mqtts://HOST[:PORT], as read
//   MqttSettings    the whole section, with the line each key was read from
//   DEFAULT_*, MQTT_PORT, MQTTS_PORT  the defaults
//   LoadMqttPassword  reads the password file, with the token file's rules
#pragma once

#include <map>
#include <optional>
#include <string>

namespace service::mqtt {

inline constexpr const char* DEFAULT_TOPIC_PREFIX = "kelvane";
inline constexpr const char* DEFAULT_DISCOVERY_PREFIX = "homeassistant";
inline constexpr int MQTT_PORT = 1883;
inline constexpr int MQTTS_PORT = 8883;

struct BrokerAddress {
    bool tls = false;
    std::string host; // a name, or a numeric address without brackets
    int port = MQTT_PORT;
    bool operator==(const BrokerAddress&) const = default;
};

struct MqttSettings {
    std::string broker; // as written: for the log
    BrokerAddress address;
    std::string clientId; // kelvaned-HOSTNAME unless given
    std::optional<std::string> username;
    std::optional<std::string> passwordFile;
    std::optional<std::string> caFile; // mqtts only; without it the system's CAs
    std::string topicPrefix = DEFAULT_TOPIC_PREFIX;
    std::string discoveryPrefix = DEFAULT_DISCOVERY_PREFIX; // empty: no discovery
    bool commands = true;             // false: every command topic is left alone
    std::string password;             // read from passwordFile by LoadMqttPassword
    int line = 0;                     // of [mqtt]
    std::map<std::string, int> lines; // the line of each key given

    // Whether a reload must connect anew: the broker, who kelvaned is there, or its last will
    // (under the topic prefix) changed.
    bool SameConnection(const MqttSettings& other) const;
    // Whether the topics of the messages are the same.
    bool SameTopics(const MqttSettings& other) const;
};

// Reads "mqtt://HOST[:PORT]" or "mqtts://HOST[:PORT]" (an IPv6 address in brackets); false with
// the reason.
bool ParseBroker(const std::string& text, BrokerAddress& address, std::string& error);

// Whether a text can prefix kelvaned's topics: levels of printable ASCII, none empty, without
// the wildcards + and #, not starting with $ (the broker's own).
bool ValidTopicPrefix(const std::string& prefix);

// Reads the password file, when there is one, by the token file's rules; false with the error
// naming the configuration file, the line and the key.
bool LoadMqttPassword(const std::string& file, MqttSettings& settings, std::string& error);

} // namespace service::mqtt
