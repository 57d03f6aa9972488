#include "TcpServer.h"

#include "line/Sockets.h"

#ifndef _WIN32
#include <arpa/inet.h>
#endif

namespace monitor_sim {

namespace {

using line::Socket;

constexpr std::uintptr_t kNoSocket = static_cast<std::uintptr_t>(line::NO_SOCKET);

#ifdef _WIN32
using AddressSize = int;
#else
using AddressSize = socklen_t;
#endif

Socket socketOf(std::uintptr_t handle) {
    return static_cast<Socket>(handle);
}

std::string socketError(const std::string& what) {
    return what + ": " + line::SocketErrorText();
}

std::string addressText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

} // namespace

TcpServer::TcpServer(std::string host, unsigned port, Log& log)
    : host_(std::move(host)), port_(port), log_(log), listener_(kNoSocket), client_(kNoSocket) {
}

TcpServer::~TcpServer() {
    // Quietly: the log has had its EXIT line.
    for (std::uintptr_t socket : {client_, listener_})
        if (socket != kNoSocket)
            line::CloseSocket(socketOf(socket));
}

std::string TcpServer::name() const {
    return "tcp:" + host_ + ":" + std::to_string(port_);
}

bool TcpServer::open(std::string& error) {
    if (!line::StartSockets()) {
        error = "cannot start the sockets";
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
    const Socket listener = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
#ifndef _WIN32
    // A device server started again takes its port back at once, as on Windows, even while the
    // connections of its last run linger in TIME_WAIT.
    const int reuse = 1;
    if (listener != line::NO_SOCKET)
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
#endif
    const bool listening =
        listener != line::NO_SOCKET &&
        bind(listener, found->ai_addr, static_cast<AddressSize>(found->ai_addrlen)) == 0 &&
        listen(listener, SOMAXCONN) == 0;
    freeaddrinfo(found);
    if (!listening) {
        error = socketError("cannot listen on " + name());
        if (listener != line::NO_SOCKET)
            line::CloseSocket(listener);
        return false;
    }
    listener_ = static_cast<std::uintptr_t>(listener);
    sockaddr_in bound{};
    AddressSize size = sizeof bound;
    if (getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &size) == 0) {
        const std::string text = addressText(bound);
        host_ = text.substr(0, text.rfind(':'));
        port_ = ntohs(bound.sin_port);
    }
    return true;
}

bool TcpServer::acceptClient(unsigned timeoutMs, std::string& error) {
    const int ready = line::WaitFor(socketOf(listener_), false, timeoutMs);
    if (ready < 0) {
        error = socketError("cannot wait for a client on " + name());
        return false;
    }
    if (ready == 0)
        return true;
    sockaddr_in peer{};
    AddressSize size = sizeof peer;
    const Socket client = accept(socketOf(listener_), reinterpret_cast<sockaddr*>(&peer), &size);
    if (client == line::NO_SOCKET)
        return true; // the client gave up before we took it: wait for the next
    // Without this, Nagle's algorithm holds a late acknowledge byte back until the data bytes
    // before it are acknowledged, and the answer's timing is no longer the monitor's.
    const int noDelay = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
    client_ = static_cast<std::uintptr_t>(client);
    clientName_ = addressText(peer);
    log_.line("CLIENT", clientName_ + " connected");
    return true;
}

void TcpServer::clientGone(const std::string& how) {
    line::CloseSocket(socketOf(client_));
    client_ = kNoSocket;
    log_.line("CLIENT", clientName_ + " " + how);
}

bool TcpServer::read(std::string& bytes, unsigned timeoutMs, std::string& error) {
    bytes.clear();
    if (client_ == kNoSocket)
        return acceptClient(timeoutMs, error);
    const int ready = line::WaitFor(socketOf(client_), false, timeoutMs);
    if (ready < 0) {
        error = socketError("cannot wait for bytes from " + clientName_);
        return false;
    }
    if (ready == 0)
        return true;
    char buffer[256];
    const auto got = recv(socketOf(client_), buffer, sizeof buffer, 0);
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
        const auto sent =
            send(socketOf(client_), bytes.data(), static_cast<int>(bytes.size()), line::SEND_FLAGS);
        if (sent < 0)
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
        line::CloseSocket(socketOf(listener_));
        listener_ = kNoSocket;
    }
}

} // namespace monitor_sim
