// The line library: the lines the console programs open to monitors, behind the protocol core's
// MonitorLine, written once for Linux and for Windows.
//   Line                  a line this program opened, released when the object goes; what every
//                         kind of line shares (the read time-out, the drain, the frame's write
//                         bound, cancelling) is here, the transport's own calls in the kinds
//   Open                  opens the line of a target with the monitor's settings
//   OpenSerial, OpenTcp   the two kinds: a serial line of this machine, a device server
//   ReleaseExclusiveLines lets go of the serial lines' exclusive use before an abrupt end
//   TCP_CONNECT_LIMIT_MS, WRITE_LIMIT_MS  how long a connect and a frame's write may take
//   IN_USE                the reason of a serial line another program holds
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include "core/MonitorLine.h"
#include "line/Cancel.h"
#include "line/Deadline.h"
#include "line/Target.h"

namespace line {

inline constexpr std::uint32_t TCP_CONNECT_LIMIT_MS = 5000;
inline constexpr const char* IN_USE = "in use by another program";
// A frame that the line does not take within this long has failed: a serial line without flow
// control takes it at once, a device server whose window stays shut is gone. The bound is on the
// whole frame, so that a stalled connection cannot hold one exchange past its own bound.
inline constexpr std::uint32_t WRITE_LIMIT_MS = 1000;

class Line : public MonitorLine {
public:
    // What a set Cancel stops: every call at once (a wait under way ends within a few
    // milliseconds), or only what comes after the exchange under way: its answer is still read,
    // but no drain and no frame follow it, so no half frame is left on the line.
    enum class CancelMode { Now, BetweenExchanges };
    // Without a Cancel the line runs until it is closed.
    void SetCancel(const Cancel* cancel, CancelMode mode = CancelMode::Now) {
        m_cancel = cancel;
        m_mode = mode;
    }
    // Whether a call failed, or a wait ended, because the Cancel was set.
    bool WasCut() const { return m_cut; }

    // Reads one byte that arrives before the deadline: READ_BYTE with it, READ_NOTHING when none
    // came in time, READ_FAILED when the line is gone (or cancelled).
    ReadResult Read(std::uint8_t& byte, Deadline deadline);

    bool WriteByte(std::uint8_t byte) final;
    bool WriteFrame(const CommandFrame& frame) final;
    ReadResult ReadByte(std::uint8_t* target) final;
    ReadResult ReadByteWithin(std::uint8_t* target, std::uint32_t milliseconds) final;
    void AwaitBytes(std::size_t count, std::uint32_t milliseconds) final;
    void Drain() final;

protected:
    // Writes the bytes before the deadline; false when they could not all be written.
    virtual bool Send(const std::uint8_t* bytes, std::size_t count, Deadline deadline) = 0;
    // Takes one byte that arrives before the deadline (a short one: the caller loops).
    virtual ReadResult Receive(std::uint8_t& byte, Deadline deadline) = 0;
    // Waits until count bytes are waiting, the line fails, or the deadline (a short one: the
    // caller loops); false only when the deadline came first. A transport that cannot wait for
    // several bytes in one wake-up answers true at once.
    virtual bool WaitForBytes(std::size_t count, Deadline deadline) {
        (void)count;
        (void)deadline;
        return true;
    }
    // Whether the Cancel is set; remembers that a call was cut by it.
    bool Cancelled();
    // Whether it cuts everything at once: reads under way, and the wait for written bytes to
    // leave at the close.
    bool CutNow() { return m_mode == CancelMode::Now && Cancelled(); }

private:
    bool Write(const std::uint8_t* bytes, std::size_t count);
    // The deadline of one wait on the way to this one: short where a cancel must cut it at once.
    Deadline StepTo(Deadline deadline) const;

    const Cancel* m_cancel = nullptr;
    CancelMode m_mode = CancelMode::Now;
    bool m_cut = false;
};

// The line, or null with the reason (for a person) in error. A set cancel ends the connect to a
// device server early, and is the opened line's Cancel.
std::unique_ptr<Line> Open(const Target& target, std::string& error,
                           const Cancel* cancel = nullptr);
std::unique_ptr<Line> OpenSerial(const Target& target, std::string& error);
std::unique_ptr<Line> OpenTcp(const Target& target, std::string& error, const Cancel* cancel);

// Clears the exclusive-use flag of every serial line still open, for a program about to end
// without closing them (a second Ctrl-C); the flag would otherwise outlive it on a
// pseudo-terminal. Nothing to do on Windows, where the port goes with the process.
void ReleaseExclusiveLines();

} // namespace line
