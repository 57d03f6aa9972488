#include "cli/Progress.h"
#include <algorithm>
#include <numeric>

bool ShowsScanProgress(const Request& request, bool outputIsTerminal, bool errorsIsTerminal) {
    return request.command == Command::Scan && outputIsTerminal && errorsIsTerminal &&
           request.lastId - request.firstId > DEFAULT_LAST_ID - DEFAULT_FIRST_ID;
}

ScanProgress::ScanProgress(std::FILE* out, size_t targets, int ids)
    : m_out(out), m_tried(targets), m_found(targets), m_total(long(targets) * ids) {
}

std::string ScanProgress::Text(long tried, long total, long found) {
    return "scan: " + std::to_string(tried) + " of " + std::to_string(total) + " unit IDs tried, " +
           std::to_string(found) + (found == 1 ? " unit" : " units") + " found";
}

void ScanProgress::Tried(size_t target, const std::vector<int>& units) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_tried[target];
    m_found[target] = long(units.size());
    const std::string text = Text(std::accumulate(m_tried.begin(), m_tried.end(), 0L), m_total,
                                  std::accumulate(m_found.begin(), m_found.end(), 0L));
    // Written over the last one; a shorter text leaves no tail of it.
    std::fprintf(m_out, "\r%s%*s", text.c_str(),
                 int(m_shown > text.size() ? m_shown - text.size() : 0), "");
    std::fflush(m_out);
    m_shown = std::max(m_shown, text.size());
}

void ScanProgress::Wipe() {
    if (m_shown == 0)
        return;
    std::fprintf(m_out, "\r%*s\r", int(m_shown), "");
    std::fflush(m_out);
    m_shown = 0;
}

void ScanProgress::PrintResult(std::FILE* results, const std::string& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Wipe();
    std::fprintf(results, "%s\n", line.c_str());
    std::fflush(results);
}
