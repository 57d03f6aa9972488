#pragma once
// The serial port the simulated monitor listens on, set up as the monitor's line: 19200 8N1.

#include "Line.h"

#include <string>
#include <string_view>

namespace monitor_sim {

class ComPort : public Line {
public:
    // name: "COMn".
    explicit ComPort(std::string name) : name_(std::move(name)) {}
    ~ComPort() override;
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    std::string name() const override { return name_; }

    // Opens the port exclusively and sets 19200 baud, 8N1, no flow control, DTR/RTS off, purged.
    bool open(std::string& error) override;

    bool read(std::string& bytes, unsigned timeoutMs, std::string& error) override;
    bool write(std::string_view bytes, std::string& error) override;
    void close() override;

private:
    bool fail(const char* what, std::string& error);

    void* handle_ = nullptr; // HANDLE, null while closed
    std::string name_;
    unsigned readTimeoutMs_ = 0;
};

} // namespace monitor_sim
