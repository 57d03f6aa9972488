#include "service/GroupRun.h"
#include <map>
#include <memory>
#include <mutex>

namespace service {

namespace {

// The run's state, shared by the lines' chains; the last member to end tells the records.
struct Run {
    Run(Operations& operations, const Request& request, const Requester& requester,
        std::function<void(const std::vector<OperationRecord>&)> finished)
        : operations(operations), request(request), requester(requester),
          finished(std::move(finished)) {}

    Operations& operations;
    Request request;
    Requester requester;
    std::function<void(const std::vector<OperationRecord>&)> finished;
    std::vector<std::vector<std::size_t>> lines; // each line's members, as indexes in records
    std::mutex mutex;
    std::vector<OperationRecord> records;
    std::size_t left = 0;
};

// The record of a member that was never queued: its line was full, or it was cut before its turn.
// A member is a monitor of the configuration when the group's request comes, so one that is gone
// when its turn comes was taken away by a reload.
OperationRecord NotStarted(const OperationRecord& member, const Run& run, Started started) {
    OperationRecord record = member;
    record.command = run.request.command;
    record.request = run.request;
    record.requester = run.requester;
    if (started == Started::Busy) {
        record.outcome.error = protocol::Failure::Busy;
        record.outcome.message = "too many operations wait on its line";
        return record;
    }
    record.cut = started == Started::NoSuchMonitor ? Cut::Reload : CutOf(started);
    record.outcome.error = protocol::Failure::Interrupted;
    record.outcome.message = CutWords(record.cut);
    return record;
}

// Starts the member of the line at place (or the first after it that can be started); each
// member's end starts the next.
void Next(const std::shared_ptr<Run>& run, std::size_t line, std::size_t place) {
    const std::vector<std::size_t>& members = run->lines[line];
    for (; place < members.size(); ++place) {
        const std::size_t index = members[place];
        std::string monitor;
        {
            std::lock_guard<std::mutex> lock(run->mutex);
            monitor = run->records[index].monitor;
        }
        const auto ended = [run, line, place, index](const OperationRecord& record) {
            bool last = false;
            {
                std::lock_guard<std::mutex> lock(run->mutex);
                run->records[index] = record;
                last = --run->left == 0;
            }
            if (last)
                run->finished(run->records);
            else
                Next(run, line, place + 1);
        };
        const Started started = run->operations.Start(monitor, run->request, run->requester, ended);
        if (started == Started::Queued)
            return;
        bool last = false;
        {
            std::lock_guard<std::mutex> lock(run->mutex);
            run->records[index] = NotStarted(run->records[index], *run, started);
            last = --run->left == 0;
        }
        if (last) {
            run->finished(run->records);
            return;
        }
    }
}

} // namespace

void RunOnGroup(Operations& operations, const Fleet& fleet, const std::vector<std::string>& members,
                const Request& request, const Requester& requester,
                std::function<void(const std::vector<OperationRecord>&)> finished) {
    auto run = std::make_shared<Run>(operations, request, requester, std::move(finished));
    run->records.resize(members.size());
    run->left = members.size();
    std::map<std::string, std::size_t> lineOf; // a line's name -> its place in run->lines
    for (std::size_t i = 0; i < members.size(); ++i) {
        run->records[i].monitor = members[i];
        const std::optional<Fleet::Found> found = fleet.Find(members[i]);
        // A member a reload took away fails on a line of its own.
        const std::string line = found ? found->state.line : "\n" + members[i];
        if (found)
            run->records[i].target = found->state.target;
        const auto [place, fresh] = lineOf.emplace(line, run->lines.size());
        if (fresh)
            run->lines.emplace_back();
        run->lines[place->second].push_back(i);
    }
    if (members.empty()) {
        run->finished(run->records);
        return;
    }
    // Counted before any starts: a line may end all its members before the next line starts.
    for (std::size_t line = 0; line < run->lines.size(); ++line)
        Next(run, line, 0);
}

} // namespace service
