// The MQTT bridge in kelvaned: the bridge's rules, the broker's client, and a thread of the
// bridge's own that publishes the fleet's changes (a worker that changes the fleet never waits
// for the broker).
//   MqttService   starts, reconfigures and stops the bridge from the configuration's [mqtt]
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include "service/Fleet.h"
#include "service/Operations.h"
#include "service/mqtt/Bridge.h"
#include "service/mqtt/MosquittoClient.h"
#include "service/mqtt/MqttSettings.h"

namespace service::mqtt {

class MqttService final : private Outbox {
public:
    // Listens to the fleet's changes and the operations' ends for as long as they come: it must
    // outlive the workers and the server (kelvaned stops those first).
    MqttService(Fleet& fleet, Operations& operations);
    ~MqttService();
    MqttService(const MqttService&) = delete;
    MqttService& operator=(const MqttService&) = delete;

    // Takes the [mqtt] section of a configuration, the first or a reloaded one. None: no bridge
    // (kelvaned says offline first). New connection settings: kelvaned says offline and connects
    // anew; other changes keep the connection.
    void Apply(const std::optional<MqttSettings>& settings);
    // Says offline, disconnects and ends the bridge's thread.
    void Stop();

private:
    void Publish(const std::string& topic, const std::string& payload, bool retain) override;
    // Makes the client of the settings, the one the bridge publishes through, and starts it.
    void Connect(const MqttSettings& settings);
    // Closes a client with no lock held: its network thread may be in a callback that waits for
    // one.
    static void Close(std::shared_ptr<MosquittoClient> client);
    void Run();
    void Wake(bool everything);

    Fleet& m_fleet;
    Operations& m_operations;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::shared_ptr<Bridge> m_bridge;          // null without [mqtt]
    std::shared_ptr<MosquittoClient> m_client; // null without [mqtt]
    bool m_changed = false;                    // the fleet changed since the thread last looked
    bool m_everything = false; // connected, or Home Assistant started: publish everything
    bool m_stop = false;
    std::uint64_t m_seen = 0; // the fleet's version the thread last published; its own
    std::thread m_thread;
};

} // namespace service::mqtt
