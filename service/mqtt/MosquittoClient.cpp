// libmosquitto does the protocol: the framing, the keep-alive, the reconnect with back-off, TLS
// and MQTT 5. Its callbacks come on its network thread; publishing is safe from any thread.
#include "service/mqtt/MosquittoClient.h"
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <utility>
#include "service/Log.h"
#include "service/mqtt/Topics.h"

namespace service::mqtt {

namespace {

constexpr int KEEP_ALIVE_S = 30;
constexpr unsigned RECONNECT_FIRST_S = 1;
constexpr unsigned RECONNECT_MOST_S = 60;
// State is published again whole at every connect, so a message lost with a connection costs
// nothing: at most once is enough. The last will is held by the broker: at least once.
constexpr int QOS_STATE = 0;
constexpr int QOS_WILL = 1;
// Commands are asked for at least once; the flag retain as published lets a retained command be
// told from a live one.
constexpr int QOS_COMMANDS = 1;
// Where Debian keeps the system's CA certificates.
constexpr const char* SYSTEM_CA_PATH = "/etc/ssl/certs";

std::string ErrorText(int rc) {
    if (rc == MOSQ_ERR_ERRNO)
        return std::strerror(errno);
    return mosquitto_strerror(rc);
}

// What kelvaned publishes itself does not come back to it.
void Subscribe(mosquitto* handle, const std::string& topic) {
    mosquitto_subscribe_v5(handle, nullptr, topic.c_str(), QOS_COMMANDS,
                           MQTT_SUB_OPT_NO_LOCAL | MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
}

} // namespace

MosquittoClient::MosquittoClient(const MqttSettings& settings, ClientEvents events)
    : m_settings(settings), m_events(std::move(events)) {
    static std::once_flag initialized;
    std::call_once(initialized, [] { mosquitto_lib_init(); });
    m_handle = mosquitto_new(settings.clientId.c_str(), true, this);
    if (m_handle == nullptr) {
        Log("mqtt: no client can be made: " + std::string(std::strerror(errno)));
        return;
    }
    mosquitto_int_option(m_handle, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_reconnect_delay_set(m_handle, RECONNECT_FIRST_S, RECONNECT_MOST_S, true);
    const std::string will = Topics(settings).Status();
    mosquitto_will_set_v5(m_handle, will.c_str(), static_cast<int>(std::strlen(OFFLINE)), OFFLINE,
                          QOS_WILL, true, nullptr);
    if (settings.username)
        mosquitto_username_pw_set(m_handle, settings.username->c_str(),
                                  settings.passwordFile ? settings.password.c_str() : nullptr);
    if (settings.address.tls) {
        const int rc = mosquitto_tls_set(
            m_handle, settings.caFile ? settings.caFile->c_str() : nullptr,
            settings.caFile ? nullptr : SYSTEM_CA_PATH, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            Log("mqtt: TLS cannot be set up: " + ErrorText(rc));
    }
    mosquitto_connect_v5_callback_set(m_handle, OnConnect);
    mosquitto_disconnect_v5_callback_set(m_handle, OnDisconnect);
    mosquitto_message_v5_callback_set(m_handle, OnMessage);
    mosquitto_publish_callback_set(m_handle, OnPublish);
}

void MosquittoClient::Start() {
    if (m_handle == nullptr)
        return;
    Log("mqtt: connecting to " + m_settings.broker + " as " + m_settings.clientId);
    m_keeper = std::thread([this] { Keep(); });
}

void MosquittoClient::Keep() {
    std::chrono::seconds wait{RECONNECT_FIRST_S};
    bool told = false;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_closing) {
        if (m_looping) {
            m_closingSet.wait(lock, [this] { return m_closing || m_refused; });
            if (m_closing)
                return;
            m_refused = false;
            if (std::exchange(m_accepted, false))
                wait = std::chrono::seconds(RECONNECT_FIRST_S);
            lock.unlock();
            // The network thread has ended, or would try again at its own pace: it is stopped,
            // and the next connect made here.
            mosquitto_disconnect(m_handle);
            mosquitto_loop_stop(m_handle, false);
            lock.lock();
            m_looping = false;
        } else {
            lock.unlock();
            const int rc = mosquitto_connect_async(m_handle, m_settings.address.host.c_str(),
                                                   m_settings.address.port, KEEP_ALIVE_S);
            const std::string why = rc == MOSQ_ERR_SUCCESS ? "" : ErrorText(rc);
            lock.lock();
            if (rc == MOSQ_ERR_SUCCESS) {
                m_looping = mosquitto_loop_start(m_handle) == MOSQ_ERR_SUCCESS;
                if (!m_looping)
                    return;
                continue;
            }
            if (!told)
                Log("mqtt: " + m_settings.broker + " cannot be reached yet (" + why +
                    "); trying again after 1 s, then after waits doubling up to 60 s");
            told = true;
        }
        m_closingSet.wait_for(lock, wait, [this] { return m_closing; });
        wait = std::min(wait * 2, std::chrono::seconds(RECONNECT_MOST_S));
    }
}

MosquittoClient::~MosquittoClient() {
    Close();
    if (m_handle != nullptr)
        mosquitto_destroy(m_handle);
}

void MosquittoClient::Publish(const std::string& topic, const std::string& payload, bool retain) {
    if (!m_connected || m_handle == nullptr)
        return;
    mosquitto_publish(m_handle, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                      payload.data(), QOS_STATE, retain);
}

void MosquittoClient::Subscribe(const std::vector<std::string>& topics) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_connected && m_handle != nullptr) {
        for (const std::string& topic : m_topics)
            if (std::find(topics.begin(), topics.end(), topic) == topics.end())
                mosquitto_unsubscribe(m_handle, nullptr, topic.c_str());
        for (const std::string& topic : topics)
            if (std::find(m_topics.begin(), m_topics.end(), topic) == m_topics.end())
                mqtt::Subscribe(m_handle, topic);
    }
    m_topics = topics;
}

void MosquittoClient::Close() {
    if (m_closed || m_handle == nullptr)
        return;
    m_closed = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_closingSet.notify_all();
    if (m_keeper.joinable())
        m_keeper.join();
    const bool connected = m_connected;
    mosquitto_disconnect(m_handle);
    // Connected, the network thread sends what is queued and the disconnect, then ends. Not
    // connected, it may be inside a connect that takes as long as the system's TCP timeout: it
    // is cut there.
    if (m_looping)
        mosquitto_loop_stop(m_handle, !connected);
    m_connected = false;
}

void MosquittoClient::OnConnect(mosquitto* handle, void* self, int reason, int,
                                const mosquitto_property*) {
    auto& client = *static_cast<MosquittoClient*>(self);
    if (reason != 0) {
        // Refused (a wrong password, say): said once, not at every try.
        const std::string why = mosquitto_reason_string(reason);
        if (why != client.m_refusal)
            Log("mqtt: " + client.m_settings.broker + " refused the connection: " + why +
                "; trying again after waits doubling up to 60 s");
        client.m_refusal = why;
        {
            std::lock_guard<std::mutex> lock(client.m_mutex);
            client.m_refused = true;
        }
        client.m_closingSet.notify_all();
        return;
    }
    client.m_refusal.clear();
    {
        std::lock_guard<std::mutex> lock(client.m_mutex);
        for (const std::string& topic : client.m_topics)
            mqtt::Subscribe(handle, topic);
        client.m_connected = true;
        client.m_accepted = true;
    }
    Log("mqtt: connected to " + client.m_settings.broker);
    client.m_events.connected();
}

void MosquittoClient::OnDisconnect(mosquitto*, void* self, int reason, const mosquitto_property*) {
    auto& client = *static_cast<MosquittoClient*>(self);
    if (!client.m_connected.exchange(false))
        return;
    if (reason != 0)
        Log("mqtt: the connection to " + client.m_settings.broker + " is lost (" +
            ErrorText(reason) + "); connecting again");
    client.m_events.lost();
}

void MosquittoClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message,
                                const mosquitto_property*) {
    auto& client = *static_cast<MosquittoClient*>(self);
    const std::string_view payload(static_cast<const char*>(message->payload),
                                   message->payload == nullptr ? 0 : message->payloadlen);
    client.m_events.message(message->topic, payload, message->retain);
}

void MosquittoClient::OnPublish(mosquitto*, void* self, int) {
    static_cast<MosquittoClient*>(self)->m_events.published();
}

} // namespace service::mqtt
