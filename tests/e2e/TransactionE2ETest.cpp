// The command transaction over the virtual null-modem cable against the simulated monitor, in
// real time, through kernel32's serial functions as Wine runs them.
#include <gtest/gtest.h>
#include <cstring>
#include "panel/KelvaneDlg.h"
#include "protocol/Transaction.h"
#include "tests/e2e/OpenAsConnect.h"
#include "tests/e2e/SimulatorProcess.h"

namespace {

std::string Reply(size_t length) {
    return std::string(reinterpret_cast<const char*>(g_reply), length);
}

class TransactionOverTheCable : public ::testing::Test {
protected:
    void SetUp() override {
        ports = GetCablePorts();
        ASSERT_FALSE(ports.panel.empty() || ports.monitor.empty())
            << "run the end-to-end tests through scripts/test.sh, which lays the cable";
        std::memset(g_reply, 0, sizeof g_reply);
    }
    void TearDown() override {
        g_bConnected = 0;
        panel.m_serial.Close();
    }

    // Opens the panel's end as connecting does, once the monitor listens on the other.
    void Connect(const SimulatorProcess& monitor) {
        ASSERT_TRUE(monitor.Running());
        ASSERT_TRUE(OpenAsConnectDoes(panel, ports.panel));
    }

    // Sends the frame for unit 1 and answers the result and how long the exchange took.
    CommandResult Send(const char (&command)[4], const char (&argument)[4], BOOL bReadData,
                       ULONGLONG* elapsed = nullptr) {
        const ULONGLONG start = ::GetTickCount64();
        const CommandResult result =
            panel.SendCommand(bReadData, MakeFrame('1', command, argument));
        if (elapsed)
            *elapsed = ::GetTickCount64() - start;
        return result;
    }

    CablePorts ports;
    CKelvaneDlg panel;
};

TEST_F(TransactionOverTheCable, AnAnsweredQueryFillsTheReplyAndIsAcknowledged) {
    SimulatorProcess monitor(L"--unit-id 1 --source HD2");
    Connect(monitor);
    EXPECT_EQ(Send("SSG", "000", TRUE), CMD_ACK);
    EXPECT_EQ(Reply(3), "HD2");
    EXPECT_EQ(Send("SIG", "000", TRUE), CMD_ACK);
    EXPECT_EQ(Reply(3), "SOK");
    EXPECT_EQ(Send("FVS", "ENA", FALSE), CMD_ACK);
    EXPECT_EQ(Reply(6).substr(2), "1.02");
    EXPECT_EQ(monitor.Frames(), (std::vector<std::string>{"@@1SSG000", "@@1SIG000", "@@1FVSENA"}));
}

TEST_F(TransactionOverTheCable, ANegativeAcknowledgeIsARefusal) {
    SimulatorProcess monitor(L"--nak");
    Connect(monitor);
    EXPECT_EQ(Send("SSS", "HD3", FALSE), CMD_NAK);
    EXPECT_EQ(monitor.Frames(), std::vector<std::string>{"@@1SSSHD3"});
}

TEST_F(TransactionOverTheCable, ASilentMonitorIsALinkErrorAfterTheSecondChance) {
    SimulatorProcess monitor(L"--silent");
    Connect(monitor);
    ULONGLONG elapsed = 0;
    EXPECT_EQ(Send("DSS", "EXE", FALSE, &elapsed), CMD_LINK_ERROR);
    // Drain 100, wait 200, an empty read 100, 500, an empty read 100.
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 2000u);
    EXPECT_EQ(monitor.Frames(), std::vector<std::string>{"@@1DSSEXE"});
}

TEST_F(TransactionOverTheCable, ALateAcknowledgeIsTakenOnTheSecondRead) {
    SimulatorProcess monitor(L"--late-ack 450");
    Connect(monitor);
    ULONGLONG elapsed = 0;
    EXPECT_EQ(Send("DSS", "EXE", FALSE, &elapsed), CMD_ACK);
    EXPECT_GE(elapsed, 800u) << "after the 500 ms second chance";
}

TEST_F(TransactionOverTheCable, TheFirmwareRefusalIsANakAndItsRestIsDrainedNextTime) {
    SimulatorProcess monitor(L"--refuse-fv");
    Connect(monitor);
    EXPECT_EQ(Send("FVS", "ENA", FALSE), CMD_NAK);
    EXPECT_EQ(g_reply[0], '?');
    EXPECT_EQ(Send("SIG", "000", TRUE), CMD_ACK);
    EXPECT_EQ(Reply(3), "SOK");
}

} // namespace
