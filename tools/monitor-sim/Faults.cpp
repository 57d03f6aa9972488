#include "Faults.h"

namespace monitor_sim {

std::vector<TimedWrite> FaultShaper::shape(const Answer& answer) {
    const unsigned frameNumber = ++framesSeen_;
    if (faults_.silent)
        return {};

    std::string data = answer.data;
    if (faults_.partial && data.size() > *faults_.partial)
        data.resize(*faults_.partial);

    bool ack = answer.ack;
    if (faults_.nakAlways || frameNumber <= faults_.nakFirst)
        ack = false;
    const char ackByte = acknowledgeByte(ack);
    const unsigned delayMs =
        faults_.delayFirst == 0 || frameNumber <= faults_.delayFirst ? faults_.delayMs : 0;

    // The acknowledge byte never goes out before the data bytes, whatever the two delays say.
    if (faults_.lateAckMs && *faults_.lateAckMs > delayMs) {
        std::vector<TimedWrite> writes;
        if (!data.empty())
            writes.push_back({delayMs, data});
        writes.push_back({*faults_.lateAckMs, std::string(1, ackByte)});
        return writes;
    }
    return {{delayMs, data + ackByte}};
}

std::string FaultShaper::describe() const {
    std::string text;
    auto add = [&text](const std::string& item) {
        text += (text.empty() ? "" : ", ") + item;
    };
    if (faults_.silent)
        add("silent");
    if (faults_.nakAlways)
        add("nak");
    if (faults_.nakFirst)
        add("nak-first " + std::to_string(faults_.nakFirst));
    if (faults_.delayMs)
        add("delay " + std::to_string(faults_.delayMs) + " ms" +
            (faults_.delayFirst ? " for the first " + std::to_string(faults_.delayFirst) : ""));
    if (faults_.lateAckMs)
        add("late-ack " + std::to_string(*faults_.lateAckMs) + " ms");
    if (faults_.partial)
        add("partial " + std::to_string(*faults_.partial));
    if (faults_.noiseMs)
        add("noise every " + std::to_string(*faults_.noiseMs) + " ms");
    if (faults_.dropAfter)
        add("drop-after " + std::to_string(*faults_.dropAfter));
    if (faults_.pullAfter)
        add("pull-after " + std::to_string(*faults_.pullAfter));
    return text.empty() ? "none" : text;
}

} // namespace monitor_sim
