#include <windows.h>

#include "Console.h"
#include "line/WindowsError.h"

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
    const std::string message = line::WindowsErrorText(code);
    const std::string number = "error " + std::to_string(code);
    return message == number ? number : number + " (" + message + ")";
}

} // namespace monitor_sim
