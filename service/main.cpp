// kelvaned: the fleet of monitors as a service. It reads its configuration, starts one worker per
// line, serves the HTTP API and the metrics, and then waits for signals on the main thread alone:
// SIGHUP reloads the configuration, SIGTERM and SIGINT stop it.
#include <malloc.h>
#include <signal.h>
#include <CLI/CLI.hpp>
#include <cstdio>
#include <thread>
#include "res/Version.h"
#include "service/Api.h"
#include "service/Config.h"
#include "service/Fleet.h"
#include "service/HttpServer.h"
#include "service/Log.h"
#include "service/Operations.h"
#include "service/Security.h"
#include "service/Service.h"
#include "service/mqtt/MqttService.h"

namespace {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_CANNOT_LISTEN = 1;
constexpr int EXIT_BAD_CONFIG = 2;

const char* const DESCRIPTION =
    R"(kelvaned polls the monitors of its configuration file on their serial lines and device
servers, keeps their state, takes operations over an HTTP JSON API and publishes metrics for
Prometheus. It runs in the foreground and logs to stderr; SIGHUP reloads the file.)";

std::string Summary(const service::Config& config) {
    size_t lines = 0;
    for (size_t i = 0; i < config.monitors.size(); ++i) {
        bool first = true;
        for (size_t k = 0; k < i && first; ++k)
            first = !line::SameLine(config.monitors[k].target, config.monitors[i].target);
        lines += first ? 1 : 0;
    }
    return std::to_string(config.monitors.size()) + " monitors on " + std::to_string(lines) +
           " lines, polled every " + std::to_string(config.pollIntervalS) + " s, " +
           (config.timing == Timing::AnswerDriven ? "fast" : "paced");
}

// Reads and checks the file with everything the start checks; false with the error.
bool Load(const std::string& file, service::Config& config, std::string& token,
          std::string& error) {
    return service::ReadConfig(file, config, error) && service::CheckAccess(config, token, error) &&
           (!config.mqtt || service::mqtt::LoadMqttPassword(file, *config.mqtt, error));
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
    if (!Load(file, config, token, error)) {
        std::fprintf(stderr, "kelvaned: %s\n", error.c_str());
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
    // The connections' threads each would get a heap of their own; two are plenty here.
    mallopt(M_ARENA_MAX, 2);

    service::Fleet fleet;
    service::Service workers(fleet);
    service::HttpServer http;
    service::Operations operations(fleet);
    service::Api api(fleet, workers, operations);
    api.SetToken(token);
    api.Install(http.Routes());
    if (!http.Bind(config.listen.host, config.listen.port, error)) {
        service::Log(error);
        return EXIT_CANNOT_LISTEN;
    }
    workers.Apply(config);
    service::mqtt::MqttService mqtt(fleet, operations);
    mqtt.Apply(config.mqtt);
    service::Log(std::string("kelvaned ") + KELVANE_VERSION_TEXT + ": " + Summary(config));
    std::thread serving([&http] { http.Run(); });
    service::Log("listening on " + service::ListenAddress{config.listen.host, http.Port()}.Text());

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
        if (!Load(file, next, token, error)) {
            service::Log("reload refused, the configuration in force goes on: " + error);
            continue;
        }
        if (next.listen.Text() != config.listen.Text())
            service::Log("the listening address changes only with a restart; still " +
                         config.listen.Text());
        next.listen = config.listen;
        config = next;
        api.SetToken(token);
        workers.Apply(config);
        mqtt.Apply(config.mqtt);
        service::Log("reloaded: " + Summary(config));
    }
    // The workers first: an operation cut short answers its request (503) before the server
    // waits for its connections to end.
    workers.Stop();
    // After the workers: the operations they cut have their results published.
    mqtt.Stop();
    http.Stop();
    serving.join();
    service::Log("stopped; every line is let go");
    return EXIT_DONE;
}
