"""The line trace of the panel's serial line, shared by line_relay.py (which writes it as bytes
pass) and trace_table.py (which reads it back).

  show_bytes, read_bytes   bytes as the trace shows them, and back
  Line                     one line of the trace: a frame, an answer, junk, a silence, a note
  LineGrouper              cuts the raw byte stream of both directions into lines
  Transaction, Tracker     pairs each frame with the bytes that answer it and classifies the
                           answer the way the panel's transaction does
  format_line, parse_line  the text of a line in the trace file

A trace file reads like this (times in seconds from the start of the trace):

       0.412  ** the panel opened its port
       0.412  ** connected to tcp:192.168.1.50:4001
       0.515  -> @@0UIG000
       0.521  <- 001!
              = ACK
       0.521  .. 301 ms
       0.822  -> @@1SSG000
       0.826  <- HD
              = partial, 2 of 4 bytes: the panel gets no answer
       2.020  <- ~  junk

Frames and answers are the bytes themselves: "!" to "~" as they are except "<", every other
byte as <xx> in hex. Live and read back, the same Tracker classifies the same lines, so the
table of a trace says what the trace said while it was written.
"""

import re

SHOWN = {b for b in range(0x21, 0x7F) if b != ord("<")}

# The panel's transaction: it waits 200 ms after its frame, reads the data bytes and the
# acknowledge one at a time, each read giving up after 100 ms, and reads once more 500 ms after
# an acknowledge read that found nothing. Only "!" acknowledges, on either read.
ANSWER_WAIT_MS = 200
READ_MS = 100
LATE_ACK_WAIT_MS = 500
ACK = ord("!")
REFUSAL = ord("?")

# Bytes of one direction belong to one line until the line falls quiet this long.
ANSWER_GAP_MS = 30
# The panel writes its frame byte after byte without pausing; a frame that is still incomplete
# this long after its first byte is shown as a partial frame.
PARTIAL_FRAME_MS = 200
# Quiet stretches from this long on get a line of their own.
SILENCE_MS = 50
# A transaction is decided once the panel has finished reading; its result line waits this much
# longer so that the answer bytes the grouper still holds have been counted.
DECIDE_MARGIN_MS = 2 * ANSWER_GAP_MS

TO_MONITOR = "->"
TO_PANEL = "<-"
SILENCE = ".."
NOTE = "**"


def show_bytes(data):
    """The bytes as the trace shows them: printable ASCII as it is, the rest as <xx>."""
    return "".join(chr(b) if b in SHOWN else "<%02x>" % b for b in data)


def read_bytes(text):
    """The bytes that show_bytes showed as text."""
    return bytes(int(m.group(1), 16) if m.group(1) else ord(m.group(2))
                 for m in re.finditer(r"<([0-9a-fA-F]{2})>|(.)", text))


def data_bytes(command):
    """How many data bytes the panel reads before the acknowledge for a command code."""
    if command.startswith(b"FV"):
        return 6
    return 3 if command in (b"UIG", b"SSG", b"SIG") else 0


def is_frame(data):
    return len(data) == 9 and data.startswith(b"@@")


class Line:
    """One line of the trace. time is in ms from the start; end is the time of the last byte."""

    def __init__(self, kind, time, data=b"", note="", end=None):
        self.kind = kind
        self.time = time
        self.data = data
        self.note = note
        self.end = time if end is None else end

    def __repr__(self):
        return "Line(%r, %d, %r, %r)" % (self.kind, self.time, self.data, self.note)


def format_time(ms):
    return "%8d.%03d" % (ms // 1000, ms % 1000)


def format_line(line):
    """The text of a line in the trace file, without its newline."""
    if line.kind == SILENCE:
        return "%s  %s %d ms" % (format_time(line.time), SILENCE, line.end - line.time)
    if line.kind == NOTE:
        return "%s  %s %s" % (format_time(line.time), NOTE, line.note)
    text = "%s  %s %s" % (format_time(line.time), line.kind, show_bytes(line.data))
    return text + ("  " + line.note if line.note else "")


LINE_PATTERN = re.compile(r"^\s*(\d+)\.(\d{3})  (->|<-|\.\.|\*\*) (\S*)(?:\s+(.*))?$")


def parse_line(text):
    """The Line that format_line wrote, or None for header, result and unreadable lines."""
    match = LINE_PATTERN.match(text.rstrip("\r\n"))
    if not match:
        return None
    seconds, millis, kind, first, rest = match.groups()
    time = int(seconds) * 1000 + int(millis)
    if kind == SILENCE:
        quiet = re.match(r"(\d+) ms", (first or "") + " " + (rest or ""))
        return Line(SILENCE, time, end=time + (int(quiet.group(1)) if quiet else 0))
    if kind == NOTE:
        return Line(NOTE, time, note=" ".join(p for p in (first, rest) if p))
    return Line(kind, time, read_bytes(first), rest or "")


def read_trace(lines):
    """The byte lines and notes of a trace file's text lines, in order."""
    return [line for line in map(parse_line, lines) if line is not None]


class LineGrouper:
    """Cuts the bytes seen in both directions into the lines of the trace.

    feed() takes the bytes of one read with the time they came; tick() lets time pass; both
    return the lines that are complete, in order, silences included. The panel's bytes become
    frames (nine bytes from "@@"), junk, or a partial frame; the monitor's bytes become one line
    per burst.
    """

    def __init__(self):
        self._kind = None  # direction of the bytes held, or None
        self._data = b""
        self._first = 0
        self._last = 0
        self._previous_end = None

    def feed(self, time, kind, data):
        lines = []
        if self._kind is not None:
            if self._kind != kind:
                lines += self._release(self._last, everything=True)
            else:
                lines += self._release(time, quiet=True)
        if self._kind is None:
            self._kind, self._first = kind, time
        self._data += data
        self._last = time
        lines += self._release(time)
        return lines

    def tick(self, time):
        return self._release(time, quiet=True) if self._kind is not None else []

    def flush(self, time):
        return self._release(time, everything=True) if self._kind is not None else []

    def note(self, time, text):
        """The bytes held, then a note about the link, each after the silence before it."""
        lines = self.flush(time)
        lines += self._emit(Line(NOTE, time, note=text))
        return lines

    def deadline(self):
        """When tick() next has something to do, or None."""
        if self._kind is None:
            return None
        if self._kind == TO_MONITOR and self._data.startswith(b"@"):
            return self._first + PARTIAL_FRAME_MS
        return self._last + ANSWER_GAP_MS

    def _emit(self, line):
        lines = []
        if self._previous_end is not None and line.time - self._previous_end >= SILENCE_MS:
            lines.append(Line(SILENCE, self._previous_end, end=line.time))
        self._previous_end = line.end
        lines.append(line)
        return lines

    def _held(self, data, note):
        return Line(self._kind, self._first, data, note, end=self._last)

    def _release(self, now, quiet=False, everything=False):
        """Lines out of the bytes held: whole frames always, the rest once it is over."""
        lines = []
        if self._kind == TO_PANEL:
            if everything or (quiet and now - self._last >= ANSWER_GAP_MS):
                lines += self._emit(self._held(self._data, ""))
                self._data = b""
        else:
            while self._data:
                if self._data.startswith(b"@@") and len(self._data) >= 9:
                    lines += self._emit(self._held(self._data[:9], ""))
                    self._data = self._data[9:]
                elif self._data.startswith(b"@"):
                    if everything or (quiet and now - self._first >= PARTIAL_FRAME_MS):
                        lines += self._emit(self._held(self._data, "partial frame"))
                        self._data = b""
                    break
                else:
                    at = self._data.find(b"@")
                    junk = self._data if at < 0 else self._data[:at]
                    if at < 0 and not (everything or
                                       (quiet and now - self._last >= ANSWER_GAP_MS)):
                        break
                    lines += self._emit(self._held(junk, "junk"))
                    self._data = self._data[len(junk):]
                self._first = self._last
        if not self._data:
            self._kind = None
        return lines


# What the panel's transaction returns, and the words the trace uses for an answer.
CMD_LINK_ERROR, CMD_NAK, CMD_ACK = "link error", "NAK", "ACK"


class Transaction:
    """A frame the panel sent and the monitor's bytes that came before the panel stopped
    reading."""

    def __init__(self, frame):
        self.frame = frame
        self.parts = []  # (time, bytes) of the answer lines
        self.late = b""  # bytes that came after the panel stopped reading
        self.code = None
        self.result = None
        self.note = ""
        self.done = None  # when the panel stopped reading

    @property
    def answer(self):
        return b"".join(data for _, data in self.parts)

    def expected(self):
        """The answer's length when it is whole: the data bytes and the acknowledge."""
        return data_bytes(self.frame.data[3:6]) + 1

    def decide(self):
        """Runs the panel's reads over the bytes that came (each available from the time of its
        line), and sets code, result, note and done: the time the panel stopped reading."""
        arrivals = [(time, byte) for time, data in self.parts for byte in data]
        clock = self.frame.time + ANSWER_WAIT_MS
        taken = 0

        def read():
            nonlocal clock, taken
            if taken < len(arrivals) and arrivals[taken][0] <= clock + READ_MS:
                clock = max(clock, arrivals[taken][0])
                taken += 1
                return arrivals[taken - 1][1]
            clock += READ_MS
            return None

        command = self.frame.data[3:6]
        data = [read() for _ in range(data_bytes(command))]
        second_read = False
        if command.startswith(b"FV") and data[0] == REFUSAL:
            code, ack = CMD_NAK, None
        else:
            ack = read()
            if ack is None:
                clock += LATE_ACK_WAIT_MS
                ack = read()
                second_read = True
            if ack is None:
                code = CMD_LINK_ERROR
            else:
                code = CMD_ACK if ack == ACK else CMD_NAK
        self.done = clock
        self.code = code
        got = len(self.answer)
        if code == CMD_LINK_ERROR:
            self.result = "no answer" if got == 0 else "partial"
            self.note = "" if got == 0 else "%d of %d bytes: the panel gets no answer" % (
                got, self.expected())
        else:
            self.result = code
            if code == CMD_NAK and ack is None:
                self.note = "refused"
            elif code == CMD_NAK:
                self.note = "acknowledge byte " + show_bytes(bytes([ack]))
            else:
                self.note = "acknowledge" if second_read else ""
            if second_read:
                self.note += " on the panel's second read"
        if got > taken and code != CMD_LINK_ERROR:
            unread = "%d byte%s unread" % (got - taken, "" if got - taken == 1 else "s")
            self.note = "; ".join(n for n in (self.note, unread) if n)

    def result_text(self):
        return "= " + self.result + (", " + self.note if self.note else "")


class Tracker:
    """Follows the lines of a trace and closes each frame's transaction once the panel has
    stopped reading its answer, or once the next frame goes out.

    line() and tick() return the transactions they closed; line() also says how the line is to
    be shown (its note may change: monitor bytes that nobody waits for are junk).
    """

    def __init__(self):
        self.open = None
        self.closed = []

    def line(self, line):
        finished = []
        if line.kind == TO_MONITOR:
            finished += self._close()
            if is_frame(line.data):
                self.open = Transaction(line)
        elif line.kind == TO_PANEL:
            if self.open is not None:
                self.open.decide()
                if line.time <= self.open.done:
                    self.open.parts.append((line.time, line.data))
                else:
                    finished += self._close()
            if self.open is None:
                if self.closed:
                    self.closed[-1].late += line.data
                line.note = "junk"
        return finished

    def tick(self, now):
        if self.open is None:
            return []
        self.open.decide()
        return self._close() if now >= self.open.done + DECIDE_MARGIN_MS else []

    def deadline(self):
        """When tick() can next close the open transaction, or None."""
        if self.open is None:
            return None
        self.open.decide()
        return self.open.done + DECIDE_MARGIN_MS

    def finish(self):
        return self._close()

    def _close(self):
        if self.open is None:
            return []
        transaction, self.open = self.open, None
        transaction.decide()
        self.closed.append(transaction)
        return [transaction]
