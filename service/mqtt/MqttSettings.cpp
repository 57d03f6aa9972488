#include "service/mqtt/MqttSettings.h"
#include <arpa/inet.h>
#include "service/Security.h"

namespace service::mqtt {

bool MqttSettings::SameConnection(const MqttSettings& other) const {
    return address == other.address && clientId == other.clientId && username == other.username &&
           password == other.password && caFile == other.caFile && topicPrefix == other.topicPrefix;
}

bool MqttSettings::SameTopics(const MqttSettings& other) const {
    return topicPrefix == other.topicPrefix && discoveryPrefix == other.discoveryPrefix &&
           commands == other.commands;
}

bool ParseBroker(const std::string& text, BrokerAddress& address, std::string& error) {
    std::string rest;
    if (text.rfind("mqtt://", 0) == 0) {
        address.tls = false;
        rest = text.substr(7);
    } else if (text.rfind("mqtts://", 0) == 0) {
        address.tls = true;
        rest = text.substr(8);
    } else {
        error = "the form is mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
        return false;
    }
    std::string port;
    bool hasPort = false;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        in6_addr scratch{};
        if (close == std::string::npos ||
            ::inet_pton(AF_INET6, rest.substr(1, close - 1).c_str(), &scratch) != 1) {
            error = "an IPv6 address is written in brackets: mqtt://[::1]:1883";
            return false;
        }
        address.host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty() && after[0] != ':') {
            error = "a port follows the address after a colon";
            return false;
        }
        hasPort = !after.empty();
        port = hasPort ? after.substr(1) : "";
    } else {
        const size_t colon = rest.find(':');
        address.host = rest.substr(0, colon);
        hasPort = colon != std::string::npos;
        port = hasPort ? rest.substr(colon + 1) : "";
        if (address.host.empty() ||
            address.host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                           "0123456789.-") != std::string::npos) {
            error = "\"" + address.host + "\" is not a host name or address";
            return false;
        }
    }
    address.port = address.tls ? MQTTS_PORT : MQTT_PORT;
    if (!hasPort)
        return true;
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) < 1 ||
        std::stoi(port) > 65535) {
        error = "the port is a number from 1 to 65535";
        return false;
    }
    address.port = std::stoi(port);
    return true;
}

bool ValidTopicPrefix(const std::string& prefix) {
    if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/' || prefix[0] == '$' ||
        prefix.find("//") != std::string::npos)
        return false;
    for (const char c : prefix)
        if (c <= ' ' || c > '~' || c == '+' || c == '#')
            return false;
    return true;
}

bool LoadMqttPassword(const std::string& file, MqttSettings& settings, std::string& error) {
    settings.password.clear();
    if (!settings.passwordFile)
        return true;
    std::string reason;
    if (LoadToken(*settings.passwordFile, settings.password, reason))
        return true;
    const auto found = settings.lines.find("password_file");
    error = file + ":" + std::to_string(found == settings.lines.end() ? 0 : found->second) +
            ": mqtt.password_file: " + reason;
    return false;
}

} // namespace service::mqtt
