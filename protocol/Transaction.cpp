// One exchange with the monitor: drain, send a frame, wait, read the answer, classify it.
#include "protocol/Transaction.h"
#include <cstring>
#include "framework/Clock.h"
#include "panel/KelvaneDlg.h"

BYTE g_txBuffer[TX_BUFFER_SIZE];
int32_t g_txLength = 0;
BYTE g_reply[REPLY_SIZE];

namespace {

// The monitor needs this long after a frame before its answer is certain to be on the line.
constexpr DWORD ANSWER_WAIT_MS = 200;
// A second chance for an acknowledge that had not come by the first read.
constexpr DWORD LATE_ACK_WAIT_MS = 500;
constexpr BYTE ACK = '!';
constexpr BYTE REFUSAL = '?';

// The acknowledge byte decides, whenever it came: "!" is an acknowledge, anything else a
// refusal.
CommandResult Acknowledge(BYTE ack) {
    return ack == ACK ? CMD_ACK : CMD_NAK;
}

} // namespace

CommandResult CKelvaneDlg::SendCommand(BOOL bReadData, CommandFrame frame) {
    if (!g_bConnected)
        return CMD_LINK_ERROR;

    ResetTx();
    AppendTx(reinterpret_cast<const BYTE*>(frame.header), 2);
    AppendTx(reinterpret_cast<const BYTE*>(&frame.address), 1);
    AppendTx(reinterpret_cast<const BYTE*>(&frame.command[0]), 1);
    AppendTx(reinterpret_cast<const BYTE*>(&frame.command[1]), 1);
    AppendTx(reinterpret_cast<const BYTE*>(&frame.command[2]), 1);
    AppendTx(reinterpret_cast<const BYTE*>(frame.argument), 3);
    if (!FlushTx())
        return CMD_SEND_FAILED;

    AfxSleep(ANSWER_WAIT_MS);

    // A data byte that does not come is left as 0 by ReadByte; only the acknowledge decides.
    if (bReadData) {
        for (int i = 0; i < 3; ++i)
            m_serial.ReadByte(&g_reply[i]);
    }
    if (frame.command[0] == 'F' && frame.command[1] == 'V') {
        for (int i = 0; i < 6; ++i)
            m_serial.ReadByte(&g_reply[i]);
        if (g_reply[0] == REFUSAL)
            return CMD_NAK;
    }

    BYTE ack = 0;
    switch (m_serial.ReadByte(&ack)) {
    case 0:
        return Acknowledge(ack);
    case 2:
        return CMD_LINK_ERROR;
    default:
        break;
    }
    AfxSleep(LATE_ACK_WAIT_MS);
    // A late answer counts as a prompt one would: a late refusal is still a refusal, and a read
    // that fails now is no acknowledge at all.
    return m_serial.ReadByte(&ack) == 0 ? Acknowledge(ack) : CMD_LINK_ERROR;
}

void CKelvaneDlg::ResetTx() {
    g_txLength = 0;
    m_serial.Drain();
}

int CKelvaneDlg::AppendTx(const BYTE* src, BYTE len) {
    // The transaction queues nine bytes; anything that would run past the queue is refused
    // whole rather than written over the memory behind it.
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
