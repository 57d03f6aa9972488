// The command transaction of the panel against a fake monitor on the virtual clock.
#include <gtest/gtest.h>
#include <cstring>
#include "panel/KelvaneDlg.h"
#include "protocol/Transaction.h"
#include "tests/support/FakeSerialApi.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/VirtualClock.h"

namespace {

using Answer = FakeSerialApi::Answer;

std::string Reply() {
    return reinterpret_cast<const char*>(g_reply);
}

class Transaction : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(g_reply, 0, sizeof g_reply);
        g_txLength = 0;
        ASSERT_EQ(panel.m_serial.Open("COM1"), 1);
        ASSERT_EQ(panel.m_serial.Setup(19200, 8, 0, 0, 0), 1);
        ASSERT_EQ(panel.m_serial.SetTimeouts(MAXDWORD, 100, 0, 0, 0), 1);
        g_bConnected = 1;
        start = clock.Now();
        callsAtStart = port.calls.size();
    }
    void TearDown() override {
        g_bConnected = 0;
        panel.m_serial.Close();
        EXPECT_TRUE(boxes.boxes.empty()) << "the transaction never shows a box";
    }

    CommandResult Send(const char (&command)[4], const char (&argument)[4], BOOL bReadData,
                       int unitId = 1) {
        return panel.SendCommand(bReadData, MakeFrame(AddressOf(unitId), command, argument));
    }
    // ReadFile calls made after the last frame went out.
    int ReadsAfterFrame() const {
        const std::vector<std::string> calls = port.CallsSince(callsAtStart);
        int reads = 0;
        for (auto it = calls.rbegin(); it != calls.rend() && *it != "WriteFile"; ++it)
            reads += *it == "ReadFile";
        return reads;
    }

    VirtualClock clock;
    FakeSerialApi port{clock};
    MessageBoxRecorder boxes;
    CKelvaneDlg panel;
    ULONGLONG start = 0;
    size_t callsAtStart = 0;
};

TEST_F(Transaction, WithoutAConnectionNothingIsDrainedSentOrRead) {
    g_bConnected = 0;
    std::memcpy(g_reply, "ABC", 3);
    EXPECT_EQ(Send("SIG", "000", TRUE), CMD_LINK_ERROR);
    EXPECT_TRUE(port.CallsSince(callsAtStart).empty());
    EXPECT_EQ(Reply(), "ABC");
    EXPECT_EQ(clock.Now(), start);
}

TEST_F(Transaction, AFrameGoesOutAsNineSingleByteWritesInFrameOrderAfterTheDrain) {
    port.answers.push_back({"!"});
    EXPECT_EQ(Send("SSS", "VGA", FALSE, 3), CMD_ACK);
    EXPECT_EQ(port.written, "\x40\x40\x33\x53\x53\x53\x56\x47\x41");
    const std::vector<std::string> calls = port.CallsSince(callsAtStart);
    ASSERT_GE(calls.size(), 10u);
    EXPECT_EQ(calls[0], "ReadFile") << "the line is drained first";
    for (size_t i = 1; i <= 9; ++i)
        EXPECT_EQ(calls[i], "WriteFile") << "write " << i;
    EXPECT_EQ(port.writeTimes.front(), start + 100) << "the drain's last read waited 100 ms";
    EXPECT_EQ(g_txLength, 0);
}

TEST_F(Transaction, AddressesFollowTheLowByteOfTheUnitId) {
    for (int unitId : {0, 9, 10, 256 + 2}) {
        port.answers.push_back({"SOK!"});
        Send("SIG", "000", TRUE, unitId);
    }
    ASSERT_EQ(port.frames.size(), 4u);
    EXPECT_EQ(port.frames[0], "@@0SIG000");
    EXPECT_EQ(port.frames[1], "@@9SIG000");
    EXPECT_EQ(port.frames[2], "@@:SIG000");
    EXPECT_EQ(port.frames[3], "@@2SIG000");
}

TEST_F(Transaction, StaleBytesOnTheLineAreDrainedBeforeEveryFrame) {
    port.Arrive(start, "HD2!NOS!");
    port.answers.push_back({"SOK!"});
    EXPECT_EQ(Send("SIG", "000", TRUE), CMD_ACK);
    EXPECT_EQ(Reply(), "SOK");

    // An acknowledge that came too late for the last exchange is not taken for this one's.
    port.answers.push_back({"HD1", 0, "!", 950});
    EXPECT_EQ(Send("SSG", "000", TRUE), CMD_LINK_ERROR);
    port.answers.push_back({"?"});
    EXPECT_EQ(Send("SSS", "HD3", FALSE), CMD_NAK);
}

struct Exchange {
    const char* name;
    const char* command;
    const char* argument;
    BOOL bReadData;
    Answer answer;
    std::set<int> failingReads; // numbered from the drain's read, which is number 1
    CommandResult result;
    const char* reply;  // g_reply afterwards, read as text
    ULONGLONG duration; // from the ninth byte to the result
};

class TransactionOutcomes : public Transaction, public ::testing::WithParamInterface<Exchange> {};

TEST_P(TransactionOutcomes, ClassifyTheAnswer) {
    const Exchange& exchange = GetParam();
    port.answers.push_back(exchange.answer);
    port.failingReads = exchange.failingReads;
    const char* c = exchange.command;
    const char* a = exchange.argument;
    const CommandFrame frame{{'@', '@'}, '1', {c[0], c[1], c[2]}, {a[0], a[1], a[2]}};
    const CommandResult result = panel.SendCommand(exchange.bReadData, frame);
    EXPECT_EQ(result, exchange.result);
    EXPECT_EQ(Reply(), exchange.reply);
    ASSERT_EQ(port.frameTimes.size(), 1u);
    EXPECT_EQ(clock.Now() - port.frameTimes[0], exchange.duration);
}

INSTANTIATE_TEST_SUITE_P(
    Each, TransactionOutcomes,
    ::testing::Values(
        Exchange{"AcknowledgedCommand", "SSS", "HD2", FALSE, {"!"}, {}, CMD_ACK, "", 200},
        Exchange{"RefusedCommand", "SSS", "HD3", FALSE, {"?"}, {}, CMD_NAK, "", 200},
        Exchange{"AnsweredQuery", "SIG", "000", TRUE, {"SOK!"}, {}, CMD_ACK, "SOK", 200},
        Exchange{
            "QueryWithANegativeAcknowledge", "SIG", "000", TRUE, {"SOK?"}, {}, CMD_NAK, "SOK", 200},
        // 200 ms wait, one empty acknowledge read, 500 ms, a second empty read.
        Exchange{"SilentMonitor", "DSS", "EXE", FALSE, {}, {}, CMD_LINK_ERROR, "", 900},
        // Three empty data reads come first.
        Exchange{"SilentMonitorToAQuery", "SIG", "000", TRUE, {}, {}, CMD_LINK_ERROR, "", 1200},
        Exchange{"LateAcknowledge", "DSS", "EXE", FALSE, {"", 0, "!", 450}, {}, CMD_ACK, "", 800},
        Exchange{"LateRefusal", "DCS", "PON", FALSE, {"", 0, "?", 450}, {}, CMD_NAK, "", 800},
        Exchange{
            "FailedFirstAcknowledgeRead", "DSS", "EXE", FALSE, {}, {2}, CMD_LINK_ERROR, "", 200},
        Exchange{
            "FailedSecondAcknowledgeRead", "DSS", "EXE", FALSE, {}, {3}, CMD_LINK_ERROR, "", 800},
        // Two data bytes and "!": the "!" is the third data byte and no acknowledge follows.
        Exchange{"ShortAnswer", "SSG", "000", TRUE, {"HD!"}, {}, CMD_LINK_ERROR, "HD!", 900},
        // Missing or failed data reads leave 0 and do not change the result.
        Exchange{"MissingDataBytes", "SSG", "000", TRUE, {"H", 0, "!", 450}, {}, CMD_ACK, "H", 450},
        Exchange{"FirmwareVersion", "FVS", "ENA", FALSE, {"FV1.02!"}, {}, CMD_ACK, "FV1.02", 200},
        // No acknowledge is read after the refusal.
        Exchange{"FirmwareRefusal", "FVS", "ENA", FALSE, {"?FV1.0!"}, {}, CMD_NAK, "?FV1.0", 200},
        Exchange{"FirmwareQueryWithAnyThirdLetter",
                 "FVX",
                 "ABC",
                 FALSE,
                 {"AB1.23!"},
                 {},
                 CMD_ACK,
                 "AB1.23",
                 200}),
    [](const ::testing::TestParamInfo<Exchange>& info) { return info.param.name; });

TEST_F(Transaction, TheFirmwareRefusalReadsNoAcknowledgeAndTheNextDrainDiscardsTheRest) {
    port.answers.push_back({"?xxxxx?"});
    EXPECT_EQ(Send("FVS", "ENA", FALSE), CMD_NAK);
    EXPECT_EQ(ReadsAfterFrame(), 6);
    port.answers.push_back({"SOK!"});
    EXPECT_EQ(Send("SIG", "000", TRUE), CMD_ACK);
    EXPECT_EQ(Reply().substr(0, 3), "SOK") << "no byte of the refused answer is read as data";
}

TEST_F(Transaction, TheReplyBufferHoldsDataUntilClearedOrOverwritten) {
    std::memcpy(g_reply + 6, "keep!!", 6);
    port.answers.push_back({"FV1.02!"});
    Send("FVS", "ENA", FALSE);
    EXPECT_EQ(std::memcmp(g_reply + 6, "keep!!", 6), 0) << "bytes 6 to 11 are never written";

    port.answers.push_back({"!"});
    Send("SSS", "HD1", FALSE);
    EXPECT_EQ(std::memcmp(g_reply, "FV1.02", 6), 0) << "an exchange without data keeps it";

    panel.ClearReply();
    EXPECT_EQ(std::memcmp(g_reply, "\0\0\0\0\0\0keep!!", 12), 0);
}

TEST_F(Transaction, AFailedFourthWriteSendsNothingMoreAndReadsNothing) {
    port.failingWrites = {4};
    port.answers.push_back({"SOK!"});
    std::memcpy(g_reply, "OLD", 3);
    EXPECT_EQ(Send("SIG", "000", TRUE), CMD_SEND_FAILED);
    EXPECT_EQ(port.written, "@@1") << "bytes five to nine are not written";
    EXPECT_EQ(port.Count("WriteFile"), 4);
    EXPECT_EQ(port.calls.back(), "WriteFile") << "nothing is read after the failure";
    EXPECT_EQ(g_txLength, 0);
    EXPECT_EQ(Reply(), "OLD");
    EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(Transaction, ALineThatNeverFallsQuietDelaysTheFrameButDoesNotHoldItBack) {
    port.Babble(40);
    EXPECT_EQ(Send("DSS", "EXE", FALSE), CMD_NAK) << "the babble is taken for the acknowledge";
    ASSERT_EQ(port.frames.size(), 1u);
    EXPECT_EQ(port.frames[0], "@@1DSSEXE");
    EXPECT_GE(port.frameTimes[0] - start, CSerialChannel::DRAIN_LIMIT_MS);
}

TEST_F(Transaction, TheQueueTakesBytesInOrderAndRefusesWhatWouldOverrunIt) {
    const BYTE bytes[] = {'a', 'b', 'c'};
    EXPECT_EQ(panel.AppendTx(bytes, 0), 1);
    EXPECT_EQ(g_txLength, 0);
    EXPECT_EQ(panel.AppendTx(bytes, 3), 1);
    EXPECT_EQ(g_txLength, 3);

    g_txLength = 126;
    std::memset(g_txBuffer + 126, 'z', 2);
    EXPECT_EQ(panel.AppendTx(bytes, 3), 0) << "three more would pass the 128th byte";
    EXPECT_EQ(g_txLength, 126);
    EXPECT_EQ(g_txBuffer[126], 'z');
    EXPECT_EQ(panel.AppendTx(bytes, 2), 1) << "exactly up to the end still fits";
    EXPECT_EQ(g_txLength, 128);
    EXPECT_EQ(panel.AppendTx(bytes, 1), 0);
    g_txLength = 0;
}

TEST_F(Transaction, FlushWritesTheQueueAndEmptiesItWhetherOrNotAWriteFails) {
    EXPECT_EQ(panel.FlushTx(), 1) << "an empty queue is written at once";
    const BYTE bytes[] = {'a', 'b', 'c', 'd'};
    panel.AppendTx(bytes, 4);
    port.failingWrites = {3};
    EXPECT_EQ(panel.FlushTx(), 0);
    EXPECT_EQ(port.written, "ab");
    EXPECT_EQ(g_txLength, 0);
}

TEST_F(Transaction, ResetEmptiesTheQueueAndDrainsTheLine) {
    const BYTE bytes[] = {'a', 'b'};
    panel.AppendTx(bytes, 2);
    port.Arrive(clock.Now(), "junk");
    panel.ResetTx();
    EXPECT_EQ(g_txLength, 0);
    EXPECT_EQ(port.Count("ReadFile"), 5);
    EXPECT_TRUE(port.written.empty());
}

} // namespace
