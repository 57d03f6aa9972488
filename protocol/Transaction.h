// The buffers of the command transaction, shared by every operation of the panel.
//   g_txBuffer, g_txLength  the transmit queue: the bytes of the frame being sent
//   g_reply                 the data bytes of the last answer that had some
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

constexpr size_t TX_BUFFER_SIZE = 128;
constexpr size_t REPLY_SIZE = 12;

extern BYTE g_txBuffer[TX_BUFFER_SIZE];
extern int32_t g_txLength;
// Answers fill bytes 0 to 5 at most, so it always reads as a zero-terminated text.
extern BYTE g_reply[REPLY_SIZE];
