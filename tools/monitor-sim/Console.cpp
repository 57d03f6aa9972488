#include <windows.h>

#include "Console.h"

namespace monitor_sim {

namespace {

// A console takes text as UTF-16 through WriteConsoleW, whatever its code page; a pipe or a file
// gets the UTF-8 bytes unchanged, so a test reading our output sees exactly what we wrote.
void writeTo(DWORD which, std::string_view text) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty())
        return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = toUtf16(text);
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace

std::string toUtf8(std::wstring_view text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                        nullptr, nullptr);
    return result;
}

std::wstring toUtf16(std::string_view text) {
    if (text.empty())
        return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        size);
    return result;
}

void writeStdout(std::string_view text) {
    writeTo(STD_OUTPUT_HANDLE, text);
}

void writeStderr(std::string_view text) {
    writeTo(STD_ERROR_HANDLE, text);
}

std::string windowsErrorText(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring message = length ? std::wstring(buffer, length) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    std::string text = "error " + std::to_string(code);
    if (!message.empty())
        text += " (" + toUtf8(message) + ")";
    return text;
}

} // namespace monitor_sim
