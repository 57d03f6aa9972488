#pragma once
// The monitors on the simulator's line: one, or several on a daisy chain, each at its own address.
// No I/O in here.
//   ChainMember  one monitor of the chain: its state and its own count for --nak-first
//   Chain        the members, and which of them a frame is for
//   collide      the bytes on the line when several members answer one frame at once

#include "Faults.h"
#include "Monitor.h"

#include <string>
#include <vector>

namespace monitor_sim {

struct ChainMember {
    Monitor monitor;
    FaultShaper shaper;
};

class Chain {
public:
    // One member for each unit ID, all set up alike but for the ID.
    Chain(const MonitorState& settings, const std::vector<unsigned>& unitIds, const Faults& faults);

    // The members that answer a frame with this address character: the one whose address it is,
    // or every member at "0".
    std::vector<ChainMember*> addressed(char address);

    const std::vector<ChainMember>& members() const { return members_; }

    // Whether more than one monitor is on the line.
    bool isChain() const { return members_.size() > 1; }

    // The unit IDs of these members, for the log: "1,2,5".
    static std::string units(const std::vector<ChainMember*>& members);
    std::string units() const;

private:
    std::vector<ChainMember> members_;
};

// What the line carries when each of several members writes its answer to one frame: writes due
// at the same moment go out as one, their bytes interleaved one by one.
std::vector<TimedWrite> collide(const std::vector<std::vector<TimedWrite>>& answers);

} // namespace monitor_sim
