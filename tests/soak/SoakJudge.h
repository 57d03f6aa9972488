// What the soak makes of one operator action: how long its operation may take by the protocol's
// waits, and whether the monitor's log backs what the panel reported.
//   Operation         the panel operations the soak runs
//   OperationBoundMs  the longest an operation may take, boxes aside
//   Exchange          one frame the monitor received, the fault it drew and what it sent back
//   ExchangesIn       the exchanges in a stretch of the monitor's log
//   Verdict           what the panel reported and what the monitor acknowledged
//   JudgeSourceChange, JudgeDefaultSetting
#pragma once

#include <windows.h>
#include <string>
#include <vector>
#include "tests/e2e/SimulatorProcess.h"

enum class Operation {
    Connect,
    Disconnect,
    CheckSource,
    CheckSignal,
    CheckUnitId,
    CheckFirmware,
    ChangeSource,
    DefaultSetting,
    Diagnostic,
    ChooseModel,
    AboutBox,
    Exit,
};

// The operation's name in the soak's figures ("default setting").
const char* OperationName(Operation operation);

// The longest the operation may take by the protocol: every transaction it can run with the
// drain at its limit and every read waiting out its time, every fixed sleep, every nested query.
ULONGLONG OperationBoundMs(Operation operation);

struct Exchange {
    std::string frame;              // "@@1SSSHD2"
    std::string fault;              // what the monitor's draw did ("none", "late 540 ms"...), or ""
    std::string answer;             // the bytes it sent back before the next frame came, as logged
    bool lateAnswerMissing = false; // a late answer had not gone out when the next frame came
};

// The frames the monitor received in these log lines, with what it answered to each.
std::vector<Exchange> ExchangesIn(const std::vector<LogEvent>& events);

struct Verdict {
    bool reported = false;     // the panel said it was done
    bool acknowledged = false; // the monitor sent "!" as the acknowledge of that frame
};

// A click on a source button (0 HDMI 1 to 3 VGA): the panel reports the change done when its
// status line shows the success text afterwards, either newly or after running the signal query
// that follows a switch it took as acknowledged; the monitor acknowledged it when the last switch
// frame of the action was for that source and answered with "!" (a refusal, prompt or late, is
// none).
Verdict JudgeSourceChange(int source, const std::wstring& statusBefore,
                          const std::wstring& statusAfter, const std::vector<Exchange>& exchanges);

// A click on Default Setting, judged the same way by the reset frame.
Verdict JudgeDefaultSetting(const std::wstring& statusBefore, const std::wstring& statusAfter,
                            const std::vector<Exchange>& exchanges);
