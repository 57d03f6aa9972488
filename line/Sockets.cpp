#include "line/Sockets.h"
#ifdef _WIN32
#include "line/WindowsError.h"
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace line {

#ifdef _WIN32
bool StartSockets() {
    // Never cleaned up: the program's sockets may outlive any one user of them, and Windows
    // ends Winsock with the process.
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

void CloseSocket(Socket s) {
    ::closesocket(s);
}

void MakeNonBlocking(Socket s) {
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
}

bool WouldBlock() {
    const int code = ::WSAGetLastError();
    return code == WSAEWOULDBLOCK || code == WSAEINPROGRESS || code == WSAEINTR;
}

std::string SocketErrorText() {
    return SocketErrorText(::WSAGetLastError());
}

std::string SocketErrorText(int code) {
    return WindowsErrorText(static_cast<unsigned long>(code));
}

int WaitFor(Socket s, bool write, std::uint32_t timeoutMs) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval wait{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    // Winsock reports a connect that failed in the exception set, not as writable.
    const int count =
        ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &wait);
    if (count < 0 || FD_ISSET(s, &failed))
        return -1;
    return count > 0 ? 1 : 0;
}
#else
bool StartSockets() {
    return true;
}

void CloseSocket(Socket s) {
    ::close(s);
}

void MakeNonBlocking(Socket s) {
    ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
}

bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS || errno == EINTR;
}

std::string SocketErrorText() {
    return std::strerror(errno);
}

std::string SocketErrorText(int code) {
    return std::strerror(code);
}

int WaitFor(Socket s, bool write, std::uint32_t timeoutMs) {
    pollfd wait{s, static_cast<short>(write ? POLLOUT : POLLIN), 0};
    const int count = ::poll(&wait, 1, static_cast<int>(timeoutMs));
    if (count < 0)
        return errno == EINTR ? 0 : -1;
    return count;
}
#endif

} // namespace line
