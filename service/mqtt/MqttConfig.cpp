#include "service/mqtt/MqttConfig.h"
#include <unistd.h>

namespace service::mqtt {

namespace {

constexpr const char* KEYS[] = {"broker",  "client_id",    "username",         "password_file",
                                "ca_file", "topic_prefix", "discovery_prefix", "commands"};
// A client identifier every MQTT 5 broker takes is shorter; mosquitto takes far longer ones.
constexpr std::size_t MAX_CLIENT_ID = 64;

struct Reader {
    const std::string& file;
    std::string& error;

    bool At(const toml::node& node, const std::string& key, const std::string& message) {
        error = file + ":" + std::to_string(node.source().begin.line) + ": mqtt." + key + ": " +
                message;
        return false;
    }
    // A text in quotes; false (with the error) for any other value.
    bool Text(const toml::table& table, const char* key, std::optional<std::string>& value) {
        const toml::node* node = table.get(key);
        if (node == nullptr)
            return true;
        if (!node->is_string())
            return At(*node, key, "a text in quotes is wanted");
        value = node->as_string()->get();
        return true;
    }
    bool Path(const toml::table& table, const char* key, std::optional<std::string>& value) {
        if (!Text(table, key, value))
            return false;
        if (value && (value->empty() || (*value)[0] != '/'))
            return At(*table.get(key), key, "an absolute path is wanted");
        return true;
    }
};

std::string DefaultClientId() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
        return "kelvaned";
    std::string id = std::string("kelvaned-") + host;
    return id.substr(0, MAX_CLIENT_ID);
}

bool Printable(const std::string& text) {
    for (const char c : text)
        if (c <= ' ' || c > '~')
            return false;
    return true;
}

} // namespace

bool ReadMqttTable(const toml::node& node, const std::string& file,
                   std::optional<MqttSettings>& settings, std::string& error) {
    Reader reader{file, error};
    const toml::table* table = node.as_table();
    if (table == nullptr) {
        error = file + ":" + std::to_string(node.source().begin.line) +
                ": mqtt: [mqtt] is a table of settings";
        return false;
    }
    MqttSettings read;
    read.line = static_cast<int>(table->source().begin.line);
    for (auto&& [name, value] : *table) {
        const std::string key(name.str());
        bool known = false;
        for (const char* k : KEYS)
            known = known || key == k;
        if (!known)
            return reader.At(value, key,
                             "unknown key (known: broker, client_id, username, password_file, "
                             "ca_file, topic_prefix, discovery_prefix, commands)");
        read.lines[key] = static_cast<int>(value.source().begin.line);
    }

    std::optional<std::string> text;
    if (!reader.Text(*table, "broker", text))
        return false;
    if (!text) {
        error = file + ":" + std::to_string(read.line) +
                ": mqtt.broker: missing: where is the broker? (mqtt://HOST:1883)";
        return false;
    }
    std::string reason;
    if (!ParseBroker(*text, read.address, reason))
        return reader.At(*table->get("broker"), "broker", "\"" + *text + "\": " + reason);
    read.broker = *text;

    text.reset();
    if (!reader.Text(*table, "client_id", text))
        return false;
    read.clientId = text.value_or(DefaultClientId());
    if (read.clientId.empty() || read.clientId.size() > MAX_CLIENT_ID || !Printable(read.clientId))
        return reader.At(*table->get("client_id"), "client_id",
                         "1-64 printable characters without spaces are wanted");

    if (!reader.Text(*table, "username", read.username))
        return false;
    if (read.username && read.username->empty())
        return reader.At(*table->get("username"), "username", "an empty name is no user");
    if (!reader.Path(*table, "password_file", read.passwordFile) ||
        !reader.Path(*table, "ca_file", read.caFile))
        return false;
    if (read.passwordFile && !read.username)
        return reader.At(*table->get("password_file"), "password_file",
                         "a password needs a username");
    if (read.caFile && !read.address.tls)
        return reader.At(*table->get("ca_file"), "ca_file",
                         "a CA file is for mqtts:// alone; the broker is " + read.broker);

    text.reset();
    if (!reader.Text(*table, "topic_prefix", text))
        return false;
    read.topicPrefix = text.value_or(DEFAULT_TOPIC_PREFIX);
    if (!ValidTopicPrefix(read.topicPrefix))
        return reader.At(*table->get("topic_prefix"), "topic_prefix",
                         "\"" + read.topicPrefix +
                             "\" is no topic prefix: levels apart by /, none empty, without "
                             "spaces, + and #, not starting with $");
    text.reset();
    if (!reader.Text(*table, "discovery_prefix", text))
        return false;
    read.discoveryPrefix = text.value_or(DEFAULT_DISCOVERY_PREFIX);
    if (!read.discoveryPrefix.empty() && !ValidTopicPrefix(read.discoveryPrefix))
        return reader.At(*table->get("discovery_prefix"), "discovery_prefix",
                         "\"" + read.discoveryPrefix +
                             "\" is no topic prefix (\"\" publishes no discovery)");

    if (const toml::node* commands = table->get("commands")) {
        if (!commands->is_boolean())
            return reader.At(*commands, "commands", "true or false is wanted");
        read.commands = commands->as_boolean()->get();
    }
    settings = std::move(read);
    return true;
}

} // namespace service::mqtt
