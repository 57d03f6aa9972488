#include "tests/support/FakeSerialApi.h"
#include <algorithm>

namespace {

HANDLE const FAKE_PORT = reinterpret_cast<HANDLE>(0x5E51);

} // namespace

FakeSerialApi::FakeSerialApi(VirtualClock& clock)
    : LineModel(clock), portDcb{}, portTimeouts{}, m_previous(SetSerialApi(this)) {
    // A port's settings as a driver might leave them, with the bits the channel must keep.
    portDcb.DCBlength = sizeof portDcb;
    portDcb.BaudRate = 9600;
    portDcb.ByteSize = 7;
    portDcb.Parity = EVENPARITY;
    portDcb.StopBits = TWOSTOPBITS;
    portDcb.fOutxCtsFlow = 1;
    portDcb.fOutxDsrFlow = 1;
    portDcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    portDcb.fDsrSensitivity = 1;
    portDcb.fTXContinueOnXoff = 1;
    portDcb.fOutX = 1;
    portDcb.fInX = 1;
    portDcb.fErrorChar = 1;
    portDcb.fNull = 1;
    portDcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    portDcb.XonLim = 2048;
    portDcb.XoffLim = 512;
    portDcb.XonChar = 0x11;
    portDcb.XoffChar = 0x13;
    portDcb.ErrorChar = '#';
    portDcb.EofChar = 0x1A;
    portDcb.EvtChar = '$';
    portTimeouts = {10, 20, 30, 40, 50};
}

FakeSerialApi::~FakeSerialApi() {
    SetSerialApi(m_previous);
}

int FakeSerialApi::Count(const std::string& call) const {
    return int(std::count(calls.begin(), calls.end(), call));
}

std::vector<std::string> FakeSerialApi::CallsSince(size_t index) const {
    return {calls.begin() + std::min(index, calls.size()), calls.end()};
}

void FakeSerialApi::Record(const char* call) {
    calls.push_back(call);
    if (onCall)
        onCall(call);
}

bool FakeSerialApi::IsPort(HANDLE hFile) const {
    return hFile == FAKE_PORT && handlesOpen > 0;
}

HANDLE FakeSerialApi::CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                                  DWORD disposition, DWORD flags, HANDLE) {
    Record("CreateFileA");
    paths.push_back(path);
    openAccess = access;
    openShare = shareMode;
    openDisposition = disposition;
    openFlags = flags;
    if (openFails || handlesOpen > 0)
        return INVALID_HANDLE_VALUE;
    ++handlesOpen;
    return FAKE_PORT;
}

BOOL FakeSerialApi::GetCommState(HANDLE hFile, DCB* dcb) {
    Record("GetCommState");
    if (getCommStateFails || !IsPort(hFile))
        return FALSE;
    *dcb = portDcb;
    return TRUE;
}

BOOL FakeSerialApi::SetCommState(HANDLE hFile, DCB* dcb) {
    Record("SetCommState");
    if (setCommStateFails || !IsPort(hFile))
        return FALSE;
    appliedDcb = *dcb;
    return TRUE;
}

BOOL FakeSerialApi::GetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* timeouts) {
    Record("GetCommTimeouts");
    if (getCommTimeoutsFails || !IsPort(hFile))
        return FALSE;
    *timeouts = portTimeouts;
    return TRUE;
}

BOOL FakeSerialApi::SetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* timeouts) {
    Record("SetCommTimeouts");
    if (setCommTimeoutsFails || !IsPort(hFile))
        return FALSE;
    appliedTimeouts = *timeouts;
    return TRUE;
}

BOOL FakeSerialApi::PurgeComm(HANDLE hFile, DWORD flags) {
    Record("PurgeComm");
    purgeFlags = flags;
    return IsPort(hFile);
}

BOOL FakeSerialApi::WriteFile(HANDLE hFile, LPCVOID buffer, DWORD count, DWORD* pWritten,
                              OVERLAPPED*) {
    Record("WriteFile");
    *pWritten = 0;
    if (!IsPort(hFile) || failingWrites.count(++m_writes) != 0)
        return FALSE;
    const auto* bytes = static_cast<const char*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
        ++*pWritten;
        TakeWritten(bytes[i]);
    }
    return TRUE;
}

BOOL FakeSerialApi::ReadFile(HANDLE hFile, LPVOID buffer, DWORD, DWORD* read, OVERLAPPED*) {
    Record("ReadFile");
    *read = 0;
    if (!IsPort(hFile) || failingReads.count(++m_reads) != 0)
        return FALSE;
    BYTE byte = 0;
    if (TakeArrived(byte)) {
        *static_cast<BYTE*>(buffer) = byte;
        *read = 1;
    }
    return TRUE;
}

BOOL FakeSerialApi::SetCommMask(HANDLE hFile, DWORD) {
    Record("SetCommMask");
    return IsPort(hFile);
}

BOOL FakeSerialApi::FlushFileBuffers(HANDLE hFile) {
    Record("FlushFileBuffers");
    return IsPort(hFile);
}

BOOL FakeSerialApi::CloseHandle(HANDLE hFile) {
    Record("CloseHandle");
    if (!IsPort(hFile))
        return FALSE;
    --handlesOpen;
    return TRUE;
}
