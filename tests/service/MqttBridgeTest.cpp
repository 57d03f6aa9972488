// The MQTT bridge's rules without a broker: what it publishes for the fleet's changes, the
// discovery messages Home Assistant reads, and what a message on a command topic starts. Its
// messages go to a recorder; its commands to a fake starter.
#include <gtest/gtest.h>
#include <functional>
#include <nlohmann/json.hpp>
#include "commands/Report.h"
#include "service/Config.h"
#include "service/View.h"
#include "service/mqtt/Bridge.h"
#include "service/mqtt/Topics.h"

using namespace service;
using namespace service::mqtt;
using nlohmann::json;

namespace {

struct Sent {
    std::string topic;
    std::string payload;
    bool retain;
};

class Recorder final : public Outbox {
public:
    void Publish(const std::string& topic, const std::string& payload, bool retain) override {
        sent.push_back({topic, payload, retain});
    }
    // The messages so far, forgotten.
    std::vector<Sent> Take() { return std::exchange(sent, {}); }
    std::vector<Sent> sent;
};

std::vector<std::string> TopicsOf(const std::vector<Sent>& sent) {
    std::vector<std::string> topics;
    for (const Sent& message : sent)
        topics.push_back(message.topic);
    return topics;
}

const Sent* Find(const std::vector<Sent>& sent, const std::string& topic) {
    for (const Sent& message : sent)
        if (message.topic == topic)
            return &message;
    return nullptr;
}

MqttSettings Settings(bool commands = true) {
    MqttSettings settings;
    settings.broker = "mqtt://127.0.0.1:1883";
    settings.address = {false, "127.0.0.1", 1883};
    settings.clientId = "kelvaned-lobby";
    settings.commands = commands;
    return settings;
}

MonitorState Monitor(const std::string& name) {
    MonitorState m;
    m.name = name;
    m.target = "tcp:127.0.0.1:4001";
    m.unit = 1;
    m.reachable = true;
    m.source = 1;
    m.signal = true;
    m.firmware = "1.02";
    m.lastOkMs = 1'700'000'000'000;
    m.polls = 3;
    return m;
}

struct Asked {
    std::string monitor;
    Request request;
    Requester requester;
};

// A bridge with a recorder, a starter that answers `answer` and remembers what it was asked,
// and lobby published once.
struct Harness {
    explicit Harness(bool commands = true)
        : bridge(
              out, Start(), [](const std::string& monitor) { return monitor == "lobby"; },
              Settings(commands)) {
        bridge.PublishAll({Monitor("lobby")});
        out.Take();
    }
    Starter Start() {
        return [this](const std::string& monitor, const Request& request,
                      const Requester& requester, Operations::Done) {
            started.push_back({monitor, request, requester});
            return answer;
        };
    }
    Recorder out;
    std::vector<Asked> started;
    service::Started answer = service::Started::Queued;
    Bridge bridge;
};

json Json(const Sent& sent) {
    return json::parse(sent.payload);
}

} // namespace

TEST(MqttBridge, AConnectPublishesKelvanedOnlineThenEachMonitorsStateAvailabilityAndDiscovery) {
    Recorder out;
    Bridge bridge(out, {}, {}, Settings());
    MonitorState away = Monitor("hall");
    away.reachable = false;
    bridge.PublishAll({Monitor("lobby"), away});
    const std::vector<Sent> sent = out.Take();
    ASSERT_EQ(sent.size(), 2u * (2 + 6) + 1);
    EXPECT_EQ(sent[0].topic, "kelvane/status");
    EXPECT_EQ(sent[0].payload, "online");
    for (const Sent& message : sent)
        EXPECT_TRUE(message.retain) << message.topic;
    EXPECT_EQ(Json(*Find(sent, "kelvane/lobby/state")), MonitorJson(Monitor("lobby")));
    EXPECT_EQ(Find(sent, "kelvane/lobby/availability")->payload, "online");
    EXPECT_EQ(Find(sent, "kelvane/hall/availability")->payload, "offline");
    EXPECT_NE(Find(sent, "homeassistant/select/kelvane_hall/source/config"), nullptr);
}

TEST(MqttBridge, AStateGoesOutOnlyWhenWhatMSaysOfTheMonitorChanged) {
    struct Case {
        const char* change;
        std::function<void(MonitorState&)> apply;
        bool state, availability, discovery;
    };
    const Case cases[] = {
        {"a poll counted", [](MonitorState& m) { ++m.polls; }, false, false, false},
        {"a failure counted",
         [](MonitorState& m) { ++m.failures[static_cast<int>(protocol::Failure::NoAnswer)]; },
         false, false, false},
        {"a later answer", [](MonitorState& m) { *m.lastOkMs += 10'000; }, false, false, false},
        {"the source", [](MonitorState& m) { m.source = 3; }, true, false, false},
        {"the signal", [](MonitorState& m) { m.signal = false; }, true, false, false},
        {"the unit", [](MonitorState& m) { m.unit = 2; }, true, false, false},
        {"the error", [](MonitorState& m) { m.error = protocol::Failure::Refused; }, true, false,
         false},
        {"the firmware", [](MonitorState& m) { m.firmware = "1.03"; }, true, false, true},
        {"unreachable",
         [](MonitorState& m) {
             m.reachable = false;
             m.error = protocol::Failure::NoAnswer;
         },
         true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        Harness h;
        MonitorState changed = Monitor("lobby");
        c.apply(changed);
        h.bridge.PublishChanges({{changed}, 2, false});
        const std::vector<Sent> sent = h.out.Take();
        EXPECT_EQ(Find(sent, "kelvane/lobby/state") != nullptr, c.state);
        EXPECT_EQ(Find(sent, "kelvane/lobby/availability") != nullptr, c.availability);
        EXPECT_EQ(Find(sent, "homeassistant/sensor/kelvane_lobby/firmware/config") != nullptr,
                  c.discovery);
        if (c.state) {
            EXPECT_EQ(Json(*Find(sent, "kelvane/lobby/state")), MonitorJson(changed));
        }
        // The same again is no change.
        h.bridge.PublishChanges({{changed}, 3, false});
        EXPECT_TRUE(h.out.Take().empty());
    }
}

TEST(MqttBridge, EachEntityCarriesTheKeysHomeAssistantNeedsForItsComponent) {
    struct Case {
        const char* component;
        const char* object;
        std::vector<const char*> keys; // beyond those every entity has
    };
    const Case cases[] = {
        {"select", "source", {"state_topic", "value_template", "command_topic", "options"}},
        {"binary_sensor", "signal", {"state_topic", "value_template"}},
        {"binary_sensor", "reachable", {"state_topic", "value_template", "device_class"}},
        {"sensor", "firmware", {"state_topic", "value_template", "entity_category"}},
        {"button", "reset", {"command_topic", "entity_category"}},
        {"button", "diagnostic", {"command_topic", "entity_category"}},
    };
    Recorder out;
    Bridge bridge(out, {}, {}, Settings());
    bridge.PublishAll({Monitor("lobby")});
    const std::vector<Sent> sent = out.Take();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.component) + " " + c.object);
        const Sent* found = Find(sent, std::string("homeassistant/") + c.component +
                                           "/kelvane_lobby/" + c.object + "/config");
        ASSERT_NE(found, nullptr);
        EXPECT_TRUE(found->retain);
        const json config = Json(*found);
        for (const char* key : c.keys)
            EXPECT_TRUE(config.contains(key)) << key;
        EXPECT_EQ(config["unique_id"], std::string("kelvane_lobby_") + c.object);
        EXPECT_TRUE(config["name"].is_string());
        EXPECT_EQ(config["availability_mode"], "all");
        const json device = config["device"];
        EXPECT_EQ(device["identifiers"], json::array({"kelvane_lobby"}));
        EXPECT_EQ(device["name"], "lobby");
        EXPECT_EQ(device["sw_version"], "1.02");
        EXPECT_EQ(device["via_device"], "kelvaned-lobby");
        EXPECT_TRUE(device["manufacturer"].is_string() && device["model"].is_string());
        EXPECT_EQ(config["origin"]["name"], "kelvaned");
        json availability = json::array({{{"topic", "kelvane/status"}}});
        if (std::string(c.object) != "reachable")
            availability.push_back({{"topic", "kelvane/lobby/availability"}});
        EXPECT_EQ(config["availability"], availability);
        if (config.contains("state_topic")) {
            EXPECT_EQ(config["state_topic"], "kelvane/lobby/state");
        }
    }
    const json select = Json(*Find(sent, "homeassistant/select/kelvane_lobby/source/config"));
    EXPECT_EQ(select["options"], json::array({"HDMI1", "HDMI2", "HDMI3", "VGA"}));
    EXPECT_EQ(select["command_topic"], "kelvane/lobby/source/set");
    EXPECT_EQ(Json(*Find(sent, "homeassistant/button/kelvane_lobby/reset/config"))["command_topic"],
              "kelvane/lobby/reset/press");
    EXPECT_EQ(
        Json(*Find(sent,
                   "homeassistant/binary_sensor/kelvane_lobby/reachable/config"))["device_class"],
        "connectivity");
}

TEST(MqttBridge, WithoutCommandsTheSourceIsASensorAndThereAreNoButtonsAndNoCommandIsTaken) {
    Harness h(false);
    h.bridge.PublishAll({Monitor("lobby")});
    const std::vector<std::string> topics = TopicsOf(h.out.Take());
    EXPECT_NE(
        std::find(topics.begin(), topics.end(), "homeassistant/sensor/kelvane_lobby/source/config"),
        topics.end());
    for (const std::string& topic : topics) {
        EXPECT_EQ(topic.find("select/"), std::string::npos) << topic;
        EXPECT_EQ(topic.find("button/"), std::string::npos) << topic;
    }
    h.bridge.Received("kelvane/lobby/source/set", "HDMI1", false);
    h.bridge.Received("kelvane/lobby/reset/press", "nonsense", false);
    EXPECT_TRUE(h.started.empty());
    EXPECT_TRUE(h.out.Take().empty());
    EXPECT_EQ(Topics(Settings(false)).Subscriptions(),
              (std::vector<std::string>{"kelvane/+/state", "homeassistant/status"}));
}

TEST(MqttBridge, NoDiscoveryPrefixPublishesNoDiscovery) {
    Recorder out;
    MqttSettings settings = Settings();
    settings.discoveryPrefix = "";
    Bridge bridge(out, {}, {}, settings);
    bridge.PublishAll({Monitor("lobby")});
    EXPECT_EQ(TopicsOf(out.Take()),
              (std::vector<std::string>{"kelvane/status", "kelvane/lobby/state",
                                        "kelvane/lobby/availability"}));
    EXPECT_EQ(bridge.Received("/status", "online", false), Bridge::Heard::Nothing);
}

TEST(MqttBridge, ACommandStartsItsOperationAndAnUnknownPayloadIsAnsweredWithoutOne) {
    struct Case {
        const char* topic;
        const char* payload;
        bool retain;
        int source;               // started with this source (-1: none), or
        const char* started;      // the command started; null: nothing started
        const char* error;        // the error of the R on result; null: no R
        const char* message = ""; // words the R's message holds
    };
    const Case cases[] = {
        {"kelvane/lobby/source/set", "HDMI3", false, 2, "source", nullptr},
        {"kelvane/lobby/source/set", "vga", false, 3, "source", nullptr},
        {"kelvane/lobby/reset/press", "PRESS", false, -1, "reset", nullptr},
        {"kelvane/lobby/diagnostic/press", "PRESS", false, -1, "diagnostic", nullptr},
        {"kelvane/lobby/source/set", "HDMI9", false, -1, nullptr, "invalid"},
        {"kelvane/lobby/source/set", "", false, -1, nullptr, "invalid"},
        {"kelvane/lobby/reset/press", "press", false, -1, nullptr, "invalid"},
        {"kelvane/lobby/source/set",
         "HDMI1HDMI1HDMI1HDMI1HDMI1HDMI1HDMI1HDMI1HDMI1HDMI1HDMI1HDMI1HDMI1", false, -1, nullptr,
         "invalid", "a command of 65 bytes: at most 64 are read"},
        // A retained command would run again at every connect.
        {"kelvane/lobby/source/set", "HDMI1", true, -1, nullptr, nullptr},
        {"kelvane/nobody/source/set", "HDMI1", false, -1, nullptr, nullptr},
        {"kelvane/lobby/source/get", "HDMI1", false, -1, nullptr, nullptr},
        {"kelvane/lobby/state", "HDMI1", false, -1, nullptr, nullptr},
        {"other/lobby/source/set", "HDMI1", false, -1, nullptr, nullptr},
        {"kelvane//source/set", "HDMI1", false, -1, nullptr, nullptr},
        {"kelvanex/lobby/source/set", "HDMI1", false, -1, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.topic) + " " + c.payload);
        Harness h;
        EXPECT_EQ(h.bridge.Received(c.topic, c.payload, c.retain), Bridge::Heard::Nothing);
        const std::vector<Sent> sent = h.out.Take();
        if (c.started == nullptr) {
            EXPECT_TRUE(h.started.empty());
        } else {
            ASSERT_EQ(h.started.size(), 1u);
            EXPECT_EQ(h.started[0].monitor, "lobby");
            EXPECT_STREQ(CommandName(h.started[0].request.command), c.started);
            if (c.source >= 0) {
                EXPECT_EQ(h.started[0].request.source, c.source);
            }
            EXPECT_EQ(h.started[0].requester.face, "mqtt");
        }
        if (c.error == nullptr) {
            EXPECT_TRUE(sent.empty());
            continue;
        }
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].topic, "kelvane/lobby/result");
        EXPECT_FALSE(sent[0].retain);
        const json r = Json(sent[0]);
        EXPECT_EQ(r["ok"], false);
        EXPECT_EQ(r["error"], c.error);
        EXPECT_EQ(r["target"], "tcp:127.0.0.1:4001");
        EXPECT_NE(r["message"].get<std::string>().find(c.message), std::string::npos) << r;
    }
}

TEST(MqttBridge, ACommandThatFindsTheLineFullOrKelvanedStoppingIsAnsweredWithItsError) {
    const std::tuple<service::Started, const char*, const char*> cases[] = {
        {service::Started::Busy, "busy", "too many"},
        {service::Started::Stopping, "interrupted", "kelvaned is stopping"},
        {service::Started::LetGo, "interrupted", "a reload took"},
        {service::Started::NoSuchMonitor, nullptr, nullptr},
    };
    for (const auto& [answer, error, message] : cases) {
        Harness h;
        h.answer = answer;
        h.bridge.Received("kelvane/lobby/reset/press", "PRESS", false);
        const std::vector<Sent> sent = h.out.Take();
        if (error == nullptr) {
            EXPECT_TRUE(sent.empty());
            continue;
        }
        ASSERT_EQ(sent.size(), 1u);
        const json r = Json(sent[0]);
        EXPECT_EQ(r["error"], error);
        EXPECT_EQ(r["message"].get<std::string>().rfind(message, 0), 0u) << r;
        EXPECT_EQ(r["command"], "reset");
    }
}

TEST(MqttBridge, EveryOperationsResultGoesToItsMonitorsResultTopicAndACutOneIsNoSuccess) {
    Harness h;
    OperationRecord record;
    record.monitor = "lobby";
    record.target = "tcp:127.0.0.1:4001";
    record.command = Command::Source;
    record.outcome.unit = 1;
    record.outcome.source = 2;
    record.outcome.signal = true;
    h.bridge.Ended(record);
    record.cut = service::Cut::Stop;
    h.bridge.Ended(record);
    const std::vector<Sent> sent = h.out.Take();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].topic, "kelvane/lobby/result");
    EXPECT_FALSE(sent[0].retain);
    EXPECT_EQ(Json(sent[0]), ReportJson(record.target, Command::Source, record.outcome));
    EXPECT_EQ(Json(sent[1])["error"], "interrupted");
}

TEST(MqttBridge, HomeAssistantStartingAsksForEverythingAgain) {
    Harness h;
    EXPECT_EQ(h.bridge.Received("homeassistant/status", "online", false),
              Bridge::Heard::HomeAssistantOnline);
    EXPECT_EQ(h.bridge.Received("homeassistant/status", "offline", false), Bridge::Heard::Nothing);
    EXPECT_EQ(h.bridge.Received("homeassistant/status", "online", true), Bridge::Heard::Nothing)
        << "the retained one that comes with the subscription";
    EXPECT_TRUE(h.out.Take().empty());
}

TEST(MqttBridge, AMonitorAReloadRemovedIsClearedAndClearedAgainAtTheNextConnect) {
    Harness h;
    h.bridge.PublishChanges({{Monitor("lobby"), Monitor("hall")}, 2, true});
    EXPECT_NE(Find(h.out.Take(), "kelvane/hall/state"), nullptr) << "a monitor added";
    h.bridge.PublishChanges({{Monitor("lobby")}, 3, true});
    std::vector<Sent> sent = h.out.Take();
    ASSERT_EQ(sent.size(), 2u + 6u);
    for (const Sent& message : sent) {
        EXPECT_NE(message.topic.find("hall"), std::string::npos) << message.topic;
        EXPECT_EQ(message.payload, "");
        EXPECT_TRUE(message.retain);
    }
    h.bridge.PublishAll({Monitor("lobby")});
    sent = h.out.Take();
    EXPECT_EQ(Find(sent, "kelvane/hall/state")->payload, "");
    EXPECT_EQ(Find(sent, "homeassistant/select/kelvane_hall/source/config")->payload, "");
    // Back again, it is published and no longer cleared.
    h.bridge.PublishAll({Monitor("lobby"), Monitor("hall")});
    h.bridge.PublishAll({Monitor("lobby"), Monitor("hall")});
    EXPECT_NE(Find(h.out.Take(), "kelvane/hall/state")->payload, "");
}

TEST(MqttBridge, WhatAMonitorTakenOutWhileKelvanedWasAwayLeftIsClearedWhenItsStateComes) {
    Harness h;
    h.bridge.Received("kelvane/lobby/state", "{}", true);
    h.bridge.Received("kelvane/gone/state", "{}", false);
    h.bridge.Received("kelvane/gone/state", "", true);
    h.bridge.Received("kelvane/a/b/state", "{}", true);
    EXPECT_TRUE(h.out.Take().empty()) << "a monitor it has, a live message, a cleared topic";
    h.bridge.Received("kelvane/gone/state", "{}", true);
    const std::vector<Sent> sent = h.out.Take();
    ASSERT_EQ(sent.size(), 2u + 6u);
    EXPECT_EQ(Find(sent, "kelvane/gone/availability")->payload, "");
    EXPECT_EQ(Find(sent, "homeassistant/button/kelvane_gone/reset/config")->payload, "");
}

TEST(MqttBridge, NewTopicsClearWhatTheOldOnesHeldAndLeavingSaysOffline) {
    Harness h;
    MqttSettings next = Settings();
    next.discoveryPrefix = "ha";
    h.bridge.Configure(next);
    std::vector<Sent> sent = h.out.Take();
    EXPECT_EQ(Find(sent, "homeassistant/select/kelvane_lobby/source/config")->payload, "");
    EXPECT_EQ(Find(sent, "kelvane/lobby/state")->payload, "");
    h.bridge.PublishChanges({{Monitor("lobby")}, 2, false});
    EXPECT_NE(Find(h.out.Take(), "ha/select/kelvane_lobby/source/config"), nullptr);
    h.bridge.Configure(next);
    EXPECT_TRUE(h.out.Take().empty()) << "the same topics: nothing cleared";
    h.bridge.Leaving();
    sent = h.out.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].topic, "kelvane/status");
    EXPECT_EQ(sent[0].payload, "offline");
    EXPECT_TRUE(sent[0].retain);
}

TEST(MqttSettings, TheMqttTableIsReadWithItsDefaults) {
    Config config;
    std::string error;
    ASSERT_TRUE(
        ParseConfig("[mqtt]\nbroker = \"mqtt://broker.site\"\n", "site.toml", config, error))
        << error;
    ASSERT_TRUE(config.mqtt);
    EXPECT_EQ(config.mqtt->address, (BrokerAddress{false, "broker.site", 1883}));
    EXPECT_EQ(config.mqtt->clientId.rfind("kelvaned", 0), 0u);
    EXPECT_EQ(config.mqtt->topicPrefix, "kelvane");
    EXPECT_EQ(config.mqtt->discoveryPrefix, "homeassistant");
    EXPECT_TRUE(config.mqtt->commands);
    ASSERT_TRUE(ParseConfig(R"([mqtt]
broker = "mqtts://[::1]"
client_id = "kelvaned-lobby"
username = "kelvaned"
password_file = "/etc/kelvaned/mqtt-password"
ca_file = "/etc/kelvaned/ca.pem"
topic_prefix = "site/kelvane"
discovery_prefix = ""
commands = false
)",
                            "site.toml", config, error))
        << error;
    EXPECT_EQ(config.mqtt->address, (BrokerAddress{true, "::1", 8883}));
    EXPECT_EQ(config.mqtt->username, "kelvaned");
    EXPECT_EQ(config.mqtt->caFile, "/etc/kelvaned/ca.pem");
    EXPECT_EQ(config.mqtt->topicPrefix, "site/kelvane");
    EXPECT_EQ(config.mqtt->discoveryPrefix, "");
    EXPECT_FALSE(config.mqtt->commands);
    ASSERT_TRUE(ParseConfig("", "site.toml", config, error));
    EXPECT_FALSE(config.mqtt);
}

TEST(MqttSettings, AReloadConnectsAnewOnlyForTheConnectionsOwnSettings) {
    const std::pair<const char*, std::function<void(MqttSettings&)>> cases[] = {
        {"broker",
         [](MqttSettings& s) {
             s.address.port = 1884;
         }},
        {"client",
         [](MqttSettings& s) {
             s.clientId = "other";
         }},
        {"user",
         [](MqttSettings& s) {
             s.username = "other";
         }},
        {"password",
         [](MqttSettings& s) {
             s.password = "other";
         }},
        {"ca",
         [](MqttSettings& s) {
             s.caFile = "/ca.pem";
         }},
        {"the will's prefix",
         [](MqttSettings& s) {
             s.topicPrefix = "other";
         }},
    };
    for (const auto& [what, change] : cases) {
        MqttSettings next = Settings();
        change(next);
        EXPECT_FALSE(Settings().SameConnection(next)) << what;
    }
    MqttSettings next = Settings(false);
    next.discoveryPrefix = "ha";
    EXPECT_TRUE(Settings().SameConnection(next));
    EXPECT_FALSE(Settings().SameTopics(next));
}
