// The operations' log in memory: the last operations that ended, whoever asked, for GET /api/log.
//   MAX_LOGGED_OPERATIONS, DEFAULT_LOG_LIMIT  how many it keeps, and how many an answer holds
//   OperationLog   a ring of records, fed by an Operations listener, read newest first
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>
#include "service/Operations.h"

namespace service {

// A few days of a busy site's switching; a record is a few hundred bytes.
inline constexpr std::size_t MAX_LOGGED_OPERATIONS = 1000;
inline constexpr std::size_t DEFAULT_LOG_LIMIT = 100;

class OperationLog {
public:
    explicit OperationLog(std::size_t capacity = MAX_LOGGED_OPERATIONS) : m_capacity(capacity) {}
    // Keeps the record, letting the oldest go when the log is full; safe from any thread.
    void Add(const OperationRecord& record);
    // The newest records first, at most limit of them.
    std::vector<OperationRecord> Newest(std::size_t limit) const;

private:
    const std::size_t m_capacity;
    mutable std::mutex m_mutex;
    std::deque<OperationRecord> m_records; // oldest first
};

} // namespace service
