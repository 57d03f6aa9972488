// A monitor behind a serial device server in raw TCP mode: the connection's bytes are the line's.
// The device server owns the line settings; this side only connects, within a bounded time.
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include "line/Line.h"
#include "core/Vocabulary.h"
#include "line/Sockets.h"

namespace line {

namespace {

// A wait for the connect or the name lookup lasts at most this long before a cancel is looked at.
constexpr std::uint32_t CANCEL_CHECK_MS = 50;

bool IsSet(const Cancel* cancel) {
    return cancel != nullptr && cancel->IsSet();
}

class TcpLine final : public Line {
public:
    explicit TcpLine(Socket s) : m_socket(s) {}
    ~TcpLine() override { CloseSocket(m_socket); }

protected:
    bool Send(const std::uint8_t* bytes, std::size_t count, Deadline deadline) override {
        while (count > 0) {
            const auto sent =
                ::send(m_socket, reinterpret_cast<const char*>(bytes), int(count), SEND_FLAGS);
            if (sent > 0) {
                bytes += sent;
                count -= static_cast<std::size_t>(sent);
                continue;
            }
            if (!WouldBlock() || MsUntil(deadline) == 0 ||
                WaitFor(m_socket, true, MsUntil(deadline)) < 0)
                return false;
        }
        return true;
    }

    // What has come is taken in one call and handed out a byte at a time; only when nothing is
    // there does the read wait.
    ReadResult Receive(std::uint8_t& byte, Deadline deadline) override {
        if (m_next == m_end) {
            const ReadResult result = Fill();
            if (result != READ_NOTHING)
                return result == READ_BYTE ? Take(byte) : result;
            const int ready = WaitFor(m_socket, false, MsUntil(deadline));
            if (ready <= 0)
                return ready == 0 ? READ_NOTHING : READ_FAILED;
            if (const ReadResult filled = Fill(); filled != READ_BYTE)
                return filled;
        }
        return Take(byte);
    }

#ifndef _WIN32
    // The socket's low-water mark makes the wait end only once count bytes are in, or the peer
    // has gone; it goes back to one byte before the reads, which wait for each byte (a mark the
    // socket took once it takes again). Winsock has no low-water mark for a wait: there, the
    // reads wait byte by byte.
    bool WaitForBytes(std::size_t count, Deadline deadline) override {
        const std::size_t taken = m_end - m_next;
        if (taken >= count || !SetLowWater(int(count - taken)))
            return true;
        const int ready = WaitFor(m_socket, false, MsUntil(deadline));
        SetLowWater(1);
        return ready != 0;
    }
#endif

private:
#ifndef _WIN32
    bool SetLowWater(int count) {
        return ::setsockopt(m_socket, SOL_SOCKET, SO_RCVLOWAT, &count, sizeof count) == 0;
    }
#endif

    // Takes what the connection holds, up to the buffer's size: READ_BYTE when something came,
    // READ_NOTHING when nothing is there yet.
    ReadResult Fill() {
        const auto got = ::recv(m_socket, reinterpret_cast<char*>(m_buffer), sizeof m_buffer, 0);
        if (got > 0) {
            m_next = 0;
            m_end = static_cast<std::size_t>(got);
            return READ_BYTE;
        }
        // The server hung up (0) or the connection broke: the line is gone.
        return got < 0 && WouldBlock() ? READ_NOTHING : READ_FAILED;
    }
    ReadResult Take(std::uint8_t& byte) {
        byte = m_buffer[m_next++];
        return READ_BYTE;
    }

    Socket m_socket;
    // Bytes taken from the connection and not yet read: m_buffer[m_next] up to m_end.
    std::uint8_t m_buffer[64] = {};
    std::size_t m_next = 0;
    std::size_t m_end = 0;
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

addrinfo* LookUp(const Target& target, Deadline giveUp, const Cancel* cancel,
                 std::shared_ptr<Lookup>& lookup, std::string& error) {
    lookup = std::make_shared<Lookup>();
    try {
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
    } catch (const std::system_error& e) {
        error = std::string("cannot look up ") + target.host + ": " + e.what();
        return nullptr;
    }
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->finished && !IsSet(cancel) && MonotonicClock::now() < giveUp)
        lookup->done.wait_for(lock, std::chrono::milliseconds(CANCEL_CHECK_MS));
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
Socket Connect(const addrinfo& address, Deadline giveUp, const Cancel* cancel, std::string& error) {
    const Socket s = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == NO_SOCKET) {
        error = SocketErrorText();
        return NO_SOCKET;
    }
    MakeNonBlocking(s);
    if (::connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
        if (!WouldBlock()) {
            error = SocketErrorText();
            CloseSocket(s);
            return NO_SOCKET;
        }
        // In short steps, so that a cancel ends the wait at once.
        int ready = 0;
        while (ready == 0 && !IsSet(cancel) && MsUntil(giveUp) > 0)
            ready = WaitFor(s, true, std::min(MsUntil(giveUp), CANCEL_CHECK_MS));
        // Ready or failed, the socket's own error says how the connect ended: on Windows a
        // refused connect shows as a failure of the wait, elsewhere as a writable socket.
        int code = 0;
        socklen_t length = sizeof code;
        if (ready != 0 &&
            ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &length) != 0)
            code = -1;
        if (ready == 0 || code != 0) {
            error = ready == 0 ? "no connection within " +
                                     std::to_string(TCP_CONNECT_LIMIT_MS / 1000) + " s"
                    : code > 0 ? SocketErrorText(code)
                               : SocketErrorText();
            CloseSocket(s);
            return NO_SOCKET;
        }
    }
    // The frame goes out in one write; it must leave at once, not wait for more.
    int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return s;
}

} // namespace

std::unique_ptr<Line> OpenTcp(const Target& target, std::string& error, const Cancel* cancel) {
    if (!StartSockets()) {
        error = "cannot start Winsock";
        return nullptr;
    }
    const Deadline giveUp = DeadlineIn(TCP_CONNECT_LIMIT_MS);
    std::shared_ptr<Lookup> lookup;
    const addrinfo* addresses = LookUp(target, giveUp, cancel, lookup, error);
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        const Socket s = Connect(*address, giveUp, cancel, error);
        if (s != NO_SOCKET)
            return std::make_unique<TcpLine>(s);
        if (IsSet(cancel))
            break;
    }
    // The system's words go on after the failure's own ("Connection refused" reads
    // "cannot open the line: connection refused").
    if (!error.empty())
        error[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(error[0])));
    error = std::string(protocol::FailureWords(protocol::Failure::Open)) + ": " + error;
    return nullptr;
}

} // namespace line
