// A serial line of a Windows machine: COM1, COM2 ... COM10 and above alike.
#include <windows.h>
#include "cli/Interrupt.h"
#include "cli/OpenedLine.h"
#include "protocol/ProtocolRules.h"

namespace {

class WindowsSerialLine final : public OpenedLine {
public:
    explicit WindowsSerialLine(HANDLE port) : m_port(port) {}
    // Lets the written bytes leave first, as the panel does, unless Ctrl-C is ending everything.
    ~WindowsSerialLine() override {
        if (!Interrupted())
            ::FlushFileBuffers(m_port);
        ::CloseHandle(m_port);
    }

protected:
    bool Send(std::uint8_t byte) override {
        DWORD written = 0;
        return ::WriteFile(m_port, &byte, 1, &written, nullptr) && written == 1;
    }

    // The port's time-outs make every read wait the protocol's read time-out at most.
    ReadResult Receive(std::uint8_t& byte, std::uint32_t) override {
        DWORD got = 0;
        if (!::ReadFile(m_port, &byte, 1, &got, nullptr))
            return READ_FAILED;
        return got == 1 ? READ_BYTE : READ_NOTHING;
    }

private:
    HANDLE m_port;
};

std::string Reason(const std::string& what) {
    const DWORD code = ::GetLastError();
    char text[256] = {};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                     text, sizeof text, nullptr);
    std::string reason = what + ": " + text;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.'))
        reason.pop_back();
    return reason;
}

// The panel's line: 19200 baud 8N1, binary, no flow control, DTR and RTS held off; a read
// returns a byte at once or nothing after the read time-out; no write time-out. Unlike the
// panel's, a framing error or a break does not fail every later read until the port is opened
// again: a script's next command should not inherit it.
bool SetUp(HANDLE port, std::string& error) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) {
        error = Reason("cannot read the line settings");
        return false;
    }
    dcb.BaudRate = 19200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 0;
    if (!::SetCommState(port, &dcb)) {
        error = Reason("cannot set the line to 19200 8N1");
        return false;
    }
    COMMTIMEOUTS timeouts{MAXDWORD, protocol::READ_TIMEOUT_MS, 0, 0, 0};
    if (!::SetCommTimeouts(port, &timeouts)) {
        error = Reason("cannot set the line's time-outs");
        return false;
    }
    ::PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    return true;
}

} // namespace

std::unique_ptr<OpenedLine> OpenSerial(const Target& target, std::string& error) {
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
    return std::make_unique<WindowsSerialLine>(port);
}
