#!/usr/bin/env python3
"""A virtual null-modem cable: two pseudo-terminals whose bytes cross over.

Each end is a pty whose slave a program opens as its serial port (Wine maps a COM name to the
link). The cable holds no slave open itself, so it sees each program open and close its end, and
logs it. Bytes for an end that nobody holds open are lost, as on a real line.

Pulling the cable (the file "pulled" appears in the folder) drops both ptys: open handles fail
every read and write, and the links lead to an empty folder, so the ports cannot be opened, as
when a USB-serial adapter is pulled out. Deleting the file puts the cable back with fresh ptys under the same links.

Log lines: "<ms> <event> <details>", events open/close (panel or monitor), pull, plug, ready.
"""
import argparse
import os
import select
import signal
import sys
import time
import tty

POLL_MS = 10


def now_ms():
    return int(time.monotonic() * 1000)


class Log:
    def __init__(self, path):
        self.file = open(path, "a", buffering=1)

    def line(self, event, details=""):
        self.file.write(f"{now_ms()} {event} {details}".rstrip() + "\n")


class End:
    """One end of the cable: a pty master the cable keeps, the slave behind a link."""

    def __init__(self, name, link, log):
        self.name, self.link, self.log = name, link, log
        self.master = None
        self.held = False  # a program holds the slave open

    def make(self):
        master, slave = os.openpty()
        tty.setraw(slave)
        path = os.ttyname(slave)
        os.close(slave)
        os.set_blocking(master, False)
        self.point_at(path)
        self.master, self.held = master, False

    def drop(self, nowhere):
        """Lets the pty go; the link then leads to an empty folder, which Wine refuses to open as
        a port, as Windows refuses a COM name whose adapter is gone (a link to nothing would open
        and fail every call after)."""
        if self.master is None:
            return
        self.point_at(nowhere)
        os.close(self.master)
        if self.held:
            self.log.line("close", self.name)
        self.master, self.held = None, False

    def point_at(self, target):
        temp = self.link + ".new"
        if os.path.lexists(temp):
            os.remove(temp)
        os.symlink(target, temp)
        os.replace(temp, self.link)

    def look(self):
        """Updates whether a program holds the end; True when bytes wait to be read."""
        if self.master is None:
            return False
        poller = select.poll()
        poller.register(self.master, select.POLLIN)
        events = dict(poller.poll(0)).get(self.master, 0)
        # With no slave open the master reports a hang-up until a program opens it.
        held = not events & select.POLLHUP
        if held != self.held:
            self.held = held
            self.log.line("open" if held else "close", self.name)
        return held and bool(events & select.POLLIN)

    def read(self):
        try:
            return os.read(self.master, 4096)
        except OSError:
            return b""

    def write(self, data):
        # Never blocks: what the far program does not read in time is lost, as a UART would.
        if self.master is None or not self.held:
            return
        try:
            os.write(self.master, data)
        except OSError:
            pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--folder", required=True,
                        help="where the links panel and monitor, the file pulled and cable.log are")
    args = parser.parse_args()

    folder = os.path.abspath(args.folder)
    log = Log(os.path.join(folder, "cable.log"))
    ends = [End("panel", os.path.join(folder, "panel"), log),
            End("monitor", os.path.join(folder, "monitor"), log)]
    pulled_flag = os.path.join(folder, "pulled")
    nowhere = os.path.join(folder, "nowhere")
    os.makedirs(nowhere, exist_ok=True)

    running = True

    def stop(*_):
        nonlocal running
        running = False

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    plugged = not os.path.exists(pulled_flag)
    if plugged:
        for end in ends:
            end.make()
    log.line("ready", "plugged" if plugged else "pulled")

    while running:
        want_plugged = not os.path.exists(pulled_flag)
        if want_plugged != plugged:
            for end in ends:
                if plugged:
                    end.drop(nowhere)
                else:
                    end.make()
            plugged = want_plugged
            log.line("plug" if plugged else "pull")
        masters = [end.master for end in ends if end.master is not None and end.held]
        if masters:
            select.select(masters, [], [], POLL_MS / 1000)
        else:
            time.sleep(POLL_MS / 1000)
        for end, other in ((ends[0], ends[1]), (ends[1], ends[0])):
            if end.look():
                data = end.read()
                if data:
                    other.look()
                    other.write(data)

    for end in ends:
        end.drop(nowhere)
        if os.path.lexists(end.link):
            os.remove(end.link)
    log.line("stop")


if __name__ == "__main__":
    sys.exit(main())
