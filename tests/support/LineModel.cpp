#include "tests/support/LineModel.h"
#include <algorithm>

namespace {

constexpr std::uint64_t NEVER = ~0ULL;
// What a babbling line sends.
constexpr std::uint8_t BABBLE = '~';

} // namespace

void LineModel::Arrive(std::uint64_t time, const std::string& bytes) {
    for (char c : bytes)
        m_line.push_back({time, static_cast<std::uint8_t>(c)});
    std::stable_sort(m_line.begin(), m_line.end(),
                     [](const Arrival& a, const Arrival& b) { return a.time < b.time; });
}

void LineModel::Babble(std::uint64_t period) {
    m_babblePeriod = period;
    m_nextBabble = m_time.Now() + period;
}

std::uint64_t LineModel::NextArrival() const {
    std::uint64_t next = m_line.empty() ? NEVER : m_line.front().time;
    if (m_babblePeriod != 0)
        next = std::min(next, m_nextBabble);
    return next;
}

void LineModel::TakeWritten(char byte) {
    const std::uint64_t now = m_time.Now();
    written.push_back(byte);
    writeTimes.push_back(now);
    m_frame.push_back(byte);
    if (m_frame.size() < 9)
        return;
    frames.push_back(m_frame);
    frameTimes.push_back(now);
    m_frame.clear();
    if (answers.empty())
        return;
    const Answer answer = answers.front();
    answers.pop_front();
    for (std::size_t i = 0; i < answer.bytes.size(); ++i)
        Arrive(now + answer.delay + i * answer.spacing, answer.bytes.substr(i, 1));
    if (!answer.lateBytes.empty())
        Arrive(now + answer.lateDelay, answer.lateBytes);
}

bool LineModel::TakeArrived(std::uint8_t& byte, std::uint64_t timeout) {
    const std::uint64_t next = NextArrival();
    if (next > m_time.Now())
        ++wakeups;
    if (next == NEVER || next > m_time.Now() + timeout) {
        m_time.AdvanceTo(m_time.Now() + timeout);
        return false;
    }
    m_time.AdvanceTo(next);
    if (!m_line.empty() && m_line.front().time <= m_time.Now()) {
        byte = m_line.front().byte;
        m_line.pop_front();
    } else {
        byte = BABBLE;
        m_nextBabble += m_babblePeriod;
    }
    return true;
}

void LineModel::AwaitArrived(std::size_t count, std::uint64_t timeout) {
    const std::uint64_t now = m_time.Now();
    std::uint64_t until = now + timeout;
    if (count != 0 && m_line.size() >= count)
        until = std::min(until, std::max(now, m_line[count - 1].time));
    if (until > now)
        ++wakeups;
    m_time.AdvanceTo(until);
}
