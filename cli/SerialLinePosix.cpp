// A serial line of a Linux machine: a device such as /dev/ttyUSB0, or a pseudo-terminal.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include "cli/Interrupt.h"
#include "cli/OpenedLine.h"

namespace {

class PosixSerialLine final : public OpenedLine {
public:
    explicit PosixSerialLine(int fd) : m_fd(fd) {}
    // Lets the written bytes leave first, as the panel does, unless Ctrl-C is ending everything.
    ~PosixSerialLine() override {
        if (!Interrupted())
            ::tcdrain(m_fd);
        ::close(m_fd);
    }

protected:
    bool Send(std::uint8_t byte) override {
        while (true) {
            const ssize_t written = ::write(m_fd, &byte, 1);
            if (written == 1)
                return true;
            if (written < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            pollfd wait{m_fd, POLLOUT, 0};
            if (::poll(&wait, 1, WRITE_LIMIT_MS) <= 0)
                return false;
        }
    }

    ReadResult Receive(std::uint8_t& byte, std::uint32_t timeoutMs) override {
        pollfd wait{m_fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(timeoutMs));
        if (ready == 0)
            return READ_NOTHING;
        if (ready < 0)
            return errno == EINTR ? READ_NOTHING : READ_FAILED;
        const ssize_t got = ::read(m_fd, &byte, 1);
        if (got == 1)
            return READ_BYTE;
        // A device that went away (a pulled adapter, a closed pseudo-terminal) reads as the end
        // of the file or fails with EIO.
        return got < 0 && (errno == EAGAIN || errno == EINTR) ? READ_NOTHING : READ_FAILED;
    }

private:
    int m_fd;
};

std::string Reason(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// 19200 baud, 8 data bits, no parity, one stop bit, raw, no flow control of either kind.
bool SetUp(int fd, std::string& error) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        error = Reason("not a serial line", errno);
        return false;
    }
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, B19200);
    ::cfsetospeed(&settings, B19200);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        error = Reason("cannot set the line to 19200 8N1", errno);
        return false;
    }
    // DTR and RTS held off, as the monitors expect; a pseudo-terminal has no modem lines.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines);
    ::tcflush(fd, TCIOFLUSH);
    return true;
}

} // namespace

std::unique_ptr<OpenedLine> OpenSerial(const Target& target, std::string& error) {
    const int fd = ::open(target.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno == EBUSY ? "in use by another program" : Reason("cannot open", errno);
        return nullptr;
    }
    // The line is ours alone: TIOCEXCL refuses other openers (but not root), the lock tells
    // every program that asks for it, root included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? "in use by another program" : Reason("cannot lock", errno);
        ::close(fd);
        return nullptr;
    }
    if (!SetUp(fd, error)) {
        ::close(fd);
        return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);
    return std::make_unique<PosixSerialLine>(fd);
}
