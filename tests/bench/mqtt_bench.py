"""Times kelvaned's MQTT bridge against 256 simulated monitors on 32 device servers and a real
broker (Debian's mosquitto on 127.0.0.1), and prints the figures: from the connect to the last
discovery message at a subscriber; from a change a poll learned (its log line) to its state
message at the subscriber, median and p99; the broker's traffic per hour for a quiet fleet polled
every 10 s. Run by scripts/bench.sh with Debian's Python (paho-mqtt)."""

import os
import re
import signal
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from broker import Broker, Client  # noqa: E402
from fleet import SimulatedFleet  # noqa: E402
from kelvaned import Kelvaned, config_text, fleet_monitors  # noqa: E402

SERVERS = 32
UNITS = 8
# Servers whose monitors fail a poll now and then, so that polls learn changes.
FAULTY = 4
ENTITIES = 6
CHANGES_S = 30
QUIET_S = 60


def config(monitors, interval, port, prefix):
    return config_text(monitors, interval=interval, timing="fast") + (
        '\n[mqtt]\nbroker = "mqtt://127.0.0.1:%d"\nclient_id = "kelvaned-%s"\n'
        'topic_prefix = "%s"\ndiscovery_prefix = "%s-ha"\n' % (port, prefix, prefix, prefix))


def connect_to_discovery(broker, folder, monitors):
    """Seconds from kelvaned's status "online" to the last of its discovery messages, at a
    subscriber; kelvaned connects at its start, before its first poll sweep ends."""
    client = Client(broker.port, ["first/#", "first-ha/#"], name="bench-first")
    kelvaned = Kelvaned(folder, config(monitors, 10, broker.port, "first"))
    try:
        online = client.wait_for_topic("first/status", payload=b"online", seconds=60)
        wanted = len(monitors) * ENTITIES

        def all_discovery(messages):
            return len({m.topic for m in messages if m.topic.startswith("first-ha/")}) >= wanted
        messages = client.wait_for(all_discovery, "every discovery message", 60)
        last = max(m.at for m in messages if m.topic.startswith("first-ha/"))
        return last - online.at, kelvaned
    finally:
        client.close()


def quiet_traffic(kelvaned, broker):
    """Messages and payload bytes per hour published by kelvaned while its fleet changes
    nothing, polled every 10 s (measured over QUIET_S)."""
    kelvaned.wait_until(lambda ms: all(m["reachable"] and m["firmware"] for m in ms.values()),
                        120, "every monitor answering")
    client = Client(broker.port, ["first/#", "first-ha/#"], name="bench-quiet")
    try:
        # The retained messages the subscription brings come first; they are no traffic.
        mark = client.wait_for(lambda ms: ms and time.monotonic() - ms[-1].at > 1, "retained",
                               30)
        start = len(mark)
        polls = sum(m["polls"] for m in kelvaned.monitors().values())
        time.sleep(QUIET_S)  # the window is the measure itself
        messages = client.since(start)
        polls = sum(m["polls"] for m in kelvaned.monitors().values()) - polls
        per_hour = 3600 / QUIET_S
        return (len(messages) * per_hour, sum(len(m.payload) for m in messages) * per_hour,
                polls)
    finally:
        client.close()


def change_latency(broker, folder, monitors):
    """Seconds from each change's log line (written as the fleet takes it in) to its state
    message at a subscriber, over CHANGES_S of polls every second."""
    client = Client(broker.port, ["change/+/state"], name="bench-change")
    kelvaned = Kelvaned(folder, config(monitors, 1, broker.port, "change"))
    try:
        kelvaned.polled(120)
        began = time.monotonic()
        mark = client.mark()
        time.sleep(CHANGES_S)  # the window is the measure itself
        states = [m for m in client.since(mark)]
        changes = [(at, line) for at, line in kelvaned.stamped if at >= began]
    finally:
        kelvaned.stop()
        kelvaned.close()
        client.close()
    latencies = []
    used = set()
    for at, line in changes:
        found = re.match(r"kelvaned: ([a-z0-9_-]+) \(\S+\): (answering|not answering)", line)
        if not found:
            continue
        name, reachable = found.group(1), found.group(2) == "answering"
        topic = "change/%s/state" % name
        for i, message in enumerate(states):
            if (i not in used and message.topic == topic and message.at >= at - 0.05
                    and ('"reachable":true' in message.text()) == reachable):
                used.add(i)
                latencies.append(message.at - at)
                break
    return sorted(latencies), len([1 for _, line in changes if " answering" in line])


def main():
    quiet = SimulatedFleet(SERVERS, UNITS)
    faulty = SimulatedFleet(FAULTY, UNITS, "--random", "7", "--fault-rate", "2", "--faults",
                            "silent,refuse")
    broker = Broker()
    try:
        with tempfile.TemporaryDirectory() as folder:
            monitors = fleet_monitors(quiet)
            seconds, kelvaned = connect_to_discovery(broker, folder, monitors)
            try:
                print("kelvaned's MQTT bridge, %d monitors on %d device servers, mosquitto on "
                      "loopback:" % (len(monitors), SERVERS))
                print("  connect to the last of %d discovery messages: %.3f s (aim: at most 1 s)"
                      % (len(monitors) * ENTITIES, seconds))
                messages, size, polls = quiet_traffic(kelvaned, broker)
                print("  quiet fleet polled every 10 s (%d polls in %d s): %.0f messages, %.0f "
                      "bytes per hour (aim: near zero)" % (polls, QUIET_S, messages, size))
            finally:
                kelvaned.stop(signal.SIGTERM)
                kelvaned.close()
            mixed = fleet_monitors(quiet)[:(SERVERS - FAULTY) * UNITS] + fleet_monitors(
                faulty, prefix="f")
            latencies, changes = change_latency(broker, folder, mixed)
            if latencies:
                p99 = latencies[min(len(latencies) - 1, int(len(latencies) * 0.99))]
                print("  a change a poll learned to its state at a subscriber (%d of %d changes, "
                      "polls every 1 s): median %.1f ms, p99 %.1f ms (aim: at most 100 ms)"
                      % (len(latencies), changes, 1000 * statistics.median(latencies),
                         1000 * p99))
            else:
                print("  no change was learned in %d s" % CHANGES_S)
    finally:
        broker.close()
        faulty.close()
        quiet.close()


if __name__ == "__main__":
    main()
