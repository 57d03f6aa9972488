// kelvaned's client of the broker: one libmosquitto handle with its own network thread, which
// connects, reconnects with back-off, and holds the last will.
//   ClientEvents     what the client tells, each on the network thread
//   MosquittoClient  connects at its making; publishes, subscribes, and closes
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>
#include "service/mqtt/MqttSettings.h"

struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;

namespace service::mqtt {

struct ClientEvents {
    std::function<void()> connected; // subscribed anew: publish everything
    std::function<void()> lost;
    std::function<void(std::string_view topic, std::string_view payload, bool retain)> message;
    std::function<void()> published; // one message went out
};

class MosquittoClient {
public:
    MosquittoClient(const MqttSettings& settings, ClientEvents events);
    // Closes first, when Close was not called.
    ~MosquittoClient();
    MosquittoClient(const MosquittoClient&) = delete;
    MosquittoClient& operator=(const MosquittoClient&) = delete;

    // Starts connecting, with the last will "offline" on PREFIX/status. A broker that is not
    // there yet, or that refuses the connect, is tried again after 1 s, then after waits doubling
    // up to 60 s; once connected, libmosquitto's network thread keeps the connection and
    // reconnects with its own back-off.
    void Start();
    // Publishes while connected; drops the message otherwise.
    void Publish(const std::string& topic, const std::string& payload, bool retain);
    // The topics subscribed to at every connect: the new ones subscribed and the old ones left
    // at once when connected.
    void Subscribe(const std::vector<std::string>& topics);
    // Sends what is queued (a message published just before), disconnects cleanly (no last will)
    // and ends the network thread.
    void Close();

private:
    static void OnConnect(mosquitto*, void* self, int reason, int flags, const mosquitto_property*);
    static void OnDisconnect(mosquitto*, void* self, int reason, const mosquitto_property*);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message,
                          const mosquitto_property*);
    static void OnPublish(mosquitto*, void* self, int mid);
    // The connects libmosquitto does not make: its network thread ends when it starts without a
    // connection, and when the broker refuses one (a wrong password, say). Those are tried here,
    // after waits doubling from 1 s up to 60 s, and the network thread started once one is made;
    // until Close.
    void Keep();

    const MqttSettings m_settings;
    const ClientEvents m_events;
    mosquitto* m_handle = nullptr;
    bool m_looping = false; // under m_mutex
    bool m_closed = false;
    bool m_closing = false;               // under m_mutex: ends Keep
    bool m_refused = false;               // under m_mutex: the broker refused a connect
    bool m_accepted = false;              // under m_mutex: it accepted one since Keep last looked
    std::condition_variable m_closingSet; // m_closing or m_refused set
    std::thread m_keeper;
    std::atomic<bool> m_connected{false};
    std::mutex m_mutex;
    std::vector<std::string> m_topics; // under m_mutex
    std::string m_refusal;             // the last refusal logged, on the network thread
};

} // namespace service::mqtt
