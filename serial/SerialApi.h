// The platform's serial calls, behind one narrow seam.
//   SerialApi         the kernel32 functions the serial channel uses, one virtual each
//   GetSerialApi      the implementation in use: kernel32 unless a test put a fake there
//   SetSerialApi      replaces it; null puts kernel32 back
#pragma once

#include <windows.h>

class SerialApi {
public:
    virtual ~SerialApi() = default;
    virtual HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                               LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                               HANDLE hTemplate) = 0;
    virtual BOOL GetCommState(HANDLE hFile, DCB* dcb) = 0;
    virtual BOOL SetCommState(HANDLE hFile, DCB* dcb) = 0;
    virtual BOOL GetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* timeouts) = 0;
    virtual BOOL SetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* timeouts) = 0;
    virtual BOOL PurgeComm(HANDLE hFile, DWORD flags) = 0;
    virtual BOOL WriteFile(HANDLE hFile, LPCVOID buffer, DWORD count, DWORD* written,
                           OVERLAPPED* overlapped) = 0;
    virtual BOOL ReadFile(HANDLE hFile, LPVOID buffer, DWORD count, DWORD* read,
                          OVERLAPPED* overlapped) = 0;
    virtual BOOL SetCommMask(HANDLE hFile, DWORD mask) = 0;
    virtual BOOL FlushFileBuffers(HANDLE hFile) = 0;
    virtual BOOL CloseHandle(HANDLE hFile) = 0;
};

SerialApi& GetSerialApi();
// Returns the implementation in use before.
SerialApi* SetSerialApi(SerialApi* api);
