// Home Assistant's MQTT discovery: one device per monitor, with its entities, each a retained
// JSON message on DISCOVERY/COMPONENT/kelvane_NAME/OBJECT/config.
//   Entity, ENTITIES      the entities of a monitor: component, object, name, what they need
//   DiscoveryMessage      one entity's topic and JSON
//   DiscoveryMessages     a monitor's entities under the settings (the commanded ones only when
//                         commands are taken)
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>
#include "service/Fleet.h"
#include "service/mqtt/MqttSettings.h"

namespace service::mqtt {

struct Entity {
    const char* component;
    const char* object;
    const char* name; // shown after the device's name
    enum Commands { Always, WithCommands, WithoutCommands } commands;
};

// The source is a drop-down when kelvaned takes commands, and a sensor when it does not.
inline constexpr Entity ENTITIES[] = {
    {"select", "source", "Source", Entity::WithCommands},
    {"sensor", "source", "Source", Entity::WithoutCommands},
    {"binary_sensor", "signal", "Signal", Entity::Always},
    {"binary_sensor", "reachable", "Reachable", Entity::Always},
    {"sensor", "firmware", "Firmware", Entity::Always},
    {"button", "reset", "Reset", Entity::WithCommands},
    {"button", "diagnostic", "Diagnostic", Entity::WithCommands},
};

struct DiscoveryMessage {
    std::string topic;
    nlohmann::json config;
};

// The monitor's entities under settings, none when discovery is off. Each device is reached
// through kelvaned, named by its client ID.
std::vector<DiscoveryMessage> DiscoveryMessages(const MqttSettings& settings,
                                                const MonitorState& monitor);

} // namespace service::mqtt
