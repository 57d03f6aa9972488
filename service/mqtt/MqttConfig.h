// The [mqtt] table of the configuration file, read by the configuration's reader.
//   ReadMqttTable   every key known, every value checked, every error at its line
#pragma once

#include <optional>
#include <string>
#include <toml++/toml.h>
#include "service/mqtt/MqttSettings.h"

namespace service::mqtt {

// Reads the node of the top-level key "mqtt" of file; false with "FILE:LINE: mqtt.KEY: what is
// wrong".
bool ReadMqttTable(const toml::node& node, const std::string& file,
                   std::optional<MqttSettings>& settings, std::string& error);

} // namespace service::mqtt
