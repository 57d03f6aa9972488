// Operations on monitors, whoever asks for them (the API, the page, a group, the MQTT bridge):
// each is queued on its monitor's line worker, and when it ends it is recorded once for every
// face that shows it (the log, and the listeners: the operations' log in memory, the bridge).
//   Requester      who asked: the face, the client's address, the token's label
//   OperationRecord  what one operation came to, and who asked
//   Started        whether an operation was queued
//   CutOf, CutWords  why one was not queued, or cut, and the words for it
//   Operations     starts operations and tells their ends to the listeners
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include "commands/Commands.h"
#include "service/Fleet.h"
#include "service/LineWorker.h"
#include "service/WorkerClock.h"

namespace service {

struct Requester {
    std::string face;    // "api", "mqtt"
    std::string address; // the client's address; empty when there is none
    std::string label;   // the token's label; empty without one
};

struct OperationRecord {
    std::string monitor;
    std::string target; // as configured
    Command command = Command::Source;
    Request request;
    Requester requester;
    Cut cut = Cut::No; // why the operation did not run to its end
    Outcome outcome;
    std::int64_t endedMs = 0; // when it ended, in ms since 1970 (UTC)
    double seconds = 0;       // from its queueing to its end
};

enum class Started { Queued, NoSuchMonitor, Busy, Stopping, LetGo };

// The cut an operation that could not be started meets: Stop while kelvaned stops, Reload when a
// reload let its line go; No otherwise.
Cut CutOf(Started started);
// "kelvaned is stopping", "a reload took the monitor or its line away".
const char* CutWords(Cut why);

class Operations {
public:
    explicit Operations(Fleet& fleet, WorkerClock& clock = SystemClock())
        : m_fleet(fleet), m_clock(clock) {}

    using Done = std::function<void(const OperationRecord&)>;
    // Queues the request on the monitor's line. done is called once, on the line's worker, when
    // it has ended (or was cut); never when it was not queued.
    Started Start(const std::string& monitor, const Request& request, const Requester& requester,
                  Done done);
    // Called with every operation that ended, after its log line and before its done.
    void AddListener(Done listener);

private:
    void Ended(const OperationRecord& record);

    Fleet& m_fleet;
    WorkerClock& m_clock;
    std::mutex m_mutex;
    std::vector<std::shared_ptr<const Done>> m_listeners;
};

// "source HDMI2", "reset", "diagnostic": the operation as the log names it.
std::string OperationText(const Request& request);

} // namespace service
