// Text for the user on Linux: the arguments and the output are UTF-8 already, and wide text is
// UTF-32 there.

#include "Console.h"

#include <cerrno>
#include <unistd.h>

namespace monitor_sim {

namespace {

void writeTo(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

} // namespace

std::string toUtf8(std::wstring_view text) {
    std::string result;
    for (wchar_t wide : text) {
        auto code = static_cast<char32_t>(wide);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            code = 0xFFFD;
        if (code < 0x80) {
            result += static_cast<char>(code);
        } else if (code < 0x800) {
            result += static_cast<char>(0xC0 | (code >> 6));
            result += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            result += static_cast<char>(0xE0 | (code >> 12));
            result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            result += static_cast<char>(0xF0 | (code >> 18));
            result += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return result;
}

// A byte that starts no valid sequence becomes U+FFFD, as the Windows conversion does.
std::wstring toUtf16(std::string_view text) {
    std::wstring result;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            length = 1, code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code = lead & 0x07;
        }
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        result += valid ? static_cast<wchar_t>(code) : L'\xFFFD';
        i += valid ? length : 1;
    }
    return result;
}

void writeStdout(std::string_view text) {
    writeTo(STDOUT_FILENO, text);
}

void writeStderr(std::string_view text) {
    writeTo(STDERR_FILENO, text);
}

} // namespace monitor_sim
