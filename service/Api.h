// The HTTP API: thin handlers over the fleet's state and its workers. The protocol's questions
// are the core's and the commands', the state the fleet's; here requests become calls and
// values become JSON.
//   Api           the names it answers to, the routes (a table), the checks of a POST, the
//                 answers, the page and its event stream
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>
#include "service/Config.h"
#include "service/Fleet.h"
#include "service/Gzip.h"
#include "service/OperationLog.h"
#include "service/Operations.h"
#include "service/Security.h"
#include "service/Service.h"
#include "service/WorkerClock.h"
#include "service/http/Server.h"

namespace service {

// How long a client told that a line has too many operations waiting should wait before it asks
// again: about the time of a few operations.
inline constexpr int BUSY_RETRY_AFTER_S = 5;

// How far behind the counters and times of /metrics and /api/monitors may be (what a monitor
// shows never is). Past it, the answer is made again off the server's thread while the last one
// is still sent, for up to as long again.
inline constexpr std::chrono::milliseconds COUNTERS_LAG{500};

class Api final : public http::Handler {
public:
    // clock: how old a rendering is (COUNTERS_LAG).
    Api(Fleet& fleet, Service& service, Operations& operations, const OperationLog& log,
        WorkerClock& clock = SystemClock());
    // The bearer tokens a POST needs one of; none: POSTs only from this machine.
    void SetTokens(const Tokens& tokens);
    // The groups a POST may run an operation on, as the configuration resolved them.
    void SetGroups(const std::vector<GroupConfig>& groups);
    // The address kelvaned listens on and the names of allowed_hosts: with loopback's, the names
    // a request's Host may give.
    void SetHosts(const ListenAddress& listen, const std::vector<std::string>& allowedHosts);
    http::Reply Answer(const http::Request& head) override;

private:
    using Handler = http::Reply (Api::*)(const http::Request&, const std::string& name);
    struct Route {
        const char* method;
        const char* pattern; // the whole path; its group, if any, is the monitor's name
        Handler handler;
    };
    static const Route ROUTES[];

    http::Reply Dispatch(const http::Request& request);
    http::Reply ListMonitors(const http::Request& request, const std::string&);
    http::Reply ShowMonitor(const http::Request&, const std::string& name);
    // A POST's checks from its head (origin, token, body type): a refusal, or nothing and who
    // asked.
    std::optional<http::Reply> JudgeOperation(const http::Request& head, Requester& requester);
    template <Command command>
    http::Reply Operate(const http::Request& request, const std::string& name);
    http::Reply ListGroups(const http::Request&, const std::string&);
    template <Command command>
    http::Reply OperateGroup(const http::Request& request, const std::string& name);
    http::Reply OperationsLog(const http::Request& request, const std::string&);
    http::Reply Metrics(const http::Request& request, const std::string&);
    http::Reply Health(const http::Request&, const std::string&);
    http::Reply Page(const http::Request& request, const std::string&);
    http::Reply Events(const http::Request&, const std::string&);

    // A whole-fleet answer, rendered once per version of the fleet, or less often while only
    // counters and times move (see COUNTERS_LAG): every poll moves them, hundreds of times a
    // second on a large site, and a scrape or a dashboard may ask far more often still. Version
    // 0 is none: the fleet is configured, and so past it, before the server starts.
    struct Rendered {
        std::uint64_t version = 0;
        std::uint64_t shown = 0; // the fleet's ShownVersion when it was taken
        // When it was last found to show the fleet as it is: made then, or the fleet's version
        // unchanged since. Its counters lag from there, not from when it was made.
        WorkerClock::Time current;
        Packed body;
    };
    struct Cached {
        Rendered latest;
        std::future<void> refresh; // a rendering under way off the server's thread
    };
    using Renderer = std::function<std::string(const std::vector<MonitorState>&)>;
    // Answers with the latest rendering while it shows what the fleet shows and its counters
    // are recent enough, else with one made now.
    http::Reply Render(Cached& cache, const Renderer& render, const http::Request& request,
                       const char* type);
    Rendered RenderNow(const Renderer& render) const;

    Fleet& m_fleet;
    Service& m_service;
    Operations& m_operations;
    const OperationLog& m_log;
    WorkerClock& m_clock;
    mutable std::mutex m_mutex;
    Tokens m_tokens;
    std::vector<GroupConfig> m_groups;
    ListenAddress m_listen;
    std::vector<std::string> m_allowedHosts;
    // After every member a rendering uses: each waits for its refresh to end as it goes.
    Cached m_metrics;
    Cached m_monitors;
    // The page's files, packed once: they are the same for every request.
    struct PageAnswer {
        std::string path;
        std::string type;
        Packed body;
    };
    std::vector<PageAnswer> m_page;
};

} // namespace service
