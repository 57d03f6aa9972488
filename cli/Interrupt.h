// Ctrl-C for the whole program (SIGINT, or the console's break on Windows): once pressed, every
// wait of every line ends at once and every later call on a line fails, so each target's work
// unwinds, its line is released, and the program ends with 130. A second Ctrl-C ends it at once.
//   EXIT_INTERRUPTED   the exit status after Ctrl-C
//   WatchForInterrupt  starts watching; call it before any other thread starts
//   Interrupted        whether Ctrl-C was pressed
//   InterruptCancel    the Cancel that Ctrl-C sets, for the lines and the clocks
#pragma once

#include "line/Cancel.h"

inline constexpr int EXIT_INTERRUPTED = 130;

void WatchForInterrupt();
bool Interrupted();
line::Cancel& InterruptCancel();
