// The line library under kelvanectl: a frame's write bounded as a whole, what a cancel cuts, a
// device server on loopback, and a serial line's exclusive use, which must never outlive the
// program.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>
#include <vector>
#include "cli/Interrupt.h"
#include "line/Cancel.h"
#include "line/Line.h"
#include "line/Target.h"

namespace {

// A line whose transport only records what it was asked.
class RecordingLine final : public line::Line {
public:
    struct Write {
        std::size_t count;
        std::uint32_t msLeft;
    };
    std::vector<Write> writes;
    std::string arriving;              // bytes the line hands out, one a read
    std::vector<std::uint32_t> awaits; // the time left of each wait for several bytes

protected:
    bool Send(const std::uint8_t*, std::size_t count, line::Deadline deadline) override {
        writes.push_back({count, line::MsUntil(deadline)});
        return true;
    }
    ReadResult Receive(std::uint8_t& byte, line::Deadline) override {
        if (arriving.empty())
            return READ_NOTHING;
        byte = static_cast<std::uint8_t>(arriving[0]);
        arriving.erase(0, 1);
        return READ_BYTE;
    }
    bool WaitForBytes(std::size_t, line::Deadline deadline) override {
        awaits.push_back(line::MsUntil(deadline));
        return true;
    }
};

TEST(LineWrite, AFrameGoesOutInOneWriteBoundedAsAWhole) {
    RecordingLine line;
    ASSERT_TRUE(line.WriteFrame(MakeFrame('1', "SIG", "000")));
    ASSERT_EQ(line.writes.size(), 1u);
    EXPECT_EQ(line.writes[0].count, FRAME_SIZE);
    EXPECT_LE(line.writes[0].msLeft, line::WRITE_LIMIT_MS);
    EXPECT_GT(line.writes[0].msLeft, line::WRITE_LIMIT_MS / 2);
}

TEST(LineWrite, NothingGoesOutOnceCancelled) {
    RecordingLine line;
    line::Cancel cancel;
    line.SetCancel(&cancel);
    cancel.Set();
    EXPECT_FALSE(line.WriteFrame(MakeFrame('1', "SIG", "000")));
    EXPECT_TRUE(line.writes.empty());
    EXPECT_TRUE(line.WasCut());
}

TEST(LineCancel, CutsAReadAtOnceOrLetsTheAnswerUnderWayBeReadByItsMode) {
    line::Cancel cancel;
    cancel.Set();
    std::uint8_t byte = 0;

    RecordingLine now;
    now.arriving = "!";
    now.SetCancel(&cancel);
    EXPECT_EQ(now.ReadByteWithin(&byte, 1000), MonitorLine::READ_FAILED);
    now.AwaitBytes(4, 1000);
    EXPECT_TRUE(now.awaits.empty());

    RecordingLine between;
    between.arriving = "!";
    between.SetCancel(&cancel, line::Line::CancelMode::BetweenExchanges);
    EXPECT_EQ(between.ReadByteWithin(&byte, 1000), MonitorLine::READ_BYTE);
    EXPECT_EQ(byte, '!');
    EXPECT_FALSE(between.WriteFrame(MakeFrame('1', "SIG", "000")));
    EXPECT_TRUE(between.writes.empty());
    between.AwaitBytes(4, 1000);
    ASSERT_EQ(between.awaits.size(), 1u);
    EXPECT_GT(between.awaits[0], 500u) << "waits whole";

    // Not yet cancelled, a wait that a cancel cuts at once is made in short steps.
    line::Cancel notYet;
    RecordingLine stepping;
    stepping.SetCancel(&notYet);
    stepping.AwaitBytes(4, 1000);
    ASSERT_EQ(stepping.awaits.size(), 1u);
    EXPECT_LE(stepping.awaits[0], 20u);
}

TEST(LineCancel, TheClockSaysWhetherAWaitWasCutShort) {
    line::Cancel cancel;
    line::CancellableClock clock(cancel);
    clock.Sleep(1);
    EXPECT_FALSE(clock.WasCut());
    cancel.Set();
    clock.Sleep(60000);
    EXPECT_TRUE(clock.WasCut());
}

// A device server on loopback: a socket bound to a port the system picks, listening or not.
struct LoopbackServer {
    int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    std::uint16_t port = 0;
    explicit LoopbackServer(bool listening) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(socket, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        if (listening)
            ::listen(socket, 1);
    }
    ~LoopbackServer() { ::close(socket); }
    std::unique_ptr<line::Line> Open(std::string& error) const {
        line::Target target;
        EXPECT_TRUE(line::ParseTarget("tcp:127.0.0.1:" + std::to_string(port), target, error));
        return line::Open(target, error);
    }
};

// A line opened to a loopback server, and the server's end of its connection, which the test
// closes.
class LineTcpConnected : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        opened = server.Open(error);
        ASSERT_TRUE(opened) << error;
        peer = ::accept(server.socket, nullptr, nullptr);
        ASSERT_GE(peer, 0);
    }

    LoopbackServer server{true};
    std::unique_ptr<line::Line> opened;
    int peer = -1;
};

TEST_F(LineTcpConnected, CarriesAFrameOutAndTheAnswerBack) {
    ASSERT_TRUE(opened->WriteFrame(MakeFrame('1', "SIG", "000")));
    char frame[FRAME_SIZE + 1] = {};
    size_t got = 0;
    while (got < FRAME_SIZE) {
        const ssize_t n = ::recv(peer, frame + got, FRAME_SIZE - got, 0);
        ASSERT_GT(n, 0);
        got += static_cast<size_t>(n);
    }
    EXPECT_STREQ(frame, "@@1SIG000");
    ASSERT_EQ(::send(peer, "!", 1, 0), 1);
    std::uint8_t byte = 0;
    EXPECT_EQ(opened->ReadByteWithin(&byte, 5000), MonitorLine::READ_BYTE);
    EXPECT_EQ(byte, '!');
    ::close(peer);
    EXPECT_EQ(opened->ReadByteWithin(&byte, 5000), MonitorLine::READ_FAILED) << "hung up";
}

// An answer is awaited whole, in one wake-up, and then read byte by byte as ever; a hang-up ends
// the wait at once.
TEST_F(LineTcpConnected, AwaitsAWholeAnswerAndThenReadsItByteByByte) {
    const auto msAwaiting = [&](std::size_t count, std::uint32_t milliseconds) {
        const line::Deadline end = line::DeadlineIn(milliseconds);
        opened->AwaitBytes(count, milliseconds);
        return milliseconds - line::MsUntil(end);
    };
    std::uint8_t byte = 0;
    std::string read;
    const auto readAll = [&] {
        while (opened->ReadByteWithin(&byte, 0) == MonitorLine::READ_BYTE)
            read += static_cast<char>(byte);
    };
    ASSERT_EQ(::send(peer, "SO", 2, 0), 2);
    EXPECT_EQ(msAwaiting(4, 150), 150u) << "two bytes of four do not end the wait";
    EXPECT_EQ(opened->ReadByteWithin(&byte, 0), MonitorLine::READ_BYTE) << "read one by one";
    EXPECT_EQ(byte, 'S');
    ASSERT_EQ(::send(peer, "K!?", 3, 0), 3);
    EXPECT_LT(msAwaiting(4, 5000), 2500u) << "four bytes in, one of them taken already";
    for (int i = 0; i < 2 && opened->ReadByteWithin(&byte, 0) == MonitorLine::READ_BYTE; ++i)
        read += static_cast<char>(byte);
    EXPECT_LT(msAwaiting(2, 1000), 500u) << "the rest was taken with the first of them";
    readAll();
    ASSERT_EQ(::send(peer, "ab", 2, 0), 2);
    EXPECT_EQ(msAwaiting(4, 150), 150u) << "the bytes taken before are read already";
    readAll();
    EXPECT_EQ(read, "OK!?ab");
    // A quiet line's read sleeps until its time-out; it does not spin.
    const std::clock_t before = std::clock();
    EXPECT_EQ(opened->ReadByteWithin(&byte, 200), MonitorLine::READ_NOTHING);
    EXPECT_LT(std::clock() - before, CLOCKS_PER_SEC / 20);
    // Bytes that come while a read waits: one alone, then the hang-up.
    const auto later = [this](auto then) {
        return std::thread([then, peer = peer] {
            ::usleep(50000);
            then(peer);
        });
    };
    std::thread sending = later([](int s) { ::send(s, "!", 1, 0); });
    EXPECT_EQ(opened->ReadByteWithin(&byte, 1000), MonitorLine::READ_BYTE);
    EXPECT_EQ(byte, '!');
    sending.join();
    std::thread hangingUp = later([](int s) { ::close(s); });
    EXPECT_EQ(opened->ReadByteWithin(&byte, 5000), MonitorLine::READ_FAILED) << "hung up";
    hangingUp.join();
    EXPECT_LT(msAwaiting(4, 5000), 2500u) << "hung up";
}

size_t OpenDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

TEST(LineTcp, ARefusedConnectionSaysSoAtOnceAndKeepsNoSocket) {
    LoopbackServer closed(false);
    std::string error;
    const size_t before = OpenDescriptors();
    EXPECT_FALSE(closed.Open(error));
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(error, "cannot open the line: connection refused");
}

// No descriptor left for this process: the socket cannot be made, the system says why, and no
// descriptor the process holds (0 above all) is taken for the connection or closed.
TEST(LineTcp, ASocketTheSystemRefusesIsAnErrorAndTouchesNoDescriptor) {
    LoopbackServer server(true);
    const bool inputOpen = ::fcntl(0, F_GETFD) != -1;
    const size_t before = OpenDescriptors();
    const int lowestFree = ::dup(1);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit lowered{rlim_t(lowestFree), limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::string error;
    std::unique_ptr<line::Line> opened = server.Open(error);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_FALSE(opened);
    EXPECT_EQ(error, "cannot open the line: too many open files");
    opened.reset();
    EXPECT_EQ(::fcntl(0, F_GETFD) != -1, inputOpen);
    EXPECT_EQ(OpenDescriptors(), before);
}

// A pseudo-terminal stands in for a serial device: its other end stays open, as a device
// server's pty mode or a null-modem emulator keeps it.
struct LineExclusive : ::testing::Test {
    int master = -1;
    std::string slave;
    void SetUp() override {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        slave = ::ptsname(master);
    }
    void TearDown() override { ::close(master); }
    // Whether the terminal is held for exclusive use, as a second opener (root) sees it.
    bool Exclusive() const {
        const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return true; // a user who is not root is refused
        int flag = 0;
        ::ioctl(fd, TIOCGEXCL, &flag);
        ::close(fd);
        return flag != 0;
    }
};

TEST_F(LineExclusive, IsHeldWhileTheLineIsOpenAndLetGoWhenItCloses) {
    line::Target target;
    std::string error;
    ASSERT_TRUE(line::ParseTarget(slave, target, error));
    {
        const std::unique_ptr<line::Line> opened = line::OpenSerial(target, error);
        ASSERT_TRUE(opened) << error;
        EXPECT_TRUE(Exclusive());
    }
    EXPECT_FALSE(Exclusive());
}

TEST_F(LineExclusive, ASerialLineWaitsForNoBytesTogether) {
    line::Target target;
    std::string error;
    ASSERT_TRUE(line::ParseTarget(slave, target, error));
    const std::unique_ptr<line::Line> opened = line::OpenSerial(target, error);
    ASSERT_TRUE(opened) << error;
    const line::Deadline end = line::DeadlineIn(5000);
    opened->AwaitBytes(4, 5000);
    EXPECT_GT(line::MsUntil(end), 4000u) << "the reads wait byte by byte instead";
}

TEST_F(LineExclusive, IsLetGoOfByAProgramAboutToEndWithoutClosingItsLines) {
    line::Target target;
    std::string error;
    ASSERT_TRUE(line::ParseTarget(slave, target, error));
    const std::unique_ptr<line::Line> opened = line::OpenSerial(target, error);
    ASSERT_TRUE(opened) << error;
    line::ReleaseExclusiveLines();
    EXPECT_FALSE(Exclusive());
}

// A second Ctrl-C ends the program at once, in the middle of its work: the line's exclusive use
// goes with it. The program is a forked copy of this one, so the group runs alone: a fork wants
// no other thread running.
using SecondCtrlC = LineExclusive;
TEST_F(SecondCtrlC, EndsTheProgramAndLetsGoOfTheLinesExclusiveUse) {
    const auto interruptTwice = [this] {
        line::Target target;
        std::string error;
        line::ParseTarget(slave, target, error);
        WatchForInterrupt();
        const std::unique_ptr<line::Line> opened = line::OpenSerial(target, error);
        if (!opened || !Exclusive())
            std::_Exit(1);
        ::kill(::getpid(), SIGINT);
        // The second comes apart from the first, which must not end the program.
        for (int waited = 0; !Interrupted() && waited < 10000; ++waited)
            ::usleep(1000);
        ::kill(::getpid(), SIGINT);
        ::sleep(10);
        std::_Exit(2);
    };
    EXPECT_EXIT(interruptTwice(), ::testing::ExitedWithCode(EXIT_INTERRUPTED), "");
    EXPECT_FALSE(Exclusive());
}

} // namespace
