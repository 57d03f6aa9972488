"""An MQTT broker and a client for the tests and the benchmark: Debian's mosquitto on a free port
of 127.0.0.1 with a configuration file of its own (anonymous clients, nothing kept on disk), and a
paho-mqtt client (MQTT 5) that records every message it is sent. Needs Debian's Python for
paho."""

import os
import queue
import re
import socket
import subprocess
import tempfile
import threading
import time

import paho.mqtt.client as mqtt
from paho.mqtt.subscribeoptions import SubscribeOptions

START_S = 30
WAIT_S = 15


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Broker:
    """mosquitto listening on 127.0.0.1:self.port (a free one unless given), ready (its "running"
    line read). stop() and start() again keep the port; it keeps no message across them. With
    passwords, a file mosquitto_passwd made, it takes only the users named there; with tls, the
    paths of a certificate and its key, it speaks TLS alone."""

    def __init__(self, port=None, passwords=None, tls=None):
        self.folder = tempfile.TemporaryDirectory()
        self.port = port or free_port()
        self.config = os.path.join(self.folder.name, "mosquitto.conf")
        users = ("allow_anonymous false\npassword_file %s\n" % passwords if passwords
                 else "allow_anonymous true\n")
        if tls:
            users += "certfile %s\nkeyfile %s\n" % tls
        with open(self.config, "w") as out:
            out.write("listener %d 127.0.0.1\n%spersistence false\n"
                      "log_dest stderr\nlog_type error\nlog_type warning\nlog_type notice\n"
                      "log_type information\n" % (self.port, users))
        self.process = None
        self.start()

    def start(self):
        self.log = []
        self.process = subprocess.Popen(["mosquitto", "-c", self.config],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        text=True, errors="replace")
        deadline = time.monotonic() + START_S
        for line in self.process.stderr:
            self.log.append(line.rstrip("\n"))
            if re.search(r"mosquitto version \S+ running", line):
                break
            if time.monotonic() > deadline:
                raise AssertionError("mosquitto did not start:\n" + "\n".join(self.log))
        else:
            raise AssertionError("mosquitto ended:\n" + "\n".join(self.log))
        # Its log goes on being read, so that it never blocks on a full pipe.
        threading.Thread(target=self._drain, args=(self.process,), daemon=True).start()

    def _drain(self, process):
        for line in process.stderr:
            self.log.append(line.rstrip("\n"))

    def stop(self):
        # Killed: the test session may run with SIGTERM blocked, which a child inherits, and a
        # broker that keeps nothing loses nothing to a kill.
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(30)
        if self.process:
            self.process.stderr.close()

    def close(self):
        self.stop()
        self.folder.cleanup()


class Message:
    def __init__(self, topic, payload, retain, at, qos):
        self.topic = topic
        self.payload = payload
        self.retain = retain
        self.qos = qos  # as delivered: the lower of the publisher's and the subscription's (1)
        self.at = at  # time.monotonic() when it came

    def text(self):
        return self.payload.decode("utf-8")

    def __repr__(self):
        return "%s%s %r" % (self.topic, " (retained)" if self.retain else "", self.payload[:60])


class Client:
    """An MQTT 5 client of the broker, subscribed to the topics (retain as published, so a live
    message's flag is the publisher's) and ready (its subscriptions acknowledged). self.messages
    holds every message so far, in order."""

    def __init__(self, port, topics=("#",), name="tests"):
        self.messages = []
        self._new = threading.Condition()
        self.client = mqtt.Client(client_id="%s-%d" % (name, os.getpid()), protocol=mqtt.MQTTv5)
        self.client.on_message = self._on_message
        subscribed = threading.Event()
        self.client.on_subscribe = lambda *args: subscribed.set()
        self.client.connect("127.0.0.1", port)
        self.client.loop_start()
        self.client.subscribe([(topic, SubscribeOptions(qos=1, retainAsPublished=True))
                               for topic in topics])
        if not subscribed.wait(WAIT_S):
            raise AssertionError("the broker did not acknowledge the subscription")

    def _on_message(self, client, userdata, message):
        with self._new:
            self.messages.append(Message(message.topic, message.payload, bool(message.retain),
                                         time.monotonic(), message.qos))
            self._new.notify_all()

    def mark(self):
        """Where the messages stand now: wait_for and since take it to look only after."""
        with self._new:
            return len(self.messages)

    def since(self, mark):
        with self._new:
            return self.messages[mark:]

    def wait_for(self, condition, what, seconds=WAIT_S, mark=0):
        """The messages after mark once condition(messages) holds."""
        deadline = time.monotonic() + seconds
        with self._new:
            while True:
                messages = self.messages[mark:]
                if condition(messages):
                    return messages
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError("not within %d s: %s; the messages:\n%s" % (
                        seconds, what, "\n".join(repr(m) for m in messages[-40:])))
                self._new.wait(left)

    def wait_for_topic(self, topic, what=None, seconds=WAIT_S, mark=0, payload=None):
        """The first message on the topic after mark (with that payload, when given)."""
        def found(messages):
            return [m for m in messages
                    if m.topic == topic and (payload is None or m.payload == payload)]
        return found(self.wait_for(lambda ms: found(ms), what or topic, seconds, mark))[0]

    def latest(self, mark=0):
        """The last message on each topic after mark."""
        return {m.topic: m for m in self.since(mark)}

    def publish(self, topic, payload, retain=False):
        self.client.publish(topic, payload, qos=1, retain=retain).wait_for_publish(WAIT_S)

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()
