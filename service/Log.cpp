#include "service/Log.h"
#include <cstdio>
#include <mutex>

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

void Log(const std::string& text) {
    const std::string line = Escaped(text);
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::fprintf(stderr, "kelvaned: %s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace service
