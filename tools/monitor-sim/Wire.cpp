#include "Wire.h"

#include <algorithm>

namespace monitor_sim {

std::uint64_t Receiver::through(std::uint64_t receivedUs) {
    if (receivedUs >= burstStartUs_ + wireUs(burstBytes_)) {
        burstStartUs_ = receivedUs;
        burstBytes_ = 0;
    }
    ++burstBytes_;
    return burstStartUs_ + wireUs(burstBytes_);
}

void Transmitter::send(std::uint64_t startUs, std::string bytes, bool noise) {
    if (bytes.empty())
        return;
    const std::uint64_t start = std::max(startUs, freeUs_);
    freeUs_ = start + wireUs(bytes.size());
    queue_.push_back({start, std::move(bytes), noise});
}

std::string Transmitter::take(std::uint64_t nowUs, std::vector<std::string>& finished) {
    std::string out;
    while (!queue_.empty()) {
        Write& write = queue_.front();
        while (write.taken < write.bytes.size() && write.startUs + wireUs(write.taken + 1) <= nowUs)
            out += write.bytes[write.taken++];
        if (write.taken < write.bytes.size())
            break;
        if (!write.noise)
            finished.push_back(std::move(write.bytes));
        queue_.pop_front();
    }
    return out;
}

std::optional<std::uint64_t> Transmitter::nextUs() const {
    if (queue_.empty())
        return std::nullopt;
    const Write& write = queue_.front();
    return write.startUs + wireUs(write.taken + 1);
}

bool Transmitter::carriesAnswer() const {
    return std::any_of(queue_.begin(), queue_.end(),
                       [](const Write& write) { return !write.noise; });
}

void Transmitter::clear() {
    queue_.clear();
    freeUs_ = 0;
}

} // namespace monitor_sim
