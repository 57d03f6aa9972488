// What the code under test writes to stderr while the object lives (kelvaned's log, say), read back
// by Text(). POSIX only.
#pragma once

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

class CapturedStderr {
public:
    CapturedStderr() {
        m_file = ::mkstemp(m_path);
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        if (m_file >= 0)
            ::dup2(m_file, STDERR_FILENO);
    }
    ~CapturedStderr() {
        Restore();
        ::unlink(m_path);
    }
    CapturedStderr(const CapturedStderr&) = delete;
    CapturedStderr& operator=(const CapturedStderr&) = delete;

    // Puts stderr back and returns what was written meanwhile.
    std::string Text() {
        Restore();
        std::ifstream in(m_path);
        std::ostringstream written;
        written << in.rdbuf();
        return written.str();
    }

private:
    void Restore() {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
        if (m_file >= 0)
            ::close(m_file);
    }

    char m_path[32] = "/tmp/kelvane-stderr-XXXXXX";
    int m_file = -1;
    int m_saved = -1;
};
