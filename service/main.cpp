// kelvaned: the fleet of monitors as a service. It reads its configuration, starts one worker per
// line, serves the HTTP API and the metrics, and then waits for signals on the main thread alone:
// SIGHUP reloads the configuration, SIGTERM and SIGINT stop it.
#include <malloc.h>
#include <signal.h>
#include <CLI/CLI.hpp>
#include <cstdio>
#include "res/Version.h"
#include "service/Api.h"
#include "service/Config.h"
#include "service/Fleet.h"
#include "service/Log.h"
#include "service/Operations.h"
#include "service/Security.h"
#include "service/Service.h"
#include "service/http/FileLimit.h"
#include "service/http/Listener.h"
#include "service/http/Server.h"

namespace {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_CANNOT_LISTEN = 1;
constexpr int EXIT_BAD_CONFIG = 2;

const char* const DESCRIPTION =
    R"(kelvaned polls the monitors of its configuration file on their serial lines and device
servers, keeps their state, takes operations over an HTTP JSON API and publishes metrics for
Prometheus. It runs in the foreground and logs to stderr; SIGHUP reloads the file.)";

std::string Summary(const service::Config& config) {
    return std::to_string(config.monitors.size()) + " monitors on " +
           std::to_string(config.lines.size()) + " lines, polled every " +
           std::to_string(config.pollIntervalS) + " s, " +
           (config.timing == Timing::AnswerDriven ? "fast" : "paced");
}

} // namespace

int main(int argc, char** argv) {
    std::string file = service::DEFAULT_CONFIG_FILE;
    bool check = false;
    CLI::App app(DESCRIPTION, "kelvaned");
    app.add_option("--config", file, "the configuration file")->capture_default_str();
    app.add_flag("--check", check, "check the file (and the token file) and exit: 0 good, 2 not");
    app.set_version_flag("--version", KELVANE_VERSION_TEXT, "the version");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? EXIT_DONE : EXIT_BAD_CONFIG;
    }

    service::Config config;
    std::string token;
    std::string error;
    if (!service::ReadConfig(file, config, error) || !service::CheckAccess(config, token, error)) {
        service::Log(error);
        return EXIT_BAD_CONFIG;
    }
    if (check) {
        std::printf("%s: good: %s\n", file.c_str(), Summary(config).c_str());
        return EXIT_DONE;
    }

    // Signals come to the main thread alone, through sigwait: the other threads, started after
    // this, inherit the mask.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // The lines' threads each would get a heap of their own; two are plenty here.
    mallopt(M_ARENA_MAX, 2);

    if (!service::http::RaiseOpenFileLimit(error)) {
        service::Log(error);
        return EXIT_CANNOT_LISTEN;
    }
    int port = config.listen.port;
    const int listening = service::http::Listen(config.listen.host, port, error);
    if (listening < 0) {
        service::Log(error);
        return EXIT_CANNOT_LISTEN;
    }
    service::Fleet fleet;
    service::Service workers(fleet);
    service::Operations operations(fleet);
    service::Api api(fleet, workers, operations);
    api.SetToken(token);
    api.SetHosts(config.listen, config.allowedHosts);
    service::http::Server http(api);
    // Every change may be news for the event streams.
    fleet.AddChangeListener([&http] { http.WakeStreams(); });
    if (!http.Start(listening, error)) {
        service::Log(error);
        return EXIT_CANNOT_LISTEN;
    }
    workers.Apply(config);
    service::Log(std::string("kelvaned ") + KELVANE_VERSION_TEXT + ": " + Summary(config));
    // What a reload is judged by: the address in use, which a reload does not change.
    const service::ListenAddress inUse{config.listen.host, port};
    service::Log("listening on " + inUse.Text());

    while (true) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0)
            continue;
        if (signal != SIGHUP) {
            service::Log(std::string("stopping (") + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
                         ")");
            break;
        }
        service::Config next;
        std::string nextToken;
        if (!service::ReadConfig(file, next, error) ||
            !service::CheckReload(next, inUse, nextToken, error)) {
            service::Log("reload refused, the configuration in force goes on: " + error);
            continue;
        }
        if (next.listen.Text() != config.listen.Text())
            service::Log("the listening address changes only with a restart; still " +
                         config.listen.Text());
        next.listen = config.listen;
        config = next;
        api.SetToken(nextToken);
        api.SetHosts(config.listen, config.allowedHosts);
        workers.Apply(config);
        service::Log("reloaded: " + Summary(config));
    }
    // The workers first: an operation cut short answers its request (503) before the server
    // closes its connections.
    workers.Stop();
    http.Stop();
    service::Log("stopped; every line is let go");
    return EXIT_DONE;
}
