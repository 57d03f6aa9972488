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
#include "service/http/Tls.h"
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
    return std::to_string(config.monitors.size()) + " monitors on " +
           std::to_string(config.lines.size()) + " lines, polled every " +
           std::to_string(config.pollIntervalS) + " s, " +
           (config.timing == Timing::AnswerDriven ? "fast" : "paced") +
           (config.groups.empty() ? "" : ", " + std::to_string(config.groups.size()) + " groups");
}

// The broker's password, when [mqtt] names a file for it; false with the error.
bool LoadPassword(const std::string& file, service::Config& config, std::string& error) {
    return !config.mqtt || service::mqtt::LoadMqttPassword(file, *config.mqtt, error);
}

// Reads the file, the token file, HTTPS's files and the broker's password; logs every error of
// the file, one a line.
bool Load(const std::string& file, service::Config& config, service::Tokens& tokens,
          service::TlsIdentity& tls, std::string& error) {
    std::vector<std::string> errors;
    if (!service::ReadConfig(file, config, errors)) {
        for (std::size_t i = 0; i + 1 < errors.size(); ++i)
            service::Log(errors[i]);
        error = errors.back();
        return false;
    }
    return service::CheckAccess(config, tokens, error) && service::LoadTls(config, tls, error) &&
           LoadPassword(file, config, error);
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
    service::Tokens tokens;
    service::TlsIdentity tls;
    std::string error;
    if (!Load(file, config, tokens, tls, error)) {
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
    service::OperationLog operationLog;
    operations.AddListener(
        [&operationLog](const service::OperationRecord& record) { operationLog.Add(record); });
    service::Api api(fleet, workers, operations, operationLog);
    api.SetTokens(tokens);
    api.SetGroups(config.groups);
    api.SetHosts(config.listen, config.allowedHosts);
    service::http::Server http(api);
    // Every change may be news for the event streams.
    fleet.AddChangeListener([&http] { http.WakeStreams(); });
    const bool https = config.tlsCertFile.has_value();
    if (https)
        service::http::ServeIdentity(tls.certificate, tls.key);
    if (!http.Start(listening, error, https)) {
        service::Log(error);
        return EXIT_CANNOT_LISTEN;
    }
    workers.Apply(config);
    service::mqtt::MqttService mqtt(fleet, operations);
    mqtt.Apply(config.mqtt);
    service::Log(std::string("kelvaned ") + KELVANE_VERSION_TEXT + ": " + Summary(config));
    // What a reload is judged by: the address in use, which a reload does not change.
    const service::ListenAddress inUse{config.listen.host, port};
    service::Log(std::string("listening on ") + (https ? "https://" : "") + inUse.Text());

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
        service::Tokens nextTokens;
        service::TlsIdentity nextTls;
        if (!service::ReadConfig(file, next, error) ||
            !service::CheckReload(next, inUse, nextTokens, error) ||
            !service::LoadTls(next, nextTls, error) || !LoadPassword(file, next, error)) {
            service::Log("reload refused, the configuration in force goes on: " + error);
            continue;
        }
        // The listener's socket stays: a renewed certificate goes to the connections to come.
        if (next.tlsCertFile.has_value() != https)
            service::Log(std::string("HTTPS comes and goes only with a restart; still ") +
                         (https ? "on" : "off"));
        else if (https)
            service::http::ServeIdentity(nextTls.certificate, nextTls.key);
        if (next.listen.Text() != config.listen.Text())
            service::Log("the listening address changes only with a restart; still " +
                         config.listen.Text());
        next.listen = config.listen;
        config = next;
        api.SetTokens(nextTokens);
        api.SetGroups(config.groups);
        api.SetHosts(config.listen, config.allowedHosts);
        workers.Apply(config);
        mqtt.Apply(config.mqtt);
        service::Log("reloaded: " + Summary(config));
    }
    // The workers first: an operation cut short answers its request (503) before the server
    // closes its connections.
    workers.Stop();
    // After the workers: the operations they cut have their results published.
    mqtt.Stop();
    http.Stop();
    service::Log("stopped; every line is let go");
    return EXIT_DONE;
}
