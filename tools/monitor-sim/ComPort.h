#pragma once
// The serial port the simulated monitor listens on, set up as the monitor's line: 19200 8N1.

#include <cstdint>
#include <string>
#include <string_view>

namespace monitor_sim {

class ComPort {
public:
    ComPort() = default;
    ~ComPort();
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    // Opens "COMn" exclusively and sets 19200 baud, 8N1, no flow control, DTR/RTS off, purged.
    bool open(const std::string& name, std::string& error);

    // Waits at most timeoutMs for bytes and returns what has arrived (maybe nothing).
    bool read(std::string& bytes, unsigned timeoutMs, std::string& error);

    // Writes all the bytes in one go.
    bool write(std::string_view bytes, std::string& error);

    // Closes the port; the far end sees the line go dead.
    void close();

private:
    bool fail(const char* what, std::string& error);

    void* handle_ = nullptr; // HANDLE, null while closed
    std::string name_;
    unsigned readTimeoutMs_ = 0;
};

} // namespace monitor_sim
