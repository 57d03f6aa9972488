// The Linux build has no test cable: the cable is a Wine COM port's (tools/null-modem), and a
// device server's pull drops its client instead. A --cable given anyway fails the first pull.

#include "Cable.h"

namespace monitor_sim {

namespace {

const char* const kNoCable = "the test cable is the Windows build's (monitor-sim.exe)";

} // namespace

bool Cable::pulled() const {
    return false;
}

bool Cable::pull(std::string& error) {
    error = kNoCable;
    return false;
}

bool Cable::plug(std::string& error) {
    error = kNoCable;
    return false;
}

bool Cable::waitUntilPutBack(const std::function<bool()>&) {
    return false;
}

std::vector<CableEvent> Cable::events() const {
    return {};
}

std::size_t Cable::count(std::string_view, std::string_view) const {
    return 0;
}

std::string readSharedFile(const std::wstring&) {
    return {};
}

} // namespace monitor_sim
