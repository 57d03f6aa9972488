// A line to the simulated monitor's own model of a monitor (or a daisy chain of them), on virtual
// time, for the native tests of what runs on a line: the monitors answer every frame as the
// simulator does, each at its address, and colliding when several answer at "0".
//   SimulatedLine  the line: its chain, and a line that can drop or be cut by a stop
// Standard C++ only.
#pragma once

#include <functional>
#include <string>
#include <vector>
#include "Chain.h"
#include "core/MonitorLine.h"
#include "core/ProtocolRules.h"
#include "line/Cancel.h"
#include "tests/support/FakeLine.h"

class SimulatedLine : public MonitorLine, public LineModel {
public:
    // The chain's monitors answer on this line; a set stop refuses the next frame and drain, as
    // the line library's lines do between exchanges.
    SimulatedLine(VirtualTime& time, monitor_sim::Chain& chain, const line::Cancel* stop = nullptr)
        : LineModel(time), m_chain(chain), m_stop(stop) {}

    bool dropped = false;                                 // gone: every write fails
    std::function<void(const std::string&)> onFrame = {}; // each frame, as it is written

    bool WriteByte(std::uint8_t byte) override {
        if (dropped || Stopped())
            return false;
        m_frame += static_cast<char>(byte);
        if (m_frame.size() == FRAME_SIZE)
            Answer(std::exchange(m_frame, {}));
        return true;
    }
    ReadResult ReadByte(std::uint8_t* target) override {
        return ReadByteWithin(target, protocol::READ_TIMEOUT_MS);
    }
    ReadResult ReadByteWithin(std::uint8_t* target, std::uint32_t milliseconds) override {
        *target = 0;
        if (dropped)
            return READ_FAILED;
        return TakeArrived(*target, milliseconds) ? READ_BYTE : READ_NOTHING;
    }
    void AwaitBytes(std::size_t count, std::uint32_t milliseconds) override {
        if (!dropped)
            AwaitArrived(count, milliseconds);
    }
    void Drain() override {
        if (dropped || Stopped())
            return;
        const std::uint64_t start = m_time.Now();
        std::uint8_t byte = 0;
        while (TakeArrived(byte) && m_time.Now() - start < protocol::DRAIN_LIMIT_MS) {
        }
    }

private:
    bool Stopped() const { return m_stop != nullptr && m_stop->IsSet(); }

    void Answer(const std::string& frame) {
        frames.push_back(frame);
        frameTimes.push_back(m_time.Now());
        if (onFrame)
            onFrame(frame);
        std::vector<std::vector<monitor_sim::TimedWrite>> answers;
        for (monitor_sim::ChainMember* member : m_chain.addressed(frame[2]))
            answers.push_back(member->shaper.shape(member->monitor.answer(frame)));
        for (const monitor_sim::TimedWrite& write : monitor_sim::collide(answers))
            Arrive(m_time.Now() + write.afterMs, write.bytes);
    }

    monitor_sim::Chain& m_chain;
    const line::Cancel* m_stop;
    std::string m_frame;
};
