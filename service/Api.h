// The HTTP API: thin handlers over the fleet's state and its workers. The protocol's questions
// are the core's and the commands', the state the fleet's; here requests become calls and
// values become JSON.
//   Api           the routes (a table), the checks of a POST, the answers, the page and its
//                 event stream
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include "service/Fleet.h"
#include "service/Gzip.h"
#include "service/HttpServer.h"
#include "service/Operations.h"
#include "service/Service.h"

namespace service {

class Api {
public:
    Api(Fleet& fleet, Service& service, Operations& operations);
    // Puts the routes on the server.
    void Install(httplib::Server& server);
    // The bearer token every POST needs; empty: none, and POSTs only from this machine.
    void SetToken(const std::string& token);

private:
    using Handler = void (Api::*)(const httplib::Request&, httplib::Response&,
                                  const std::string& name);
    struct Route {
        const char* method;
        const char* pattern; // the whole path; its group, if any, is the monitor's name
        Handler handler;
    };
    static const Route ROUTES[];

    void Dispatch(const httplib::Request& request, httplib::Response& response);
    void ListMonitors(const httplib::Request&, httplib::Response& response, const std::string&);
    void ShowMonitor(const httplib::Request&, httplib::Response& response, const std::string& name);
    template <Command command>
    void Operate(const httplib::Request& request, httplib::Response& response,
                 const std::string& name);
    void Metrics(const httplib::Request&, httplib::Response& response, const std::string&);
    void Health(const httplib::Request&, httplib::Response& response, const std::string&);
    void Page(const httplib::Request& request, httplib::Response& response, const std::string&);
    void Events(const httplib::Request&, httplib::Response& response, const std::string&);
    std::string Token() const;

    // A whole-fleet answer, rendered once per version of the fleet: the monitors change a few
    // times a second at most, and a scrape or a dashboard may ask far more often. Version 0 is
    // none: the fleet is configured, and so past it, before the server starts.
    struct Rendered {
        std::uint64_t version = 0;
        Packed body;
    };
    // Answers with the rendering of the fleet's version, made now unless the cache has it.
    void Render(Rendered& cache,
                const std::function<std::string(const std::vector<MonitorState>&)>& render,
                const httplib::Request& request, httplib::Response& response, const char* type);

    Fleet& m_fleet;
    Service& m_service;
    Operations& m_operations;
    mutable std::mutex m_mutex;
    std::string m_token;
    Rendered m_metrics;
    Rendered m_monitors;
    // The page's files, packed once: they are the same for every request.
    struct PageAnswer {
        std::string path;
        std::string type;
        Packed body;
    };
    std::vector<PageAnswer> m_page;
    std::atomic<int> m_streams{0}; // the event streams open
};

} // namespace service
