// The serial channel over a fake port on the virtual clock.
#include <gtest/gtest.h>
#include "serial/SerialChannel.h"
#include "tests/support/FakeSerialApi.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/VirtualClock.h"

namespace {

class SerialChannel : public ::testing::Test {
protected:
    void TearDown() override { channel.Close(); }

    void OpenAndConfigure() {
        ASSERT_EQ(channel.Open("COM1"), 1);
        ASSERT_EQ(channel.Setup(19200, 8, 0, 0, 0), 1);
        ASSERT_EQ(channel.SetTimeouts(MAXDWORD, 100, 0, 0, 0), 1);
    }

    VirtualClock clock;
    FakeSerialApi port{clock};
    MessageBoxRecorder boxes;
    CSerialChannel channel;
};

TEST_F(SerialChannel, OpensTheDevicePathExclusivelyForSynchronousReadingAndWriting) {
    EXPECT_EQ(channel.Open("COM15"), 1);
    ASSERT_EQ(port.paths.size(), 1u);
    EXPECT_EQ(port.paths[0], "//./COM15");
    EXPECT_EQ(port.openAccess, DWORD(GENERIC_READ | GENERIC_WRITE));
    EXPECT_EQ(port.openShare, 0u);
    EXPECT_EQ(port.openDisposition, DWORD(OPEN_EXISTING));
    EXPECT_EQ(port.openFlags, 0u);
    EXPECT_EQ(port.handlesOpen, 1);
}

TEST_F(SerialChannel, AFailedOpenAnswersZeroAndShowsNothing) {
    port.openFails = true;
    EXPECT_EQ(channel.Open("COM3"), 0);
    EXPECT_TRUE(boxes.boxes.empty());
    // The channel holds no port, so nothing can be read, written or closed.
    BYTE byte = 0x55;
    EXPECT_EQ(channel.ReadByte(&byte), 2);
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(channel.WriteByte('@'), 0);
    channel.Close();
    EXPECT_EQ(port.Count("CloseHandle"), 0);
}

TEST_F(SerialChannel, SetupApplies19200Baud8N1WithoutFlowControlAndKeepsTheRestAsRead) {
    ASSERT_EQ(channel.Open("COM1"), 1);
    EXPECT_EQ(channel.Setup(19200, 8, 0, 0, 0), 1);
    const DCB& dcb = port.appliedDcb;
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, unsigned(DTR_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fNull, 0u);
    EXPECT_EQ(dcb.fRtsControl, unsigned(RTS_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fAbortOnError, 1u);
    // What the channel does not set stays as the port had it.
    EXPECT_EQ(dcb.fTXContinueOnXoff, 1u);
    EXPECT_EQ(dcb.fErrorChar, 1u);
    EXPECT_EQ(dcb.XonLim, 2048);
    EXPECT_EQ(dcb.XoffLim, 512);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.ErrorChar, '#');
    EXPECT_EQ(dcb.EofChar, 0x1A);
    EXPECT_EQ(dcb.EvtChar, '$');
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SerialChannel, SetupTakesTheLowBytesAndBitZeroOfTheParityCheckFlag) {
    ASSERT_EQ(channel.Open("COM1"), 1);
    EXPECT_EQ(channel.Setup(9600, 0x107, 3, 0x102, 0x101), 1);
    EXPECT_EQ(port.appliedDcb.ByteSize, 7);
    EXPECT_EQ(port.appliedDcb.Parity, EVENPARITY);
    EXPECT_EQ(port.appliedDcb.StopBits, ONE5STOPBITS);
    EXPECT_EQ(port.appliedDcb.fParity, 1u);
    EXPECT_EQ(channel.Setup(9600, 8, 2, 0, 0), 1);
    EXPECT_EQ(port.appliedDcb.fParity, 0u);
}

struct RefusedSetting {
    const char* name;
    bool FakeSerialApi::*failure;
    bool viaTimeouts;
    const wchar_t* text;
    const wchar_t* caption;
    const char* callThatMustNotFollow;
};

class SerialChannelRefusals : public SerialChannel,
                              public ::testing::WithParamInterface<RefusedSetting> {};

TEST_P(SerialChannelRefusals, ShowOneStopBoxReleaseThePortAndLeaveNothingToClose) {
    const RefusedSetting& refusal = GetParam();
    ASSERT_EQ(channel.Open("COM1"), 1);
    if (refusal.viaTimeouts) {
        ASSERT_EQ(channel.Setup(19200, 8, 0, 0, 0), 1);
    }
    port.*refusal.failure = true;
    const size_t before = port.calls.size();

    const int result = refusal.viaTimeouts ? channel.SetTimeouts(MAXDWORD, 100, 0, 0, 0)
                                           : channel.Setup(19200, 8, 0, 0, 0);

    EXPECT_EQ(result, 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, refusal.text);
    EXPECT_EQ(boxes.boxes[0].caption, refusal.caption);
    EXPECT_EQ(boxes.boxes[0].type, UINT(MB_OK | MB_ICONHAND));
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_EQ(port.handlesOpen, 0);
    const std::vector<std::string> calls = port.CallsSince(before);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), refusal.callThatMustNotFollow), 0);
    EXPECT_EQ(calls.back(), "CloseHandle");

    // The released port is not touched again.
    const size_t afterRelease = port.calls.size();
    channel.Close();
    BYTE byte = 0x55;
    EXPECT_EQ(channel.ReadByte(&byte), 2);
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(channel.WriteByte('@'), 0);
    EXPECT_EQ(channel.Drain(), 2);
    EXPECT_EQ(port.calls.size(), afterRelease);
    EXPECT_EQ(boxes.boxes.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Each, SerialChannelRefusals,
    ::testing::Values(RefusedSetting{"GetCommState", &FakeSerialApi::getCommStateFails, false,
                                     L"GetCommState Error", L"Error", "SetCommState"},
                      RefusedSetting{"SetCommState", &FakeSerialApi::setCommStateFails, false,
                                     L"SetCommState Error", L"Error", "GetCommTimeouts"},
                      RefusedSetting{"SetCommTimeouts", &FakeSerialApi::setCommTimeoutsFails, true,
                                     L"StCommTimeouts function failed", L"Com Port Error",
                                     "PurgeComm"}),
    [](const ::testing::TestParamInfo<RefusedSetting>& info) { return info.param.name; });

TEST_F(SerialChannel, SetTimeoutsAppliesTheFiveValuesInOrderThenPurgesBothDirections) {
    OpenAndConfigure();
    const COMMTIMEOUTS& applied = port.appliedTimeouts;
    EXPECT_EQ(applied.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(applied.ReadTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(applied.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(applied.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(applied.WriteTotalTimeoutConstant, 0u);
    EXPECT_EQ(port.calls.back(), "PurgeComm");
    EXPECT_EQ(port.purgeFlags, 15u);

    ASSERT_EQ(channel.SetTimeouts(1, 2, 3, 4, 5), 1);
    EXPECT_EQ(applied.ReadIntervalTimeout, 1u);
    EXPECT_EQ(applied.ReadTotalTimeoutMultiplier, 2u);
    EXPECT_EQ(applied.ReadTotalTimeoutConstant, 3u);
    EXPECT_EQ(applied.WriteTotalTimeoutMultiplier, 4u);
    EXPECT_EQ(applied.WriteTotalTimeoutConstant, 5u);
}

TEST_F(SerialChannel, ARefusedGetCommTimeoutsFailsSilentlyAndKeepsThePortOpen) {
    ASSERT_EQ(channel.Open("COM1"), 1);
    ASSERT_EQ(channel.Setup(19200, 8, 0, 0, 0), 1);
    port.getCommTimeoutsFails = true;
    EXPECT_EQ(channel.SetTimeouts(MAXDWORD, 100, 0, 0, 0), 0);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(port.handlesOpen, 1);
    EXPECT_EQ(port.Count("SetCommTimeouts"), 0);
    EXPECT_EQ(channel.WriteByte('@'), 1);
}

TEST_F(SerialChannel, ReadByteTellsAByteFromSilenceFromAFailure) {
    OpenAndConfigure();
    BYTE byte = 0x55;
    EXPECT_EQ(channel.ReadByte(&byte), 1) << "a quiet line";
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(clock.Now(), 100u) << "gives up after 100 ms";

    port.Arrive(clock.Now() + 30, "!");
    EXPECT_EQ(channel.ReadByte(&byte), 0);
    EXPECT_EQ(byte, '!');
    EXPECT_EQ(clock.Now(), 130u) << "returns as soon as the byte is there";

    byte = 0x55;
    port.failingReads = {3};
    EXPECT_EQ(channel.ReadByte(&byte), 2);
    EXPECT_EQ(byte, 0);
}

TEST_F(SerialChannel, WriteByteReportsOnlyWhetherTheCallSucceeded) {
    OpenAndConfigure();
    port.failingWrites = {2};
    EXPECT_EQ(channel.WriteByte('@'), 1);
    EXPECT_EQ(channel.WriteByte('@'), 0);
    EXPECT_EQ(channel.WriteByte('0'), 1);
    EXPECT_EQ(port.written, "@0");
}

TEST_F(SerialChannel, DrainReadsUntilTheLineHasBeenQuietFor100Milliseconds) {
    OpenAndConfigure();
    EXPECT_EQ(channel.Drain(), 1);
    EXPECT_EQ(port.Count("ReadFile"), 1) << "a quiet line takes one read";

    port.Arrive(clock.Now(), "SOK");
    port.Arrive(clock.Now() + 60, "!");
    const ULONGLONG start = clock.Now();
    EXPECT_EQ(channel.Drain(), 1);
    EXPECT_EQ(port.Count("ReadFile"), 1 + 5);
    EXPECT_EQ(clock.Now() - start, 160u);

    port.Arrive(clock.Now(), "XY");
    port.failingReads = {9};
    EXPECT_EQ(channel.Drain(), 2) << "a failed read ends the drain";
}

TEST_F(SerialChannel, DrainGivesUpOnALineThatNeverFallsQuiet) {
    OpenAndConfigure();
    port.Babble(50);
    const ULONGLONG start = clock.Now();
    EXPECT_EQ(channel.Drain(), 2);
    EXPECT_GE(clock.Now() - start, CSerialChannel::DRAIN_LIMIT_MS);
    EXPECT_LT(clock.Now() - start, CSerialChannel::DRAIN_LIMIT_MS + 100);
}

TEST_F(SerialChannel, CloseClearsTheEventMaskWaitsForTheOutputAndReleasesThePortOnce) {
    OpenAndConfigure();
    const size_t before = port.calls.size();
    channel.Close();
    EXPECT_EQ(port.CallsSince(before),
              (std::vector<std::string>{"SetCommMask", "FlushFileBuffers", "CloseHandle"}));
    EXPECT_EQ(port.handlesOpen, 0);
    channel.Close();
    EXPECT_EQ(port.Count("CloseHandle"), 1);

    EXPECT_EQ(channel.Open("COM2"), 1) << "a closed channel opens again";
    EXPECT_EQ(port.handlesOpen, 1);
}

} // namespace
