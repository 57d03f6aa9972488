#include "line/Line.h"
#include <algorithm>
#include "core/ProtocolRules.h"

namespace line {

namespace {

// A wait on the line lasts at most this long before the Cancel is looked at again.
constexpr std::uint32_t CANCEL_CHECK_MS = 20;

} // namespace

bool Line::Cancelled() {
    if (m_cancel != nullptr && m_cancel->IsSet())
        m_cut = true;
    return m_cut;
}

Deadline Line::StepTo(Deadline deadline) const {
    return m_cancel == nullptr || m_mode != CancelMode::Now
               ? deadline
               : std::min(deadline, DeadlineIn(CANCEL_CHECK_MS));
}

MonitorLine::ReadResult Line::Read(std::uint8_t& byte, Deadline deadline) {
    byte = 0;
    ReadResult result = READ_NOTHING;
    // A deadline already past still takes a byte that is waiting.
    do {
        if (CutNow())
            return READ_FAILED;
        result = Receive(byte, StepTo(deadline));
    } while (result == READ_NOTHING && MonotonicClock::now() < deadline);
    if (result != READ_BYTE)
        byte = 0;
    return result;
}

bool Line::Write(const std::uint8_t* bytes, std::size_t count) {
    return !Cancelled() && Send(bytes, count, DeadlineIn(WRITE_LIMIT_MS));
}

bool Line::WriteByte(std::uint8_t byte) {
    return Write(&byte, 1);
}

bool Line::WriteFrame(const CommandFrame& frame) {
    return Write(reinterpret_cast<const std::uint8_t*>(&frame), FRAME_SIZE);
}

MonitorLine::ReadResult Line::ReadByte(std::uint8_t* target) {
    return Read(*target, DeadlineIn(protocol::READ_TIMEOUT_MS));
}

MonitorLine::ReadResult Line::ReadByteWithin(std::uint8_t* target, std::uint32_t milliseconds) {
    return Read(*target, DeadlineIn(milliseconds));
}

void Line::AwaitBytes(std::size_t count, std::uint32_t milliseconds) {
    const Deadline deadline = DeadlineIn(milliseconds);
    while (!CutNow() && MonotonicClock::now() < deadline &&
           !WaitForBytes(count, StepTo(deadline))) {
    }
}

void Line::Drain() {
    // A drain begins the next exchange.
    if (Cancelled())
        return;
    const Deadline giveUp = DeadlineIn(protocol::DRAIN_LIMIT_MS);
    std::uint8_t scratch = 0;
    while (ReadByte(&scratch) == READ_BYTE && MonotonicClock::now() < giveUp) {
    }
}

std::unique_ptr<Line> Open(const Target& target, std::string& error, const Cancel* cancel) {
    std::unique_ptr<Line> opened = target.kind == Target::Kind::Tcp ? OpenTcp(target, error, cancel)
                                                                    : OpenSerial(target, error);
    if (opened)
        opened->SetCancel(cancel);
    return opened;
}

} // namespace line
