#include "serial/SerialChannel.h"
#include <string>
#include "framework/Clock.h"
#include "line/SerialSettings.h"
#include "serial/SerialApi.h"

// m_hComm is INVALID_HANDLE_VALUE whenever the channel holds no port: before Open, after a failed
// Open, after Setup or SetTimeouts released the port, after Close.

CSerialChannel::CSerialChannel() : m_hComm(INVALID_HANDLE_VALUE), m_dcb{}, m_timeouts{} {
    m_dcb.DCBlength = sizeof m_dcb;
}

CSerialChannel::~CSerialChannel() = default;

const AFX_MSGMAP* CSerialChannel::GetThisMessageMap() {
    static constexpr AFX_MSGMAP map{&CWnd::GetThisMessageMap, nullptr, 0};
    return &map;
}

const AFX_MSGMAP* CSerialChannel::GetMessageMap() const {
    return GetThisMessageMap();
}

int CSerialChannel::Open(const char* portName) {
    // A port still held would be lost for good once its handle is overwritten.
    Release();
    const std::string path = std::string("//./") + portName;
    m_hComm = GetSerialApi().CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr);
    return m_hComm != INVALID_HANDLE_VALUE ? 1 : 0;
}

int CSerialChannel::Setup(DWORD baudRate, int byteSize, int parityCheck, int parity, int stopBits) {
    SerialApi& api = GetSerialApi();
    if (m_hComm == INVALID_HANDLE_VALUE || !api.GetCommState(m_hComm, &m_dcb)) {
        MessageBox(L"GetCommState Error", L"Error", MB_ICONHAND);
        Release();
        return 0;
    }
    line::SetLineSettings(m_dcb, baudRate, static_cast<BYTE>(byteSize), parityCheck,
                          static_cast<BYTE>(parity), static_cast<BYTE>(stopBits), TRUE);
    if (!api.SetCommState(m_hComm, &m_dcb)) {
        MessageBox(L"SetCommState Error", L"Error", MB_ICONHAND);
        Release();
        return 0;
    }
    return 1;
}

int CSerialChannel::SetTimeouts(DWORD readInterval, DWORD readMultiplier, DWORD readConstant,
                                DWORD writeMultiplier, DWORD writeConstant) {
    SerialApi& api = GetSerialApi();
    if (m_hComm == INVALID_HANDLE_VALUE || !api.GetCommTimeouts(m_hComm, &m_timeouts))
        return 0;
    m_timeouts.ReadIntervalTimeout = readInterval;
    m_timeouts.ReadTotalTimeoutMultiplier = readMultiplier;
    m_timeouts.ReadTotalTimeoutConstant = readConstant;
    m_timeouts.WriteTotalTimeoutMultiplier = writeMultiplier;
    m_timeouts.WriteTotalTimeoutConstant = writeConstant;
    if (!api.SetCommTimeouts(m_hComm, &m_timeouts)) {
        MessageBox(L"StCommTimeouts function failed", L"Com Port Error", MB_ICONHAND);
        Release();
        return 0;
    }
    api.PurgeComm(m_hComm, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    return 1;
}

int CSerialChannel::WriteByte(BYTE byte) {
    if (m_hComm == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    return GetSerialApi().WriteFile(m_hComm, &byte, 1, &written, nullptr) ? 1 : 0;
}

BYTE CSerialChannel::ReadByte(BYTE* target) {
    *target = 0;
    if (m_hComm == INVALID_HANDLE_VALUE)
        return 2;
    BYTE byte = 0;
    DWORD read = 0;
    if (!GetSerialApi().ReadFile(m_hComm, &byte, 1, &read, nullptr))
        return 2;
    if (read != 1)
        return 1;
    *target = byte;
    return 0;
}

BYTE CSerialChannel::Drain() {
    const ULONGLONG start = AfxGetTickCount();
    BYTE scratch = 0;
    BYTE code;
    while ((code = ReadByte(&scratch)) == 0) {
        if (AfxGetTickCount() - start >= DRAIN_LIMIT_MS)
            return 2;
    }
    return code;
}

void CSerialChannel::Close() {
    if (m_hComm == INVALID_HANDLE_VALUE)
        return;
    SerialApi& api = GetSerialApi();
    api.SetCommMask(m_hComm, 0);
    api.FlushFileBuffers(m_hComm);
    Release();
}

void CSerialChannel::Release() {
    if (m_hComm == INVALID_HANDLE_VALUE)
        return;
    GetSerialApi().CloseHandle(m_hComm);
    m_hComm = INVALID_HANDLE_VALUE;
}
