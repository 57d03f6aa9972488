#include "tests/support/FakeSerialApi.h"
#include <algorithm>

namespace {

HANDLE const FAKE_PORT = reinterpret_cast<HANDLE>(0x5E51);
constexpr ULONGLONG NEVER = ~0ULL;
constexpr ULONGLONG READ_TIMEOUT_MS = 100;

} // namespace

FakeSerialApi::FakeSerialApi(VirtualClock& clock)
    : portDcb{}, portTimeouts{}, m_clock(clock), m_previous(SetSerialApi(this)) {
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

void FakeSerialApi::Arrive(ULONGLONG time, const std::string& bytes) {
    for (char c : bytes)
        m_line.push_back({time, static_cast<BYTE>(c)});
    std::stable_sort(m_line.begin(), m_line.end(),
                     [](const Arrival& a, const Arrival& b) { return a.time < b.time; });
}

void FakeSerialApi::Babble(ULONGLONG period) {
    m_babblePeriod = period;
    m_nextBabble = m_clock.Now() + period;
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

ULONGLONG FakeSerialApi::NextArrival() const {
    ULONGLONG next = m_line.empty() ? NEVER : m_line.front().time;
    if (m_babblePeriod != 0)
        next = std::min(next, m_nextBabble);
    return next;
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
        written.push_back(bytes[i]);
        writeTimes.push_back(m_clock.Now());
        m_frame.push_back(bytes[i]);
        if (m_frame.size() < 9)
            continue;
        frames.push_back(m_frame);
        frameTimes.push_back(m_clock.Now());
        m_frame.clear();
        if (!answers.empty()) {
            const Answer answer = answers.front();
            answers.pop_front();
            Arrive(m_clock.Now() + answer.delay, answer.bytes);
            if (!answer.lateBytes.empty())
                Arrive(m_clock.Now() + answer.lateDelay, answer.lateBytes);
        }
    }
    return TRUE;
}

BOOL FakeSerialApi::ReadFile(HANDLE hFile, LPVOID buffer, DWORD, DWORD* read, OVERLAPPED*) {
    Record("ReadFile");
    *read = 0;
    if (!IsPort(hFile) || failingReads.count(++m_reads) != 0)
        return FALSE;
    const ULONGLONG next = NextArrival();
    if (next == NEVER || next > m_clock.Now() + READ_TIMEOUT_MS) {
        m_clock.AdvanceTo(m_clock.Now() + READ_TIMEOUT_MS);
        return TRUE;
    }
    m_clock.AdvanceTo(next);
    BYTE byte;
    if (!m_line.empty() && m_line.front().time <= m_clock.Now()) {
        byte = m_line.front().byte;
        m_line.pop_front();
    } else {
        byte = '~';
        m_nextBabble += m_babblePeriod;
    }
    *static_cast<BYTE*>(buffer) = byte;
    *read = 1;
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
