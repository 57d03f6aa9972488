#pragma once
// The simulator's lines: one COM port, or one device server for each --listen port, each with a
// chain of its own and its own state, faults and seed. Several lines run a thread each.

#include "Line.h"
#include "Log.h"
#include "Options.h"
#include "Simulator.h"

#include <memory>
#include <string>
#include <vector>

namespace monitor_sim {

class Fleet {
public:
    // log: the program's; a fleet of several ports gives each a log of its own that names it.
    Fleet(const Options& options, Log& log);
    ~Fleet();
    Fleet(const Fleet&) = delete;
    Fleet& operator=(const Fleet&) = delete;

    // Opens every line (a COM port, or every TCP port listening); false with error text when one
    // does not open.
    bool open(std::string& error);

    // Logs what listens and how, sets the ready event, then runs every line until all have
    // stopped; returns the exit code, 1 when a line failed (the others stop then too).
    int run();

private:
    struct Port {
        std::unique_ptr<Log> log; // null for a line alone, which logs to the program's log
        std::unique_ptr<Line> line;
        std::unique_ptr<Simulator> simulator;
    };

    bool announceReady(std::string& error);

    const Options& options_;
    Log& log_;
    std::vector<Port> ports_;
    void* readyEvent_ = nullptr; // HANDLE of the --ready-event event
};

} // namespace monitor_sim
