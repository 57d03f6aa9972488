#include <windows.h>

#include "Cable.h"

#include "Console.h"

#include <sstream>

namespace monitor_sim {

namespace {

constexpr DWORD kCableAnswerMs = 5000;
constexpr DWORD kLookIntervalMs = 10;

} // namespace

bool Cable::pulled() const {
    return GetFileAttributesW((folder_ + L"\\pulled").c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string readSharedFile(const std::wstring& path) {
    // The writer appends while we read; share everything so neither gets in the other's way.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

std::vector<CableEvent> Cable::events() const {
    std::vector<CableEvent> events;
    if (folder_.empty())
        return events;
    const std::string text = readSharedFile(folder_ + L"\\cable.log");
    // Lines are "<ms> <event> <details>"; only whole lines count.
    std::istringstream lines(text.substr(0, text.rfind('\n') + 1));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream fields(line);
        std::string ms;
        CableEvent event;
        if (!(fields >> ms >> event.kind))
            continue;
        std::getline(fields >> std::ws, event.details);
        events.push_back(event);
    }
    return events;
}

std::size_t Cable::count(std::string_view kind, std::string_view details) const {
    std::size_t count = 0;
    for (const CableEvent& event : events())
        count += event.kind == kind && event.details == details;
    return count;
}

bool Cable::waitForMore(std::string_view event, std::size_t before) const {
    const ULONGLONG deadline = GetTickCount64() + kCableAnswerMs;
    while (count(event) <= before) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(kLookIntervalMs);
    }
    return true;
}

bool Cable::pull(std::string& error) {
    const std::size_t before = count("pull");
    HANDLE flag = CreateFileW((folder_ + L"\\pulled").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    if (flag == INVALID_HANDLE_VALUE) {
        error = "cannot pull the cable: " + windowsErrorText(GetLastError());
        return false;
    }
    CloseHandle(flag);
    if (!waitForMore("pull", before)) {
        error = "the cable did not log its pull within 5 s";
        return false;
    }
    return true;
}

bool Cable::plug(std::string& error) {
    const std::size_t before = count("plug");
    if (!DeleteFileW((folder_ + L"\\pulled").c_str())) {
        error = "cannot put the cable back: " + windowsErrorText(GetLastError());
        return false;
    }
    if (!waitForMore("plug", before)) {
        error = "the cable did not log its plug within 5 s";
        return false;
    }
    return true;
}

bool Cable::isBack() const {
    if (pulled())
        return false;
    const std::vector<CableEvent> all = events();
    for (auto event = all.rbegin(); event != all.rend(); ++event) {
        if (event->kind == "plug")
            return true;
        if (event->kind == "pull")
            return false;
    }
    return false;
}

bool Cable::waitUntilPutBack(const std::function<bool()>& keepWaiting) {
    while (!isBack()) {
        if (!keepWaiting())
            return false;
        Sleep(kLookIntervalMs * 2);
    }
    return true;
}

} // namespace monitor_sim
