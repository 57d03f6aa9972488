// The Linux build serves device servers alone (--listen): a COM port is the Windows build's.

#include "ComPort.h"

namespace monitor_sim {

ComPort::~ComPort() = default;

bool ComPort::open(std::string& error) {
    error = "cannot open " + name_ + ": COM ports are the Windows build's (monitor-sim.exe); " +
            "use --listen";
    return false;
}

bool ComPort::read(std::string& bytes, unsigned, std::string&) {
    bytes.clear();
    return true;
}

bool ComPort::write(std::string_view, std::string&) {
    return true;
}

void ComPort::close() {
}

bool ComPort::fail(const char*, std::string&) {
    return false;
}

} // namespace monitor_sim
