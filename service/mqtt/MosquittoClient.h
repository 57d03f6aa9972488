// kelvaned's client of the broker: one libmosquitto handle and the thread that runs its network
// loop, connects, reconnects with back-off, and holds the last will.
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

    // Starts connecting, with the last will "offline" on PREFIX/status. A connect that fails,
    // however it fails (no broker yet, a refusal, a TLS handshake that does not come through), and
    // a connection that is lost, are tried again after 1 s, then after waits doubling up to 60 s;
    // the log says each new reason once.
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
    static void OnLog(mosquitto*, void* self, int level, const char* text);
    // The network thread, until Close: a connect, libmosquitto's loop until the connection ends,
    // and the wait before the next. libmosquitto's own thread would end for good at some of the
    // failures (a refusal, a TLS error), and reconnects with a blocking connect that a close
    // cannot cut: here every connect is asynchronous, and the loop is looked at between its turns.
    void Keep();
    // The loop of one connection: until it ends, the broker refused it, or a close is done;
    // libmosquitto's result.
    int Run();
    // Why the last connect came to nothing, for the log: refused, or never made (libmosquitto's
    // result).
    std::string Failure(int ended) const;
    // The connection that was up is lost: said, and told.
    void Lost(int reason);

    const MqttSettings m_settings;
    const ClientEvents m_events;
    mosquitto* m_handle = nullptr;
    bool m_closed = false;
    bool m_closing = false;               // under m_mutex: ends Keep
    bool m_accepted = false;              // under m_mutex: the broker took the last connect
    std::condition_variable m_closingSet; // m_closing set
    std::thread m_keeper;
    std::atomic<bool> m_connected{false};
    std::mutex m_mutex;
    std::vector<std::string> m_topics; // under m_mutex
    // On the network thread: the broker's refusal of the connect under way, and the error
    // libmosquitto logged for it (OpenSSL's reason of a failed handshake, say).
    std::string m_refusal;
    std::string m_libraryError;
};

} // namespace service::mqtt
