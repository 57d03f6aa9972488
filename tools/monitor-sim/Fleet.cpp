#ifdef _WIN32
#include <windows.h>
#endif

#include "Fleet.h"

#include "ComPort.h"
#include "Console.h"
#include "TcpServer.h"

#include <algorithm>
#include <thread>

namespace monitor_sim {

Fleet::Fleet(const Options& options, Log& log) : options_(options), log_(log) {
}

Fleet::~Fleet() {
#ifdef _WIN32
    if (readyEvent_)
        CloseHandle(static_cast<HANDLE>(readyEvent_));
#endif
}

bool Fleet::open(std::string& error) {
    if (!options_.listen) {
        Port port;
        port.line = std::make_unique<ComPort>(options_.port);
        if (!port.line->open(error))
            return false;
        ports_.push_back(std::move(port));
    }
    for (unsigned i = 0; options_.listen && i < options_.listen->count; ++i) {
        const unsigned number = options_.listen->port == 0 ? 0 : options_.listen->port + i;
        Port port;
        if (options_.listen->count > 1)
            port.log = std::make_unique<Log>(log_, "");
        port.line =
            std::make_unique<TcpServer>(options_.listen->host, number, port.log ? *port.log : log_);
        if (!port.line->open(error))
            return false;
        // "tcp:127.0.0.1:7003" is known by its port number within the fleet.
        const std::string name = port.line->name();
        if (port.log)
            port.log->setTag(name.substr(name.rfind(':') + 1));
        ports_.push_back(std::move(port));
    }
    for (unsigned place = 0; place < ports_.size(); ++place) {
        Port& port = ports_[place];
        port.simulator =
            std::make_unique<Simulator>(options_, *port.line, port.log ? *port.log : log_, place);
    }
    return true;
}

bool Fleet::announceReady(std::string& error) {
    if (options_.readyEvent.empty())
        return true;
#ifndef _WIN32
    error = "--ready-event names a Windows event: use monitor-sim.exe";
    return false;
#else
    // CreateEventW opens the event when the test made it already, or makes it when we are first;
    // either way the test waiting on that name wakes up. The handle stays open until we exit, so
    // the event outlives a test that has not opened it yet.
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, options_.readyEvent.c_str());
    readyEvent_ = event;
    if (!event || !SetEvent(event)) {
        error = "cannot set ready event " + toUtf8(options_.readyEvent) + ": " +
                windowsErrorText(GetLastError());
        return false;
    }
    log_.line("READY", "event " + toUtf8(options_.readyEvent) + " set");
    return true;
#endif
}

int Fleet::run() {
    for (const Port& port : ports_)
        log_.line("listening", "on " + port.line->name());
    // Every port's chain starts alike.
    for (const std::string& monitor : ports_.front().simulator->configuration())
        log_.line("CONFIG", monitor);
    for (const Port& port : ports_)
        (port.log ? *port.log : log_).line("FAULTS", port.simulator->faults());
    std::string error;
    if (!announceReady(error)) {
        log_.line("ERROR", error);
        log_.line("EXIT", "after an error");
        writeStderr("monitor-sim: " + error + "\n");
        return 1;
    }
    if (ports_.size() == 1)
        return ports_.front().simulator->run();

    std::vector<int> codes(ports_.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ports_.size(); ++i)
        threads.emplace_back([this, &codes, i] { codes[i] = ports_[i].simulator->run(); });
    for (std::thread& thread : threads)
        thread.join();
    // 1 (a line failed) wins over 0.
    return *std::max_element(codes.begin(), codes.end());
}

} // namespace monitor_sim
