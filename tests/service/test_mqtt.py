"""kelvaned's MQTT bridge end to end: the real kelvaned against simulated device servers and a real
broker (Debian's mosquitto on a free port of 127.0.0.1), and a paho-mqtt client that plays Home
Assistant. Run by ctest through scripts/test.sh, with Debian's Python (paho-mqtt)."""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from broker import Broker, Client  # noqa: E402
from test_tls import Authority  # noqa: E402
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import Kelvaned, config_text, fleet_monitors  # noqa: E402

# What Home Assistant needs of each component's discovery message, beyond what every entity has.
REQUIRED = {"select": {"command_topic", "options", "state_topic"},
            "binary_sensor": {"state_topic"},
            "sensor": {"state_topic"},
            "button": {"command_topic"}}
EVERY_ENTITY = {"unique_id", "name", "availability", "availability_mode", "device", "origin"}
ENTITIES = [("select", "source"), ("binary_sensor", "signal"), ("binary_sensor", "reachable"),
            ("sensor", "firmware"), ("button", "reset"), ("button", "diagnostic")]
# Without commands the source is a sensor, and there are no buttons.
STATE_ONLY = [("sensor", "source")] + ENTITIES[1:4]
# A fast poll cycle of the chain, with room for a loaded machine.
CYCLE_S = 10

FLEET = None
BROKER = None


def setUpModule():
    global FLEET, BROKER
    BROKER = Broker()
    try:
        FLEET = SimulatedFleet(1, 2, "--firmware", "1.02")
    except Exception:
        BROKER.close()
        raise


def tearDownModule():
    FLEET.close()
    BROKER.close()


def discovery_topics(discovery, name, entities=ENTITIES):
    return ["%s/%s/kelvane_%s/%s/config" % (discovery, component, name, entity)
            for component, entity in entities]


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


class Bridged(unittest.TestCase):
    """A kelvaned of the simulated fleet bridged to the broker under its own prefixes, with a
    client that reads everything under them."""
    prefix = None

    @classmethod
    def discovery(cls):
        return cls.prefix + "-ha"

    @classmethod
    def config(cls, monitors=None, commands=True, port=None):
        return config_text(monitors or fleet_monitors(FLEET), interval=1, timing="fast") + (
            '\n[mqtt]\nbroker = "mqtt://127.0.0.1:%d"\nclient_id = "kelvaned-%s"\n'
            'topic_prefix = "%s"\ndiscovery_prefix = "%s"\ncommands = %s\n'
            % (port or BROKER.port, cls.prefix, cls.prefix, cls.discovery(),
               "true" if commands else "false"))

    def own_folder(self):
        """A folder of the test's own, removed after it."""
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        return folder.name

    @classmethod
    def start(cls, folder, **options):
        return Kelvaned(folder, cls.config(**options))

    @classmethod
    def listen(cls, port=None):
        return Client(port or BROKER.port, [cls.prefix + "/#", cls.discovery() + "/#"],
                      name=cls.prefix)

    def everything_published(self, client, names, mark=0, firmware=None, entities=ENTITIES):
        """Waits for kelvaned's status, and each monitor's state, availability and discovery
        (with that firmware, when given) after mark."""
        topics = [self.prefix + "/status"]
        for name in names:
            topics += ["%s/%s/%s" % (self.prefix, name, kind) for kind in ("state", "availability")]
            topics += discovery_topics(self.discovery(), name, entities)

        def done(messages):
            latest = {m.topic: m for m in messages}
            if not all(topic in latest and latest[topic].payload for topic in topics):
                return False
            return firmware is None or all(
                json.loads(latest[t].payload)["device"].get("sw_version") == firmware
                for name in names for t in discovery_topics(self.discovery(), name, entities))
        return {m.topic: m for m in client.wait_for(done, "everything published", CYCLE_S, mark)}


class HomeAssistantMeetsTheFleet(Bridged):
    prefix = "hall"

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.client = cls.listen()
        cls.kelvaned = cls.start(cls.folder.name)

    @classmethod
    def tearDownClass(cls):
        cls.kelvaned.close()
        cls.client.close()
        cls.folder.cleanup()

    def test_every_entity_has_what_home_assistant_needs(self):
        latest = self.everything_published(self.client, ["m1-1", "m1-2"], firmware="1.02")
        self.assertEqual(latest["hall/status"].text(), "online")
        # Connected and polling, no thread of the bridge spins: the measure's window is the
        # measure itself.
        ticks, began = cpu_ticks(self.kelvaned.process.pid), time.monotonic()
        time.sleep(2)
        used = (cpu_ticks(self.kelvaned.process.pid) - ticks) / os.sysconf("SC_CLK_TCK")
        self.assertLess(used, 0.5 * (time.monotonic() - began), "seconds of processor")
        for name in ("m1-1", "m1-2"):
            for (component, entity), topic in zip(ENTITIES, discovery_topics("hall-ha", name)):
                with self.subTest(topic=topic):
                    message = latest[topic]
                    self.assertTrue(message.retain)
                    config = json.loads(message.payload)
                    self.assertLessEqual(REQUIRED[component] | EVERY_ENTITY, set(config))
                    self.assertEqual(config["unique_id"], "kelvane_%s_%s" % (name, entity))
                    self.assertEqual(config["device"]["identifiers"], ["kelvane_" + name])
                    self.assertEqual(config["origin"]["name"], "kelvaned")
            self.assertEqual(latest["hall/%s/state" % name].qos, 0)
            state = json.loads(latest["hall/%s/state" % name].payload)
            self.assertEqual((state["name"], state["reachable"], state["firmware"]),
                             (name, True, "1.02"))
            self.assertEqual(latest["hall/%s/availability" % name].text(), "online")

    def test_a_source_set_switches_its_unit_and_comes_back_as_state_and_result(self):
        self.everything_published(self.client, ["m1-2"])
        mark = self.client.mark()
        self.client.publish("hall/m1-2/source/set", "hdmi3")
        result = json.loads(self.client.wait_for_topic("hall/m1-2/result", mark=mark).payload)
        self.assertEqual((result["ok"], result["command"], result["unit"], result["source"]),
                         (True, "source", 2, "HDMI3"))
        self.assertIn("@@2SSSHD3", FLEET.frames(0))
        self.assertNotIn("@@1SSSHD3", FLEET.frames(0))
        def switched(messages):
            return [m for m in messages if m.topic == "hall/m1-2/state"
                    and json.loads(m.payload)["source"] == "HDMI3"]
        state = switched(self.client.wait_for(switched, "the new state", mark=mark))
        self.assertTrue(state[0].retain)
        self.kelvaned.wait_for(r"source HDMI3 on m1-2 \(.*\) for mqtt: done")
        metrics = self.kelvaned.get("/metrics").body
        self.assertIn('operation="source",result="ok"} 1', metrics)

    def test_a_retained_command_is_ignored_and_an_unknown_source_refused_with_nothing_sent(self):
        self.everything_published(self.client, ["m1-1"])
        switches = len([f for f in FLEET.frames(0) if "SSS" in f])
        mark = self.client.mark()
        self.client.publish("hall/m1-1/source/set", "HDMI2", retain=True)
        self.addCleanup(self.client.publish, "hall/m1-1/source/set", "", True)
        self.kelvaned.wait_for(r"mqtt: hall/m1-1/source/set: a retained command is ignored")
        self.client.publish("hall/m1-1/source/set", "HDMI7")
        result = json.loads(self.client.wait_for_topic("hall/m1-1/result", mark=mark).payload)
        self.assertEqual((result["ok"], result["error"]), (False, "invalid"))
        self.assertIn('"HDMI7"', result["message"])
        self.assertEqual(len([f for f in FLEET.frames(0) if "SSS" in f]), switches)
        self.assertEqual([m for m in self.client.since(mark) if m.topic == "hall/m1-1/result"],
                         [self.client.wait_for_topic("hall/m1-1/result", mark=mark)],
                         "no result for the retained command")

    def test_home_assistant_starting_is_answered_with_everything_again(self):
        self.everything_published(self.client, ["m1-1", "m1-2"])
        mark = self.client.mark()
        self.client.publish("hall-ha/status", "online")
        self.everything_published(self.client, ["m1-1", "m1-2"], mark)
        metrics = self.kelvaned.get("/metrics").body
        self.assertRegex(metrics, r"(?m)^kelvane_mqtt_connected(\{\})? 1$")
        self.assertRegex(metrics, r'kelvane_mqtt_messages_total\{direction="in"\} [1-9]')
        self.assertRegex(metrics, r'kelvane_mqtt_messages_total\{direction="out"\} [1-9]\d')


class Leaving(Bridged):
    prefix = "door"

    def setUp(self):
        folder = self.own_folder()
        self.client = self.listen()
        self.addCleanup(self.client.close)
        self.kelvaned = self.start(folder)
        self.addCleanup(self.kelvaned.close)
        self.client.wait_for_topic("door/status", payload=b"online")

    def test_kill_9_leaves_the_last_will_offline(self):
        mark = self.client.mark()
        self.kelvaned.process.kill()
        message = self.client.wait_for_topic("door/status", mark=mark)
        # The broker holds the will at least once (a state goes at most once: it is sent whole
        # again at every connect).
        self.assertEqual((message.text(), message.retain, message.qos), ("offline", True, 1))

    def test_sigterm_says_offline_before_it_ends(self):
        mark = self.client.mark()
        status, _ = self.kelvaned.stop(signal.SIGTERM)
        self.assertEqual(status, 0)
        message = self.client.wait_for_topic("door/status", mark=mark)
        self.assertEqual((message.text(), message.retain), ("offline", True))
        self.assertEqual(len([m for m in self.client.since(mark) if m.topic == "door/status"]), 1,
                         "a clean stop leaves no last will")


class ABrokerThatComesAndGoes(Bridged):
    prefix = "yard"

    def test_kelvaned_polls_without_it_and_publishes_everything_each_time_it_comes(self):
        broker = Broker()
        self.addCleanup(broker.close)
        broker.stop()
        folder = self.own_folder()
        kelvaned = self.start(folder, port=broker.port)
        self.addCleanup(kelvaned.close)
        kelvaned.polled(CYCLE_S)
        for turn in range(2):
            broker.start()
            client = self.listen(broker.port)
            self.addCleanup(client.close)
            kelvaned.wait_for(r"mqtt: connected to ")
            # The broker keeps nothing across a restart: all of it is published again.
            self.everything_published(client, ["m1-1", "m1-2"])
            client.close()
            broker.stop()
            kelvaned.wait_for(r"mqtt: the connection to .* is lost")
        log = kelvaned.read_log()
        self.assertRegex("\n".join(log), r"mqtt: mqtt://127\.0\.0\.1:\d+ cannot be reached yet")
        self.assertEqual(len([line for line in log if "mqtt: connected to" in line]), 2)
        self.assertEqual(len([line for line in log if "is lost" in line]), 2)
        self.assertEqual(len([line for line in log if "cannot be reached" in line]), 1)
        status, took = kelvaned.stop()
        self.assertEqual(status, 0)
        self.assertLess(took, 1.5, "a stop does not wait for a broker that is away")

    def test_a_broker_that_refused_the_password_is_tried_again_until_it_takes_it(self):
        folder = self.own_folder()
        users, password = (os.path.join(folder, name) for name in ("users", "password"))

        def broker_password(text):
            subprocess.run(["mosquitto_passwd", "-b", "-c", users, "kelvaned", text], check=True)
            # mosquitto started by root reads it as its own user.
            if os.geteuid() == 0:
                os.chmod(folder, 0o711)
                shutil.chown(users, "mosquitto")
        broker_password("another")
        broker = Broker(passwords=users)
        self.addCleanup(broker.close)
        with open(os.open(password, os.O_WRONLY | os.O_CREAT, 0o600), "w") as out:
            out.write("s3cret\n")
        kelvaned = Kelvaned(folder, self.config(port=broker.port) +
                            'username = "kelvaned"\npassword_file = "%s"\n' % password)
        self.addCleanup(kelvaned.close)
        kelvaned.wait_for(r"mqtt: .* refused the connection: ")
        broker.stop()
        broker_password("s3cret")
        broker.start()
        kelvaned.wait_for(r"mqtt: connected to ")

    def test_a_broker_that_takes_the_connection_and_says_nothing_does_not_hold_the_stop(self):
        folder = self.own_folder()
        with socket.socket() as silent:
            silent.bind(("127.0.0.1", 0))
            silent.listen(1)
            silent.settimeout(30)
            kelvaned = self.start(folder, port=silent.getsockname()[1])
            self.addCleanup(kelvaned.close)
            connection, _ = silent.accept()
            with connection:
                connection.settimeout(30)
                self.assertTrue(connection.recv(1), "its CONNECT")
                status, took = kelvaned.stop()
        self.assertEqual(status, 0)
        self.assertLess(took, 1.5, "the connect that waits for an answer is let go")

    def test_a_handshake_that_fails_is_said_and_tried_again_until_the_broker_speaks_tls(self):
        folder = self.own_folder()
        authority = Authority(folder)
        certificate, key = authority.server(1)
        if os.geteuid() == 0:
            # mosquitto started by root reads them as its own user.
            os.chmod(folder, 0o711)
            shutil.chown(key, "mosquitto")
        plain = Broker()
        self.addCleanup(plain.close)
        config = self.config(port=plain.port).replace("mqtt://", "mqtts://")
        kelvaned = Kelvaned(folder, config + 'ca_file = "%s"\n' % authority.ca)
        self.addCleanup(kelvaned.close)
        kelvaned.wait_for(r"mqtt: mqtts://127\.0\.0\.1:\d+ cannot be reached yet \(A TLS error "
                          r"occurred\. OpenSSL Error.*\); trying again after 1 s, then ")
        plain.close()
        secure = Broker(plain.port, tls=(certificate, key))
        self.addCleanup(secure.close)
        kelvaned.wait_for(r"mqtt: connected to mqtts://")


class Reloading(Bridged):
    prefix = "gate"

    def test_sighup_clears_a_removed_monitor_and_commands_false_takes_none(self):
        folder = self.own_folder()
        client = self.listen()
        self.addCleanup(client.close)
        kelvaned = self.start(folder)
        self.addCleanup(kelvaned.close)
        self.everything_published(client, ["m1-1", "m1-2"])
        mark = client.mark()
        kelvaned.write_config(self.config(monitors=fleet_monitors(FLEET)[:1], commands=False))
        kelvaned.reload()
        kelvaned.wait_for(r"reloaded: 1 monitors")
        cleared = ["gate/m1-2/state", "gate/m1-2/availability"] + discovery_topics("gate-ha",
                                                                                  "m1-2")
        cleared += discovery_topics("gate-ha", "m1-1", [("select", "source"),
                                                        ("button", "reset"),
                                                        ("button", "diagnostic")])
        # The reload publishes everything again too (kelvaned's status first): that is awaited,
        # or it could be taken for the answer to Home Assistant's status below.
        def done(messages):
            last = {m.topic: m for m in messages}
            return (all(t in last and last[t].payload == b"" and last[t].retain for t in cleared)
                    and "gate-ha/sensor/kelvane_m1-1/source/config" in last
                    and "gate/status" in last)
        client.wait_for(done, "the removed monitor and the commands cleared", mark=mark)

        mark = client.mark()
        switches = len([f for f in FLEET.frames(0) if "SSS" in f or "DSS" in f])
        client.publish("gate/m1-1/source/set", "VGA")
        client.publish("gate/m1-1/reset/press", "PRESS")
        # Home Assistant's status comes after them: once it is answered, they were not.
        client.publish("gate-ha/status", "online")
        self.everything_published(client, ["m1-1"], mark, entities=STATE_ONLY)
        self.assertFalse([m for m in client.since(mark) if m.topic.endswith("/result")])
        self.assertEqual(len([f for f in FLEET.frames(0) if "SSS" in f or "DSS" in f]), switches)

        # The bridge taken out says offline; put back, it publishes everything again.
        for config, status in ((config_text(fleet_monitors(FLEET)[:1], interval=1), "offline"),
                               (self.config(monitors=fleet_monitors(FLEET)[:1]), "online")):
            mark = client.mark()
            kelvaned.write_config(config)
            kelvaned.reload()
            message = client.wait_for_topic("gate/status", mark=mark)
            self.assertEqual(message.text(), status)
        self.everything_published(client, ["m1-1"], mark)

        # Another topic prefix is a connection anew: the old one says offline, the new one
        # carries the monitors.
        moved = Client(BROKER.port, ["gate2/#"], name="gate2")
        self.addCleanup(moved.close)
        mark = client.mark()
        kelvaned.write_config(self.config(monitors=fleet_monitors(FLEET)[:1]).replace(
            'topic_prefix = "gate"', 'topic_prefix = "gate2"'))
        kelvaned.reload()
        self.assertEqual(client.wait_for_topic("gate/status", mark=mark).text(), "offline")
        self.assertIn('"reachable":true', moved.wait_for_topic("gate2/m1-1/state").text())


class Restarting(Bridged):
    prefix = "dock"

    def test_a_start_clears_a_monitor_taken_out_and_a_reload_turns_commands_on(self):
        folder = self.own_folder()
        client = self.listen()
        self.addCleanup(client.close)
        kelvaned = self.start(folder, commands=False)
        self.everything_published(client, ["m1-1", "m1-2"], entities=STATE_ONLY)
        self.assertEqual(kelvaned.stop()[0], 0)
        kelvaned.close()
        # Started again without m1-2: what it left is cleared.
        mark = client.mark()
        one = fleet_monitors(FLEET)[:1]
        kelvaned = self.start(folder, monitors=one, commands=False)
        self.addCleanup(kelvaned.close)
        cleared = ["dock/m1-2/state", "dock/m1-2/availability"] + discovery_topics(
            "dock-ha", "m1-2", STATE_ONLY)
        client.wait_for(lambda ms: {m.topic for m in ms if m.payload == b"" and m.retain} >=
                        set(cleared), "m1-2 cleared", mark=mark)
        self.everything_published(client, ["m1-1"], mark, entities=STATE_ONLY)
        # Commands turned on keep the connection: their topics are subscribed on it.
        mark = client.mark()
        kelvaned.write_config(self.config(monitors=one))
        kelvaned.reload()
        client.wait_for_topic("dock-ha/select/kelvane_m1-1/source/config", mark=mark)
        client.publish("dock/m1-1/source/set", "VGA")
        result = json.loads(client.wait_for_topic("dock/m1-1/result", mark=mark).payload)
        self.assertEqual((result["ok"], result["source"]), (True, "VGA"))
        self.assertEqual(len([line for line in kelvaned.read_log() if "mqtt: connecting" in line]),
                         1, "on the same connection")

if __name__ == "__main__":
    unittest.main()
