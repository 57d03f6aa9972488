#include "service/Log.h"
#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include "service/View.h"

namespace service {

namespace {

// The length of the well-formed UTF-8 sequence of two bytes or more at text[i], or 0 for anything
// else: a single byte, a broken sequence, or U+0080 to U+009F, which are control characters too.
std::size_t PrintableSequenceAt(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) {
        return k < text.size() ? static_cast<unsigned char>(text[k]) : 0;
    };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    // The bounds of the second byte, which rule out the C1 controls, overlong forms, surrogates
    // and what lies beyond U+10FFFF; the later bytes are 80-BF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead == 0xC2 || lead == 0xE0)
        low = 0xA0;
    if (lead == 0xED)
        high = 0x9F;
    if (lead == 0xF0)
        low = 0x90;
    if (lead == 0xF4)
        high = 0x8F;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = byte(i + k);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

} // namespace

std::string Escaped(std::string_view text) {
    constexpr char HEX[] = "0123456789abcdef";
    std::string line;
    line.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t sequence = PrintableSequenceAt(text, i);
        if (sequence > 0) {
            line.append(text.substr(i, sequence));
            i += sequence;
            continue;
        }
        ++i;
        if (c >= 0x20 && c < 0x7F && c != '\\')
            line += static_cast<char>(c);
        else if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else if (c == '\t')
            line += "\\t";
        else if (c == '\\')
            line += "\\\\";
        else
            line += {'\\', 'x', HEX[c >> 4], HEX[c & 0xF]};
    }
    return line;
}

bool IsJournal(const char* journalStream, std::uint64_t device, std::uint64_t inode) {
    if (journalStream == nullptr)
        return false;
    unsigned long long dev = 0;
    unsigned long long ino = 0;
    char rest = 0;
    if (std::sscanf(journalStream, "%llu:%llu%c", &dev, &ino, &rest) != 2)
        return false;
    return dev == device && ino == inode;
}

void Log(const std::string& text) {
    const std::string line = Escaped(text);
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    // Asked each time: a test may point stderr elsewhere, and one fstat is nothing beside a write.
    struct stat info {};
    const bool journal = ::fstat(STDERR_FILENO, &info) == 0 &&
                         IsJournal(std::getenv("JOURNAL_STREAM"), info.st_dev, info.st_ino);
    if (!journal) {
        const std::int64_t wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count();
        std::fprintf(stderr, "%s ", Rfc3339(wallMs, true).c_str());
    }
    std::fprintf(stderr, "kelvaned: %s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace service
