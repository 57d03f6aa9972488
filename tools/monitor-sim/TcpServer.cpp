// Winsock's headers come before <windows.h>, which would otherwise bring in the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "TcpServer.h"

#include "Console.h"
#include "line/Sockets.h"

namespace monitor_sim {

namespace {

constexpr std::uintptr_t kNoSocket = INVALID_SOCKET;

std::string socketError(const std::string& what) {
    return what + ": " + windowsErrorText(static_cast<unsigned long>(WSAGetLastError()));
}

std::string addressText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

// Whether the socket has something to read (a byte, a client, an end) within timeoutMs.
int waitReadable(std::uintptr_t socket, unsigned timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(socket), &readable);
    timeval wait{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &wait);
}

} // namespace

TcpServer::TcpServer(std::string host, unsigned port, Log& log)
    : host_(std::move(host)), port_(port), log_(log), listener_(kNoSocket), client_(kNoSocket) {
}

TcpServer::~TcpServer() {
    // Quietly: the log has had its EXIT line.
    for (std::uintptr_t socket : {client_, listener_})
        if (socket != kNoSocket)
            closesocket(static_cast<SOCKET>(socket));
}

std::string TcpServer::name() const {
    return "tcp:" + host_ + ":" + std::to_string(port_);
}

bool TcpServer::open(std::string& error) {
    if (!line::StartSockets()) {
        error = "cannot start Winsock";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host_.c_str(), std::to_string(port_).c_str(), &hints, &found) != 0 || !found) {
        error = socketError("cannot find the address " + host_);
        return false;
    }
    const SOCKET listener = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    const bool listening =
        listener != INVALID_SOCKET &&
        bind(listener, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0 &&
        listen(listener, SOMAXCONN) == 0;
    freeaddrinfo(found);
    if (!listening) {
        error = socketError("cannot listen on " + name());
        if (listener != INVALID_SOCKET)
            closesocket(listener);
        return false;
    }
    listener_ = listener;
    sockaddr_in bound{};
    int size = sizeof bound;
    if (getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &size) == 0) {
        const std::string text = addressText(bound);
        host_ = text.substr(0, text.rfind(':'));
        port_ = ntohs(bound.sin_port);
    }
    return true;
}

bool TcpServer::acceptClient(unsigned timeoutMs, std::string& error) {
    const int ready = waitReadable(listener_, timeoutMs);
    if (ready == SOCKET_ERROR) {
        error = socketError("cannot wait for a client on " + name());
        return false;
    }
    if (ready == 0)
        return true;
    sockaddr_in peer{};
    int size = sizeof peer;
    const SOCKET client = accept(listener_, reinterpret_cast<sockaddr*>(&peer), &size);
    if (client == INVALID_SOCKET)
        return true; // the client gave up before we took it: wait for the next
    // Without this, Nagle's algorithm holds a late acknowledge byte back until the data bytes
    // before it are acknowledged, and the answer's timing is no longer the monitor's.
    const BOOL noDelay = TRUE;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
    client_ = client;
    clientName_ = addressText(peer);
    log_.line("CLIENT", clientName_ + " connected");
    return true;
}

void TcpServer::clientGone(const std::string& how) {
    closesocket(static_cast<SOCKET>(client_));
    client_ = kNoSocket;
    log_.line("CLIENT", clientName_ + " " + how);
}

bool TcpServer::read(std::string& bytes, unsigned timeoutMs, std::string& error) {
    bytes.clear();
    if (client_ == kNoSocket)
        return acceptClient(timeoutMs, error);
    const int ready = waitReadable(client_, timeoutMs);
    if (ready == SOCKET_ERROR) {
        error = socketError("cannot wait for bytes from " + clientName_);
        return false;
    }
    if (ready == 0)
        return true;
    char buffer[256];
    const int got = recv(static_cast<SOCKET>(client_), buffer, sizeof buffer, 0);
    if (got > 0)
        bytes.assign(buffer, static_cast<std::size_t>(got));
    else if (got == 0)
        clientGone("closed the connection");
    else
        clientGone(socketError("lost"));
    return true;
}

bool TcpServer::write(std::string_view bytes, std::string&) {
    while (!bytes.empty() && client_ != kNoSocket) {
        const int sent =
            send(static_cast<SOCKET>(client_), bytes.data(), static_cast<int>(bytes.size()), 0);
        if (sent == SOCKET_ERROR)
            clientGone(socketError("lost"));
        else
            bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void TcpServer::dropClient() {
    if (client_ != kNoSocket)
        clientGone("dropped");
}

void TcpServer::close() {
    if (client_ != kNoSocket)
        clientGone("dropped: the server closes");
    if (listener_ != kNoSocket) {
        closesocket(static_cast<SOCKET>(listener_));
        listener_ = kNoSocket;
    }
}

} // namespace monitor_sim
