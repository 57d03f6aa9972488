#include "service/mqtt/Topics.h"
#include "core/Sources.h"

namespace service::mqtt {

namespace {

// The payload as a person may read it in a message: printable ASCII as it is, the rest as ?.
std::string Shown(std::string_view payload) {
    std::string shown;
    for (const char c : payload)
        shown += c >= ' ' && c <= '~' ? c : '?';
    return shown;
}

} // namespace

std::vector<std::string> Topics::Subscriptions() const {
    std::vector<std::string> topics{State("+")};
    if (m_commands)
        for (const CommandTopic& command : COMMAND_TOPICS)
            topics.push_back(m_prefix + "/+/" + command.suffix);
    if (Discovery())
        topics.push_back(HomeAssistantStatus());
    return topics;
}

std::optional<std::string> Topics::MonitorOfState(std::string_view topic) const {
    const std::string before = m_prefix + "/";
    const std::string_view after = "/state";
    if (topic.size() <= before.size() + after.size() || topic.substr(0, before.size()) != before ||
        topic.substr(topic.size() - after.size()) != after)
        return std::nullopt;
    const std::string_view monitor =
        topic.substr(before.size(), topic.size() - before.size() - after.size());
    if (monitor.find('/') != std::string_view::npos)
        return std::nullopt;
    return std::string(monitor);
}

CommandRead ReadCommand(const std::string& prefix, std::string_view topic,
                        std::string_view payload) {
    CommandRead read;
    if (topic.size() <= prefix.size() + 1 || topic.substr(0, prefix.size()) != prefix ||
        topic[prefix.size()] != '/')
        return read;
    const std::string_view rest = topic.substr(prefix.size() + 1);
    const size_t slash = rest.find('/');
    if (slash == 0 || slash == std::string_view::npos)
        return read;
    const std::string_view suffix = rest.substr(slash + 1);
    for (const CommandTopic& command : COMMAND_TOPICS) {
        if (suffix != command.suffix)
            continue;
        read.monitor = std::string(rest.substr(0, slash));
        read.request.command = command.command;
        read.kind = CommandRead::Invalid;
        if (payload.size() > MAX_COMMAND_BYTES) {
            read.error = "a command of " + std::to_string(payload.size()) + " bytes: at most " +
                         std::to_string(MAX_COMMAND_BYTES) + " are read";
        } else if (command.payload != nullptr) {
            if (payload == command.payload)
                read.kind = CommandRead::Valid;
            else
                read.error = "\"" + Shown(payload) + "\" is not " + command.payload;
        } else {
            read.request.source = protocol::SourceByName(payload);
            if (read.request.source >= 0)
                read.kind = CommandRead::Valid;
            else
                read.error = "unknown source \"" + Shown(payload) + "\": the sources are " +
                             protocol::SourceChoices();
        }
        return read;
    }
    return read;
}

} // namespace service::mqtt
