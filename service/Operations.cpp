#include "service/Operations.h"
#include <cstdio>
#include "core/Sources.h"
#include "service/LineWorker.h"
#include "service/Log.h"

namespace service {

std::string OperationText(const Request& request) {
    std::string text = CommandName(request.command);
    if (request.command == Command::Source)
        text += std::string(" ") + protocol::SourceName(request.source);
    return text;
}

Cut CutOf(Started started) {
    return started == Started::Stopping ? Cut::Stop
           : started == Started::LetGo  ? Cut::Reload
                                        : Cut::No;
}

const char* CutWords(Cut why) {
    return why == Cut::Reload ? "a reload took the monitor or its line away"
                              : "kelvaned is stopping";
}

Started Operations::Start(const std::string& monitor, const Request& request,
                          const Requester& requester, Done done) {
    std::optional<Fleet::Found> found = m_fleet.Find(monitor);
    if (!found || !found->worker)
        return Started::NoSuchMonitor;
    auto record = std::make_shared<OperationRecord>();
    record->monitor = monitor;
    record->target = found->state.target;
    record->command = request.command;
    record->request = request;
    record->requester = requester;
    const WorkerClock::Time queued = m_clock.Now();
    const Admission admission = found->worker->Submit(
        monitor, request, [this, record, queued, done](const OperationResult& result) {
            record->cut = result.cut;
            record->outcome = result.outcome;
            record->endedMs = m_clock.WallMs();
            record->seconds = std::chrono::duration<double>(m_clock.Now() - queued).count();
            Ended(*record);
            done(*record);
        });
    switch (admission) {
    case Admission::Queued:
        return Started::Queued;
    case Admission::Busy:
        return Started::Busy;
    case Admission::LetGo:
        return Started::LetGo;
    default:
        return Started::Stopping;
    }
}

void Operations::AddListener(Done listener) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listeners.push_back(std::make_shared<const Done>(std::move(listener)));
}

void Operations::Ended(const OperationRecord& record) {
    std::string result = record.cut == Cut::Stop     ? "cut short by the stop"
                         : record.cut == Cut::Reload ? "cut short by a reload"
                         : record.outcome.ok()       ? "done"
                                                     : std::string("failed: ") +
                                                     protocol::FailureName(record.outcome.error);
    std::string who = record.requester.face;
    if (!record.requester.address.empty())
        who += " " + record.requester.address;
    if (!record.requester.label.empty())
        who += " (" + record.requester.label + ")";
    char took[32];
    std::snprintf(took, sizeof took, "%.1f s", record.seconds);
    Log(OperationText(record.request) + " on " + record.monitor + " (" + record.target + ") for " +
        who + ": " + result + " in " + took);
    std::vector<std::shared_ptr<const Done>> listeners;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        listeners = m_listeners;
    }
    for (const auto& listener : listeners)
        (*listener)(record);
}

} // namespace service
