// kelvaned's HTTP server: libmicrohttpd's event loop, one thread of its own with epoll, reading
// every connection. A connection, a request waiting for an operation and an event stream each
// cost memory, never a thread; each bound of Limits.h is kept here, before the application sees
// the request.
//   Handler   the application: what it makes of a request's head
//   Server    serves a listening socket until stopped
#pragma once

#include <microhttpd.h>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include "service/http/Message.h"
#include "service/http/Streams.h"

namespace service::http {

class Handler {
public:
    virtual ~Handler() = default;
    // The reply to a request whose head has come (the body, if any, not read yet). Called on the
    // event loop's thread: it must not wait. A refusal (status 400 and up) goes at once, and the
    // connection is closed after it without reading more.
    virtual Reply Answer(const Request& head) = 0;
};

class Server {
public:
    explicit Server(Handler& handler) : m_handler(handler) {}
    // Stops.
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Serves the listening socket, which is the server's from here on; false with the reason.
    bool Start(int listening, std::string& error);
    // Asks every event stream for its text again (something may have changed); from any thread.
    void WakeStreams() { m_streams.Wake(); }
    // Takes no new connection, ends the event streams, answers 503 to the requests still waiting
    // for their operation, gives the answers under way a moment to go out, and closes every
    // connection. From another thread than the event loop's.
    void Stop();

    struct Exchange;
    struct Waiting;

private:
    static MHD_Result OnAccept(void* cls, const sockaddr* address, socklen_t length);
    static void OnConnection(void* cls, MHD_Connection* connection, void** socket,
                             MHD_ConnectionNotificationCode code);
    static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url,
                                const char* method, const char* version, const char* upload,
                                std::size_t* uploadSize, void** context);
    static void OnCompleted(void* cls, MHD_Connection* connection, void** context,
                            MHD_RequestTerminationCode code);

    MHD_Result Begin(MHD_Connection* connection, Exchange& exchange, const char* url,
                     const char* method);
    MHD_Result Take(MHD_Connection* connection, Exchange& exchange);
    MHD_Result Wait(MHD_Connection* connection, Exchange& exchange);
    MHD_Result OpenStream(MHD_Connection* connection, Exchange& exchange);
    Completion CompletionOf(const std::shared_ptr<Waiting>& waiting);

    Handler& m_handler;
    MHD_Daemon* m_daemon = nullptr;
    int m_listening = -1;
    unsigned m_connections = 0; // the event loop's own
    EventStreams m_streams;

    std::mutex m_mutex;
    std::condition_variable m_settled;
    std::set<std::shared_ptr<Waiting>> m_waiting; // requests waiting, until their request ends
    bool m_stopping = false;
};

} // namespace service::http
