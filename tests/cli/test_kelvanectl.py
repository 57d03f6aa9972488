"""kelvanectl as a script runs it: the native program against the simulated monitor over the
test cable and over TCP, several monitors at once, a monitor that misbehaves at random, Ctrl-C,
lines the test holds itself (a pseudo-terminal, an echoing line, one that never falls quiet, a
server that never accepts), a user who is not root, and kelvanectl.exe under Wine. Run by ctest
through scripts/test.sh, which builds both programs, sets the Wine environment and lays the
cable."""

import json
import os
import pty
import select
import signal
import socket
import subprocess
import sys
import termios
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from fake_lines import Pty, TcpPeer  # noqa: E402
from simulator import BUILD, MonitorSim  # noqa: E402

NATIVE = os.path.join(os.environ.get("KELVANE_NATIVE", os.path.join(BUILD, "native")), "bin",
                      "kelvanectl")
WINDOWS = os.path.join(BUILD, "bin", "kelvanectl.exe")
CABLE_LOG = os.path.join(BUILD, "null-modem", "cable.log")
# Within this of each other the simulator's frames count as the protocol's minimum apart.
SLACK_MS = 30
# The whole of any command here, however the monitor behaves; a hang fails the test.
COMMAND_LIMIT_S = 60


# A user who is not root, for the tests that run kelvanectl as one when the suite runs as root.
NOT_ROOT = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


def wait_until_it_watches_for_ctrl_c(call):
    """Returns once the program has SIGINT blocked, to be taken by its own thread."""
    deadline = time.monotonic() + COMMAND_LIMIT_S
    while time.monotonic() < deadline:
        with open("/proc/%d/status" % call.pid) as status:
            blocked = [line.split()[1] for line in status if line.startswith("SigBlk:")]
        if blocked and int(blocked[0], 16) & (1 << (signal.SIGINT - 1)):
            return
        time.sleep(0.01)
    raise AssertionError("kelvanectl does not watch for Ctrl-C")


class Run:
    """One finished call: its exit status, its lines and how long it took."""

    def __init__(self, args, program=NATIVE, prefix=()):
        started = time.monotonic()
        done = subprocess.run([*prefix] + ([] if program == NATIVE else ["wine"]) + [program, *args],
                              capture_output=True, text=True, timeout=COMMAND_LIMIT_S)
        self.seconds = time.monotonic() - started
        self.status = done.returncode
        self.lines = done.stdout.splitlines()
        self.stderr = done.stderr

    def json(self):
        return [json.loads(line) for line in self.lines]


class Kelvanectl(unittest.TestCase):
    def monitor(self, *switches, tcp=False):
        monitor = MonitorSim(*switches, tcp=tcp)
        self.addCleanup(monitor.close)
        return monitor

    def frame_times(self, monitor):
        return [ms for ms, _, _ in monitor.events("RX")]


class OneMonitorOverTheCable(Kelvanectl):
    def test_status_asks_the_unit_id_at_zero_then_reads_the_rest_at_its_address(self):
        monitor = self.monitor("--unit-id", "3", "--source", "VGA", "--firmware", "2.05")
        run = Run(["status", monitor.target, "--json"])
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(run.json(), [{
            "target": monitor.target, "command": "status", "ok": True, "error": None,
            "message": None, "unit": 3, "source": "VGA", "signal": "ok", "firmware": "2.05"}])
        self.assertEqual(monitor.frames(), ["@@0UIG000", "@@3SSG000", "@@3SIG000", "@@3FVSENA"])
        times = self.frame_times(monitor)
        for earlier, later in zip(times, times[1:]):
            self.assertGreaterEqual(later - earlier, 300 - SLACK_MS, "drain and answer wait")

        text = Run(["status", monitor.target])
        self.assertEqual(text.lines, [monitor.target +
                                      ": unit 3, source VGA, signal ok, firmware 2.05"])

    def test_a_silent_monitor_is_no_answer(self):
        monitor = self.monitor("--silent")
        run = Run(["status", "--json", monitor.target])
        self.assertEqual(run.status, 1)
        self.assertEqual((run.json()[0]["ok"], run.json()[0]["error"]), (False, "no-answer"))
        self.assertEqual(monitor.frames(), ["@@0UIG000"])

    def test_a_source_refused_twice_is_refused_and_one_refused_once_is_taken(self):
        monitor = self.monitor("--unit-id", "2", "--sources", "HD1,HD2")
        refused = Run(["source", "HDMI3", monitor.target, "--json"])
        self.assertEqual(refused.status, 1)
        self.assertEqual(refused.json()[0]["error"], "refused")
        self.assertEqual(monitor.frames(), ["@@0UIG000", "@@2SSSHD3", "@@2SSSHD3"])
        first, second = self.frame_times(monitor)[1:]
        self.assertGreaterEqual(second - first, 2300 - SLACK_MS, "the resend waits 2000 ms")

    def test_unit_10_is_addressed_as_a_colon_and_a_resend_that_is_taken_switches(self):
        monitor = self.monitor("--unit-id", "10", "--nak-first", "1")
        run = Run(["source", "hdmi2", "--unit", "10", monitor.target, "--json"])
        self.assertEqual(run.status, 0, run.lines)
        self.assertEqual((run.json()[0]["source"], run.json()[0]["signal"]), ("HDMI2", "ok"))
        self.assertEqual(monitor.frames(), ["@@:SSSHD2", "@@:SSSHD2", "@@:SIG000"],
                         "nothing is asked at 0 with --unit")
        switched, recheck = self.frame_times(monitor)[1:]
        self.assertGreaterEqual(recheck - switched, 3300 - SLACK_MS, "the switch wait")

    def test_scan_finds_the_units_of_a_daisy_chain(self):
        monitor = self.monitor("--unit-id", "1,2,5")
        run = Run(["scan", "--ids", "1-6", monitor.target, "--json"])
        self.assertEqual(run.status, 0)
        self.assertEqual(run.json()[0]["units"], [1, 2, 5])
        self.assertNotIn("@@0SIG000", monitor.frames())

    def test_bad_calls_send_nothing_and_a_missing_device_does_not_open(self):
        monitor = self.monitor()
        usage = Run(["source", "HDMI4", monitor.target])
        self.assertEqual(usage.status, 2)
        self.assertEqual(usage.stderr.splitlines(), [
            "kelvanectl: IN: HDMI4 not in {HDMI1,HDMI2,HDMI3,VGA}",
            "Try 'kelvanectl --help' for more."])
        self.assertEqual(Run(["status", monitor.target, monitor.target]).status, 2)
        self.assertIn("Usage: kelvanectl COMMAND", "\n".join(Run(["status", "--help"]).lines))
        missing = Run(["status", "/dev/no-such-line", "--json"])
        self.assertEqual((missing.status, missing.json()[0]["error"]), (3, "open"))
        self.assertEqual(monitor.frames(), [])

    def test_ctrl_c_stops_at_once_and_lets_go_of_the_line(self):
        monitor = self.monitor("--unit-id", "1")
        closes = open(CABLE_LOG).read().count("close panel")
        call = subprocess.Popen([NATIVE, "source", "VGA", monitor.target])
        monitor.wait_for(r"^RX @@1SSSVGA$")  # now in the 3000 ms switch wait
        interrupted = time.monotonic()
        call.send_signal(signal.SIGINT)
        self.assertEqual(call.wait(COMMAND_LIMIT_S), 130)
        self.assertLess(time.monotonic() - interrupted, 0.5)
        deadline = time.monotonic() + 5
        while open(CABLE_LOG).read().count("close panel") == closes and time.monotonic() < deadline:
            time.sleep(0.02)
        self.assertEqual(open(CABLE_LOG).read().count("close panel"), closes + 1)
        self.assertEqual(monitor.frames()[-1], "@@1SSSVGA", "no re-check after Ctrl-C")


class ADaisyChainWithoutAUnit(Kelvanectl):
    def test_status_and_source_stop_with_several_answers_and_nothing_switches(self):
        chain = self.monitor("--unit-id", "1-4")
        for args in (["status"], ["source", "hdmi2", "--fast"]):
            run = Run([*args, chain.target, "--json"])
            self.assertEqual(run.status, 1, run.stderr)
            self.assertEqual([(r["ok"], r["error"], r["unit"]) for r in run.json()],
                             [(False, "several-answers", None)], args)
        self.assertEqual(Run(["status", chain.target]).lines, [
            chain.target + ": error: more than one monitor answered at address 0: give --unit"])
        self.assertEqual(chain.frames(), ["@@0UIG000"] * 3, "no SSS frame reached address 0")
        self.assertIn("1,2,3,4 answer at once", "\n".join(chain.read_log()))


class ManyMonitors(Kelvanectl):
    def test_three_device_servers_at_once_take_as_long_as_one_and_a_silent_one_fails_alone(self):
        first = self.monitor("--unit-id", "1", tcp=True)
        silent = self.monitor("--silent", tcp=True)
        third = self.monitor("--unit-id", "3", tcp=True)
        targets = [first.target, silent.target, third.target]
        run = Run(["status", "--json", *targets])
        self.assertEqual(run.status, 1)
        self.assertEqual([(r["target"], r["ok"], r["error"]) for r in run.json()],
                         [(targets[0], True, None), (targets[1], False, "no-answer"),
                          (targets[2], True, None)])
        # One after another would take 1.2 + 1.3 + 1.2 s.
        self.assertLess(run.seconds, 2.5)

    def test_a_port_where_nothing_listens_does_not_open_within_the_limit(self):
        run = Run(["status", "tcp:127.0.0.1:1", "--json"])
        self.assertEqual((run.status, run.json()[0]["error"]), (3, "open"))
        self.assertLess(run.seconds, 5 + 1)

    def test_ctrl_c_prints_the_finished_targets_and_marks_the_one_still_switching(self):
        # The slow monitor's acknowledges come late, on the second read: its switch wait is still
        # running when the other two have finished.
        fast = self.monitor("--unit-id", "1", tcp=True)
        slow = self.monitor("--unit-id", "2", "--late-ack", "450", tcp=True)
        last = self.monitor("--unit-id", "3", tcp=True)
        call = subprocess.Popen([NATIVE, "source", "VGA", "--json", fast.target, slow.target,
                                 last.target], stdout=subprocess.PIPE, text=True)
        first_line = call.stdout.readline()
        last.wait_for(r"closed the connection$")
        self.assertNotIn("closed", " ".join(slow.read_log()), "the slow one is still at work")
        call.send_signal(signal.SIGINT)
        rest, _ = call.communicate(timeout=COMMAND_LIMIT_S)
        self.assertEqual(call.returncode, 130)
        results = [json.loads(line) for line in [first_line] + rest.splitlines()]
        self.assertEqual([(r["target"], r["ok"], r["error"], r["unit"], r["source"]) for r in results],
                         [(fast.target, True, None, 1, "VGA"),
                          (slow.target, False, "interrupted", 2, "VGA"),
                          (last.target, True, None, 3, "VGA")])
        self.assertEqual((results[0]["signal"], results[1]["signal"]), ("ok", None))


class LinesTheTestHolds(Kelvanectl):
    """A pseudo-terminal the test reads and answers itself, and TCP peers that are no monitor."""

    def pty(self):
        line = Pty()
        self.addCleanup(line.close)
        return line

    def peer(self, kind):
        peer = TcpPeer(kind)
        self.addCleanup(peer.close)
        return peer

    def test_a_held_line_runs_at_19200_8n1_and_a_second_program_gets_exit_3(self):
        line = self.pty()
        call = subprocess.Popen([NATIVE, "scan", "--ids", "0-255", "--json", line.path],
                                stdout=subprocess.PIPE, text=True)
        self.addCleanup(call.kill)
        self.assertEqual(line.read_frame(), "@@0SIG000")
        iflag, _, cflag, lflag, ispeed, ospeed, _ = line.settings()
        self.assertEqual((ispeed, ospeed), (termios.B19200, termios.B19200))
        self.assertEqual(cflag & (termios.CSIZE | termios.PARENB | termios.CSTOPB | termios.CRTSCTS),
                         termios.CS8)
        self.assertEqual(lflag & (termios.ICANON | termios.ECHO | termios.ISIG), 0)
        self.assertEqual(iflag & (termios.IXON | termios.IXOFF | termios.ICRNL), 0)

        second = Run(["status", "--json", line.path])
        self.assertEqual((second.status, second.json()[0]["error"]), (3, "open"))
        self.assertIn("in use", second.json()[0]["message"])

        call.send_signal(signal.SIGINT)
        out, _ = call.communicate(timeout=COMMAND_LIMIT_S)
        self.assertEqual(call.returncode, 130)
        self.assertEqual([(r["error"], r["units"]) for r in map(json.loads, out.splitlines())],
                         [("interrupted", [])])

    def test_a_user_who_is_not_root_gets_the_line_again_after_a_run(self):
        # The exclusive-use flag belongs to the terminal, which the test keeps open.
        line = self.pty()
        prefix = NOT_ROOT if os.geteuid() == 0 else []
        for attempt in (1, 2):
            run = Run(["status", "--unit", "1", "--json", line.path], prefix=prefix)
            self.assertEqual((run.status, run.json()[0]["error"]), (1, "no-answer"),
                             "run %d: %s" % (attempt, run.lines))

    def test_a_thread_that_cannot_start_fails_its_target_alone(self):
        if os.geteuid() != 0:
            self.skipTest("needs a user of its own for a limit on threads")
        first, second = self.pty(), self.pty()
        # A user with no other process: the program, its Ctrl-C watcher and one worker.
        run = Run(["status", "--unit", "1", "--json", first.path, second.path],
                  prefix=["prlimit", "--nproc=3", "setpriv", "--reuid=64997", "--regid=64997",
                          "--clear-groups"])
        self.assertEqual(run.status, 3, run.stderr)
        self.assertEqual([r["error"] for r in run.json()], ["no-answer", "open"])
        self.assertIn("cannot start a thread", run.json()[1]["message"])

    def test_ctrl_c_in_the_wait_after_a_switch_ends_it_without_the_recheck(self):
        line = self.pty()
        call = subprocess.Popen([NATIVE, "source", "VGA", "--json", line.path],
                                stdout=subprocess.PIPE, text=True)
        self.addCleanup(call.kill)
        self.assertEqual(line.read_frame(), "@@0UIG000")
        line.answer(b"001!")
        self.assertEqual(line.read_frame(), "@@1SSSVGA")
        line.answer(b"!")
        line.wait_until_read()  # the acknowledge is taken: the 3000 ms wait has begun
        interrupted = time.monotonic()
        call.send_signal(signal.SIGINT)
        out, _ = call.communicate(timeout=COMMAND_LIMIT_S)
        self.assertLess(time.monotonic() - interrupted, 1.0)
        self.assertEqual(call.returncode, 130)
        result = json.loads(out)
        self.assertEqual((result["ok"], result["error"], result["unit"], result["source"],
                          result["signal"]), (False, "interrupted", 1, "VGA", None))
        self.assertEqual(line.pending(), b"", "no signal re-check")

    def test_a_second_ctrl_c_ends_a_program_that_cannot_finish(self):
        # Its output goes to a pipe that is full and that nobody reads: the result cannot be
        # printed, so the first Ctrl-C cannot end the program.
        read_end, write_end = os.pipe()
        os.set_blocking(write_end, False)
        try:
            while True:
                os.write(write_end, b"x" * 4096)
        except BlockingIOError:
            pass
        os.set_blocking(write_end, True)
        call = subprocess.Popen([NATIVE, "status", "/dev/no-such-line"], stdout=write_end)
        self.addCleanup(call.kill)
        os.close(write_end)
        self.addCleanup(os.close, read_end)
        wait_until_it_watches_for_ctrl_c(call)
        # Ctrl-C again and again, apart, so that no two arrive as one signal.
        deadline = time.monotonic() + COMMAND_LIMIT_S
        while call.poll() is None and time.monotonic() < deadline:
            call.send_signal(signal.SIGINT)
            time.sleep(0.2)
        self.assertEqual(call.wait(1), 130)

    def test_scan_on_an_echoing_line_finds_no_unit(self):
        echo = self.peer("echo")
        run = Run(["scan", "--json", echo.target])
        self.assertEqual(run.status, 1)
        self.assertEqual([(r["error"], r["units"]) for r in run.json()], [("no-answer", [])])

    def test_a_line_that_never_falls_quiet_is_drained_for_a_second_at_most(self):
        babble = self.peer("babble")
        run = Run(["status", "--unit", "1", "--json", babble.target])
        self.assertEqual(len(run.lines), 1, run.stderr)
        frames = babble.frames()
        self.assertEqual([f for _, f in frames], ["@@1SSG000", "@@1SIG000", "@@1FVSENA"])
        self.assertGreaterEqual(frames[0][0], 0.9)
        for earlier, later in zip(frames, frames[1:]):
            self.assertGreaterEqual(later[0] - earlier[0], 1.0)
        self.assertLess(frames[-1][0], 3 * 2.5)

    def test_a_server_that_never_accepts_is_given_up_after_5_s(self):
        silent = self.peer("silent")
        run = Run(["status", "--json", silent.target])
        self.assertEqual((run.status, run.json()[0]["error"]), (3, "open"))
        self.assertEqual(run.json()[0]["message"], "cannot open the line: no connection within 5 s")
        self.assertGreaterEqual(run.seconds, 5 - 0.1)
        self.assertLess(run.seconds, 5 + 2)

        # Ctrl-C ends the wait for the connection at once; the target did not fail on its own.
        call = subprocess.Popen([NATIVE, "status", "--json", silent.target],
                                stdout=subprocess.PIPE, text=True)
        self.addCleanup(call.kill)
        wait_until_it_watches_for_ctrl_c(call)
        call.send_signal(signal.SIGINT)
        out, _ = call.communicate(timeout=COMMAND_LIMIT_S)
        self.assertEqual((call.returncode, json.loads(out)["error"]), (130, "interrupted"))

    def test_a_wide_scan_shows_its_progress_on_a_terminal_and_never_in_a_pipe(self):
        echo = self.peer("echo")
        piped = Run(["scan", "--ids", "1-10", echo.target])
        self.assertEqual(piped.stderr, "")
        self.assertEqual(piped.lines, [echo.target + ": error: no unit answered"])

        echo = self.peer("echo")
        master, slave = pty.openpty()
        call = subprocess.Popen([NATIVE, "scan", "--ids", "1-10", echo.target],
                                stdout=slave, stderr=slave)
        os.close(slave)
        shown = b""
        while True:
            ready = select.select([master], [], [], COMMAND_LIMIT_S)[0]
            try:
                chunk = os.read(master, 1024) if ready else b""
            except OSError:  # the program closed its end
                chunk = b""
            if not chunk:
                break
            shown += chunk
        os.close(master)
        self.assertEqual(call.wait(COMMAND_LIMIT_S), 1)
        text = shown.decode()
        last = "scan: 10 of 10 unit IDs tried, 0 units found"
        # The progress line is wiped before the result takes its place.
        self.assertIn("\r%s\r%s\r%s: error: no unit answered" % (last, " " * len(last), echo.target),
                      text)


class UnderWine(Kelvanectl):
    def test_kelvanectl_exe_reads_a_com_port_and_a_device_server(self):
        cable = self.monitor("--unit-id", "7")
        server = self.monitor("--unit-id", "5", tcp=True)
        run = Run(["status", "COM1", server.target, "--json"], program=WINDOWS)
        self.assertEqual(run.status, 0, run.lines)
        self.assertEqual([(r["target"], r["unit"]) for r in run.json()],
                         [("COM1", 7), (server.target, 5)])
        self.assertEqual(cable.frames()[0], "@@0UIG000")

    def test_a_refused_connection_says_so(self):
        closed = socket.socket()
        closed.bind(("127.0.0.1", 0))
        port = closed.getsockname()[1]
        closed.close()
        run = Run(["status", "--json", "tcp:127.0.0.1:%d" % port], program=WINDOWS)
        self.assertEqual((run.status, run.json()[0]["error"]), (3, "open"), run.stderr)
        self.assertNotIn("within", run.json()[0]["message"])


class AMonitorThatMisbehavesAtRandom(Kelvanectl):
    """Whatever the monitor does, a switch, a reset or a diagnostic mode is reported done only
    when the monitor acknowledged it in its log."""

    COMMANDS = [["source", "HDMI2"], ["reset"], ["diagnostic"], ["source", "VGA"],
                ["source", "HDMI1"], ["reset"], ["source", "HDMI3"], ["diagnostic"]]

    def test_no_success_without_the_monitors_acknowledge(self):
        monitor = self.monitor("--unit-id", "1", "--random", "5", "--fault-rate", "50")
        for args in self.COMMANDS:
            before = len(monitor.read_log())
            run = Run(args + [monitor.target, "--unit", "1", "--json"])
            self.assertIn(run.status, (0, 1, 3), run.stderr)
            if run.status != 0:
                continue
            answers = self.answers(monitor.read_log()[before:])
            if args[0] == "source":
                switches = [a for f, a in answers if f[3:6] == "SSS"]
                self.assertTrue(switches[-1].startswith("!"), (args, answers))
            elif args[0] == "reset":
                self.assertTrue([a for f, a in answers if f[3:6] == "DSS"][0].startswith("!"))
            else:
                steps = [a for f, a in answers if f[3:6] in ("DCS", "KES")]
                self.assertEqual(len(steps), 3)
                self.assertTrue(all(a.startswith("!") for a in steps), answers)

    @staticmethod
    def answers(lines):
        """(frame, the bytes sent back before the next frame) for the frames in the log lines."""
        exchanges = []
        for line in lines:
            parts = line.split(" ", 2)
            if len(parts) < 3:
                continue
            if parts[1] == "RX":
                exchanges.append([parts[2], ""])
            elif parts[1] == "TX" and exchanges:
                exchanges[-1][1] += parts[2]
        return exchanges


# The classes that need no test cable; ctest runs them (--off-the-cable) beside the tests that do,
# which run in a lane with a cable of its own (tests/CMakeLists.txt).
OFF_THE_CABLE = ("ManyMonitors", "LinesTheTestHolds")


def cable_classes(off_the_cable):
    return [case for name, case in sorted(globals().items())
            if isinstance(case, type) and issubclass(case, Kelvanectl) and case is not Kelvanectl
            and (name in OFF_THE_CABLE) == off_the_cable]


if __name__ == "__main__":
    off = "--off-the-cable" in sys.argv[1:]
    if off or len(sys.argv) == 1:
        suite = unittest.TestSuite(map(unittest.defaultTestLoader.loadTestsFromTestCase,
                                       cable_classes(off)))
        sys.exit(0 if unittest.TextTestRunner().run(suite).wasSuccessful() else 1)
    unittest.main()
