// The panel's command transaction: the door every frame of the panel passes on its way to the
// protocol core, the transmit queue and the reply buffer.
#include "protocol/Transaction.h"
#include <cstring>
#include "framework/Clock.h"
#include "panel/KelvaneDlg.h"

BYTE g_txBuffer[TX_BUFFER_SIZE];
int32_t g_txLength = 0;
BYTE g_reply[REPLY_SIZE];

namespace {

class FrameworkClock final : public ProtocolClock {
public:
    void Sleep(std::uint32_t milliseconds) override { AfxSleep(milliseconds); }
    std::uint64_t NowMs() override { return AfxGetTickCount(); }
};

FrameworkClock g_frameworkClock;

} // namespace

bool SerialLine::WriteByte(std::uint8_t byte) {
    return m_dlg.m_serial.WriteByte(byte) != 0;
}

MonitorLine::ReadResult SerialLine::ReadByte(std::uint8_t* target) {
    return static_cast<ReadResult>(m_dlg.m_serial.ReadByte(target));
}

void SerialLine::Drain() {
    m_dlg.ResetTx();
}

PanelProtocol::PanelProtocol(SerialLine& line) : MonitorProtocol(line, g_frameworkClock) {
}

Exchange PanelProtocol::Transact(const CommandFrame& frame, bool readData) {
    if (!g_bConnected)
        return {};
    const Exchange exchange = MonitorProtocol::Transact(frame, readData);
    std::memcpy(g_reply, exchange.data, exchange.dataRead);
    return exchange;
}

CommandResult CKelvaneDlg::SendCommand(BOOL bReadData, CommandFrame frame) {
    return m_protocol.Transact(frame, bReadData != FALSE).result;
}

void CKelvaneDlg::ResetTx() {
    g_txLength = 0;
    m_serial.Drain();
}

int CKelvaneDlg::AppendTx(const BYTE* src, BYTE len) {
    // Anything that would run past the queue is refused whole rather than written over the
    // memory behind it.
    if (g_txLength < 0 || size_t(g_txLength) + len > TX_BUFFER_SIZE)
        return 0;
    if (len != 0) {
        std::memcpy(g_txBuffer + g_txLength, src, len);
        g_txLength += len;
    }
    return 1;
}

int CKelvaneDlg::FlushTx() {
    int result = 1;
    for (int32_t i = 0; i < g_txLength; ++i) {
        if (!m_serial.WriteByte(g_txBuffer[i])) {
            result = 0;
            break;
        }
    }
    g_txLength = 0;
    return result;
}

void CKelvaneDlg::ClearReply() {
    std::memset(g_reply, 0, 6);
}
