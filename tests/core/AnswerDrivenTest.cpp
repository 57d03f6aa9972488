// The answer-driven exchange between its frames: what it drains before each, and that a monitor's
// state reads the same under both policies, only sooner.
#include <gtest/gtest.h>
#include "core/MonitorProtocol.h"
#include "tests/support/FakeLine.h"

namespace {

struct AnswerDriven : ::testing::Test {
    VirtualTime time;
    FakeLine line{time};
    MonitorProtocol core{line, time, Timing::AnswerDriven};

    std::uint64_t Gap(size_t frame) const {
        return line.frameTimes.at(frame) - line.frameTimes.at(frame - 1);
    }
};

TEST_F(AnswerDriven, AFrameOnALineJustOpenedWaitsOnlyTheQuietCheck) {
    line.answers.push_back({"!", 5});
    EXPECT_EQ(core.SwitchSource('1', 1).first, CMD_ACK);
    EXPECT_EQ(line.frameTimes.at(0), protocol::QUIET_CHECK_MS);
}

TEST_F(AnswerDriven, AfterAWholeAnswerTheNextFrameFollowsTheQuietCheck) {
    line.answers = {{"SOK!", 7}, {"HD2!", 7}};
    EXPECT_TRUE(core.ReadSignal('1').signal);
    EXPECT_EQ(core.ReadSource('1').source, 1);
    EXPECT_EQ(Gap(1), 7 + protocol::QUIET_CHECK_MS);
}

TEST_F(AnswerDriven, AStaleAnswerAfterATimedOutExchangeIsDrainedNotReadAsTheNextAnswer) {
    // The first answer comes after the exchange gave up (900 ms): it lies on the line when the
    // next frame is due, and only the whole drain finds it.
    line.answers = {{"!", 1000}, {"NOS!", 10}};
    EXPECT_EQ(core.Transact(MakeFrame('1', "SSS", "HD2"), false).result, CMD_LINK_ERROR);
    const SignalReading signal = core.ReadSignal('1');
    EXPECT_EQ(signal.result, CMD_ACK);
    EXPECT_FALSE(signal.signal);
    EXPECT_EQ(Gap(1), 1000 + protocol::READ_TIMEOUT_MS) << "drained to quiet";
}

TEST_F(AnswerDriven, AByteFoundByTheQuietCheckCallsForTheWholeDrain) {
    // Junk right behind a whole answer: the next frame waits until the line is quiet.
    line.answers = {{"!", 5, "~~", 7}, {"!", 5}};
    const CommandFrame reset = protocol::DEFAULT_SETTING.For('1');
    EXPECT_EQ(core.Transact(reset, false).result, CMD_ACK);
    EXPECT_EQ(core.Transact(reset, false).result, CMD_ACK);
    EXPECT_EQ(Gap(1), 7 + protocol::READ_TIMEOUT_MS);
}

TEST_F(AnswerDriven, ARefusedFirmwareQueryEndsAtItsRefusal) {
    line.answers = {{"?", 4}};
    EXPECT_EQ(core.ReadFirmware('1').result, CMD_NAK);
    EXPECT_EQ(time.Now() - line.frameTimes.at(0), 4u);
}

TEST_F(AnswerDriven, TheDiagnosticsFramesEachEndAtTheirAcknowledge) {
    line.answers = {{"!", 5}, {"!", 5}, {"!", 5}};
    EXPECT_TRUE(core.StartDiagnostic('2').Started());
    EXPECT_EQ(Gap(1), 5 + protocol::DIAGNOSTIC_FRAMES[0].waitAfterMs + protocol::QUIET_CHECK_MS);
    EXPECT_EQ(Gap(2), 5 + protocol::DIAGNOSTIC_FRAMES[1].waitAfterMs + protocol::QUIET_CHECK_MS);
    EXPECT_EQ(time.Now() - line.frameTimes.at(2), 5u);
}

TEST_F(AnswerDriven, AProbeCountsAUnitOnlyForDataBytesFollowedByAnAcknowledgeOrARefusal) {
    const struct {
        const char* answer;
        CommandResult result;
    } cases[] = {{"SOK!", CMD_ACK},
                 {"NOS?", CMD_ACK},
                 {"SOKx", CMD_LINK_ERROR},
                 {"SO!", CMD_LINK_ERROR},
                 {"@@1SIG000", CMD_LINK_ERROR},
                 {"", CMD_LINK_ERROR}};
    for (const auto& c : cases) {
        line.answers = {{c.answer, 5}};
        EXPECT_EQ(core.ProbeUnit('1'), c.result) << c.answer;
    }
}

TEST_F(AnswerDriven, AnAnswerWhoseBytesComeOneByOneIsAwaitedInOneWakeUp) {
    // Every answer's bytes a millisecond apart, as a device server hands them on at 19200 baud:
    // each exchange wakes for its quiet check and for its whole answer; the firmware's once more,
    // for the rest after the first byte (a refusal is that byte alone).
    line.answers = {{"007!", 6, "", 0, 1}, {"VGA!", 6, "", 0, 1}, {"FV2.05!", 8, "", 0, 1}};
    EXPECT_EQ(core.ReadUnitId().unitId, 7);
    EXPECT_EQ(core.ReadSource('7').source, 3);
    EXPECT_EQ(core.ReadFirmware('7').version, "2.05");
    EXPECT_EQ(line.wakeups, 2 + 2 + 3);
    EXPECT_EQ(time.Now(), 3 * protocol::QUIET_CHECK_MS + (6 + 3) + (6 + 3) + (8 + 6));
}

// A monitor's state, read as a connect reads it, is the same under both policies, and the
// answer-driven read takes the time of the answers alone.
TEST(BothPolicies, ReadTheSameStatusTheAnswerDrivenOneInAFractionOfTheTime) {
    const std::deque<LineModel::Answer> answers = {
        {"007!", 6}, {"VGA!", 6}, {"NOS!", 6}, {"FV2.05!", 8}};
    MonitorStatus read[2];
    std::uint64_t took[2] = {};
    for (Timing timing : {Timing::Paced, Timing::AnswerDriven}) {
        VirtualTime time;
        FakeLine line(time);
        line.answers = answers;
        MonitorProtocol core(line, time, timing);
        const int i = timing == Timing::Paced ? 0 : 1;
        read[i] = core.ReadStatus(std::nullopt);
        took[i] = time.Now();
        EXPECT_EQ(line.frames,
                  (std::vector<std::string>{"@@0UIG000", "@@7SSG000", "@@7SIG000", "@@7FVSENA"}));
    }
    for (const MonitorStatus& status : read) {
        EXPECT_TRUE(status.Answered());
        EXPECT_EQ(status.unit, 7);
        EXPECT_EQ(status.source, 3);
        EXPECT_EQ(status.signal, false);
        EXPECT_EQ(status.firmware, "2.05");
    }
    EXPECT_EQ(took[0], 4 * (protocol::READ_TIMEOUT_MS + protocol::ANSWER_WAIT_MS));
    EXPECT_EQ(took[1], 4 * protocol::QUIET_CHECK_MS + 6 + 6 + 6 + 8);
}

} // namespace
