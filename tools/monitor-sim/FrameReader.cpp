#include "FrameReader.h"

namespace monitor_sim {

namespace {

bool isUpperLetter(char c) {
    return c >= 'A' && c <= 'Z';
}

bool isPrintable(char c) {
    return c >= 0x20 && c <= 0x7E;
}

} // namespace

bool FrameReader::fitsFrame(const std::string& partial) {
    for (std::size_t i = 0; i < partial.size(); ++i) {
        const char c = partial[i];
        if (i < 2 && c != '@')
            return false;
        if (i >= 3 && i < 6 && !isUpperLetter(c))
            return false;
        if (i >= 6 && !isPrintable(c))
            return false;
    }
    return true;
}

void FrameReader::addDropped(std::vector<LineEvent>& events, char byte) {
    if (!events.empty() && events.back().kind == LineEvent::Kind::Dropped)
        events.back().bytes += byte;
    else
        events.push_back({LineEvent::Kind::Dropped, std::string(1, byte)});
}

void FrameReader::push(char byte, std::uint64_t throughUs, std::vector<LineEvent>& events) {
    partial_ += byte;
    // When the bytes so far cannot be the start of a frame, the first one is junk: drop it and
    // look for a frame start in the rest ("@@@1SIG000" still yields "@@1SIG000").
    while (!partial_.empty() && !fitsFrame(partial_)) {
        addDropped(events, partial_.front());
        partial_.erase(0, 1);
    }
    if (partial_.size() == FRAME_SIZE) {
        events.push_back({LineEvent::Kind::Frame, partial_, throughUs});
        partial_.clear();
    }
}

std::vector<LineEvent> FrameReader::feed(std::string_view bytes, std::uint64_t nowUs) {
    std::vector<LineEvent> events = expire(nowUs);
    for (char byte : bytes) {
        const bool wasEmpty = partial_.empty();
        const std::uint64_t throughUs = receiver_.through(nowUs);
        push(byte, throughUs, events);
        if (wasEmpty && !partial_.empty())
            partialSinceUs_ = throughUs;
    }
    return events;
}

std::optional<std::uint64_t> FrameReader::expiresUs() const {
    if (partial_.empty())
        return std::nullopt;
    return partialSinceUs_ + kStaleFrameMs * 1000 + 1;
}

std::vector<LineEvent> FrameReader::expire(std::uint64_t nowUs) {
    // A partial frame's first byte may count as through a little after now (Receiver).
    const std::optional<std::uint64_t> expires = expiresUs();
    if (!expires || nowUs < *expires)
        return {};
    std::vector<LineEvent> events{{LineEvent::Kind::Stale, partial_}};
    partial_.clear();
    return events;
}

} // namespace monitor_sim
