// Stands in for the operator: records every message box the program shows and answers OK.
#pragma once

#include <windows.h>
#include <string>
#include <vector>
#include "framework/MessageBox.h"

struct MessageBoxCall {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
    bool waitCursor; // the hourglass was showing when the box came
};

class MessageBoxRecorder {
public:
    // Installs itself for its lifetime; one at a time.
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    std::vector<MessageBoxCall> boxes;

private:
    static int Show(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
    AfxMessageBoxFunction m_previous;
};
