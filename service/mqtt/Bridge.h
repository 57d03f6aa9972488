// The MQTT bridge's rules, apart from the broker's client and the threads: what is published when
// the broker connects, when the fleet changes and when an operation ends, and what a message on
// a command topic starts. Tested with a recording outbox and a fake starter.
//   Outbox    where the bridge's messages go: the broker's client, or a test's recorder
//   Starter   how a command becomes an operation: Operations::Start, or a test's
//   Bridge    the published state of every monitor, and the commands
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>
#include "service/Fleet.h"
#include "service/Operations.h"
#include "service/mqtt/MqttSettings.h"

namespace service::mqtt {

class Outbox {
public:
    virtual ~Outbox() = default;
    // Sends one message; while there is no connection it is dropped (the next connect publishes
    // everything again). An empty retained payload clears the topic's retained message.
    virtual void Publish(const std::string& topic, const std::string& payload, bool retain) = 0;
};

using Starter = std::function<Started(const std::string& monitor, const Request& request,
                                      const Requester& requester, Operations::Done done)>;
// Whether the configuration in force has a monitor of this name: the fleet's, or a test's.
using Known = std::function<bool(const std::string& monitor)>;

class Bridge {
public:
    Bridge(Outbox& outbox, Starter start, Known known, const MqttSettings& settings)
        : m_outbox(outbox), m_start(std::move(start)), m_known(std::move(known)),
          m_settings(settings) {}

    MqttSettings Settings() const;
    // Takes new settings. When their topics differ, what was published under the old ones is
    // cleared first; the next PublishAll publishes everything under the new ones.
    void Configure(const MqttSettings& settings);

    // Everything, at a connect and when Home Assistant starts: kelvaned online, and each
    // monitor's state, availability and discovery; the monitors removed are cleared again.
    void PublishAll(const std::vector<MonitorState>& fleet);
    // What the fleet's changes change: a monitor's state when what M says of it changed (its
    // availability when its reachability did), its discovery when it is new or its firmware
    // changed; a monitor a configuration removed is cleared.
    void PublishChanges(const Fleet::Changes& changes);

    enum class Heard { Nothing, HomeAssistantOnline };
    // A message from the broker: a command is started, or answered on its monitor's result topic
    // when it cannot run; Home Assistant's "online" asks for everything again; the retained state
    // of a monitor the configuration does not have (one taken out while kelvaned was not
    // running: a reload clears its own) is cleared with everything else it left.
    Heard Received(std::string_view topic, std::string_view payload, bool retain);
    // Publishes an operation's R on its monitor's result topic, whoever asked for it.
    void Ended(const OperationRecord& record);
    // kelvaned offline, before a clean stop or a new connection.
    void Leaving();

private:
    // What was published of a monitor.
    struct Shown {
        std::string view; // M without what moves at every poll
        std::string target;
        bool reachable = false;
        std::optional<std::string> firmware;
    };
    void PublishState(const MonitorState& monitor);
    void PublishAvailability(const MonitorState& monitor);
    void PublishDiscovery(const MonitorState& monitor);
    // Empties every retained message of the monitor.
    void Clear(const std::string& monitor);
    void Reply(const std::string& monitor, const std::string& target, Command command,
               protocol::Failure failure, const std::string& message);

    mutable std::mutex m_mutex;
    Outbox& m_outbox;
    const Starter m_start;
    const Known m_known;
    MqttSettings m_settings;
    std::map<std::string, Shown> m_shown;
    // Monitors a configuration removed: cleared again at every connect, in case the broker was
    // away when they went.
    std::set<std::string> m_removed;
};

} // namespace service::mqtt
