// cpp-httplib serves each connection on a thread of its task queue, reading with a time-out per
// read. kelvaned puts its own connection loop in its place (process_and_close_socket, which the
// library lets a server override) around the library's request handling (process_request): its
// stream bounds the whole request instead, and its task queue bounds the connections.
#include "service/HttpServer.h"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace service {

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often a wait looks whether the server is stopping.
constexpr int STOP_CHECK_MS = 50;
constexpr int WRITE_LIMIT_MS = 5000;
constexpr int KEEP_ALIVE_REQUESTS = 1000;
// The library listens with a backlog of 5, too few for a burst of connects: a connect beyond it
// waits for the client's retransmit, a second or so.
constexpr int LISTEN_BACKLOG = 128;

// What a connection beyond the bound gets before it is closed.
const std::string& BusyAnswer() {
    static const std::string body = "{\"error\": \"too many connections\"}";
    static const std::string answer = "HTTP/1.1 503 Service Unavailable\r\n"
                                      "Content-Type: application/json\r\nContent-Length: " +
                                      std::to_string(body.size()) +
                                      "\r\nConnection: close\r\n\r\n" + body;
    return answer;
}

// Set on the listening thread while it runs a connection the queue has no room for.
thread_local bool t_turnAway = false;
// The connection this thread serves and its server's stop, for ResponseShouldEnd.
thread_local int t_client = -1;
thread_local const std::atomic<bool>* t_stopping = nullptr;

// Waits until the socket is ready for events, the deadline passes or the server stops: 1 ready,
// 0 not, -1 failed.
int WaitReady(int fd, short events, SteadyClock::time_point deadline,
              const std::atomic<bool>* stopping) {
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
                .count();
        if (left <= 0 || (stopping != nullptr && *stopping))
            return 0;
        pollfd one{fd, events, 0};
        const int ready =
            ::poll(&one, 1, static_cast<int>(std::min<long long>(left, STOP_CHECK_MS)));
        if (ready > 0)
            return (one.revents & (events | POLLHUP | POLLERR)) != 0 ? 1 : -1;
        if (ready < 0 && errno != EINTR)
            return -1;
    }
}

std::string AddressText(const sockaddr_storage& address, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    } else {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    }
    return text;
}

// One connection as the library reads and writes it: reads end at the request's deadline.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int fd, const std::atomic<bool>& stopping) : m_fd(fd), m_stopping(stopping) {}

    void SetDeadline(SteadyClock::time_point deadline) { m_deadline = deadline; }
    bool HasBuffered() const { return m_begin < m_end; }

    bool is_readable() const override {
        return HasBuffered() || WaitReady(m_fd, POLLIN, m_deadline, &m_stopping) > 0;
    }
    bool is_writable() const override {
        return WaitReady(m_fd, POLLOUT,
                         SteadyClock::now() + std::chrono::milliseconds(WRITE_LIMIT_MS),
                         nullptr) > 0;
    }
    ssize_t read(char* target, size_t size) override {
        if (!HasBuffered()) {
            if (WaitReady(m_fd, POLLIN, m_deadline, &m_stopping) <= 0)
                return -1;
            const ssize_t got = ::recv(m_fd, m_buffer, sizeof m_buffer, 0);
            if (got <= 0)
                return -1;
            m_begin = 0;
            m_end = static_cast<size_t>(got);
        }
        const size_t taken = std::min(size, m_end - m_begin);
        std::copy(m_buffer + m_begin, m_buffer + m_begin + taken, target);
        m_begin += taken;
        return static_cast<ssize_t>(taken);
    }
    ssize_t write(const char* bytes, size_t size) override {
        size_t sent = 0;
        while (sent < size) {
            const ssize_t done =
                ::send(m_fd, bytes + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (done > 0) {
                sent += static_cast<size_t>(done);
                continue;
            }
            if (done < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return -1;
            if (!is_writable())
                return -1;
        }
        return static_cast<ssize_t>(size);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getpeername(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            ip = AddressText(address, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            ip = AddressText(address, port);
    }
    socket_t socket() const override { return m_fd; }

private:
    int m_fd;
    const std::atomic<bool>& m_stopping;
    SteadyClock::time_point m_deadline = SteadyClock::now();
    char m_buffer[4096];
    size_t m_begin = 0;
    size_t m_end = 0;
};

// At most MAX_CONNECTIONS connections at work or waiting; threads are made as they are needed,
// up to that many, and kept.
class ConnectionQueue final : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> job) override {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_busy + m_jobs.size() < static_cast<size_t>(MAX_CONNECTIONS)) {
                m_jobs.push_back(std::move(job));
                if (m_idle < m_jobs.size())
                    m_threads.emplace_back([this] { Work(); });
                m_wake.notify_one();
                return;
            }
        }
        // The connection is answered "busy" and closed at once, here.
        t_turnAway = true;
        job();
        t_turnAway = false;
    }

    void shutdown() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_shutdown = true;
        }
        m_wake.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
    }

private:
    void Work() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (true) {
            ++m_idle;
            m_wake.wait(lock, [this] { return m_shutdown || !m_jobs.empty(); });
            --m_idle;
            if (m_jobs.empty())
                return;
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            ++m_busy;
            lock.unlock();
            job();
            lock.lock();
            --m_busy;
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    size_t m_busy = 0;
    size_t m_idle = 0;
    bool m_shutdown = false;
};

} // namespace

class HttpServer::Server final : public httplib::Server {
public:
    Server() {
        new_task_queue = [] {
            return new ConnectionQueue;
        };
        set_payload_max_length(MAX_BODY_BYTES);
        // For the Keep-Alive header the library writes; the loop below keeps to them.
        set_keep_alive_max_count(KEEP_ALIVE_REQUESTS);
        set_keep_alive_timeout(IDLE_LIMIT_S);
    }
    std::atomic<bool> stopping{false};

    // Listens again on the bound socket with a longer backlog (Linux takes a second listen).
    void WidenBacklog() { ::listen(svr_sock_, LISTEN_BACKLOG); }

private:
    bool process_and_close_socket(socket_t fd) override {
        if (t_turnAway) {
            const std::string& busy = BusyAnswer();
            ::send(fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        } else {
            Serve(fd);
            t_client = -1;
        }
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
        return true;
    }

    void Serve(int fd) {
        // A response goes out in two writes, its head and its body: without this the second
        // waits for the client's delayed acknowledge of the first, some 40 ms.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ConnectionStream stream(fd, stopping);
        t_client = fd;
        t_stopping = &stopping;
        for (int served = 0; served < KEEP_ALIVE_REQUESTS && !stopping; ++served) {
            const auto now = SteadyClock::now();
            // The first request has the whole limit from the connect; a later one must begin
            // within the idle limit, and then has the whole limit.
            if (served > 0 && !stream.HasBuffered() &&
                WaitReady(fd, POLLIN, now + std::chrono::seconds(IDLE_LIMIT_S), &stopping) <= 0)
                return;
            stream.SetDeadline(SteadyClock::now() + std::chrono::seconds(REQUEST_LIMIT_S));
            bool closed = false;
            const bool last = served + 1 == KEEP_ALIVE_REQUESTS;
            if (!process_request(stream, last, closed, nullptr) || closed)
                return;
        }
    }
};

HttpServer::HttpServer() : m_server(std::make_unique<Server>()) {
}

HttpServer::~HttpServer() = default;

httplib::Server& HttpServer::Routes() {
    return *m_server;
}

bool HttpServer::Bind(const std::string& host, int port, std::string& error) {
    const bool bound = port == 0 ? (m_port = m_server->bind_to_any_port(host)) > 0
                                 : m_server->bind_to_port(host, port);
    if (!bound) {
        error = "cannot listen on " + host + " port " + std::to_string(port) + ": " +
                std::strerror(errno);
        return false;
    }
    if (port != 0)
        m_port = port;
    m_server->WidenBacklog();
    return true;
}

void HttpServer::Run() {
    if (!m_server->stopping)
        m_server->listen_after_bind();
    m_finished = true;
}

void HttpServer::Stop() {
    m_server->stopping = true;
    // The library forgets a stop that comes before its listening began: it is repeated until
    // Run has returned, which is once every connection has ended.
    while (!m_finished) {
        m_server->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ResponseShouldEnd() {
    if (t_client < 0)
        return false;
    if (*t_stopping)
        return true;
    pollfd one{t_client, POLLIN | POLLRDHUP, 0};
    if (::poll(&one, 1, 0) <= 0)
        return false;
    if ((one.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0)
        return true;
    // Bytes of a next request are no farewell; an end of stream is.
    char byte;
    return ::recv(t_client, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

} // namespace service
