#include "serial/SerialApi.h"

namespace {

class Kernel32SerialApi final : public SerialApi {
public:
    HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE hTemplate) override {
        return ::CreateFileA(path, access, shareMode, security, disposition, flags, hTemplate);
    }
    BOOL GetCommState(HANDLE hFile, DCB* dcb) override { return ::GetCommState(hFile, dcb); }
    BOOL SetCommState(HANDLE hFile, DCB* dcb) override { return ::SetCommState(hFile, dcb); }
    BOOL GetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* timeouts) override {
        return ::GetCommTimeouts(hFile, timeouts);
    }
    BOOL SetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* timeouts) override {
        return ::SetCommTimeouts(hFile, timeouts);
    }
    BOOL PurgeComm(HANDLE hFile, DWORD flags) override { return ::PurgeComm(hFile, flags); }
    BOOL WriteFile(HANDLE hFile, LPCVOID buffer, DWORD count, DWORD* written,
                   OVERLAPPED* overlapped) override {
        return ::WriteFile(hFile, buffer, count, written, overlapped);
    }
    BOOL ReadFile(HANDLE hFile, LPVOID buffer, DWORD count, DWORD* read,
                  OVERLAPPED* overlapped) override {
        return ::ReadFile(hFile, buffer, count, read, overlapped);
    }
    BOOL SetCommMask(HANDLE hFile, DWORD mask) override { return ::SetCommMask(hFile, mask); }
    BOOL FlushFileBuffers(HANDLE hFile) override { return ::FlushFileBuffers(hFile); }
    BOOL CloseHandle(HANDLE hFile) override { return ::CloseHandle(hFile); }
};

Kernel32SerialApi g_kernel32;
SerialApi* g_api = &g_kernel32;

} // namespace

SerialApi& GetSerialApi() {
    return *g_api;
}

SerialApi* SetSerialApi(SerialApi* api) {
    SerialApi* previous = g_api;
    g_api = api ? api : &g_kernel32;
    return previous;
}
