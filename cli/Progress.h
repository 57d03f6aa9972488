// A wide scan's progress on the terminal: one line on stderr, rewritten as the IDs are tried.
//   ShowsScanProgress  whether a call shows it
//   ScanProgress       the line, shared by every target's thread and the printing of results
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>
#include "commands/Commands.h"

// Only a scan over more IDs than the default range shows its progress, and only when both its
// output and its errors go to a terminal: nothing of it may reach a pipe or a file.
bool ShowsScanProgress(const Request& request, bool outputIsTerminal, bool errorsIsTerminal);

class ScanProgress {
public:
    // targets scanning ids IDs each; the line goes to out (stderr).
    ScanProgress(std::FILE* out, size_t targets, int ids);
    // Target number target has tried one more ID and found units so far.
    void Tried(size_t target, const std::vector<int>& units);
    // Prints a line of results on results (stdout), the progress line wiped first; the last
    // result leaves none behind.
    void PrintResult(std::FILE* results, const std::string& line);

    // The progress line's text for so many IDs tried and units found.
    static std::string Text(long tried, long total, long found);

private:
    void Wipe();

    std::mutex m_mutex;
    std::FILE* m_out;
    std::vector<long> m_tried;
    std::vector<long> m_found;
    long m_total;
    size_t m_shown = 0; // the width of the line on the terminal; 0 none
};
