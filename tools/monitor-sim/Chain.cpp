#include "Chain.h"

#include <algorithm>
#include <map>

namespace monitor_sim {

Chain::Chain(const MonitorState& settings, const std::vector<unsigned>& unitIds,
             const Faults& faults) {
    for (unsigned unitId : unitIds) {
        MonitorState state = settings;
        state.unitId = unitId;
        members_.push_back({Monitor(state), FaultShaper(faults)});
    }
}

std::vector<ChainMember*> Chain::addressed(char address) {
    std::vector<ChainMember*> found;
    for (ChainMember& member : members_)
        if (member.monitor.isForMe(address))
            found.push_back(&member);
    return found;
}

std::string Chain::units(const std::vector<ChainMember*>& members) {
    std::string text;
    for (const ChainMember* member : members)
        text += (text.empty() ? "" : ",") + std::to_string(member->monitor.state().unitId);
    return text;
}

std::string Chain::units() const {
    std::string text;
    for (const ChainMember& member : members_)
        text += (text.empty() ? "" : ",") + std::to_string(member.monitor.state().unitId);
    return text;
}

namespace {

// "001!" and "002!" give "000012!!".
std::string interleave(const std::vector<std::string>& parts) {
    std::size_t longest = 0;
    for (const std::string& part : parts)
        longest = std::max(longest, part.size());
    std::string bytes;
    for (std::size_t i = 0; i < longest; ++i)
        for (const std::string& part : parts)
            if (i < part.size())
                bytes += part[i];
    return bytes;
}

} // namespace

std::vector<TimedWrite> collide(const std::vector<std::vector<TimedWrite>>& answers) {
    if (answers.size() == 1)
        return answers.front();
    // Two transmitters on one line garble each other. Interleaving their bytes keeps that plain in
    // the log, and no controller can take the result for one monitor's answer, as it could take
    // the first of two answers laid end to end.
    std::map<std::uint64_t, std::vector<std::string>> atOnce;
    for (const std::vector<TimedWrite>& answer : answers)
        for (const TimedWrite& write : answer)
            atOnce[write.afterMs].push_back(write.bytes);
    std::vector<TimedWrite> line;
    for (const auto& [afterMs, parts] : atOnce)
        line.push_back({afterMs, interleave(parts)});
    return line;
}

} // namespace monitor_sim
