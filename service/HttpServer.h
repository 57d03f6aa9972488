// The HTTP server under the API: cpp-httplib's parsing and routing, with kelvaned's own hold on
// connections, which the library does not bound:
//   - a client has REQUEST_LIMIT_S to send a whole request (not each read: a client that drips a
//     byte every few seconds is cut too); a response, an event stream above all, is not bound;
//   - at most MAX_CONNECTIONS at once; one more is answered 503 and closed;
//   - a stop ends idle connections at once and the others after their response.
//   REQUEST_LIMIT_S, IDLE_LIMIT_S, MAX_CONNECTIONS, MAX_BODY_BYTES
//   HttpServer   binds, serves until stopped
//   ResponseShouldEnd  whether a long response (an event stream) should end now
#pragma once

#include <atomic>
#include <cstddef>
#include <httplib.h>
#include <memory>
#include <string>

namespace service {

inline constexpr int REQUEST_LIMIT_S = 10;
// A kept-alive connection that sends no new request within this long is closed.
inline constexpr int IDLE_LIMIT_S = 5;
inline constexpr int MAX_CONNECTIONS = 64;
inline constexpr std::size_t MAX_BODY_BYTES = 4096;

class HttpServer {
public:
    HttpServer();
    ~HttpServer();
    // The routes and handlers go here before Run.
    httplib::Server& Routes();
    // Binds to the address; false with the reason. Port 0 takes a free port: see Port().
    bool Bind(const std::string& host, int port, std::string& error);
    int Port() const { return m_port; }
    // Serves until Stop; returns once every connection has ended.
    void Run();
    // Ends the serving and waits until Run has returned; call it from another thread than Run's.
    void Stop();

private:
    class Server;
    std::unique_ptr<Server> m_server;
    int m_port = 0;
    std::atomic<bool> m_finished{false};
};

// Whether the response this thread is writing should end: its client has closed or reset the
// connection, or the server is stopping. A response that goes on for long (an event stream) asks
// between its writes; it would otherwise learn of a gone client only at its next write, and
// hold a stop until then. False on a thread that serves no connection.
bool ResponseShouldEnd();

} // namespace service
