#include "cli/OpenedLine.h"
#include <chrono>
#include "cli/Interrupt.h"
#include "protocol/ProtocolRules.h"

bool OpenedLine::WriteByte(std::uint8_t byte) {
    return !Interrupted() && Send(byte);
}

MonitorLine::ReadResult OpenedLine::ReadByte(std::uint8_t* target) {
    *target = 0;
    if (Interrupted())
        return READ_FAILED;
    const ReadResult result = Receive(*target, protocol::READ_TIMEOUT_MS);
    if (result != READ_BYTE)
        *target = 0;
    return result;
}

void OpenedLine::Drain() {
    using std::chrono::steady_clock;
    const steady_clock::time_point giveUp =
        steady_clock::now() + std::chrono::milliseconds(protocol::DRAIN_LIMIT_MS);
    std::uint8_t scratch = 0;
    while (ReadByte(&scratch) == READ_BYTE && steady_clock::now() < giveUp) {
    }
}

std::unique_ptr<OpenedLine> OpenTarget(const Target& target, std::string& error) {
    return target.kind == Target::Kind::Tcp ? OpenTcp(target, error) : OpenSerial(target, error);
}
