// Answers at address "0", where every monitor of a daisy chain answers at once: under both timing
// policies, the checking core tells an answer one monitor can have given from one it cannot, and
// the connect's reading stops at the first such answer.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "core/MonitorProtocol.h"
#include "tests/support/FakeLine.h"
#include "tests/support/SimulatedLine.h"

namespace {

struct AnswerCase {
    const char* frame;
    const char* answer; // all its bytes reach the line 5 ms after the frame
    bool several;
    const char* what;
};

const AnswerCase ANSWERS[] = {
    // One monitor's answer.
    {"@@0UIG000", "001!", false, "a unit ID"},
    {"@@0UIG000", " +7?", false, "a unit ID with a blank and a sign, refused"},
    {"@@0SSG000", "HD2!", false, "a source"},
    {"@@0SSG000", "DP1!", false, "a source code none of the four"},
    {"@@0SIG000", "NOS?", false, "no signal, refused"},
    {"@@0FVSENA", "FV1.02!", false, "a firmware version"},
    {"@@0FVSENA", "?ERROR?", false, "a refused firmware query, whatever follows its refusal"},
    {"@@0SSSHD2", "!", false, "an acknowledge"},
    {"@@0SSSHD2", "?", false, "a refusal"},
    {"@@0UIG000", "00", false, "a partial answer is no answer, whoever sent it"},
    {"@@1SSSHD2", "!!", false, "a byte more at an address of one unit is not judged"},
    // More than one monitor's.
    {"@@0UIG000", "000012!!", true, "two unit IDs, their bytes interleaved"},
    {"@@0UIG000", "001!002!", true, "two unit IDs, one after the other"},
    {"@@0UIG000", "0010", true, "a digit where the acknowledge belongs"},
    {"@@0UIG000", "0A1!", true, "a letter in a unit ID"},
    {"@@0SSG000", "Hd2!", true, "a small letter in a source code"},
    {"@@0SIG000", "SSO!", true, "a signal that is neither SOK nor NOS"},
    {"@@0SIG000", "SSOOKK!!", true, "two signals interleaved"},
    {"@@0FVSENA", "FFVV11..", true, "two versions interleaved"},
    {"@@0FVSENA", "VF1.02!", true, "a version without its FV"},
    {"@@0SSSHD2", "!!", true, "two acknowledges"},
    {"@@0SSSHD2", "!?", true, "an acknowledge and a refusal"},
    {"@@0SSSHD2", "x", true, "a byte that is neither acknowledge nor refusal"},
};

struct PolicyCase {
    AnswerCase answer;
    Timing timing;
};

std::vector<PolicyCase> UnderBothPolicies() {
    std::vector<PolicyCase> cases;
    for (const AnswerCase& c : ANSWERS)
        for (Timing timing : {Timing::Paced, Timing::AnswerDriven})
            cases.push_back({c, timing});
    return cases;
}

class SeveralAnswers : public ::testing::TestWithParam<PolicyCase> {};

TEST_P(SeveralAnswers, AreToldFromOneMonitorsAnswerAsTheTableSays) {
    const AnswerCase& c = GetParam().answer;
    VirtualTime time;
    FakeLine line(time);
    line.answers.push_back({c.answer, 5});
    MonitorProtocol core(line, time, GetParam().timing, AnswersAtZero::Checked);
    CommandFrame frame{};
    std::string(c.frame).copy(reinterpret_cast<char*>(&frame), sizeof frame);
    const std::string command(c.frame + 3, 3);
    const bool readData = protocol::DataBytes(command) == protocol::QUERY_DATA_BYTES;
    EXPECT_EQ(core.Transact(frame, readData).severalAnswers, c.several) << c.what;

    // The panel's core reads the same bytes without judging them.
    VirtualTime panelTime;
    FakeLine panelLine(panelTime);
    panelLine.answers.push_back({c.answer, 5});
    MonitorProtocol panel(panelLine, panelTime, GetParam().timing);
    EXPECT_FALSE(panel.Transact(frame, readData).severalAnswers) << c.what;
}

INSTANTIATE_TEST_SUITE_P(AtAddressZero, SeveralAnswers, ::testing::ValuesIn(UnderBothPolicies()));

// A daisy chain of four on the simulator's own model of it, asked without a unit.
struct ChainOfFour : ::testing::TestWithParam<Timing> {
    VirtualTime time;
    monitor_sim::Chain chain{monitor_sim::MonitorState{}, {1, 2, 3, 4}, monitor_sim::Faults{}};
    SimulatedLine line{time, chain};
};

TEST_P(ChainOfFour, StopsTheConnectAtTheUnitIdQueryWithNothingRead) {
    MonitorProtocol core(line, time, GetParam(), AnswersAtZero::Checked);
    const MonitorStatus status = core.ReadStatus(std::nullopt);
    EXPECT_TRUE(status.severalAnswers);
    EXPECT_FALSE(status.Answered());
    EXPECT_FALSE(status.unit.has_value());
    EXPECT_EQ(status.refusal, CMD_ACK) << "the garble is no refusal";
    EXPECT_EQ(line.frames, std::vector<std::string>{"@@0UIG000"});

    // With its unit given, each monitor answers alone at its own address.
    const MonitorStatus third = core.ReadStatus(3);
    EXPECT_TRUE(third.Answered());
    EXPECT_EQ(third.source, 0);
}

TEST_P(ChainOfFour, IsReadByThePanelsCoreAsOneMonitorOfUnitZero) {
    MonitorProtocol core(line, time, GetParam());
    const MonitorStatus status = core.ReadStatus(std::nullopt);
    EXPECT_FALSE(status.severalAnswers);
    EXPECT_EQ(status.unit, 0);
    EXPECT_EQ(line.frames.size(), 4u);
}

TEST_P(ChainOfFour, StopsAtAnyQueryAtZeroThatSeveralAnswer) {
    // Unit 0 given: every query goes to "0", and the first one that is answered stops the rest.
    MonitorProtocol core(line, time, GetParam(), AnswersAtZero::Checked);
    const MonitorStatus status = core.ReadStatus(0, false);
    EXPECT_TRUE(status.severalAnswers);
    EXPECT_EQ(status.unit, 0);
    EXPECT_FALSE(status.source.has_value());
    EXPECT_EQ(line.frames, std::vector<std::string>{"@@0SSG000"});
}

INSTANTIATE_TEST_SUITE_P(BothPolicies, ChainOfFour,
                         ::testing::Values(Timing::Paced, Timing::AnswerDriven));

} // namespace
