// The four status queries against a fake monitor, on the virtual clock.
#include <gtest/gtest.h>
#include <cstring>
#include "protocol/OperatorTexts.h"
#include "protocol/Transaction.h"
#include "res/resource.h"
#include "tests/support/PanelOnFakePort.h"

namespace {

using Answer = FakeSerialApi::Answer;

// Data bytes whose acknowledge comes only on the late read: the answer is short of bytes but
// still acknowledged.
Answer WithLateAck(const std::string& data) {
    return {data, 0, "!", 550};
}

class StatusQueries : public PanelOnFakePort {};

TEST_F(StatusQueries, TheUnitIdIsAskedAtAddressZeroAndTheOthersAtTheUnitIdsCharacter) {
    WithPanel([&] {
        Connect();
        port.answers = {{"HD1!"}, {"SOK!"}, {"FV1.02!"}, {"010!"}};
        panel.m_nUnitId = 10;
        Click(IDC_CHECK_SOURCE);
        Click(IDC_CHECK_SIGNAL);
        Click(IDC_CHECK_FIRMWARE);
        Click(IDC_CHECK_UNIT_ID);
        EXPECT_EQ(Frames(),
                  (std::vector<std::string>{"@@:SSG000", "@@:SIG000", "@@:FVSENA", "@@0UIG000"}));
        EXPECT_TRUE(Boxes().empty());
        EXPECT_EQ(callsWithoutWaitCursor, 0);
    });
}

TEST_F(StatusQueries, TheUnitIdIsReadAsADecimalNumber) {
    const std::pair<Answer, int> cases[] = {
        {{"007!"}, 7},           {{" 7 !"}, 7},        {{"+12!"}, 12},  {{"-3 !"}, -3},
        {{"A12!"}, 0},           {{"12A!"}, 12},       {{"\t+5!"}, 5},  {{"- 4!"}, 0},
        {WithLateAck("12"), 12}, {WithLateAck(""), 0}, {{"255?"}, 255}, // a negative acknowledge
                                                                        // still carries the data
    };
    WithPanel([&] {
        Connect();
        for (const auto& [answer, unitId] : cases) {
            port.answers.push_back(answer);
            Click(IDC_CHECK_UNIT_ID);
            EXPECT_EQ(panel.m_nUnitId, unitId) << answer.bytes;
            EXPECT_EQ(Text(IDC_UNIT_ID), std::to_wstring(unitId)) << answer.bytes;
            EXPECT_EQ(Text(IDC_STATUS), L"Unit ID is updated.");
            EXPECT_TRUE(ReplyCleared());
        }
        EXPECT_TRUE(Boxes().empty());
    });
}

TEST_F(StatusQueries, TheUnitIdQueryAnswersWhetherTheMonitorAnswered) {
    WithPanel([&] {
        Connect();
        port.answers.push_back({"004?"});
        EXPECT_TRUE(panel.CheckUnitId()) << "a negative acknowledge is an answer";
        port.answers.push_back({"004"});
        EXPECT_FALSE(panel.CheckUnitId()) << "no acknowledge";
        port.failingWrites = {port.Count("WriteFile") + 1};
        EXPECT_FALSE(panel.CheckUnitId()) << "a failed write";
        EXPECT_FALSE(panel.CheckUnitId()) << "no connection";
    });
}

TEST_F(StatusQueries, TheSourceCodesMoveTheCheckMarkAndAnythingElseLeavesTheSource) {
    const std::pair<std::string, int> cases[] = {
        {"HD1!", 0}, {"HD2!", 1}, {"HD3?", 2}, {"VGA!", 3}, {"vga!", 3}, {"HD4!", 3}, {"XYZ!", 3},
    };
    WithPanel([&] {
        Connect();
        for (const auto& [answer, source] : cases) {
            panel.m_strStatus = L"before";
            port.answers.push_back({answer});
            Click(IDC_CHECK_SOURCE);
            EXPECT_EQ(panel.m_nSource, source) << answer;
            EXPECT_EQ(CheckedSources(), std::vector<int>{source}) << answer;
            EXPECT_EQ(Text(IDC_STATUS), L"Current input source is updated");
            EXPECT_TRUE(ReplyCleared());
        }
    });
}

TEST_F(StatusQueries, OnlyAnExactSOKIsASignal) {
    const std::pair<std::string, const wchar_t*> cases[] = {
        {"SOK!", L"Signal OK"}, {"SOK?", L"Signal OK"}, {"sok!", L"No Signal"},
        {"NOS!", L"No Signal"}, {"SO!", L"No Signal"},
    };
    WithPanel([&] {
        Connect();
        for (const auto& [answer, signal] : cases) {
            // "SO!" lacks a byte: the acknowledge is taken as data and no acknowledge follows.
            port.answers.push_back(answer == "SO!" ? WithLateAck("SO") : Answer{answer});
            Click(IDC_CHECK_SIGNAL);
            EXPECT_EQ(Text(IDC_SIGNAL_STATUS), signal) << answer;
            EXPECT_EQ(Text(IDC_STATUS), L"Current input signal status is updated");
        }
        EXPECT_TRUE(Boxes().empty());
    });
}

TEST_F(StatusQueries, TheFirmwareVersionIsDataBytesTwoToFiveAndARefusalShowsInvalid) {
    WithPanel([&] {
        Connect();
        port.answers.push_back({"XY2.10!"});
        Click(IDC_CHECK_FIRMWARE);
        EXPECT_EQ(Text(IDC_FIRMWARE_VERSION), L"2.10");
        EXPECT_EQ(Text(IDC_STATUS), L"Firmware version is updated.");
        EXPECT_TRUE(ReplyCleared());

        port.answers.push_back(WithLateAck("FV3."));
        Click(IDC_CHECK_FIRMWARE);
        EXPECT_EQ(Text(IDC_FIRMWARE_VERSION), L"3.") << "a byte that did not come ends the text";

        // A refusal with "?" is not followed by an acknowledge; the status line keeps its text.
        panel.m_strStatus = L"kept";
        panel.UpdateData(FALSE);
        port.answers.push_back({"?ERROR"});
        Click(IDC_CHECK_FIRMWARE);
        EXPECT_EQ(Text(IDC_FIRMWARE_VERSION), L"Invalid");
        EXPECT_EQ(Text(IDC_STATUS), L"kept");
        EXPECT_TRUE(ReplyCleared());

        port.answers.push_back({"FV1.02?"});
        Click(IDC_CHECK_FIRMWARE);
        EXPECT_EQ(Text(IDC_FIRMWARE_VERSION), L"Invalid") << "a negative acknowledge";
        EXPECT_TRUE(Boxes().empty());
    });
}

TEST_F(StatusQueries, TheFirmwareQueryTakesTheCheckedSourceButtonIntoTheSourceFirst) {
    WithPanel([&] {
        Connect();
        ASSERT_EQ(panel.m_nSource, 1);
        ::SendMessageW(Item(IDC_SOURCE_HDMI2), BM_SETCHECK, BST_UNCHECKED, 0);
        ::SendMessageW(Item(IDC_SOURCE_VGA), BM_SETCHECK, BST_CHECKED, 0);
        port.answers.push_back({"FV1.02!"});
        Click(IDC_CHECK_FIRMWARE);
        EXPECT_EQ(panel.m_nSource, 3);
        EXPECT_EQ(CheckedSources(), std::vector<int>{3});
    });
}

// A query that gets no acknowledge or cannot write its frame.
struct FailedQuery {
    const char* name;
    int button;
    bool writeFails;
    Box box;
    bool disconnects;
};

void PrintTo(const FailedQuery& row, std::ostream* os) {
    *os << row.name;
}

class FailingQuery : public PanelOnFakePort, public ::testing::WithParamInterface<FailedQuery> {};

TEST_P(FailingQuery, ShowsItsBoxChangesNoFieldAndClearsTheReply) {
    const FailedQuery& row = GetParam();
    WithPanel([&] {
        Connect();
        if (row.writeFails)
            port.failingWrites = {port.Count("WriteFile") + 5};
        else
            port.answers.push_back({"HD3"}); // data, then no acknowledge
        Click(row.button);

        EXPECT_EQ(Boxes(), std::vector<Box>{row.box});
        EXPECT_EQ(boxes.boxes.back().owner, panel.m_hWnd) << "modal to the panel";
        EXPECT_TRUE(boxes.boxes.back().waitCursor) << "shown while the hourglass is up";
        EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW));
        EXPECT_TRUE(ReplyCleared());
        EXPECT_EQ(callsWithoutWaitCursor, 0);
        if (row.disconnects) {
            EXPECT_EQ(g_bConnected, 0);
            EXPECT_EQ(Text(IDC_STATUS), L"Disconnected.");
            EXPECT_EQ(Text(IDC_CONNECT), L"Connect");
            EXPECT_EQ(port.Count("CloseHandle"), 1);
            EXPECT_EQ(port.handlesOpen, 0);
        } else {
            EXPECT_EQ(g_bConnected, 1);
            EXPECT_EQ(Text(IDC_STATUS), L"Connection is completed.");
            EXPECT_EQ(Text(IDC_UNIT_ID), L"1");
            EXPECT_EQ(CheckedSources(), std::vector<int>{1});
            EXPECT_EQ(Text(IDC_SIGNAL_STATUS), L"Signal OK");
            EXPECT_EQ(Text(IDC_FIRMWARE_VERSION), L"1.02");
        }
    });
}

INSTANTIATE_TEST_SUITE_P(
    EachQuery, FailingQuery,
    ::testing::Values(
        FailedQuery{"UnitIdNoAnswer", IDC_CHECK_UNIT_ID, false, ErrorBox(TEXT_NO_ANSWER), false},
        FailedQuery{"SourceNoAnswer", IDC_CHECK_SOURCE, false, ErrorBox(TEXT_LINK_ERROR), false},
        FailedQuery{"SignalNoAnswer", IDC_CHECK_SIGNAL, false, ErrorBox(TEXT_LINK_ERROR), false},
        FailedQuery{"FirmwareNoAnswer", IDC_CHECK_FIRMWARE, false, ErrorBox(TEXT_LINK_ERROR),
                    false},
        FailedQuery{"UnitIdWriteFails", IDC_CHECK_UNIT_ID, true, ErrorBox(TEXT_SEND_FAILED), true},
        FailedQuery{"SourceWriteFails", IDC_CHECK_SOURCE, true, ErrorBox(TEXT_SEND_FAILED), true},
        FailedQuery{"SignalWriteFails", IDC_CHECK_SIGNAL, true, ErrorBox(TEXT_SEND_FAILED), true},
        FailedQuery{"FirmwareWriteFails", IDC_CHECK_FIRMWARE, true, ErrorBox(TEXT_SEND_FAILED),
                    true}),
    [](const ::testing::TestParamInfo<FailedQuery>& info) { return info.param.name; });

TEST_F(StatusQueries, AUnitIdThatGotNoAnswerSendsLaterFramesToAddressZeroAndKeepsItsText) {
    WithPanel([&] {
        Connect();
        port.answers.push_back({"001"});
        Click(IDC_CHECK_UNIT_ID);
        EXPECT_EQ(panel.m_nUnitId, 0);
        EXPECT_EQ(Text(IDC_UNIT_ID), L"1");
        EXPECT_EQ(g_bConnected, 1);
        port.answers.push_back({"HD1!"});
        Click(IDC_CHECK_SOURCE);
        EXPECT_EQ(Frames().back(), "@@0SSG000");
    });
}

} // namespace
