// Each command is one request to kelvaned's API (status reads the monitor's state kelvaned keeps,
// the operations are POSTs that kelvaned runs on the line it holds), and each answer is read back
// into an outcome with commands/ReportReading.cpp.
#include "cli/Remote.h"
#include <cstdio>
#include <nlohmann/json.hpp>
#include "commands/Report.h"

namespace {

using Json = nlohmann::json;

// A name as one segment of a path: every byte but letters, digits, "-", "_", "." and "~" as %XX.
std::string PathSegment(const std::string& name) {
    std::string segment;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '_' || c == '.' || c == '~') {
            segment += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            segment += escaped;
        }
    }
    return segment;
}

Outcome Failed(protocol::Failure failure, const std::string& message) {
    Outcome outcome;
    outcome.error = failure;
    outcome.message = message;
    return outcome;
}

// One target's requests to kelvaned.
class Client {
public:
    Client(const Request& request, const Server& server, const line::Cancel& cancel, HttpSend send)
        : m_request(request), m_server(server), m_cancel(cancel), m_send(send) {}

    std::vector<Reported> Monitor(const std::string& name);
    std::vector<Reported> Group(const std::string& name);

private:
    bool Call(const std::string& method, const std::string& path, std::uint32_t limitMs,
              const std::string& unknown, Json& body, Outcome& failed);
    Outcome Refused(const HttpAnswer& answer, const std::string& unknown) const;
    std::string Operation() const { return std::string("/") + CommandName(m_request.command); }
    std::string OperationBody() const {
        if (m_request.command != Command::Source)
            return "{}";
        return Json{{"source", protocol::SourceName(m_request.source)}}.dump();
    }
    std::string Unexpected(const std::string& what) const {
        return "unexpected answer from kelvaned at " + m_server.url + ": " + what;
    }

    const Request& m_request;
    const Server& m_server;
    const line::Cancel& m_cancel;
    HttpSend m_send;
};

// Sends one request. True with the JSON of an answer that carries what was asked (a 200, an
// operation's 502, whose body is its failed outcome, or a group's 503, which still holds the
// results of its members); false with what a failure of the request, or a refusal, comes to.
// unknown names what a 404 says kelvaned does not know.
bool Client::Call(const std::string& method, const std::string& path, std::uint32_t limitMs,
                  const std::string& unknown, Json& body, Outcome& failed) {
    const bool post = method == "POST";
    const HttpRequest request{method,         m_server.url + path, post ? OperationBody() : "",
                              m_server.token, m_server.caFile,     limitMs};
    HttpAnswer answer;
    std::string error;
    const std::string mayRun = post ? "; the operation may still run there" : "";
    switch (m_send(request, answer, error, &m_cancel)) {
    case HttpFailure::None:
        break;
    case HttpFailure::Cancelled:
        failed =
            Failed(protocol::Failure::Interrupted, "interrupted before kelvaned answered" + mayRun);
        return false;
    case HttpFailure::TimedOut:
        failed = Failed(protocol::Failure::NoAnswer,
                        "kelvaned at " + m_server.url + " did not answer within " +
                            std::to_string(limitMs / 1000) + " s" + mayRun);
        return false;
    case HttpFailure::Connect:
        failed = Failed(protocol::Failure::Open,
                        "cannot reach kelvaned at " + m_server.url + ": " + error);
        return false;
    default:
        failed = Failed(protocol::Failure::Open, Unexpected(error));
        return false;
    }
    if (answer.status != 200 && !(post && (answer.status == 502 || answer.status == 503))) {
        failed = Refused(answer, unknown);
        return false;
    }
    body = Json::parse(answer.body, nullptr, false);
    if (answer.status == 503 && !(body.is_object() && body.contains("results"))) {
        failed = Refused(answer, unknown);
        return false;
    }
    if (body.is_discarded()) {
        failed = Failed(protocol::Failure::Open, Unexpected("its body is not JSON"));
        return false;
    }
    return true;
}

// An answer that carries no outcome: kelvaned's reason, and the failure it stands for. A target
// kelvaned does not know, and a token it does not take, are failures to reach the monitor at all,
// as a line that cannot be opened is.
Outcome Client::Refused(const HttpAnswer& answer, const std::string& unknown) const {
    const Json body = Json::parse(answer.body, nullptr, false);
    const auto said = body.is_object() ? body.find("error") : body.end();
    const std::string status = "HTTP status " + std::to_string(answer.status);
    const std::string reason =
        said != body.end() && said->is_string() ? said->get<std::string>() : status;
    switch (answer.status) {
    case 401:
    case 403:
        return Failed(protocol::Failure::Open,
                      "kelvaned at " + m_server.url + " refused the operation: " + reason +
                          (m_server.token.empty() ? " (give its token with --token-file)" : ""));
    case 404:
        return Failed(protocol::Failure::Open,
                      "kelvaned at " + m_server.url + " knows no " + unknown);
    case 429:
        return Failed(protocol::Failure::Busy, reason);
    case 503:
        return Failed(protocol::Failure::Interrupted, reason);
    default:
        return Failed(protocol::Failure::Open,
                      Unexpected(reason == status ? status : status + ": " + reason));
    }
}

std::vector<Reported> Client::Monitor(const std::string& name) {
    const std::string path = "/api/monitors/" + PathSegment(name);
    const bool status = m_request.command == Command::Status;
    Json body;
    Outcome outcome;
    if (!Call(status ? "GET" : "POST", status ? path : path + Operation(),
              status ? READ_LIMIT_MS : OPERATION_LIMIT_MS, "monitor named " + name, body, outcome))
        return {{name, outcome}};
    const bool read =
        status ? ReadMonitorView(body, outcome) : ReadReport(body, m_request.command, outcome);
    if (!read)
        outcome = Failed(protocol::Failure::Open, Unexpected("not a monitor's state or outcome"));
    return {{name, outcome}};
}

std::vector<Reported> Client::Group(const std::string& name) {
    const std::string target = GROUP_PREFIX + name;
    Json groups;
    Outcome failed;
    if (!Call("GET", "/api/groups", READ_LIMIT_MS, "groups (it is older than this kelvanectl)",
              groups, failed))
        return {{target, failed}};
    std::vector<std::string> members;
    bool found = false;
    if (groups.is_object() && groups.contains("groups") && groups["groups"].is_array())
        for (const Json& group : groups["groups"])
            if (group.is_object() && group.value("name", Json()) == name &&
                group.value("monitors", Json()).is_array()) {
                found = true;
                for (const Json& member : group["monitors"])
                    if (member.is_string())
                        members.push_back(member.get<std::string>());
            }
    if (!found)
        return {{target, Failed(protocol::Failure::Open,
                                "kelvaned at " + m_server.url + " knows no group named " + name)}};
    if (members.empty())
        return {{target, Failed(protocol::Failure::NoAnswer, "the group has no monitors")}};

    std::vector<Reported> reports;
    if (m_request.command == Command::Status) {
        // Every member's state in one request: kelvaned renders the whole fleet from memory.
        Json fleet;
        if (!Call("GET", "/api/monitors", READ_LIMIT_MS, "monitors", fleet, failed))
            return {{target, failed}};
        for (const std::string& member : members) {
            Outcome outcome =
                Failed(protocol::Failure::Open,
                       "kelvaned at " + m_server.url + " knows no monitor named " + member);
            if (fleet.is_object() && fleet.contains("monitors") && fleet["monitors"].is_array())
                for (const Json& monitor : fleet["monitors"])
                    if (monitor.is_object() && monitor.value("name", Json()) == member &&
                        !ReadMonitorView(monitor, outcome))
                        outcome =
                            Failed(protocol::Failure::Open, Unexpected("not a monitor's state"));
            reports.push_back({member, outcome});
        }
        return reports;
    }
    Json answer;
    const auto limit =
        static_cast<std::uint32_t>(OPERATION_LIMIT_MS + members.size() * protocol::RESET_LIMIT_MS);
    if (!Call("POST", "/api/groups/" + PathSegment(name) + Operation(), limit,
              "group named " + name, answer, failed))
        return {{target, failed}};
    const auto results = answer.is_object() ? answer.find("results") : answer.end();
    if (results == answer.end() || !results->is_array() || results->empty())
        return {{target, Failed(protocol::Failure::Open, Unexpected("no results of the group"))}};
    // The results come in the order of the group's monitors.
    for (size_t i = 0; i < results->size(); ++i) {
        const Json& result = (*results)[i];
        Outcome outcome;
        if (!ReadReport(result, m_request.command, outcome))
            outcome = Failed(protocol::Failure::Open, Unexpected("not an operation's outcome"));
        reports.push_back(
            {i < members.size() ? members[i] : result.value("target", target), outcome});
    }
    return reports;
}

} // namespace

std::vector<Reported> RunThroughServer(const Request& request, const Server& server,
                                       const std::string& target, const line::Cancel& cancel,
                                       HttpSend send) {
    if (!server.problem.empty())
        return {{target, Failed(protocol::Failure::Open, server.problem)}};
    Client client(request, server, cancel, send);
    if (!target.empty() && target[0] == GROUP_PREFIX)
        return client.Group(target.substr(1));
    return client.Monitor(target);
}
