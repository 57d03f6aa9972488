// The line library under kelvanectl: a frame's write bounded as a whole, and a serial line's
// exclusive use, which must never outlive the program.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <cstdlib>
#include <vector>
#include "line/Line.h"

namespace {

// A line whose transport only records what it was asked.
class RecordingLine final : public line::Line {
public:
    struct Write {
        std::size_t count;
        std::uint32_t msLeft;
    };
    std::vector<Write> writes;

protected:
    bool Send(const std::uint8_t*, std::size_t count, line::Deadline deadline) override {
        writes.push_back({count, line::MsUntil(deadline)});
        return true;
    }
    ReadResult Receive(std::uint8_t&, line::Deadline) override { return READ_NOTHING; }
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

TEST_F(LineExclusive, IsLetGoOfByAProgramAboutToEndWithoutClosingItsLines) {
    line::Target target;
    std::string error;
    ASSERT_TRUE(line::ParseTarget(slave, target, error));
    const std::unique_ptr<line::Line> opened = line::OpenSerial(target, error);
    ASSERT_TRUE(opened) << error;
    line::ReleaseExclusiveLines();
    EXPECT_FALSE(Exclusive());
}

} // namespace
