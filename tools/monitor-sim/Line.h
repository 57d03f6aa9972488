#pragma once
// The monitor's line as the simulator sees it, whatever carries it: a COM port (ComPort) or the
// connection of a device server's client (TcpServer).

#include <string>
#include <string_view>

namespace monitor_sim {

class Line {
public:
    virtual ~Line() = default;

    // Where the line is, for the log: "COM16", or "tcp:127.0.0.1:4001" once it listens.
    virtual std::string name() const = 0;

    // Opens the line, or opens it again after a pull; false with error text if it cannot.
    virtual bool open(std::string& error) = 0;

    // Waits at most timeoutMs for bytes and returns what has arrived (maybe nothing).
    virtual bool read(std::string& bytes, unsigned timeoutMs, std::string& error) = 0;

    // Writes all the bytes in one go.
    virtual bool write(std::string_view bytes, std::string& error) = 0;

    // Closes the line; the far end sees it go dead.
    virtual void close() = 0;

    // Whether the far end comes and goes as client connections. Such a line is pulled out by
    // dropping its client (dropClient), a COM port by pulling the test cable.
    virtual bool servesClients() const { return false; }

    // Drops the client's connection, if there is one, and lets the next client in.
    virtual void dropClient() {}
};

} // namespace monitor_sim
