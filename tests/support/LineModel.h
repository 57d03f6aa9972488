// The far end of a serial line on a virtual clock, for the fakes of the unit tests: the bytes that
// reach the line and when, the monitor's answer to each frame, and what was written. Reads behave
// as with the connection's time-outs: a byte already on the line comes at once, one that arrives
// within 100 ms is waited for, otherwise the read finds nothing after 100 ms.
//   TimeSource  a virtual clock the line reads and moves
//   LineModel   the line itself; FakeSerialApi (the panel's port) and FakeLine (the core's line)
//               put their calls on it
// Standard C++ only.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual std::uint64_t Now() const = 0;
    // Moves the time forward to time; never back.
    virtual void AdvanceTo(std::uint64_t time) = 0;
};

class LineModel {
public:
    explicit LineModel(TimeSource& time) : m_time(time) {}

    // --- What the monitor does ---
    // Bytes that reach the line at a given time.
    void Arrive(std::uint64_t time, const std::string& bytes);
    // Bytes that arrive every period ms from now on, for ever: a line that never falls quiet
    // (period 0: quiet again).
    void Babble(std::uint64_t period);
    // The monitor's answer to each frame: after every ninth byte written, the next answer in
    // line arrives delay ms later (bytes of one answer arrive together, or one every spacing ms).
    // No answers: silence.
    struct Answer {
        std::string bytes = {};
        std::uint64_t delay = 0;
        // An acknowledge that comes on its own, this long after the frame (0: with the data).
        std::string lateBytes = {};
        std::uint64_t lateDelay = 0;
        std::uint64_t spacing = 0;
    };
    std::deque<Answer> answers;

    // --- What was written ---
    std::string written;                   // every byte written, in order
    std::vector<std::uint64_t> writeTimes; // when each byte was written
    std::vector<std::string> frames;       // the written bytes, nine at a time
    std::vector<std::uint64_t> frameTimes; // when the ninth byte of each frame was written
    int wakeups = 0;                       // the reads and waits that had to wait for the line

protected:
    // Takes a byte written to the line; the ninth of a frame brings the next answer.
    void TakeWritten(char byte);
    // Waits for a byte as a read with the connection's time-outs does: true with the byte when
    // one came within 100 ms (or within timeout), false after that long of quiet.
    bool TakeArrived(std::uint8_t& byte, std::uint64_t timeout = 100);
    // Waits as a line woken for several bytes at once does: until count bytes are on the line or
    // timeout ms have passed; takes none.
    void AwaitArrived(std::size_t count, std::uint64_t timeout);

    TimeSource& m_time;

private:
    struct Arrival {
        std::uint64_t time;
        std::uint8_t byte;
    };
    // The time the next byte reaches the line, or ~0 when none will come.
    std::uint64_t NextArrival() const;

    std::deque<Arrival> m_line;
    std::uint64_t m_babblePeriod = 0;
    std::uint64_t m_nextBabble = 0;
    std::string m_frame;
};
