// libmosquitto does the protocol: the framing, the keep-alive, TLS and MQTT 5; its loop runs on
// the client's network thread, which connects and reconnects. The callbacks come on that thread;
// publishing is safe from any thread.
#include "service/mqtt/MosquittoClient.h"
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>
#include "service/Log.h"
#include "service/mqtt/Topics.h"

namespace service::mqtt {

namespace {

constexpr int KEEP_ALIVE_S = 30;
constexpr unsigned RECONNECT_FIRST_S = 1;
constexpr unsigned RECONNECT_MOST_S = 60;
// A turn of the loop waits this long at most for the socket, and so does a close before the
// loop sees it while a connect is under way (connected, the close wakes the loop at once).
constexpr int LOOP_WAIT_MS = 200;
// A close waits this long at most for what is queued and the DISCONNECT to go out.
constexpr auto CLOSE_LIMIT = std::chrono::seconds(2);
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
    // A broker that takes the connection and then says nothing; libmosquitto has no words for it.
    if (rc == MOSQ_ERR_KEEPALIVE)
        return "no answer from the broker within the keep-alive of " +
               std::to_string(KEEP_ALIVE_S) + " s";
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
    // Publishing from the other threads hands the message to the loop, and wakes it.
    mosquitto_threaded_set(m_handle, true);
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
    mosquitto_log_callback_set(m_handle, OnLog);
}

void MosquittoClient::Start() {
    if (m_handle == nullptr)
        return;
    Log("mqtt: connecting to " + m_settings.broker + " as " + m_settings.clientId);
    m_keeper = std::thread([this] { Keep(); });
}

void MosquittoClient::Keep() {
    std::chrono::seconds wait{RECONNECT_FIRST_S};
    std::string told; // the last failure logged: each is said once, not at every try
    while (true) {
        m_refusal.clear();
        m_libraryError.clear();
        const int rc = mosquitto_connect_async(m_handle, m_settings.address.host.c_str(),
                                               m_settings.address.port, KEEP_ALIVE_S);
        const int ended = rc == MOSQ_ERR_SUCCESS ? Run() : rc;
        // A refused connection is ended here, so that the next connect begins afresh.
        mosquitto_disconnect(m_handle);
        Lost(ended);
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_closing)
            return;
        if (std::exchange(m_accepted, false)) {
            // It was up: the loss was said, and the next try is soon.
            wait = std::chrono::seconds(RECONNECT_FIRST_S);
            told.clear();
        } else {
            std::string why = Failure(ended);
            if (why != told)
                Log("mqtt: " + m_settings.broker + " " + why + "; trying again after " +
                    std::to_string(wait.count()) + " s, then after waits doubling up to " +
                    std::to_string(RECONNECT_MOST_S) + " s");
            told = std::move(why);
        }
        m_closingSet.wait_for(lock, wait, [this] { return m_closing; });
        if (m_closing)
            return;
        wait = std::min(wait * 2, std::chrono::seconds(RECONNECT_MOST_S));
    }
}

std::string MosquittoClient::Failure(int ended) const {
    if (!m_refusal.empty())
        return "refused the connection: " + m_refusal;
    return "cannot be reached yet (" + ErrorText(ended) + (m_libraryError.empty() ? "" : " ") +
           m_libraryError + ")";
}

int MosquittoClient::Run() {
    std::optional<std::chrono::steady_clock::time_point> closeBy;
    while (true) {
        const int rc = mosquitto_loop(m_handle, LOOP_WAIT_MS, 1);
        if (rc != MOSQ_ERR_SUCCESS || !m_refusal.empty())
            return rc;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_closing)
            continue;
        // Closing: what is queued and the DISCONNECT go out while connected, within a bound.
        const auto now = std::chrono::steady_clock::now();
        if (!m_connected || (closeBy && now > *closeBy))
            return rc;
        if (!closeBy)
            closeBy = now + CLOSE_LIMIT;
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
    // Connected, the DISCONNECT is queued and the loop woken: it sends it after what waits.
    mosquitto_disconnect(m_handle);
    if (m_keeper.joinable())
        m_keeper.join();
    m_connected = false;
}

void MosquittoClient::OnConnect(mosquitto* handle, void* self, int reason, int,
                                const mosquitto_property*) {
    auto& client = *static_cast<MosquittoClient*>(self);
    if (reason != 0) {
        // Refused (a wrong password, say): the loop ends, and Keep says why.
        client.m_refusal = mosquitto_reason_string(reason);
        return;
    }
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
    static_cast<MosquittoClient*>(self)->Lost(reason);
}

void MosquittoClient::Lost(int reason) {
    if (!m_connected.exchange(false))
        return;
    if (reason != 0)
        Log("mqtt: the connection to " + m_settings.broker + " is lost (" + ErrorText(reason) +
            "); connecting again");
    m_events.lost();
}

void MosquittoClient::OnLog(mosquitto*, void* self, int level, const char* text) {
    if (level == MOSQ_LOG_ERR)
        static_cast<MosquittoClient*>(self)->m_libraryError = text;
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
