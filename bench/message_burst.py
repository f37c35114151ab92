#!/usr/bin/python3
"""A burst of incoming messages through Velantro, beside the translation
service's own time per request, both measured in the same run.

The burst: skype-peer (the chat client stand-in) is told COUNT messages from
three friends at once; Velantro fetches each one's sender and body, has the
translator stand-in (--web) translate it and shows it on its sender's page.
It is timed from the moment the lines are handed to skype-peer to the moment
the last translated line is on screen, read from outside through the
accessibility tree as a screen reader reads it. Afterwards every message must
be on its sender's page exactly once.

The baseline: the very requests Velantro sent (recorded once, in an untimed
first burst, by the translator's --log) replayed to the same translator by
bench/request_replay.cpp: one fresh connection each, as Velantro's client
makes them, from a client that does nothing else. What Velantro adds on top
of that is its own work per message: the chat client's notification and two
property requests on the session bus, looking for a local translation
program, the HTTP client, and showing the line.

Beside both, the bus alone: the five copy-data round trips an incoming
message costs (the notification, two property requests and their answers),
timed between two processes that do nothing else (bench/bus_round_trip.cpp),
once through the bus windows both programs use and once through bare
libdbus. That is the floor under the burst that no work of Velantro's can
go below.

Each of RUNS repetitions starts a fresh translator, then replays and bursts
in alternating order; the medians are compared. Each burst runs on a private
session bus of its own (dbus-run-session), with its own accessibility bus:
one a burst has flooded never slows or stops the next.

usage: bench/message_burst.py BIN_DIR [--count N] [--runs N]
Needs Xvfb, dbus-run-session, at-spi2-core and python3-pyatspi (Debian's,
/usr/bin/python3).
"""

import argparse
import collections
import json
import os
import re
import socket
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import bench_session  # noqa: E402

FRIENDS = ("alice", "bob", "ivan")
# One phrase per friend, in their language; the number tells the messages apart.
PHRASES = {"alice": "Hola amigo, mensaje {}", "bob": "Bonjour mon ami, message {}",
           "ivan": "Здравей приятел, съобщение {}"}
NOT_ON_BUS = 3
# The notification, the two property requests and their two answers.
ROUND_TRIPS = 5
# What each run measures, in this order on even runs and the reverse on odd ones.
STEPS = ("burst", "alone", "windows", "bare")  # the exit status of a burst whose Velantro never reached the accessibility bus


def burst_lines(count):
    return [f"{FRIENDS[i % 3]}: {PHRASES[FRIENDS[i % 3]].format(i)}" for i in range(count)]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, timeout=10.0):
    deadline = time.monotonic() + timeout
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return
        except OSError:
            if time.monotonic() > deadline:
                raise RuntimeError(f"nothing listens on port {port}") from None
            time.sleep(0.05)


def check_pages(pages, count):
    """Every message shown once, on its sender's page; returns a problem or None."""
    seen = collections.Counter()
    for page, lines in pages.items():
        for line in lines:
            number = re.search(r"(\d+)$", line)
            if not line.startswith(page + ": ") or not number \
                    or FRIENDS[int(number.group(1)) % 3] != page:
                return f"an unexpected line on {page}'s page: {line!r}"
            seen[int(number.group(1))] += 1
    missing = [n for n in range(count) if seen[n] == 0]
    twice = [n for n, times in seen.items() if times > 1]
    if missing or twice:
        return f"missing {missing[:10]}, shown more than once {twice[:10]}"
    return None


def split_requests(log):
    """The requests in a --log file, back to back (a header, then a body of
    its Content-Length)."""
    requests, start = [], 0
    while start < len(log):
        end = log.index(b"\r\n\r\n", start) + 4
        length = re.search(rb"(?i)\r\ncontent-length: *(\d+)", log[start:end])
        end += int(length.group(1)) if length else 0
        requests.append(log[start:end])
        start = end
    return requests


# --- one burst, on the private bus it was started on ----------------------------


def wait_for_characters(window, expected, velantro):
    """Waits until the pages hold as many characters as the first burst left
    on them. Every 20 ms it asks each page still short of its count for its
    length, one cheap question each, so that watching takes little from the
    program being watched."""
    from screen_reader import _walk
    logs, done = {}, set()
    deadline = time.monotonic() + 600
    while len(done) < len(expected):
        if len(logs) < len(expected):
            for node, role in _walk(window._frame()):
                if role == "text" and node.name in expected \
                        and node.name not in logs:
                    logs[node.name] = node.queryText()
        for page, log in logs.items():
            if page not in done and log.characterCount >= expected[page]:
                done.add(page)
        if time.monotonic() > deadline or velantro.poll() is not None:
            raise RuntimeError("the burst did not finish")
        time.sleep(0.02)


def one_burst(args):
    """Runs one burst with a fresh chat client and Velantro, and writes
    {"seconds": until the last message was shown, "pages": {page: lines}} to
    result.json in its folder."""
    sys.path.insert(0, os.path.join(HERE, "..", "scripts"))
    import pyatspi
    from screen_reader import VelantroWindow, wait_until

    # The accessibility bus and its registry start on first use: up before
    # Velantro, which looks for them as it starts.
    wait_until(lambda: pyatspi.Registry.getDesktop(0) is not None, 30,
               "the accessibility registry")
    folder = args.folder
    env = bench_session.in_folder(dict(
        os.environ, DISPLAY=args.display, QT_QPA_PLATFORM="xcb",
        QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
        VELANTRO_WEB_ENDPOINT=f"http://127.0.0.1:{args.port}/vl.asp"), folder)
    peer = subprocess.Popen([os.path.join(args.bin, "skype-peer"), "--quiet", "--user",
                             "maria", "--friends", ",".join(FRIENDS)], env=env, cwd=folder,
                            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    with open(os.path.join(folder, "velantro.err"), "wb") as errors:
        velantro = subprocess.Popen([os.path.join(args.bin, "velantro")], env=env, cwd=folder,
                                    stdin=subprocess.DEVNULL, stderr=errors)
    count = args.count
    try:
        try:
            window = VelantroWindow(velantro.pid, args.display)
        except TimeoutError as problem:
            print(problem, file=sys.stderr)
            return NOT_ON_BUS
        wait_until(lambda: window.list_items("To") == list(FRIENDS), 30, "the contacts")
        text = ("\n".join(burst_lines(count)) + "\n").encode()
        # The untimed first burst counts the method calls on the session bus
        # (each a round trip), by member; watching would slow the timed ones.
        monitor = None
        if args.expected is None:
            monitor_log = open(os.path.join(folder, "bus.log"), "w+", encoding="utf-8")
            monitor = subprocess.Popen(["dbus-monitor", "--session", "--profile"],
                                       stdout=monitor_log)
            time.sleep(0.5)
        start = time.monotonic()
        peer.stdin.write(text)
        peer.stdin.flush()
        if args.expected is None:
            # The untimed first burst: wait until every line is there.
            try:
                wait_until(lambda: sum(len(lines) for _, lines in window.pages()) >= count,
                           60 + count * 0.05, f"{count} lines")
            except TimeoutError:
                pages = dict(window.pages())
                shown = sum(len(lines) for lines in pages.values())
                raise RuntimeError(f"{shown} of {count} messages shown; error box: "
                                   f"{window.error_box()}; {check_pages(pages, count)}") from None
        else:
            wait_for_characters(window, json.loads(args.expected), velantro)
            # The logs' text also holds each entry's time, which the lines
            # read leave out, so their length comes before the last
            # messages do: those are waited for by their lines.
            wait_until(lambda: check_pages(dict(window.pages()), count) is None, 60,
                       "every message on its page")
        took = time.monotonic() - start
        calls = collections.Counter()
        if monitor is not None:
            time.sleep(0.5)
            monitor.terminate()
            monitor.wait()
            with monitor_log:
                monitor_log.seek(0)
                for line in monitor_log:
                    fields = line.rstrip("\n").split("\t")
                    if fields[0] == "mc" and len(fields) >= 8:
                        calls[fields[7]] += 1
        if window.error_box():
            raise RuntimeError(f"Velantro showed an error: {window.error_box()}")
        # Into a file: the accessibility registry writes to the standard output.
        with open(os.path.join(folder, "result.json"), "w", encoding="utf-8") as result:
            json.dump({"seconds": took, "pages": dict(window.pages()), "calls": calls}, result)
        return 0
    finally:
        bench_session.stop(velantro)
        peer.stdin.close()
        bench_session.stop(peer)


# --- the whole benchmark ----------------------------------------------------------------


class Bench:
    def __init__(self, bin_dir, display, scratch):
        self.bin = bin_dir
        self.display = display
        self.scratch = scratch
        self.port = free_port()
        self.calls = {}

    def start_translator(self, log=None):
        args = [os.path.join(self.bin, "translator"), "--web", "--port", str(self.port)]
        process = subprocess.Popen(args + (["--log", log] if log else []),
                                   stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for_port(self.port)
        return process

    def replay(self, requests_file):
        """Seconds the translator took for the recorded requests, one after another."""
        out = subprocess.run([os.path.join(self.bin, "request_replay"), str(self.port),
                              requests_file], check=True, capture_output=True, text=True).stdout
        return float(re.search(r" in ([0-9.]+) s", out).group(1))

    def bus_alone(self, mode, calls):
        """Seconds for calls copy-data round trips between two processes on a
        private bus of their own, through the bus windows or bare libdbus."""
        out = subprocess.run(["dbus-run-session", "--", os.path.join(self.bin, "bus_round_trip"),
                              mode, str(calls)], check=True, capture_output=True,
                             text=True).stdout
        return float(re.search(r" in ([0-9.]+) s", out).group(1))

    def burst(self, count, expected=None):
        """One burst on a private bus of its own; returns (seconds until the
        last message was shown, {page: lines})."""
        for _ in range(3):
            folder = self.scratch.fresh("burst")
            command = ["dbus-run-session", "--", sys.executable, os.path.abspath(__file__),
                       self.bin, "--one-burst", "--display", self.display, "--port",
                       str(self.port), "--count", str(count), "--folder", folder]
            if expected is not None:
                command += ["--expected", json.dumps(expected)]
            done = subprocess.run(command, capture_output=True, text=True)
            problems = "\n".join(line for line in done.stderr.splitlines()
                                  if "dbus-daemon[" not in line and "SpiRegistry" not in line)
            if done.returncode == 0:
                with open(os.path.join(folder, "result.json"), encoding="utf-8") as file:
                    result = json.load(file)
                self.calls = result["calls"] or self.calls
                return result["seconds"], result["pages"]
            if done.returncode != NOT_ON_BUS:
                raise RuntimeError(f"a burst failed: {problems}")
            # Setting up, not measuring, went wrong: start again.
            print(f"message_burst: {problems.strip()}; starting again", file=sys.stderr)
        raise RuntimeError("Velantro never appeared on the accessibility bus")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bin", help="the folder holding velantro and the stand-ins")
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--runs", type=int, default=3)
    # One burst, run by the benchmark itself on a private bus.
    parser.add_argument("--one-burst", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--display", help=argparse.SUPPRESS)
    parser.add_argument("--port", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--folder", help=argparse.SUPPRESS)
    parser.add_argument("--expected", help=argparse.SUPPRESS)
    args = parser.parse_args()
    args.bin = os.path.abspath(args.bin)
    if args.one_burst:
        return one_burst(args)

    xvfb, display = bench_session.start_display()
    scratch = bench_session.Scratch()
    bench = Bench(args.bin, display, scratch)
    try:
        # The untimed first burst records Velantro's requests and what it shows.
        log = os.path.join(scratch.folder, "requests")
        translator = bench.start_translator(log)
        try:
            _, pages = bench.burst(args.count)
        finally:
            bench_session.stop(translator)
        problem = check_pages(pages, args.count)
        if problem:
            raise RuntimeError(f"the first burst: {problem}")
        with open(log, "rb") as recorded:
            requests = split_requests(recorded.read())
        if len(requests) != args.count:
            raise RuntimeError(f"{len(requests)} requests for {args.count} messages")
        expected = {page: len("\n".join(lines)) for page, lines in pages.items()}

        per_message = {step: [] for step in STEPS}
        for run in range(args.runs):
            translator = bench.start_translator()
            try:
                for step in (STEPS if run % 2 == 0 else reversed(STEPS)):
                    if step == "alone":
                        seconds = bench.replay(log)
                    elif step in ("windows", "bare"):
                        seconds = bench.bus_alone(step, ROUND_TRIPS * args.count)
                    else:
                        seconds, pages = bench.burst(args.count, expected)
                        problem = check_pages(pages, args.count)
                        if problem:
                            raise RuntimeError(f"burst {run + 1}: {problem}")
                    per_message[step].append(seconds / args.count * 1e3)
            finally:
                bench_session.stop(translator)
    finally:
        scratch.close()
        bench_session.stop(xvfb)

    burst, alone, windows, bare = (statistics.median(per_message[step]) for step in STEPS)
    verdict = "met" if burst / alone <= 8 else "NOT met"
    print(f"{args.count} incoming messages, each shown once: Velantro / the translator alone: "
          f"{burst / alone:.2f} (goal <= 8: {verdict}; {burst:.3f} vs {alone:.3f} ms per "
          f"message, {burst - alone:.3f} ms added; medians of {args.runs} alternating runs)")
    print(f"  the bus alone, {ROUND_TRIPS} copy-data round trips per message between two "
          f"processes that do nothing else, / the translator alone: bus windows (Qt D-Bus) "
          f"{windows / alone:.2f} ({windows:.3f} ms), bare libdbus {bare / alone:.2f} "
          f"({bare:.3f} ms); the translator plus the bus windows alone: "
          f"{(windows + alone) / alone:.2f}")
    calls = bench.calls
    print(f"  session bus round trips per message: {sum(calls.values()) / args.count:.2f} ("
          + ", ".join(f"{member} {number / args.count:.2f}"
                      for member, number in sorted(calls.items(), key=lambda c: -c[1]))
          + "; method calls seen by dbus-monitor during the first burst)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
