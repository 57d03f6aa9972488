#include "service/OperationLog.h"
#include <algorithm>

namespace service {

void OperationLog::Add(const OperationRecord& record) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.push_back(record);
    if (m_records.size() > m_capacity)
        m_records.pop_front();
}

std::vector<OperationRecord> OperationLog::Newest(std::size_t limit) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::size_t count = std::min(limit, m_records.size());
    return std::vector<OperationRecord>(m_records.rbegin(), m_records.rbegin() + count);
}

} // namespace service
