// The keys are Home Assistant's: each entity reads the monitor's state message (M) through a
// template, and is available while kelvaned is online and the monitor answers.
#include "service/mqtt/Discovery.h"
#include "core/Sources.h"
#include "res/Version.h"
#include "service/mqtt/Topics.h"

namespace service::mqtt {

namespace {

using nlohmann::json;

// Home Assistant reads "None" from a template as a value not known.
constexpr const char* SOURCE_TEMPLATE = "{{ value_json.source }}";
constexpr const char* SIGNAL_TEMPLATE =
    "{{ {'ok': 'ON', 'none': 'OFF'}.get(value_json.signal, 'None') }}";
constexpr const char* REACHABLE_TEMPLATE = "{{ 'ON' if value_json.reachable else 'OFF' }}";
constexpr const char* FIRMWARE_TEMPLATE = "{{ value_json.firmware }}";

bool Shown(const Entity& entity, bool commands) {
    return entity.commands == Entity::Always ||
           (entity.commands == Entity::WithCommands) == commands;
}

json Device(const MqttSettings& settings, const MonitorState& monitor) {
    json device = {
        {"identifiers", {"kelvane_" + monitor.name}},
        {"name", monitor.name},
        {"manufacturer", "Orvanta"},
        {"model", "RS-232 display monitor"},
        {"via_device", settings.clientId},
    };
    if (monitor.firmware)
        device["sw_version"] = *monitor.firmware;
    return device;
}

// What one entity adds to the keys every entity has.
void Specific(const Entity& entity, const Topics& topics, const std::string& name, json& config) {
    const std::string object = entity.object;
    if (object == "source") {
        config["state_topic"] = topics.State(name);
        config["value_template"] = SOURCE_TEMPLATE;
        if (std::string(entity.component) == "select") {
            config["command_topic"] = topics.Of(name, "source/set");
            json options = json::array();
            for (const protocol::InputSource& source : protocol::SOURCES)
                options.push_back(source.name);
            config["options"] = options;
        }
    } else if (object == "signal") {
        config["state_topic"] = topics.State(name);
        config["value_template"] = SIGNAL_TEMPLATE;
    } else if (object == "reachable") {
        config["state_topic"] = topics.State(name);
        config["value_template"] = REACHABLE_TEMPLATE;
        config["device_class"] = "connectivity";
        // Unavailable exactly when it would say "off": only kelvaned's own status counts.
        config["availability"] = json::array({{{"topic", topics.Status()}}});
    } else if (object == "firmware") {
        config["state_topic"] = topics.State(name);
        config["value_template"] = FIRMWARE_TEMPLATE;
        config["entity_category"] = "diagnostic";
    } else {
        config["command_topic"] = topics.Of(name, object + "/press");
        config["entity_category"] = "config";
    }
}

} // namespace

std::vector<DiscoveryMessage> DiscoveryMessages(const MqttSettings& settings,
                                                const MonitorState& monitor) {
    const Topics topics(settings);
    std::vector<DiscoveryMessage> messages;
    if (!topics.Discovery())
        return messages;
    for (const Entity& entity : ENTITIES) {
        if (!Shown(entity, settings.commands))
            continue;
        json config = {
            {"unique_id", "kelvane_" + monitor.name + "_" + entity.object},
            {"name", entity.name},
            {"availability", json::array({{{"topic", topics.Status()}},
                                          {{"topic", topics.Availability(monitor.name)}}})},
            {"availability_mode", "all"},
            {"device", Device(settings, monitor)},
            {"origin", {{"name", "kelvaned"}, {"sw_version", KELVANE_VERSION_TEXT}}},
        };
        Specific(entity, topics, monitor.name, config);
        messages.push_back(
            {topics.DiscoveryConfig(entity.component, monitor.name, entity.object), config});
    }
    return messages;
}

} // namespace service::mqtt
