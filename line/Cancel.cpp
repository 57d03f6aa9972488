#include "line/Cancel.h"
#include <chrono>

namespace line {

void Cancel::Set() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_set = true;
    }
    m_wake.notify_all();
}

bool Cancel::Wait(std::uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [this] { return m_set.load(); });
}

} // namespace line
