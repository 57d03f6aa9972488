#include <windows.h>

#include "ComPort.h"

#include "Console.h"

namespace monitor_sim {

namespace {

constexpr DWORD kWriteTimeoutMs = 2000;

} // namespace

ComPort::~ComPort() {
    close();
}

bool ComPort::fail(const char* what, std::string& error) {
    error = "cannot " + std::string(what) + " " + name_ + ": " + windowsErrorText(GetLastError());
    close();
    return false;
}

bool ComPort::open(std::string& error) {
    // The \\.\ prefix is needed for COM10 and up and harmless below.
    const std::string path = "\\\\.\\" + name_;
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return fail("open", error);
    handle_ = port;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return fail("read the settings of", error);
    dcb.BaudRate = CBR_19200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(port, &dcb))
        return fail("set 19200 8N1 on", error);
    // Some drivers leave the lines as they were despite the DCB; clear them explicitly. Wine on
    // a pseudo-terminal has no modem lines and fails these, which does not matter there.
    EscapeCommFunction(port, CLRDTR);
    EscapeCommFunction(port, CLRRTS);

    readTimeoutMs_ = 0; // forces read() to set the time-outs it wants
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 50;
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    if (!SetCommTimeouts(port, &timeouts))
        return fail("set the time-outs of", error);
    if (!PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR))
        return fail("purge", error);
    return true;
}

bool ComPort::read(std::string& bytes, unsigned timeoutMs, std::string& error) {
    bytes.clear();
    HANDLE port = static_cast<HANDLE>(handle_);
    if (timeoutMs == 0)
        timeoutMs = 1;
    if (timeoutMs != readTimeoutMs_) {
        // MAXDWORD/MAXDWORD/constant: ReadFile returns as soon as at least one byte is there, or
        // with nothing after the constant. It blocks in the driver instead of spinning.
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = timeoutMs;
        timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
        if (!SetCommTimeouts(port, &timeouts)) {
            error = "cannot set the read time-out of " + name_ + ": " +
                    windowsErrorText(GetLastError());
            return false;
        }
        readTimeoutMs_ = timeoutMs;
    }
    // Wine waits out the whole constant even when bytes come in early, unless the request is
    // satisfied: so ask for one byte (returned the moment it arrives, on Windows too), then take
    // whatever else is queued, which does not block.
    char buffer[256];
    DWORD got = 0;
    if (!ReadFile(port, buffer, 1, &got, nullptr)) {
        error = "cannot read from " + name_ + ": " + windowsErrorText(GetLastError());
        return false;
    }
    bytes.assign(buffer, got);
    if (got == 0)
        return true;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port, &errors, &status) || status.cbInQue == 0)
        return true;
    const DWORD more = status.cbInQue < sizeof buffer ? status.cbInQue : sizeof buffer;
    if (!ReadFile(port, buffer, more, &got, nullptr)) {
        error = "cannot read from " + name_ + ": " + windowsErrorText(GetLastError());
        return false;
    }
    bytes.append(buffer, got);
    return true;
}

bool ComPort::write(std::string_view bytes, std::string& error) {
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(handle_), bytes.data(), static_cast<DWORD>(bytes.size()),
                   &written, nullptr)) {
        error = "cannot write to " + name_ + ": " + windowsErrorText(GetLastError());
        return false;
    }
    if (written != bytes.size()) {
        error = "write to " + name_ + " timed out after " + std::to_string(written) + " of " +
                std::to_string(bytes.size()) + " bytes";
        return false;
    }
    return true;
}

void ComPort::close() {
    if (handle_) {
        CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
    }
}

} // namespace monitor_sim
