// A monitor behind a serial device server in raw TCP mode: the connection's bytes are the line's.
// The device server owns the line settings; this side only connects, within a bounded time.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include "cli/Interrupt.h"
#include "cli/OpenedLine.h"

namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket NO_SOCKET = INVALID_SOCKET;
constexpr int SEND_FLAGS = 0;

void CloseSocket(Socket s) {
    ::closesocket(s);
}
bool WouldBlock() {
    const int code = ::WSAGetLastError();
    return code == WSAEWOULDBLOCK || code == WSAEINPROGRESS;
}
std::string LastError() {
    char text[256] = {};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(::WSAGetLastError()), 0, text, sizeof text, nullptr);
    std::string reason = text;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.'))
        reason.pop_back();
    return reason;
}
void MakeNonBlocking(Socket s) {
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
}
// 1 ready, 0 not within the time, -1 failed.
int WaitFor(Socket s, bool write, std::uint32_t timeoutMs) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval wait{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    const int count =
        ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &wait);
    if (count < 0 || FD_ISSET(s, &failed))
        return -1;
    return count > 0 ? 1 : 0;
}
void StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}
#else
using Socket = int;
constexpr Socket NO_SOCKET = -1;
// A peer that hangs up must fail the write, not raise SIGPIPE.
constexpr int SEND_FLAGS = MSG_NOSIGNAL;

void CloseSocket(Socket s) {
    ::close(s);
}
bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS || errno == EINTR;
}
std::string LastError() {
    return std::strerror(errno);
}
void MakeNonBlocking(Socket s) {
    ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
}
int WaitFor(Socket s, bool write, std::uint32_t timeoutMs) {
    pollfd wait{s, static_cast<short>(write ? POLLOUT : POLLIN), 0};
    const int count = ::poll(&wait, 1, static_cast<int>(timeoutMs));
    if (count < 0)
        return errno == EINTR ? 0 : -1;
    return count;
}
void StartSockets() {
}
#endif

class TcpLine final : public OpenedLine {
public:
    explicit TcpLine(Socket s) : m_socket(s) {}
    ~TcpLine() override { CloseSocket(m_socket); }

protected:
    bool Send(std::uint8_t byte) override {
        while (true) {
            if (::send(m_socket, reinterpret_cast<const char*>(&byte), 1, SEND_FLAGS) == 1)
                return true;
            if (!WouldBlock() || WaitFor(m_socket, true, WRITE_LIMIT_MS) != 1)
                return false;
        }
    }

    ReadResult Receive(std::uint8_t& byte, std::uint32_t timeoutMs) override {
        const int ready = WaitFor(m_socket, false, timeoutMs);
        if (ready <= 0)
            return ready == 0 ? READ_NOTHING : READ_FAILED;
        const auto got = ::recv(m_socket, reinterpret_cast<char*>(&byte), 1, 0);
        if (got == 1)
            return READ_BYTE;
        // The server hung up (0) or the connection broke: the line is gone.
        return got < 0 && WouldBlock() ? READ_NOTHING : READ_FAILED;
    }

private:
    Socket m_socket;
};

// Host names are looked up on a thread of their own, so that a name server that does not answer
// cannot hold the connect beyond its limit; the thread is left to finish on its own.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int code = 0;
    addrinfo* addresses = nullptr;
    ~Lookup() {
        if (addresses != nullptr)
            ::freeaddrinfo(addresses);
    }
};

addrinfo* LookUp(const Target& target, std::chrono::steady_clock::time_point giveUp,
                 std::shared_ptr<Lookup>& lookup, std::string& error) {
    lookup = std::make_shared<Lookup>();
    std::thread([lookup, host = target.host, port = std::to_string(target.port)] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int code = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->code = code;
        lookup->addresses = found;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->finished && !Interrupted() && std::chrono::steady_clock::now() < giveUp)
        lookup->done.wait_for(lock, std::chrono::milliseconds(50));
    if (!lookup->finished) {
        error = "cannot look up " + target.host + " within " +
                std::to_string(TCP_CONNECT_LIMIT_MS / 1000) + " s";
        return nullptr;
    }
    if (lookup->code != 0) {
        error = "cannot look up " + target.host;
        return nullptr;
    }
    return lookup->addresses;
}

// Connects within the time left; the socket, or NO_SOCKET with the reason.
Socket Connect(const addrinfo& address, std::chrono::steady_clock::time_point giveUp,
               std::string& error) {
    const Socket s = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == NO_SOCKET) {
        error = LastError();
        return NO_SOCKET;
    }
    MakeNonBlocking(s);
    if (::connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
        if (!WouldBlock()) {
            error = LastError();
            CloseSocket(s);
            return NO_SOCKET;
        }
        // In short steps, so that Ctrl-C ends the wait at once.
        int ready = 0;
        while (ready == 0 && !Interrupted()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                giveUp - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            ready =
                WaitFor(s, true, static_cast<std::uint32_t>(std::min<long long>(left.count(), 50)));
        }
        int code = 0;
        socklen_t length = sizeof code;
        if (ready != 1 ||
            ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &length) != 0 ||
            code != 0) {
#ifdef _WIN32
            ::WSASetLastError(code);
#else
            errno = code;
#endif
            error =
                ready == 1 && code != 0
                    ? LastError()
                    : "no connection within " + std::to_string(TCP_CONNECT_LIMIT_MS / 1000) + " s";
            CloseSocket(s);
            return NO_SOCKET;
        }
    }
    // The frame goes out a byte at a time; each must leave at once, not wait for the next.
    int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return s;
}

} // namespace

std::unique_ptr<OpenedLine> OpenTcp(const Target& target, std::string& error) {
    StartSockets();
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(TCP_CONNECT_LIMIT_MS);
    std::shared_ptr<Lookup> lookup;
    const addrinfo* addresses = LookUp(target, giveUp, lookup, error);
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        const Socket s = Connect(*address, giveUp, error);
        if (s != NO_SOCKET)
            return std::make_unique<TcpLine>(s);
        if (Interrupted())
            break;
    }
    return nullptr;
}
