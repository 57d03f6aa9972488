#!/usr/bin/env python3
"""Stands between the panel's COM port and the monitor's end of the line, and can trace it.

Makes a pseudo-terminal and points LINK at it (Wine maps the panel's COM name to LINK). While
the panel holds its port open, the relay holds the monitor's end open too (a TCP connection to
a serial device server, a serial device, or another pseudo-terminal) and passes every byte
both ways; with --trace it writes each byte to the trace as it passes (see linetrace.py).

  line_relay.py --link PATH --far tcp:HOST:PORT [--trace FILE]
  line_relay.py --link PATH --far /dev/ttyUSB0 [--trace FILE]

The far end is opened each time the panel opens its port and closed when the panel closes it,
so each Connect makes a fresh connection. A far end that cannot be opened, or that goes away,
leaves the panel's port open and silent: the panel reports that the monitor does not answer,
and its next Connect tries again. Nothing here ever blocks the panel: the relay always reads
what the panel writes, and drops what nobody can take. It runs until it is told to stop
(SIGTERM, SIGINT, SIGHUP); then it removes LINK.
"""

import argparse
import errno
import os
import select
import signal
import socket
import sys
import termios
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import linetrace  # noqa: E402

# Without a panel on the port the master reports a hang-up at once on every poll; this is how
# often the relay looks whether the panel has opened it.
PANEL_POLL_MS = 20
CONNECT_TIMEOUT_S = 3.0
# Bytes waiting for the far end beyond this are dropped: a far end that takes nothing must not
# make the relay, and so the panel, wait.
FAR_BACKLOG = 64 * 1024
BAUD = termios.B19200


def now_ms(start):
    return int((time.monotonic() - start) * 1000)


class Trace:
    """The trace file (or nothing), written and flushed line by line."""

    def __init__(self, path, start, title):
        self.start = start
        self.file = open(path, "a", encoding="ascii", buffering=1) if path else None
        self.grouper = linetrace.LineGrouper()
        self.tracker = linetrace.Tracker()
        self._write("# Orvanta line trace, started %s; times in seconds from then"
                    % time.strftime("%Y-%m-%d %H:%M:%S"))
        self._write("# " + title)
        self._write("# -> the panel's bytes, <- the monitor's, .. quiet, ** the link, = the "
                    "panel's reading of the answer")

    def _write(self, text):
        if self.file:
            self.file.write(text + "\n")
            self.file.flush()

    def _lines(self, lines):
        for line in lines:
            for transaction in self.tracker.line(line):
                self._result(transaction)
            self._write(linetrace.format_line(line))

    def _result(self, transaction):
        self._write(" " * 14 + transaction.result_text())

    def bytes(self, kind, data):
        if self.file:
            self._lines(self.grouper.feed(now_ms(self.start), kind, data))

    def note(self, text):
        if self.file:
            self._lines(self.grouper.note(now_ms(self.start), text))

    def tick(self):
        if not self.file:
            return
        now = now_ms(self.start)
        self._lines(self.grouper.tick(now))
        for transaction in self.tracker.tick(now):
            self._result(transaction)

    def flush(self):
        if not self.file:
            return
        self._lines(self.grouper.flush(now_ms(self.start)))
        for transaction in self.tracker.finish():
            self._result(transaction)

    def timeout(self):
        """Seconds until tick() has something to do, or None."""
        if not self.file:
            return None
        deadlines = [d for d in (self.grouper.deadline(), self.tracker.deadline())
                     if d is not None]
        if not deadlines:
            return None
        return max(0.0, (min(deadlines) - now_ms(self.start)) / 1000) + 0.001


class FarEnd:
    """The monitor's end: a TCP connection or a serial device, opened without blocking."""

    def __init__(self, address):
        self.address = address
        self.fd = None
        self.sock = None
        self.connecting = False
        self.backlog = b""

    def open(self):
        """Starts opening; returns an error text, or None."""
        if self.address.startswith("tcp:"):
            host, _, port = self.address[4:].rpartition(":")
            try:
                found = socket.getaddrinfo(host.strip("[]"), int(port),
                                           type=socket.SOCK_STREAM)[0]
                self.sock = socket.socket(found[0], found[1], found[2])
                self.sock.setblocking(False)
                self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_KEEPALIVE, 1)
                error = self.sock.connect_ex(found[4])
            except (OSError, ValueError) as failure:
                self.close()
                return "cannot connect to %s: %s" % (self.address, failure)
            if error not in (0, errno.EINPROGRESS):
                self.close()
                return "cannot connect to %s: %s" % (self.address, os.strerror(error))
            self.fd = self.sock.fileno()
            self.connecting = error != 0
            self.deadline = time.monotonic() + CONNECT_TIMEOUT_S
            return None
        try:
            self.fd = os.open(self.address, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
            # The line settings of the device are the panel's: 19200 baud, 8N1, no flow control.
            tty.setraw(self.fd)
            attributes = termios.tcgetattr(self.fd)
            attributes[0] &= ~(termios.IXON | termios.IXOFF)
            attributes[2] = (attributes[2] & ~(termios.CSIZE | termios.PARENB | termios.CSTOPB |
                                               termios.CRTSCTS)) | termios.CS8 | termios.CLOCAL \
                | termios.CREAD
            attributes[4] = attributes[5] = BAUD
            termios.tcsetattr(self.fd, termios.TCSANOW, attributes)
        except OSError as failure:
            self.close()
            return "cannot open %s: %s" % (self.address, failure.strerror)
        return None

    def finish_connect(self):
        """For a TCP connection that was in progress: "" when it is made, or why not."""
        error = self.sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
        if error:
            return "cannot connect to %s: %s" % (self.address, os.strerror(error))
        self.connecting = False
        return ""

    def read(self):
        """Bytes that came; b"" when the far end has gone."""
        try:
            return os.read(self.fd, 4096)
        except BlockingIOError:
            return None
        except OSError:
            return b""

    def write(self, data):
        """Queues bytes and writes what the far end takes now; False when it has gone."""
        self.backlog = (self.backlog + data)[-FAR_BACKLOG:]
        return self.flush()

    def flush(self):
        if self.connecting or not self.backlog:
            return True
        try:
            written = os.write(self.fd, self.backlog)
        except BlockingIOError:
            return True
        except OSError:
            return False
        self.backlog = self.backlog[written:]
        return True

    def close(self):
        if self.sock is not None:
            self.sock.close()
        elif self.fd is not None:
            os.close(self.fd)
        self.sock = self.fd = None
        self.connecting = False
        self.backlog = b""


class Relay:
    """The panel's pty and the far end, and the bytes between them."""

    def __init__(self, link, far, trace_path):
        self.start = time.monotonic()
        self.link = link
        self.far = FarEnd(far)
        self.trace = Trace(trace_path, self.start, "panel %s <-> %s" % (link, far))
        self.master, slave = os.openpty()
        tty.setraw(slave)
        # Closing our copy of the slave lets the master tell when the panel has it open: it
        # reports a hang-up exactly while no one holds the slave.
        name = os.ttyname(slave)
        os.close(slave)
        os.set_blocking(self.master, False)
        temporary = link + ".new"
        if os.path.lexists(temporary):
            os.unlink(temporary)
        os.symlink(name, temporary)
        os.replace(temporary, link)
        self.panel_open = False

    def panel_opened(self):
        self.panel_open = True
        self.trace.note("the panel opened its port")
        error = self.far.open()
        if error:
            self.far_lost(error)
        elif not self.far.connecting:
            self.trace.note("opened " + self.far.address)

    def panel_closed(self):
        self.panel_open = False
        self.trace.flush()
        self.trace.note("the panel closed its port")
        if self.far.fd is not None:
            self.far.close()
            self.trace.note("closed " + self.far.address)

    def far_lost(self, why):
        self.trace.note(why + "; the panel's bytes go nowhere until it opens its port again")
        self.far.close()

    def step(self):
        if not self.panel_open:
            events = select.poll()
            events.register(self.master, select.POLLIN)
            if any(e & select.POLLHUP for _, e in events.poll(0)):
                self.trace.tick()
                time.sleep(PANEL_POLL_MS / 1000)
                return
            self.panel_opened()

        readers = [self.master]
        writers = []
        if self.far.fd is not None:
            readers.append(self.far.fd)
            if self.far.connecting or self.far.backlog:
                writers.append(self.far.fd)
        timeout = self.trace.timeout()
        if self.far.connecting:
            timeout = min(timeout or 1.0, max(0.0, self.far.deadline - time.monotonic()))
        poller = select.poll()
        for fd in set(readers + writers):
            poller.register(fd, (select.POLLIN if fd in readers else 0) |
                            (select.POLLOUT if fd in writers else 0))
        ready = dict(poller.poll(None if timeout is None else timeout * 1000))

        panel = ready.get(self.master, 0)
        if panel & select.POLLIN:
            try:
                data = os.read(self.master, 4096)
            except OSError:
                data = b""
            if data:
                self.trace.bytes(linetrace.TO_MONITOR, data)
                if self.far.fd is not None and not self.far.write(data):
                    self.far_lost(self.far.address + " refused the bytes")
        if panel & select.POLLHUP:
            self.panel_closed()
            return

        fd = self.far.fd
        if fd is not None and self.far.connecting:
            if fd in ready:
                error = self.far.finish_connect()
                if error:
                    self.far_lost(error)
                else:
                    self.trace.note("connected to " + self.far.address)
                    self.far.flush()
            elif time.monotonic() >= self.far.deadline:
                self.far_lost("cannot connect to %s: no answer in %g s"
                              % (self.far.address, CONNECT_TIMEOUT_S))
        elif fd is not None and fd in ready:
            if ready[fd] & (select.POLLIN | select.POLLHUP | select.POLLERR):
                data = self.far.read()
                if data == b"":
                    self.far_lost(self.far.address + " closed the connection")
                elif data:
                    self.trace.bytes(linetrace.TO_PANEL, data)
                    try:
                        os.write(self.master, data)
                    except OSError:
                        pass  # the panel's input is full: it is not reading, the bytes drop
            if self.far.fd is not None and ready.get(fd, 0) & select.POLLOUT:
                if not self.far.flush():
                    self.far_lost(self.far.address + " refused the bytes")
        self.trace.tick()

    def close(self, why):
        if self.panel_open:
            self.panel_closed()
        self.trace.flush()
        self.trace.note("the relay stops (%s)" % why)
        try:
            if os.path.islink(self.link):
                os.unlink(self.link)
        except OSError:
            pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--link", required=True, help="path to point at the panel's end")
    parser.add_argument("--far", required=True, help="tcp:HOST:PORT or a serial device path")
    parser.add_argument("--trace", help="append the line trace to this file")
    options = parser.parse_args()

    def stop(number, *_):
        raise KeyboardInterrupt(signal.Signals(number).name)

    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(number, stop)
    relay = Relay(options.link, options.far, options.trace)
    why = "it ended"
    try:
        while True:
            relay.step()
    except KeyboardInterrupt as stopped:
        why = str(stopped) or "SIGINT"
    finally:
        relay.close(why)
    return 0


if __name__ == "__main__":
    sys.exit(main())
