#pragma once
// The monitor's line behind a serial device server in raw TCP mode: a listening TCP port that takes
// one client at a time, the bytes of whose connection are the line.

#include "Line.h"
#include "Log.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace monitor_sim {

class TcpServer : public Line {
public:
    // host: an IPv4 address or a name of this machine; port 0 lets the system pick a free one.
    // Clients coming and going are logged as CLIENT lines.
    TcpServer(std::string host, unsigned port, Log& log);
    ~TcpServer() override;
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // "tcp:HOST:PORT", with the address bound and the port picked once it listens.
    std::string name() const override;

    // Binds and listens; the next clients wait in the queue while one is served.
    bool open(std::string& error) override;

    // With no client, waits for one instead, for as long; a client that goes leaves the line
    // quiet until the next one comes.
    bool read(std::string& bytes, unsigned timeoutMs, std::string& error) override;

    // With no client the bytes go nowhere, as a device server drops what comes off its serial side
    // while no one is connected.
    bool write(std::string_view bytes, std::string& error) override;

    void close() override;
    bool servesClients() const override { return true; }
    void dropClient() override;

private:
    bool acceptClient(unsigned timeoutMs, std::string& error);
    void clientGone(const std::string& how);

    std::string host_;
    unsigned port_;
    Log& log_;
    std::uintptr_t listener_; // SOCKET, or kNoSocket
    std::uintptr_t client_;   // SOCKET, or kNoSocket
    std::string clientName_;  // "127.0.0.1:50312"
};

} // namespace monitor_sim
