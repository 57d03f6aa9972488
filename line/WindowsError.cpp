#include "line/WindowsError.h"
#include <windows.h>

namespace line {

std::string WindowsErrorText(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string utf8;
    if (length != 0) {
        const int size =
            ::WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
        utf8.resize(size > 0 ? size_t(size) : 0);
        ::WideCharToMultiByte(CP_UTF8, 0, text, int(length), utf8.data(), size, nullptr, nullptr);
    }
    if (text != nullptr)
        ::LocalFree(text);
    while (!utf8.empty() &&
           (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ' || utf8.back() == '.'))
        utf8.pop_back();
    return utf8.empty() ? "error " + std::to_string(code) : utf8;
}

} // namespace line
