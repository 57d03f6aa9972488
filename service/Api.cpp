// Each route is one row of ROUTES; a handler reads the request, asks the fleet or a worker, and
// writes the answer. Errors are {"error": "..."} with a fitting status.
#include "service/Api.h"
#include <chrono>
#include <future>
#include <ctime>
#include <regex>
#include "commands/Report.h"
#include "res/Version.h"
#include "service/Events.h"
#include "service/Metrics.h"
#include "service/Page.h"
#include "service/Security.h"
#include "service/View.h"

namespace service {

namespace {

constexpr const char* JSON_TYPE = "application/json";

void Answer(httplib::Response& response, int status, const nlohmann::json& body) {
    response.status = status;
    response.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                         JSON_TYPE);
}

void Fail(httplib::Response& response, int status, const std::string& reason) {
    Answer(response, status, {{"error", reason}});
}

// "HDMI1, HDMI2, HDMI3 or VGA".
std::string SourceNames() {
    std::string names;
    for (int i = 0; i < protocol::SOURCE_COUNT; ++i)
        names += std::string(i == 0                            ? ""
                             : i + 1 == protocol::SOURCE_COUNT ? " or "
                                                               : ", ") +
                 protocol::SOURCES[i].name;
    return names;
}

// Reads an operation's body into the request; false with the reason for a 400.
bool ReadBody(Command command, const std::string& body, Request& request, std::string& error) {
    const bool blank = body.find_first_not_of(" \t\r\n") == std::string::npos;
    if (command != Command::Source && blank)
        return true;
    const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        error = "the body is not a JSON object";
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
        error = "the body wants {\"source\": NAME}, NAME one of " + SourceNames();
        return false;
    }
    request.source = protocol::SourceByName(source->get<std::string>());
    if (request.source < 0) {
        error = "unknown source \"" + source->get<std::string>() + "\": the sources are " +
                SourceNames();
        return false;
    }
    return true;
}

// The text of an error the library answers by itself (a body too large, a request it cannot
// read), and of the routing's own.
std::string StatusText(int status) {
    switch (status) {
    case 400:
        return "the request cannot be read";
    case 404:
        return "no such path";
    case 413:
        return "the body is over " + std::to_string(MAX_BODY_BYTES) + " bytes";
    case 414:
        return "the path is too long";
    default:
        return "HTTP status " + std::to_string(status);
    }
}

} // namespace

const Api::Route Api::ROUTES[] = {
    {"GET", "/api/monitors", &Api::ListMonitors},
    {"GET", "/api/monitors/([^/]+)", &Api::ShowMonitor},
    {"POST", "/api/monitors/([^/]+)/source", &Api::Operate<Command::Source>},
    {"POST", "/api/monitors/([^/]+)/reset", &Api::Operate<Command::Reset>},
    {"POST", "/api/monitors/([^/]+)/diagnostic", &Api::Operate<Command::Diagnostic>},
    {"GET", "/metrics", &Api::Metrics},
    {"GET", "/healthz", &Api::Health},
    {"GET", "/api/events", &Api::Events},
    {"GET", "/(|page\\.css|page\\.js|favicon\\.ico)", &Api::Page},
};

Api::Api(Fleet& fleet, Service& service, Operations& operations)
    : m_fleet(fleet), m_service(service), m_operations(operations) {
    for (const PageFile& file : PageFiles())
        m_page.push_back(
            {std::string(file.path), std::string(file.type), Pack(std::string(file.bytes))});
}

void Api::Install(httplib::Server& server) {
    const auto dispatch = [this](const httplib::Request& request, httplib::Response& response) {
        Dispatch(request, response);
    };
    // Every method reaches the one table, so that a known path with another method is a 405.
    server.Get(".*", dispatch);
    server.Post(".*", dispatch);
    server.Put(".*", dispatch);
    server.Patch(".*", dispatch);
    server.Delete(".*", dispatch);
    server.Options(".*", dispatch);
    // A request without Content-Length and not chunked has no body; the library would read one
    // until the client closes the connection (curl -X POST sends such a request). It is answered
    // before the library gets to reading.
    server.set_pre_routing_handler(
        [dispatch](const httplib::Request& request, httplib::Response& response) {
            if (request.method == "GET" || request.method == "HEAD" ||
                request.has_header("Content-Length") || request.has_header("Transfer-Encoding"))
                return httplib::Server::HandlerResponse::Unhandled;
            dispatch(request, response);
            return httplib::Server::HandlerResponse::Handled;
        });
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty())
            Fail(response, response.status, StatusText(response.status));
    });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            Fail(response, 500, "kelvaned could not answer this request");
        });
}

void Api::SetToken(const std::string& token) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_token = token;
}

std::string Api::Token() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_token;
}

void Api::Dispatch(const httplib::Request& request, httplib::Response& response) {
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
            return (this->*ROUTES[i].handler)(request, response,
                                              match.size() > 1 ? match.str(1) : "");
        allowed += std::string(allowed.empty() ? "" : ", ") + ROUTES[i].method;
    }
    if (allowed.empty())
        return Fail(response, 404, StatusText(404));
    response.set_header("Allow", allowed);
    Fail(response, 405, request.method + " is not taken here; " + allowed + " is");
}

void Api::Render(Rendered& cache,
                 const std::function<std::string(const std::vector<MonitorState>&)>& render,
                 const httplib::Request& request, httplib::Response& response, const char* type) {
    Rendered rendered;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (cache.version == m_fleet.Version())
            rendered = cache;
    }
    if (!rendered.body.text) {
        std::uint64_t version = 0;
        const std::vector<MonitorState> monitors = m_fleet.Snapshot(&version);
        rendered = {version, Pack(render(monitors))};
        std::lock_guard<std::mutex> lock(m_mutex);
        cache = rendered;
    }
    SendPacked(request, response, rendered.body, type);
}

void Api::ListMonitors(const httplib::Request& request, httplib::Response& response,
                       const std::string&) {
    Render(
        m_monitors,
        [](const std::vector<MonitorState>& all) {
            nlohmann::json monitors = nlohmann::json::array();
            for (const MonitorState& monitor : all)
                monitors.push_back(MonitorJson(monitor));
            return nlohmann::json{{"monitors", monitors}}.dump(
                -1, ' ', false, nlohmann::json::error_handler_t::replace);
        },
        request, response, JSON_TYPE);
}

void Api::ShowMonitor(const httplib::Request&, httplib::Response& response,
                      const std::string& name) {
    const std::optional<Fleet::Found> monitor = m_fleet.Find(name);
    if (!monitor)
        return Fail(response, 404, "no monitor is named \"" + name + "\"");
    Answer(response, 200, MonitorJson(monitor->state));
}

template <Command command>
void Api::Operate(const httplib::Request& request, httplib::Response& response,
                  const std::string& name) {
    const PostVerdict verdict =
        JudgePost(Token(), request.remote_addr, request.get_header_value("Authorization"),
                  request.get_header_value("Content-Type"));
    if (verdict.status != 0) {
        if (verdict.status == 401)
            response.set_header("WWW-Authenticate", "Bearer");
        return Fail(response, verdict.status, verdict.reason);
    }
    Request operation;
    operation.command = command;
    std::string error;
    if (!m_fleet.Find(name))
        return Fail(response, 404, "no monitor is named \"" + name + "\"");
    if (!ReadBody(command, request.body, operation, error))
        return Fail(response, 400, error);

    std::promise<OperationRecord> done;
    std::future<OperationRecord> future = done.get_future();
    const Started started =
        m_operations.Start(name, operation, {"api", request.remote_addr, ""},
                           [&done](const OperationRecord& record) { done.set_value(record); });
    if (started == Started::NoSuchMonitor)
        return Fail(response, 404, "no monitor is named \"" + name + "\"");
    if (started == Started::Busy) {
        response.set_header("Retry-After", "5");
        return Fail(response, 429, "too many operations wait for this monitor's line");
    }
    const OperationRecord record = started == Started::Queued ? future.get() : OperationRecord{};
    if (started == Started::Stopping || record.cut)
        return Fail(response, 503, "kelvaned is stopping: the operation did not run to its end");
    response.status = record.outcome.ok() ? 200 : 502;
    response.set_content(JsonReport(record.target, command, record.outcome), JSON_TYPE);
}

void Api::Metrics(const httplib::Request& request, httplib::Response& response,
                  const std::string&) {
    Render(
        m_metrics,
        [this](const std::vector<MonitorState>& all) {
            return RenderMetrics(all, KELVANE_VERSION_TEXT, m_fleet.Broker());
        },
        request, response, METRICS_CONTENT_TYPE);
}

void Api::Health(const httplib::Request&, httplib::Response& response, const std::string&) {
    if (m_service.Healthy())
        response.set_content("ok", "text/plain");
    else
        Fail(response, 503, "a line's worker has stopped");
}

void Api::Page(const httplib::Request& request, httplib::Response& response, const std::string&) {
    for (const PageAnswer& file : m_page) {
        if (file.path != request.path)
            continue;
        response.set_header("Content-Security-Policy", PAGE_POLICY);
        response.set_header("X-Content-Type-Options", "nosniff");
        // Asked again each time: a kelvaned upgraded serves its own page at once.
        response.set_header("Cache-Control", "no-cache");
        return SendPacked(request, response, file.body, file.type.c_str());
    }
    Fail(response, 404, StatusText(404));
}

void Api::Events(const httplib::Request&, httplib::Response& response, const std::string&) {
    // Each stream holds a connection's thread for as long as its page is open.
    if (++m_streams > MAX_EVENT_STREAMS) {
        --m_streams;
        return Fail(response, 503,
                    "too many event streams: at most " + std::to_string(MAX_EVENT_STREAMS));
    }
    // Given back when the response, and so the provider that holds it, is gone.
    const std::shared_ptr<void> slot(nullptr, [this](void*) { --m_streams; });
    const auto stream = std::make_shared<EventStream>(m_fleet);
    response.set_header("Cache-Control", "no-cache");
    response.set_chunked_content_provider(
        EVENT_STREAM_TYPE, [stream, slot](size_t, httplib::DataSink& sink) {
            while (!ResponseShouldEnd()) {
                const std::int64_t wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::system_clock::now().time_since_epoch())
                                                .count();
                const std::string text = stream->Next(std::chrono::steady_clock::now(), wallMs);
                if (!text.empty())
                    return sink.write(text.data(), text.size());
                stream->Wait(EVENT_WAIT);
            }
            sink.done();
            return true;
        });
}

} // namespace service
