#!/usr/bin/python3
"""How quickly the window answers a person while translations take their
time: a translation service that takes DELAY seconds per request and COUNT
incoming messages at once, against the same window at rest, in the same run.

The window is asked, every 50 ms, for the text of its message field and for
its pages through the accessibility tree, as a screen reader asks: the
questions are answered by the window's own thread, so the time they take is
how long a key typed or a word read would wait. At rest (the chat client
attached, nothing arriving) the answers take a few milliseconds; the figure
is the message field's worst answer while the messages are being translated
over its median answer at rest. Reading every page costs by the size of the
accessibility tree, which the burst grows by the pages it opens: those reads
are shown beside the figure.

The translation service is this script's own: a threaded HTTP server on
127.0.0.1 that waits DELAY seconds and answers every form post with its text
("l1=" ... "&"), one request at a time as a slow desktop service would.

usage: bench/window_responsiveness.py BIN_DIR [--count N] [--delay SECONDS]
       [--baseline-bin OTHER_BIN_DIR]
With --baseline-bin, the same run is made with the programs of that folder
too (an older build), and both figures are printed.
Needs Xvfb, dbus-run-session, at-spi2-core and python3-pyatspi (Debian's,
/usr/bin/python3).
"""

import argparse
import http.server
import os
import socketserver
import statistics
import subprocess
import sys
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import bench_session  # noqa: E402

FRIENDS = ("alice", "bob", "ivan")
ASK_EVERY = 0.05
GOAL = 3.0


class SlowService(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

    def __init__(self, delay):
        self.delay = delay
        self.one_at_a_time = threading.Lock()
        super().__init__(("127.0.0.1", 0), SlowHandler)


class SlowHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):  # noqa: N802 (the library's name)
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        fields = urllib.parse.parse_qs(body.decode("ascii", "replace"))
        with self.server.one_at_a_time:
            time.sleep(self.server.delay)
        reply = b"l1=" + urllib.parse.quote(fields.get("l1", [""])[0]).encode() + b"&"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def timed_reads(window, seconds, stop):
    """The times (ms) of reads of the message field and of reads of every
    page (stop(), which says whether all messages are shown), one of each
    every ASK_EVERY seconds, for seconds or until stop() gives true."""
    def timed(read, times):
        start = time.monotonic()
        try:
            value = read()
        except NotImplementedError:
            # A node replaced while it was read (a page added): asked again
            # next time; the wait still counts.
            value = None
        times.append((time.monotonic() - start) * 1e3)
        return value

    field, pages = [], []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        timed(window.message_text, field)
        if timed(stop, pages):
            break
        time.sleep(ASK_EVERY)
    return field, pages


def one_run(bin_dir, display, folder, port, count, delay):
    sys.path.insert(0, os.path.join(HERE, "..", "scripts"))
    import pyatspi
    from screen_reader import VelantroWindow, wait_until

    wait_until(lambda: pyatspi.Registry.getDesktop(0) is not None, 30,
               "the accessibility registry")
    env = bench_session.in_folder(dict(
        os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
        VELANTRO_WEB_ENDPOINT=f"http://127.0.0.1:{port}/vl.asp"), folder)
    peer = subprocess.Popen([os.path.join(bin_dir, "skype-peer"), "--quiet", "--user", "maria",
                             "--friends", ",".join(FRIENDS)], env=env, cwd=folder,
                            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    velantro = subprocess.Popen([os.path.join(bin_dir, "velantro")], env=env, cwd=folder,
                                stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        window = VelantroWindow(velantro.pid, display)
        wait_until(lambda: window.list_items("To") == list(FRIENDS), 30, "the contacts")
        def all_shown():
            return sum(len(page) for _, page in window.pages()) >= count

        # The same two reads at rest as while busy: the field, and the pages.
        at_rest = timed_reads(window, 3.0, lambda: all_shown() and False)
        lines = "".join(f"{FRIENDS[i % 3]}: message {i}\n" for i in range(count))
        peer.stdin.write(lines.encode())
        peer.stdin.flush()
        busy = timed_reads(window, count * delay + 30, all_shown)
        shown = sum(len(page) for _, page in window.pages())
        if shown < count:
            raise RuntimeError(f"{shown} of {count} messages shown")
        return at_rest, busy
    finally:
        bench_session.stop(velantro)
        bench_session.stop(peer)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bin")
    parser.add_argument("--count", type=int, default=20)
    parser.add_argument("--delay", type=float, default=1.0)
    parser.add_argument("--baseline-bin")
    args = parser.parse_args()
    bench_session.on_private_bus(os.path.abspath(__file__), sys.argv[1:])
    xvfb, display = bench_session.start_display()
    scratch = bench_session.Scratch()
    service = SlowService(args.delay)
    threading.Thread(target=service.serve_forever, daemon=True).start()
    builds = [("this build", os.path.abspath(args.bin))]
    if args.baseline_bin:
        builds.append(("the baseline build", os.path.abspath(args.baseline_bin)))
    try:
        for name, bin_dir in builds:
            at_rest, busy = one_run(bin_dir, display, scratch.fresh("run"),
                                    service.server_address[1], args.count, args.delay)
            # The figure: reads of the message field, the input a person
            # waits on. The pages' reads cost by how many nodes the tree
            # has, which grows with the pages the burst opens: they are
            # shown beside it, not in it.
            rest = statistics.median(at_rest[0])
            worst = max(busy[0])
            ratio = worst / rest
            verdict = "met" if ratio <= GOAL else "NOT met"
            print(f"{args.count} messages at once, the service taking {args.delay:g} s each, "
                  f"{name}: the message field's worst answer while they are translated / its "
                  f"median answer at rest: {ratio:.2f} (goal <= {GOAL:g}: {verdict}; "
                  f"{worst:.1f} vs {rest:.1f} ms; {len(busy[0])} reads busy, "
                  f"{len(at_rest[0])} at rest)")
            # The tail at rest is the machine's own noise; worst against worst
            # says how much of the tail the translations add.
            print(f"  worst answer while translated / worst answer at rest: "
                  f"{worst / max(at_rest[0]):.2f} ({worst:.1f} vs {max(at_rest[0]):.1f} ms); "
                  f"median while translated {statistics.median(busy[0]):.1f} ms")
            print(f"  reading every page: median {statistics.median(busy[1]):.1f} ms while "
                  f"translated (worst {max(busy[1]):.1f}), {statistics.median(at_rest[1]):.1f} ms "
                  f"at rest, before the pages opened")
    finally:
        service.shutdown()
        scratch.close()
        bench_session.stop(xvfb)
    return 0


if __name__ == "__main__":
    sys.exit(main())
