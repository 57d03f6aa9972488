// Each route is one row of ROUTES; a handler reads the request, asks the fleet or a worker, and
// replies. Everything but an operation's body is judged from the request's head, before the body
// is read. Errors are {"error": "..."} with a fitting status.
#include "service/Api.h"
#include <chrono>
#include <regex>
#include <set>
#include <vector>
#include "commands/Report.h"
#include "core/Sources.h"
#include "res/Version.h"
#include "service/Events.h"
#include "service/GroupRun.h"
#include "service/HostRules.h"
#include "service/Metrics.h"
#include "service/Page.h"
#include "service/Security.h"
#include "service/View.h"

namespace service {

namespace {

constexpr const char* JSON_TYPE = "application/json";

http::Response Json(int status, const nlohmann::json& body) {
    http::Response response;
    response.status = status;
    response.type = JSON_TYPE;
    response.body = std::make_shared<const std::string>(
        body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return response;
}

http::Reply Fail(int status, const std::string& reason) {
    return http::Reply::Now(http::ErrorAnswer(status, reason));
}

// The body as JSON, discarded when it is none. twice: whether an object in it names a key twice,
// which readers take differently (the first, the last): ambiguous, so refused.
nlohmann::json ParseBody(const std::string& body, bool& twice) {
    using Event = nlohmann::json::parse_event_t;
    std::vector<std::set<std::string>> keys; // of each object open at this point
    return nlohmann::json::parse(
        body,
        [&](int, Event event, nlohmann::json& parsed) {
            if (event == Event::object_start)
                keys.emplace_back();
            else if (event == Event::object_end)
                keys.pop_back();
            else if (event == Event::key && !keys.back().insert(parsed.get<std::string>()).second)
                twice = true;
            return true;
        },
        false);
}

// Reads an operation's body into the request; false with the reason for a 400.
bool ReadBody(Command command, const std::string& body, Request& request, std::string& error) {
    const bool blank = body.find_first_not_of(" \t\r\n") == std::string::npos;
    if (command != Command::Source && blank)
        return true;
    bool twice = false;
    const nlohmann::json parsed = ParseBody(body, twice);
    if (parsed.is_discarded() || !parsed.is_object()) {
        error = "the body is not a JSON object";
        return false;
    }
    if (twice) {
        error = "the body names a key twice in one object";
        return false;
    }
    if (command != Command::Source) {
        if (!parsed.empty()) {
            error = std::string(CommandName(command)) + " takes no body (empty, or {})";
            return false;
        }
        return true;
    }
    const auto source = parsed.find("source");
    if (source == parsed.end() || !source->is_string()) {
        error = "the body wants {\"source\": NAME}, NAME one of " + protocol::SourceChoices();
        return false;
    }
    request.source = protocol::SourceByName(source->get<std::string>());
    if (request.source < 0) {
        error = "unknown source \"" + source->get<std::string>() + "\": the sources are " +
                protocol::SourceChoices();
        return false;
    }
    return true;
}

// An operation that did not run to its end (what: "the operation", "the group's operation").
std::string CutReason(Cut why, const std::string& what) {
    return std::string(CutWords(why)) + ": " + what + " did not run to its end";
}

// What an operation came to, as its request's answer.
http::Response OperationAnswer(const OperationRecord& record) {
    if (record.cut != Cut::No)
        return http::ErrorAnswer(503, CutReason(record.cut, "the operation"));
    http::Response response;
    response.status = record.outcome.ok() ? 200 : 502;
    response.type = JSON_TYPE;
    response.body = std::make_shared<const std::string>(
        JsonReport(record.target, record.command, record.outcome));
    return response;
}

// What a group's operation came to: each member's R in the group's order, 200 when every member
// succeeded, else 502; 503 when the stop or a reload cut any of them, with the reason first and
// still every member's R, so that the members that did change are told.
http::Response GroupAnswer(const std::vector<OperationRecord>& records) {
    nlohmann::ordered_json answer;
    nlohmann::ordered_json results = nlohmann::ordered_json::array();
    bool ok = true;
    for (const OperationRecord& record : records) {
        Outcome outcome = record.outcome;
        if (record.cut != Cut::No) {
            if (answer.empty())
                answer["error"] = CutReason(record.cut, "the group's operation");
            outcome.error = protocol::Failure::Interrupted;
            outcome.message = CutWords(record.cut);
        }
        ok = ok && outcome.ok();
        results.push_back(ReportJson(record.target, record.command, outcome));
    }
    answer["ok"] = ok;
    answer["results"] = results;
    http::Response response;
    response.status = answer.contains("error") ? 503 : ok ? 200 : 502;
    response.type = JSON_TYPE;
    response.body = std::make_shared<const std::string>(
        answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return response;
}

// The entries GET /api/log answers with: limit's value, DEFAULT_LOG_LIMIT without one; 0 for a
// value that is no whole number from 1 to MAX_LOGGED_OPERATIONS.
std::size_t LogLimit(const std::optional<std::string>& limit) {
    if (!limit)
        return DEFAULT_LOG_LIMIT;
    if (limit->empty() || limit->size() > 4 ||
        limit->find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const std::size_t value = std::stoul(*limit);
    return value <= MAX_LOGGED_OPERATIONS ? value : 0;
}

// The fleet's event stream, as the HTTP layer asks for its text.
class FleetEvents final : public http::EventSource {
public:
    explicit FleetEvents(const Fleet& fleet) : m_stream(fleet) {}
    std::string Next() override {
        const std::int64_t wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count();
        return m_stream.Next(std::chrono::steady_clock::now(), wallMs);
    }

private:
    EventStream m_stream;
};

} // namespace

const Api::Route Api::ROUTES[] = {
    {"GET", "/api/monitors", &Api::ListMonitors},
    {"GET", "/api/monitors/([^/]+)", &Api::ShowMonitor},
    {"POST", "/api/monitors/([^/]+)/source", &Api::Operate<Command::Source>},
    {"POST", "/api/monitors/([^/]+)/reset", &Api::Operate<Command::Reset>},
    {"POST", "/api/monitors/([^/]+)/diagnostic", &Api::Operate<Command::Diagnostic>},
    {"GET", "/api/groups", &Api::ListGroups},
    {"POST", "/api/groups/([^/]+)/source", &Api::OperateGroup<Command::Source>},
    {"POST", "/api/groups/([^/]+)/reset", &Api::OperateGroup<Command::Reset>},
    {"POST", "/api/groups/([^/]+)/diagnostic", &Api::OperateGroup<Command::Diagnostic>},
    {"GET", "/api/log", &Api::OperationsLog},
    {"GET", "/metrics", &Api::Metrics},
    {"GET", "/healthz", &Api::Health},
    {"GET", "/api/events", &Api::Events},
    {"GET", "/(|page\\.css|page\\.js|favicon\\.ico)", &Api::Page},
};

Api::Api(Fleet& fleet, Service& service, Operations& operations, const OperationLog& log,
         WorkerClock& clock)
    : m_fleet(fleet), m_service(service), m_operations(operations), m_log(log), m_clock(clock) {
    for (const PageFile& file : PageFiles())
        m_page.push_back(
            {std::string(file.path), std::string(file.type), Pack(std::string(file.bytes))});
}

void Api::SetTokens(const Tokens& tokens) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tokens = tokens;
}

void Api::SetGroups(const std::vector<GroupConfig>& groups) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_groups = groups;
}

void Api::SetHosts(const ListenAddress& listen, const std::vector<std::string>& allowedHosts) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listen = listen;
    m_allowedHosts = allowedHosts;
}

http::Reply Api::Answer(const http::Request& head) {
    http::Verdict host;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        host = JudgeHost(head.Header("Host"), m_listen, m_allowedHosts);
    }
    if (host.status != 0)
        return Fail(host.status, host.reason);
    return Dispatch(head);
}

http::Reply Api::Dispatch(const http::Request& request) {
    static const std::vector<std::regex> patterns = [] {
        std::vector<std::regex> compiled;
        for (const Route& route : ROUTES)
            compiled.emplace_back(route.pattern);
        return compiled;
    }();
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    std::string allowed;
    for (size_t i = 0; i < std::size(ROUTES); ++i) {
        std::smatch match;
        if (!std::regex_match(request.path, match, patterns[i]))
            continue;
        if (method == ROUTES[i].method)
            return (this->*ROUTES[i].handler)(request, match.size() > 1 ? match.str(1) : "");
        allowed += std::string(allowed.empty() ? "" : ", ") + ROUTES[i].method;
    }
    if (allowed.empty())
        return Fail(404, "no such path");
    http::Response refusal =
        http::ErrorAnswer(405, request.method + " is not taken here; " + allowed + " is");
    refusal.headers.emplace_back("Allow", allowed);
    return http::Reply::Now(refusal);
}

Api::Rendered Api::RenderNow(const Renderer& render) const {
    Rendered rendered;
    // Taken before the snapshot: the rendering shows at least that much.
    rendered.shown = m_fleet.ShownVersion();
    const std::vector<MonitorState> monitors = m_fleet.Snapshot(&rendered.version);
    rendered.body = Pack(render(monitors));
    rendered.current = m_clock.Now();
    return rendered;
}

http::Reply Api::Render(Cached& cache, const Renderer& render, const http::Request& request,
                        const char* type) {
    Rendered rendered;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Rendered& latest = cache.latest;
        const bool same = latest.version == m_fleet.Version();
        // A rendering that still shows the fleet as it is counts as made now; otherwise the
        // first change after a quiet spell would find it long past its lag and have it made
        // again on the server's thread, right when the polls of a sweep want the processors.
        if (same)
            latest.current = m_clock.Now();
        const auto age = m_clock.Now() - latest.current;
        const bool shows = latest.body.text && latest.shown == m_fleet.ShownVersion();
        if (same || (shows && age < 2 * COUNTERS_LAG))
            rendered = latest;
        const bool refreshing =
            cache.refresh.valid() &&
            cache.refresh.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
        if (!same && shows && age >= COUNTERS_LAG && age < 2 * COUNTERS_LAG && !refreshing) {
            try {
                cache.refresh = std::async(std::launch::async, [this, &cache, render] {
                    Rendered fresh = RenderNow(render);
                    std::lock_guard<std::mutex> lock(m_mutex);
                    if (fresh.version > cache.latest.version)
                        cache.latest = std::move(fresh);
                });
            } catch (const std::system_error&) {
                // No thread to be had: the rendering is made here once the last one is too old.
            }
        }
    }
    if (!rendered.body.text) {
        rendered = RenderNow(render);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (rendered.version >= cache.latest.version)
            cache.latest = rendered;
    }
    return http::Reply::Now(PackedAnswer(request, rendered.body, type));
}

http::Reply Api::ListMonitors(const http::Request& request, const std::string&) {
    return Render(
        m_monitors,
        [](const std::vector<MonitorState>& all) {
            nlohmann::json monitors = nlohmann::json::array();
            for (const MonitorState& monitor : all)
                monitors.push_back(MonitorJson(monitor));
            return nlohmann::json{{"monitors", monitors}}.dump(
                -1, ' ', false, nlohmann::json::error_handler_t::replace);
        },
        request, JSON_TYPE);
}

http::Reply Api::ShowMonitor(const http::Request&, const std::string& name) {
    const std::optional<Fleet::Found> monitor = m_fleet.Find(name);
    if (!monitor)
        return Fail(404, "no monitor is named \"" + name + "\"");
    return http::Reply::Now(Json(200, MonitorJson(monitor->state)));
}

std::optional<http::Reply> Api::JudgeOperation(const http::Request& head, Requester& requester) {
    const http::Verdict origin = JudgeOrigin(head.Header("Origin"), head.Header("Host"));
    if (origin.status != 0)
        return Fail(origin.status, origin.reason);
    Tokens tokens;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        tokens = m_tokens;
    }
    requester = {"api", head.client, ""};
    const http::Verdict verdict = JudgePost(tokens, head.client, head.Header("Authorization"),
                                            head.Header("Content-Type"), &requester.label);
    if (verdict.status != 0) {
        http::Response refusal = http::ErrorAnswer(verdict.status, verdict.reason);
        if (verdict.status == 401)
            refusal.headers.emplace_back("WWW-Authenticate", "Bearer");
        return http::Reply::Now(refusal);
    }
    return std::nullopt;
}

template <Command command>
http::Reply Api::Operate(const http::Request& head, const std::string& name) {
    Requester requester;
    if (std::optional<http::Reply> refusal = JudgeOperation(head, requester))
        return *refusal;
    if (!m_fleet.Find(name))
        return Fail(404, "no monitor is named \"" + name + "\"");
    return http::Reply::AfterBody([this, name, requester](const http::Request& request) {
        Request operation;
        operation.command = command;
        std::string error;
        if (!ReadBody(command, request.body, operation, error))
            return Fail(400, error);
        // Accepted, the operation runs to its end even when its client leaves; the answer then
        // finds no one.
        return http::Reply::Later([this, name, requester, operation](http::Completion done) {
            const Started started = m_operations.Start(
                name, operation, requester,
                [done](const OperationRecord& record) { done(OperationAnswer(record)); });
            if (started == Started::Busy) {
                http::Response busy = http::ErrorAnswer(
                    429, "too many operations wait on this monitor's line: at most " +
                             std::to_string(MAX_WAITING_OPERATIONS));
                busy.headers.emplace_back("Retry-After", std::to_string(BUSY_RETRY_AFTER_S));
                done(busy);
            } else if (started == Started::NoSuchMonitor) {
                // A reload took it away while the body came.
                done(http::ErrorAnswer(404, "no monitor is named \"" + name + "\""));
            } else if (started != Started::Queued) {
                done(http::ErrorAnswer(503, CutReason(CutOf(started), "the operation")));
            }
        });
    });
}

http::Reply Api::ListGroups(const http::Request&, const std::string&) {
    nlohmann::json groups = nlohmann::json::array();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const GroupConfig& group : m_groups)
            groups.push_back({{"name", group.name}, {"monitors", group.monitors}});
    }
    return http::Reply::Now(Json(200, {{"groups", groups}}));
}

template <Command command>
http::Reply Api::OperateGroup(const http::Request& head, const std::string& name) {
    Requester requester;
    if (std::optional<http::Reply> refusal = JudgeOperation(head, requester))
        return *refusal;
    std::vector<std::string> members;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto group = std::find_if(m_groups.begin(), m_groups.end(),
                                        [&](const GroupConfig& g) { return g.name == name; });
        if (group == m_groups.end())
            return Fail(404, "no group is named \"" + name + "\"");
        members = group->monitors;
    }
    return http::Reply::AfterBody([this, members, requester](const http::Request& request) {
        Request operation;
        operation.command = command;
        std::string error;
        if (!ReadBody(command, request.body, operation, error))
            return Fail(400, error);
        // Like a single operation, it runs to its end even when its client leaves.
        return http::Reply::Later([this, members, requester, operation](http::Completion done) {
            RunOnGroup(m_operations, m_fleet, members, operation, requester,
                       [done](const std::vector<OperationRecord>& records) {
                           done(GroupAnswer(records));
                       });
        });
    });
}

http::Reply Api::OperationsLog(const http::Request& request, const std::string&) {
    const std::size_t limit = LogLimit(request.Argument("limit"));
    if (limit == 0)
        return Fail(400,
                    "limit is a whole number from 1 to " + std::to_string(MAX_LOGGED_OPERATIONS));
    nlohmann::json operations = nlohmann::json::array();
    for (const OperationRecord& record : m_log.Newest(limit))
        operations.push_back(OperationJson(record));
    return http::Reply::Now(Json(200, {{"operations", operations}}));
}

http::Reply Api::Metrics(const http::Request& request, const std::string&) {
    return Render(
        m_metrics,
        [this](const std::vector<MonitorState>& all) {
            return RenderMetrics(all, m_fleet.Lines(), KELVANE_VERSION_TEXT, m_fleet.Broker());
        },
        request, METRICS_CONTENT_TYPE);
}

http::Reply Api::Health(const http::Request&, const std::string&) {
    if (!m_service.Healthy())
        return Fail(503, "a line's worker has stopped");
    http::Response ok;
    ok.type = "text/plain";
    ok.body = std::make_shared<const std::string>("ok");
    return http::Reply::Now(ok);
}

http::Reply Api::Page(const http::Request& request, const std::string&) {
    for (const PageAnswer& file : m_page) {
        if (file.path != request.path)
            continue;
        // A Range is not read: the file goes whole.
        http::Response response = PackedAnswer(request, file.body, file.type.c_str());
        response.headers.emplace_back("Content-Security-Policy", PAGE_POLICY);
        response.headers.emplace_back("X-Content-Type-Options", "nosniff");
        // Asked again each time: a kelvaned upgraded serves its own page at once.
        response.headers.emplace_back("Cache-Control", "no-cache");
        return http::Reply::Now(response);
    }
    return Fail(404, "no such path");
}

http::Reply Api::Events(const http::Request&, const std::string&) {
    http::Response head;
    head.type = EVENT_STREAM_TYPE;
    head.headers.emplace_back("Cache-Control", "no-cache");
    return http::Reply::Stream(head, std::make_shared<FleetEvents>(m_fleet));
}

} // namespace service
