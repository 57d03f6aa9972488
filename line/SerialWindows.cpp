// A serial line of a Windows machine: COM1, COM2 ... COM10 and above alike.
#include <windows.h>
#include <algorithm>
#include "line/Line.h"
#include "line/SerialSettings.h"
#include "line/WindowsError.h"

namespace line {

namespace {

std::string Reason(const std::string& what) {
    return what + ": " + WindowsErrorText(::GetLastError());
}

class WindowsSerialLine final : public Line {
public:
    // The port's time-outs are set already to these.
    WindowsSerialLine(HANDLE port, std::uint32_t readMs, std::uint32_t writeMs)
        : m_port(port), m_readMs(readMs), m_writeMs(writeMs) {}
    // Lets the written bytes leave first, as the panel does, unless a cancel is ending everything.
    ~WindowsSerialLine() override {
        if (!CutNow())
            ::FlushFileBuffers(m_port);
        ::CloseHandle(m_port);
    }

protected:
    bool Send(const std::uint8_t* bytes, std::size_t count, Deadline deadline) override {
        // The frame goes out in one write bounded as a whole.
        if (!SetTimeouts(m_readMs, MsUntil(deadline)))
            return false;
        DWORD written = 0;
        return ::WriteFile(m_port, bytes, DWORD(count), &written, nullptr) && written == count;
    }

    // A read returns a waiting byte at once, or waits until the deadline for one.
    ReadResult Receive(std::uint8_t& byte, Deadline deadline) override {
        const std::uint32_t waitMs = MsUntil(deadline);
        if (!SetTimeouts(waitMs, m_writeMs))
            return READ_FAILED;
        DWORD got = 0;
        if (!::ReadFile(m_port, &byte, 1, &got, nullptr))
            return READ_FAILED;
        return got == 1 ? READ_BYTE : READ_NOTHING;
    }

private:
    // A read of one byte waits readMs at most (the multiplier, as the panel's port has it); 0
    // takes only a byte that is waiting. A write of 0 would wait for ever, so it waits 1 ms at
    // least. Set only when they change.
    bool SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
        writeMs = std::max<std::uint32_t>(writeMs, 1);
        if (readMs == m_readMs && writeMs == m_writeMs)
            return true;
        COMMTIMEOUTS timeouts{MAXDWORD, readMs, 0, 0, writeMs};
        if (!::SetCommTimeouts(m_port, &timeouts))
            return false;
        m_readMs = readMs;
        m_writeMs = writeMs;
        return true;
    }

    HANDLE m_port;
    std::uint32_t m_readMs;
    std::uint32_t m_writeMs;
};

// The monitor's line settings; unlike the panel's, a framing error or a break does not fail every
// later read until the port is opened again.
bool SetUp(HANDLE port, std::string& error) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) {
        error = Reason("cannot read the line settings");
        return false;
    }
    SetMonitorLineSettings(dcb, FALSE);
    if (!::SetCommState(port, &dcb)) {
        error = Reason("cannot set the line to 19200 8N1");
        return false;
    }
    COMMTIMEOUTS timeouts{MAXDWORD, protocol::READ_TIMEOUT_MS, 0, 0, WRITE_LIMIT_MS};
    if (!::SetCommTimeouts(port, &timeouts)) {
        error = Reason("cannot set the line's time-outs");
        return false;
    }
    ::PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    return true;
}

} // namespace

std::unique_ptr<Line> OpenSerial(const Target& target, std::string& error) {
    // The device namespace reaches every COM port; the plain name reaches only COM1 to COM9.
    const std::string path = "\\\\.\\" + target.path;
    HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        error = ::GetLastError() == ERROR_ACCESS_DENIED
                    ? "access denied: in use by another program?"
                    : Reason("cannot open");
        return nullptr;
    }
    if (!SetUp(port, error)) {
        ::CloseHandle(port);
        return nullptr;
    }
    return std::make_unique<WindowsSerialLine>(port, protocol::READ_TIMEOUT_MS, WRITE_LIMIT_MS);
}

void ReleaseExclusiveLines() {
}

} // namespace line
