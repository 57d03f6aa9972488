// A serial line of a Linux machine: a device such as /dev/ttyUSB0, or a pseudo-terminal.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include "line/Line.h"
#include "line/SerialSettings.h"

namespace line {

namespace {

// The serial lines this program holds with the exclusive-use flag set, so that a program that
// must end at once can still clear it (ReleaseExclusiveLines).
std::mutex g_exclusiveMutex;
std::set<int> g_exclusive;

void HoldExclusive(int fd) {
    std::lock_guard<std::mutex> lock(g_exclusiveMutex);
    ::ioctl(fd, TIOCEXCL);
    g_exclusive.insert(fd);
}

void ReleaseExclusive(int fd) {
    std::lock_guard<std::mutex> lock(g_exclusiveMutex);
    ::ioctl(fd, TIOCNXCL);
    g_exclusive.erase(fd);
}

// How long the close waits for written bytes to leave: far more than a frame takes at 19200 baud,
// and bounded, since a pseudo-terminal whose other end stopped reading never empties.
constexpr std::uint32_t CLOSE_DRAIN_LIMIT_MS = 500;

int PollMs(Deadline deadline) {
    return static_cast<int>(std::min<std::uint32_t>(MsUntil(deadline), INT32_MAX));
}

class PosixSerialLine final : public Line {
public:
    explicit PosixSerialLine(int fd) : m_fd(fd) {}
    ~PosixSerialLine() override {
        // The written bytes leave first, as the panel's do, unless a cancel is ending everything.
        const Deadline giveUp = DeadlineIn(CLOSE_DRAIN_LIMIT_MS);
        int pending = 0;
        while (!CutNow() && ::ioctl(m_fd, TIOCOUTQ, &pending) == 0 && pending > 0 &&
               MonotonicClock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        // The exclusive-use flag belongs to the terminal, not to this descriptor: on a
        // pseudo-terminal whose other end stays open it would outlive the program and keep
        // everyone but root out.
        ReleaseExclusive(m_fd);
        ::close(m_fd);
    }

protected:
    bool Send(const std::uint8_t* bytes, std::size_t count, Deadline deadline) override {
        while (count > 0) {
            const ssize_t written = ::write(m_fd, bytes, count);
            if (written > 0) {
                bytes += written;
                count -= static_cast<std::size_t>(written);
                continue;
            }
            if (written < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            pollfd wait{m_fd, POLLOUT, 0};
            if (MsUntil(deadline) == 0 || ::poll(&wait, 1, PollMs(deadline)) < 0)
                return false;
        }
        return true;
    }

    ReadResult Receive(std::uint8_t& byte, Deadline deadline) override {
        pollfd wait{m_fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, PollMs(deadline));
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

bool SetUp(int fd, std::string& error) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        error = Reason("not a serial line", errno);
        return false;
    }
    SetMonitorLineSettings(settings);
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

std::unique_ptr<Line> OpenSerial(const Target& target, std::string& error) {
    const int fd = ::open(target.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EBUSY)
            error = IN_USE;
        else if (errno == EACCES)
            error = Reason("cannot open", errno) +
                    " (add this user to the dialout group, then log in again)";
        else
            error = Reason("cannot open", errno);
        return nullptr;
    }
    // The line is ours alone: TIOCEXCL refuses other openers (but not root), the lock tells
    // every program that asks for it, root included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? IN_USE : Reason("cannot lock", errno);
        ::close(fd);
        return nullptr;
    }
    if (!SetUp(fd, error)) {
        ::close(fd);
        return nullptr;
    }
    HoldExclusive(fd);
    return std::make_unique<PosixSerialLine>(fd);
}

void ReleaseExclusiveLines() {
    std::lock_guard<std::mutex> lock(g_exclusiveMutex);
    for (int fd : g_exclusive)
        ::ioctl(fd, TIOCNXCL);
}

} // namespace line
