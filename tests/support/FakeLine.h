// The protocol core's line and clock for its unit tests, on virtual time.
//   VirtualTime  a clock that moves only when the core waits or a read finds a quiet line
//   FakeLine     a line to a fake monitor (LineModel), with the drain of the panel's channel
// Standard C++ only.
#pragma once

#include <cstdint>
#include <set>
#include <vector>
#include "core/MonitorLine.h"
#include "core/ProtocolRules.h"
#include "tests/support/LineModel.h"

class VirtualTime final : public TimeSource, public ProtocolClock {
public:
    std::uint64_t Now() const override { return m_now; }
    void AdvanceTo(std::uint64_t time) override {
        if (time > m_now)
            m_now = time;
    }
    void Sleep(std::uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        m_now += milliseconds;
    }
    std::uint64_t NowMs() override { return m_now; }

    std::vector<std::uint32_t> sleeps; // every wait of the core, in order

private:
    std::uint64_t m_now = 0;
};

class FakeLine final : public MonitorLine, public LineModel {
public:
    explicit FakeLine(VirtualTime& time) : LineModel(time) {}

    std::set<int> failingWrites; // numbers (from 1) of the writes that fail
    // Stale bytes keep coming before every frame, one a read time-out apart, until the drain
    // gives up on them at its limit.
    bool chattersUntilDrained = false;

    bool WriteByte(std::uint8_t byte) override {
        if (failingWrites.count(++m_writes) != 0)
            return false;
        TakeWritten(static_cast<char>(byte));
        return true;
    }
    ReadResult ReadByte(std::uint8_t* target) override {
        return ReadByteWithin(target, protocol::READ_TIMEOUT_MS);
    }
    ReadResult ReadByteWithin(std::uint8_t* target, std::uint32_t milliseconds) override {
        *target = 0;
        return TakeArrived(*target, milliseconds) ? READ_BYTE : READ_NOTHING;
    }
    void AwaitBytes(std::size_t count, std::uint32_t milliseconds) override {
        AwaitArrived(count, milliseconds);
    }
    void Drain() override {
        const std::uint64_t start = m_time.Now();
        if (chattersUntilDrained)
            Babble(protocol::READ_TIMEOUT_MS);
        std::uint8_t byte = 0;
        while (TakeArrived(byte) && m_time.Now() - start < protocol::DRAIN_LIMIT_MS) {
        }
        if (chattersUntilDrained)
            Babble(0);
    }

private:
    int m_writes = 0;
};
