// A serial port and the monitor behind it, on the virtual clock: the program's serial calls land
// here instead of kernel32. Reads behave as with the connection's time-outs: a byte already on
// the line comes at once, one that arrives within 100 ms is waited for, otherwise the read
// returns nothing after 100 ms.
#pragma once

#include <windows.h>
#include <functional>
#include <set>
#include <string>
#include <vector>
#include "serial/SerialApi.h"
#include "tests/support/LineModel.h"
#include "tests/support/VirtualClock.h"

class FakeSerialApi final : public SerialApi, public LineModel {
public:
    // Installs itself as the program's serial platform for its lifetime.
    explicit FakeSerialApi(VirtualClock& clock);
    ~FakeSerialApi() override;

    // --- What the port does ---
    bool openFails = false;
    bool getCommStateFails = false;
    bool setCommStateFails = false;
    bool getCommTimeoutsFails = false;
    bool setCommTimeoutsFails = false;
    std::set<int> failingWrites; // numbers (from 1) of the WriteFile calls that fail
    std::set<int> failingReads;  // numbers (from 1) of the ReadFile calls that fail
    DCB portDcb;                 // what GetCommState reads
    COMMTIMEOUTS portTimeouts;   // what GetCommTimeouts reads

    // What the monitor does and what was written: LineModel's Arrive, Babble, answers, written,
    // writeTimes, frames, frameTimes.

    // --- What the program did ---
    std::vector<std::string> calls; // names of the platform calls, in order
    // Called at every platform call with its name, before the call does anything.
    std::function<void(const std::string& call)> onCall;
    std::vector<std::string> paths; // paths given to CreateFileA
    DWORD openAccess = 0, openShare = 0, openDisposition = 0, openFlags = 0;
    DWORD purgeFlags = 0;
    int handlesOpen = 0; // opened and not yet closed

    // How many times the named call was made.
    int Count(const std::string& call) const;
    // The calls made since the given index into calls.
    std::vector<std::string> CallsSince(size_t index) const;

    HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE hTemplate) override;
    BOOL GetCommState(HANDLE hFile, DCB* dcb) override;
    BOOL SetCommState(HANDLE hFile, DCB* dcb) override;
    BOOL GetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* timeouts) override;
    BOOL SetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* timeouts) override;
    BOOL PurgeComm(HANDLE hFile, DWORD flags) override;
    BOOL WriteFile(HANDLE hFile, LPCVOID buffer, DWORD count, DWORD* pWritten,
                   OVERLAPPED* overlapped) override;
    BOOL ReadFile(HANDLE hFile, LPVOID buffer, DWORD count, DWORD* read,
                  OVERLAPPED* overlapped) override;
    BOOL SetCommMask(HANDLE hFile, DWORD mask) override;
    BOOL FlushFileBuffers(HANDLE hFile) override;
    BOOL CloseHandle(HANDLE hFile) override;

    DCB appliedDcb{};               // what SetCommState was given last
    COMMTIMEOUTS appliedTimeouts{}; // what SetCommTimeouts was given last

private:
    void Record(const char* call);
    bool IsPort(HANDLE hFile) const;

    SerialApi* m_previous;
    int m_writes = 0;
    int m_reads = 0;
};
