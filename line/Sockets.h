// The sockets of both platforms behind one set of calls, for the TCP line and the simulator's
// device server: Winsock is started once, its errors read as the system's text.
//   Socket, NO_SOCKET, SEND_FLAGS   the handle, its invalid value, the flags of a send
//   StartSockets                    Winsock once per program (nothing on POSIX)
//   CloseSocket, MakeNonBlocking    as named
//   WouldBlock, SocketErrorText     the last call's error: a call to repeat, or the reason
//   WaitFor                         readiness to read or write within a time
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif
#include <cstdint>
#include <string>

namespace line {

#ifdef _WIN32
using Socket = SOCKET;
inline constexpr Socket NO_SOCKET = INVALID_SOCKET;
inline constexpr int SEND_FLAGS = 0;
#else
using Socket = int;
inline constexpr Socket NO_SOCKET = -1;
// A peer that hangs up must fail the write, not raise SIGPIPE.
inline constexpr int SEND_FLAGS = MSG_NOSIGNAL;
#endif

// False when Winsock could not be started; the first call starts it, for the whole program.
bool StartSockets();
void CloseSocket(Socket s);
void MakeNonBlocking(Socket s);
// Whether the last socket call failed only because it would have had to wait.
bool WouldBlock();
// The reason the last socket call failed, or the reason for an error code (SO_ERROR).
std::string SocketErrorText();
std::string SocketErrorText(int code);
// 1 ready to read (or write), 0 not within timeoutMs, -1 failed: an error on the socket.
int WaitFor(Socket s, bool write, std::uint32_t timeoutMs);

} // namespace line
