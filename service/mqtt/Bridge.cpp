#include "service/mqtt/Bridge.h"
#include "commands/Report.h"
#include "service/Log.h"
#include "service/View.h"
#include "service/mqtt/Discovery.h"
#include "service/mqtt/Topics.h"

namespace service::mqtt {

namespace {

std::string Dump(const nlohmann::json& json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// What M says of the monitor, without the counters and the time of the last answer: those move
// at every poll, and a change of them alone is no change.
std::string View(const MonitorState& monitor) {
    nlohmann::json view = MonitorJson(monitor);
    view.erase("polls");
    view.erase("failures");
    view.erase("last_ok");
    return Dump(view);
}

} // namespace

MqttSettings Bridge::Settings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

void Bridge::Configure(const MqttSettings& settings) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!settings.SameTopics(m_settings)) {
        for (const auto& [name, shown] : m_shown)
            Clear(name);
        for (const std::string& name : m_removed)
            Clear(name);
        m_shown.clear();
    }
    m_settings = settings;
}

void Bridge::PublishAll(const std::vector<MonitorState>& fleet) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outbox.Publish(Topics(m_settings).Status(), ONLINE, true);
    std::map<std::string, Shown> shown;
    for (const MonitorState& monitor : fleet) {
        PublishState(monitor);
        PublishAvailability(monitor);
        PublishDiscovery(monitor);
        shown[monitor.name] = {View(monitor), monitor.target, monitor.reachable, monitor.firmware};
        m_removed.erase(monitor.name);
    }
    for (const auto& [name, before] : m_shown)
        if (shown.count(name) == 0)
            m_removed.insert(name);
    for (const std::string& name : m_removed)
        Clear(name);
    m_shown = std::move(shown);
}

void Bridge::PublishChanges(const Fleet::Changes& changes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::set<std::string> present;
    for (const MonitorState& monitor : changes.monitors) {
        present.insert(monitor.name);
        const std::string view = View(monitor);
        const auto found = m_shown.find(monitor.name);
        if (found == m_shown.end()) {
            PublishState(monitor);
            PublishAvailability(monitor);
            PublishDiscovery(monitor);
            m_removed.erase(monitor.name);
            m_shown[monitor.name] = {view, monitor.target, monitor.reachable, monitor.firmware};
            continue;
        }
        Shown& shown = found->second;
        if (view != shown.view)
            PublishState(monitor);
        if (monitor.reachable != shown.reachable)
            PublishAvailability(monitor);
        if (monitor.firmware != shown.firmware)
            PublishDiscovery(monitor);
        shown = {view, monitor.target, monitor.reachable, monitor.firmware};
    }
    if (!changes.reconfigured)
        return;
    for (auto shown = m_shown.begin(); shown != m_shown.end();) {
        if (present.count(shown->first) != 0) {
            ++shown;
            continue;
        }
        Clear(shown->first);
        m_removed.insert(shown->first);
        shown = m_shown.erase(shown);
    }
}

Bridge::Heard Bridge::Received(std::string_view topic, std::string_view payload, bool retain) {
    std::string target;
    CommandRead read;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Topics topics(m_settings);
        // The retained status that comes with the subscription is no start: the connect
        // publishes everything anyway.
        if (topics.Discovery() && topic == topics.HomeAssistantStatus())
            return payload == ONLINE && !retain ? Heard::HomeAssistantOnline : Heard::Nothing;
        if (const std::optional<std::string> monitor = topics.MonitorOfState(topic)) {
            if (retain && !payload.empty() && !m_known(*monitor)) {
                Log("mqtt: " + std::string(topic) + ": " + *monitor +
                    " is no monitor of the configuration: what it left is cleared");
                Clear(*monitor);
            }
            return Heard::Nothing;
        }
        if (!m_settings.commands)
            return Heard::Nothing;
        read = ReadCommand(m_settings.topicPrefix, topic, payload);
        if (read.kind == CommandRead::NotACommand)
            return Heard::Nothing;
        if (retain) {
            // A retained command would run again at every connect, and switch a screen back.
            Log("mqtt: " + std::string(topic) + ": a retained command is ignored");
            return Heard::Nothing;
        }
        const auto found = m_shown.find(read.monitor);
        if (found == m_shown.end()) {
            Log("mqtt: " + std::string(topic) + ": no monitor is named " + read.monitor);
            return Heard::Nothing;
        }
        target = found->second.target;
    }
    const Command command = read.request.command;
    if (read.kind == CommandRead::Invalid) {
        Log("mqtt: " + std::string(topic) + ": " + read.error);
        Reply(read.monitor, target, command, protocol::Failure::Invalid, read.error);
        return Heard::Nothing;
    }
    // A queued operation's R goes out with every other operation's, through Ended.
    const Started started =
        m_start(read.monitor, read.request, {"mqtt", "", ""}, [](const OperationRecord&) {});
    if (started == Started::Busy)
        Reply(read.monitor, target, command, protocol::Failure::Busy,
              protocol::FailureWords(protocol::Failure::Busy));
    else if (started == Started::Stopping || started == Started::LetGo)
        Reply(read.monitor, target, command, protocol::Failure::Interrupted,
              CutWords(CutOf(started)));
    return Heard::Nothing;
}

void Bridge::Ended(const OperationRecord& record) {
    Outcome outcome = record.outcome;
    if (record.cut != Cut::No)
        MarkInterrupted(outcome);
    const std::string topic = Topics(Settings()).Result(record.monitor);
    m_outbox.Publish(topic, Dump(ReportJson(record.target, record.command, outcome)), false);
}

void Bridge::Leaving() {
    m_outbox.Publish(Topics(Settings()).Status(), OFFLINE, true);
}

void Bridge::PublishState(const MonitorState& monitor) {
    m_outbox.Publish(Topics(m_settings).State(monitor.name), Dump(MonitorJson(monitor)), true);
}

void Bridge::PublishAvailability(const MonitorState& monitor) {
    m_outbox.Publish(Topics(m_settings).Availability(monitor.name),
                     monitor.reachable ? ONLINE : OFFLINE, true);
}

void Bridge::PublishDiscovery(const MonitorState& monitor) {
    for (const DiscoveryMessage& message : DiscoveryMessages(m_settings, monitor))
        m_outbox.Publish(message.topic, Dump(message.config), true);
}

void Bridge::Clear(const std::string& monitor) {
    const Topics topics(m_settings);
    m_outbox.Publish(topics.State(monitor), "", true);
    m_outbox.Publish(topics.Availability(monitor), "", true);
    MonitorState named;
    named.name = monitor;
    for (const DiscoveryMessage& message : DiscoveryMessages(m_settings, named))
        m_outbox.Publish(message.topic, "", true);
}

void Bridge::Reply(const std::string& monitor, const std::string& target, Command command,
                   protocol::Failure failure, const std::string& message) {
    Outcome outcome;
    outcome.error = failure;
    outcome.message = message;
    m_outbox.Publish(Topics(Settings()).Result(monitor), Dump(ReportJson(target, command, outcome)),
                     false);
}

} // namespace service::mqtt
