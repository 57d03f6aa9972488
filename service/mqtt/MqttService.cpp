#include "service/mqtt/MqttService.h"
#include <utility>
#include "service/mqtt/Topics.h"

namespace service::mqtt {

MqttService::MqttService(Fleet& fleet, Operations& operations)
    : m_fleet(fleet), m_operations(operations) {
    // Called on the thread that changed the fleet: it only wakes the bridge's thread.
    m_fleet.AddChangeListener([this] { Wake(false); });
    m_operations.AddListener([this](const OperationRecord& record) {
        std::shared_ptr<Bridge> bridge;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            bridge = m_bridge;
        }
        if (bridge)
            bridge->Ended(record);
    });
    m_thread = std::thread([this] { Run(); });
}

MqttService::~MqttService() {
    Stop();
}

void MqttService::Wake(bool everything) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bridge)
            return;
        m_changed = true;
        m_everything = m_everything || everything;
    }
    m_wake.notify_one();
}

void MqttService::Publish(const std::string& topic, const std::string& payload, bool retain) {
    std::shared_ptr<MosquittoClient> client;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        client = m_client;
    }
    if (client)
        client->Publish(topic, payload, retain);
}

void MqttService::Connect(const MqttSettings& settings) {
    ClientEvents events;
    events.connected = [this] {
        m_fleet.SetBrokerConnected(true);
        Wake(true);
    };
    events.lost = [this] {
        m_fleet.SetBrokerConnected(false);
    };
    events.message = [this](std::string_view topic, std::string_view payload, bool retain) {
        m_fleet.CountBrokerMessage(false);
        std::shared_ptr<Bridge> bridge;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            bridge = m_bridge;
        }
        if (bridge &&
            bridge->Received(topic, payload, retain) == Bridge::Heard::HomeAssistantOnline)
            Wake(true);
    };
    events.published = [this] {
        m_fleet.CountBrokerMessage(true);
    };
    auto client = std::make_shared<MosquittoClient>(settings, std::move(events));
    client->Subscribe(Topics(settings).Subscriptions());
    // Where the bridge publishes before the first connect can tell it so.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_client = client;
    }
    client->Start();
}

void MqttService::Close(std::shared_ptr<MosquittoClient> client) {
    if (client)
        client->Close();
}

void MqttService::Apply(const std::optional<MqttSettings>& settings) {
    std::shared_ptr<Bridge> bridge;
    std::shared_ptr<MosquittoClient> client;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bridge = m_bridge;
        client = m_client;
    }
    if (!settings) {
        if (!bridge)
            return;
        bridge->Leaving();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bridge.reset();
            m_client.reset();
        }
        Close(client);
        m_fleet.SetBrokerConfigured(false);
        return;
    }
    if (!bridge) {
        bridge = std::make_shared<Bridge>(
            static_cast<Outbox&>(*this),
            [this](const std::string& monitor, const Request& request, const Requester& requester,
                   Operations::Done done) {
                return m_operations.Start(monitor, request, requester, std::move(done));
            },
            [this](const std::string& monitor) { return m_fleet.Find(monitor).has_value(); },
            *settings);
        m_fleet.SetBrokerConfigured(true);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bridge = bridge;
        }
        Connect(*settings);
        return;
    }
    const MqttSettings before = bridge->Settings();
    if (before.SameConnection(*settings)) {
        bridge->Configure(*settings);
        client->Subscribe(Topics(*settings).Subscriptions());
        Wake(true);
        return;
    }
    // The old connection says offline and clears what the new topics no longer hold.
    bridge->Leaving();
    bridge->Configure(*settings);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_client.reset();
    }
    Close(client);
    m_fleet.SetBrokerConnected(false);
    Connect(*settings);
}

void MqttService::Stop() {
    Apply(std::nullopt);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void MqttService::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_stop || m_changed; });
        if (m_stop)
            return;
        const bool everything = std::exchange(m_everything, false);
        m_changed = false;
        const std::shared_ptr<Bridge> bridge = m_bridge;
        lock.unlock();
        if (bridge && everything) {
            const std::vector<MonitorState> fleet = m_fleet.Snapshot(&m_seen);
            bridge->PublishAll(fleet);
        } else if (bridge) {
            const Fleet::Changes changes = m_fleet.ChangedSince(m_seen);
            m_seen = changes.version;
            bridge->PublishChanges(changes);
        }
        lock.lock();
    }
}

} // namespace service::mqtt
