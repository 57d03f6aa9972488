// What the protocol core needs of the world: a line to one monitor and a clock to wait on.
//   MonitorLine    writes a frame, reads a byte within the read time-out (or a time of the
//                  core's own, for the answer-driven exchange), waits for an answer's bytes
//                  together, drains stale input
//   ProtocolClock  the protocol's fixed waits, and the time they are counted on
// Standard C++ only; the panel puts its serial channel behind a MonitorLine, the console programs
// a line of the line library (a serial device or a TCP connection), the tests a fake on a virtual
// clock.
#pragma once

#include <cstdint>
#include "core/Frame.h"

class MonitorLine {
public:
    // What ReadByte found: a byte, nothing within the read time-out, or a failed read.
    enum ReadResult : std::uint8_t { READ_BYTE = 0, READ_NOTHING = 1, READ_FAILED = 2 };

    virtual ~MonitorLine() = default;
    // Writes one byte; false when it could not be written.
    virtual bool WriteByte(std::uint8_t byte) = 0;
    // Writes a whole frame; false when a byte of it could not be written. Byte by byte unless the
    // line bounds the frame as a whole.
    virtual bool WriteFrame(const CommandFrame& frame) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&frame);
        for (std::size_t i = 0; i < FRAME_SIZE; ++i)
            if (!WriteByte(bytes[i]))
                return false;
        return true;
    }
    // Reads one byte into *target, waiting at most protocol::READ_TIMEOUT_MS for it.
    virtual ReadResult ReadByte(std::uint8_t* target) = 0;
    // Reads one byte into *target, waiting at most this long for it; 0 takes only a byte that is
    // waiting already. The answer-driven exchange needs it; a line that only ever runs paced (the
    // panel's) need not offer it, and reads as ReadByte does.
    virtual ReadResult ReadByteWithin(std::uint8_t* target, std::uint32_t milliseconds) {
        (void)milliseconds;
        return ReadByte(target);
    }
    // Waits until count bytes are waiting to be read, the line fails, or this long has passed,
    // and takes none of them: the reads that follow take them. A line that can be woken for
    // several bytes at once offers it, so that an answer costs one wake-up, not one a byte; the
    // others return at once and the reads wait byte by byte.
    virtual void AwaitBytes(std::size_t count, std::uint32_t milliseconds) {
        (void)count;
        (void)milliseconds;
    }
    // Reads and discards until the line has been quiet for one read time-out, a read fails, or
    // protocol::DRAIN_LIMIT_MS have passed.
    virtual void Drain() = 0;
};

class ProtocolClock {
public:
    virtual ~ProtocolClock() = default;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
    // Milliseconds on a clock that never goes back, the one the line's reads wait on.
    virtual std::uint64_t NowMs() = 0;
};
