// The panel's side of the command transaction.
//   g_txBuffer, g_txLength  the transmit queue of the panel's transaction interface
//   g_reply                 the data bytes of the last answer that had some
//   SerialLine              the panel's serial channel as the protocol core's line
//   PanelProtocol           the protocol core as the panel uses it: every frame passes the
//                           connection check, and its data bytes stay in g_reply
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>
#include "core/MonitorProtocol.h"

class CKelvaneDlg;

constexpr size_t TX_BUFFER_SIZE = 128;
constexpr size_t REPLY_SIZE = 12;

extern BYTE g_txBuffer[TX_BUFFER_SIZE];
extern int32_t g_txLength;
// Answers fill bytes 0 to 5 at most, so it always reads as a zero-terminated text.
extern BYTE g_reply[REPLY_SIZE];

// Reads and writes go to the panel's m_serial; the drain before a frame is the panel's ResetTx.
class SerialLine final : public MonitorLine {
public:
    explicit SerialLine(CKelvaneDlg& dlg) : m_dlg(dlg) {}
    bool WriteByte(std::uint8_t byte) override;
    ReadResult ReadByte(std::uint8_t* target) override;
    void Drain() override;

private:
    CKelvaneDlg& m_dlg;
};

class PanelProtocol final : public MonitorProtocol {
public:
    // Waits through the program's clock (AfxSleep), so tests can run them on a virtual one.
    explicit PanelProtocol(SerialLine& line);
    // Nothing goes out without a connection (CMD_LINK_ERROR); the data bytes an answer brought
    // are left in g_reply, as the panel's operations expect them there.
    Exchange Transact(const CommandFrame& frame, bool readData) override;
};
