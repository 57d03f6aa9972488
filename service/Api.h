// The HTTP API: thin handlers over the fleet's state and its workers. The protocol's questions
// are the core's and the commands', the state the fleet's; here requests become calls and
// values become JSON.
//   Api           the names it answers to, the routes (a table), the checks of a POST, the
//                 answers, the page and its event stream
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>
#include "service/Config.h"
#include "service/Fleet.h"
#include "service/Gzip.h"
#include "service/Operations.h"
#include "service/Service.h"
#include "service/http/Server.h"

namespace service {

// How long a client told that a line has too many operations waiting should wait before it asks
// again: about the time of a few operations.
inline constexpr int BUSY_RETRY_AFTER_S = 5;

class Api final : public http::Handler {
public:
    Api(Fleet& fleet, Service& service, Operations& operations);
    // The bearer token every POST needs; empty: none, and POSTs only from this machine.
    void SetToken(const std::string& token);
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
    template <Command command>
    http::Reply Operate(const http::Request& request, const std::string& name);
    http::Reply Metrics(const http::Request& request, const std::string&);
    http::Reply Health(const http::Request&, const std::string&);
    http::Reply Page(const http::Request& request, const std::string&);
    http::Reply Events(const http::Request&, const std::string&);

    // A whole-fleet answer, rendered once per version of the fleet: the monitors change a few
    // times a second at most, and a scrape or a dashboard may ask far more often. Version 0 is
    // none: the fleet is configured, and so past it, before the server starts.
    struct Rendered {
        std::uint64_t version = 0;
        Packed body;
    };
    // Answers with the rendering of the fleet's version, made now unless the cache has it.
    http::Reply Render(Rendered& cache,
                       const std::function<std::string(const std::vector<MonitorState>&)>& render,
                       const http::Request& request, const char* type);

    Fleet& m_fleet;
    Service& m_service;
    Operations& m_operations;
    mutable std::mutex m_mutex;
    std::string m_token;
    ListenAddress m_listen;
    std::vector<std::string> m_allowedHosts;
    Rendered m_metrics;
    Rendered m_monitors;
    // The page's files, packed once: they are the same for every request.
    struct PageAnswer {
        std::string path;
        std::string type;
        Packed body;
    };
    std::vector<PageAnswer> m_page;
};

} // namespace service
