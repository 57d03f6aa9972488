"""Lines the tests hold the far end of, for what the simulated monitor does not do: a
pseudo-terminal whose master the test reads and writes (and whose settings it reads back), and
TCP peers on 127.0.0.1 that echo every byte, never fall quiet, or never accept."""

import fcntl
import os
import select
import socket
import struct
import termios
import threading
import time


class Pty:
    """A pseudo-terminal pair: self.path is the line a program opens; the test holds the master
    (and a descriptor of its own on the line, which keeps the terminal and its flags alive)."""

    def __init__(self, mode=0o666):
        self.master, slave = os.openpty()
        self.path = os.ttyname(slave)
        os.chmod(self.path, mode)
        self.own = os.open(self.path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        os.close(slave)

    def read_frame(self, seconds=10):
        """The next nine bytes a program writes to the line, as text."""
        frame = b""
        deadline = time.monotonic() + seconds
        while len(frame) < 9:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.master], [], [], left)[0]:
                raise AssertionError("no frame within %s s, only %r" % (seconds, frame))
            frame += os.read(self.master, 9 - len(frame))
        return frame.decode("ascii", "replace")

    def answer(self, data):
        os.write(self.master, data)

    def wait_until_read(self, seconds=10):
        """Returns once the program on the line has read every byte written to it."""
        # The terminal takes written bytes into its input a moment later, so they are waited for
        # first (a second at most: a program that reads at once may have taken them already).
        arrived = time.monotonic() + 1
        while not self.unread() and time.monotonic() < arrived:
            time.sleep(0.002)
        deadline = time.monotonic() + seconds
        while self.unread() and time.monotonic() < deadline:
            time.sleep(0.005)
        if self.unread():
            raise AssertionError("the program did not read its answer")

    def unread(self):
        return struct.unpack("i", fcntl.ioctl(self.own, termios.FIONREAD, b"\0" * 4))[0]

    def pending(self):
        """Whatever the program wrote that the test has not read yet."""
        data = b""
        while select.select([self.master], [], [], 0)[0]:
            chunk = os.read(self.master, 1024)
            if not chunk:
                break
            data += chunk
        return data

    def settings(self):
        """The line's termios as the far end reads it: [iflag, oflag, cflag, lflag, ispeed,
        ospeed, cc]."""
        return termios.tcgetattr(self.master)

    def close(self):
        os.close(self.own)
        os.close(self.master)


class TcpPeer:
    """A device server's stand-in on 127.0.0.1:self.port. kind "echo" sends every byte back, as an
    adapter with its echo on; "babble" sends a byte every 5 ms for ever and keeps what it receives
    with its time in self.received; "silent" takes no connection at all: its backlog is full."""

    def __init__(self, kind):
        self.kind = kind
        self.received = []  # (seconds since the connection, byte)
        self.connected = threading.Event()
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.target = "tcp:127.0.0.1:%d" % self.port
        self.fillers = []
        self._stop = threading.Event()
        if kind == "silent":
            # Linux holds one connection in a backlog of 0; once one waits there, further SYNs
            # are dropped and a connect waits for ever.
            self.listener.listen(0)
            for _ in range(2):
                filler = socket.socket()
                filler.setblocking(False)
                filler.connect_ex(("127.0.0.1", self.port))
                self.fillers.append(filler)
            return
        self.listener.listen(1)
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        self.listener.settimeout(30)
        try:
            client, _ = self.listener.accept()
        except OSError:
            return
        started = time.monotonic()
        self.connected.set()
        client.setblocking(False)
        with client:
            while not self._stop.is_set():
                readable = select.select([client], [], [], 0.005)[0]
                try:
                    data = client.recv(1024) if readable else b""
                    if readable and not data:
                        return
                    if self.kind == "echo" and data:
                        client.sendall(data)
                    if self.kind == "babble":
                        now = time.monotonic() - started
                        self.received += [(now, bytes([b])) for b in data]
                        client.send(b"~")
                except OSError:
                    return

    def frames(self):
        """(seconds since the connection, frame) of each nine bytes received."""
        frames = []
        for i in range(0, len(self.received) - 8, 9):
            chunk = self.received[i:i + 9]
            frames.append((chunk[-1][0], b"".join(b for _, b in chunk).decode("ascii", "replace")))
        return frames

    def close(self):
        self._stop.set()
        for filler in self.fillers:
            filler.close()
        self.listener.close()
