// What the monitor operations tell the operator in their boxes, where more than one says it.
#pragma once

// A frame went out but no acknowledge could be read.
inline constexpr const wchar_t* TEXT_LINK_ERROR = L"Communication Error! Please try again.";
// A frame could not be written: the connection is ended.
inline constexpr const wchar_t* TEXT_SEND_FAILED =
    L"Communication Error! Disconnect this connection and try again.";
// The unit-ID query got no acknowledge.
inline constexpr const wchar_t* TEXT_NO_ANSWER =
    L"Monitor is not respond. Please check serial cable or monitor power status!";
// A step of the reset or diagnostic sequence was refused or not acknowledged.
inline constexpr const wchar_t* TEXT_LINK_ERROR_OR_NAK = L"Communication Error or NAK from monitor";
