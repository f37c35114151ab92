#!/usr/bin/python3
"""Velantro's start-up time and peak memory, each beside a minimal Qt 6
Widgets window (bench/minimal_window.cpp) measured in the same run.

Both programs start alternately, RUNS times each after one warm-up start of
each, on a virtual display (Xvfb) and a private session bus, with an empty
settings folder, no chat client and no translator. Start-up is the time from
just before the program is started to the X server mapping its top-level
window (seen from outside as a MapNotify on the root window, whose
_NET_WM_PID is the program's); peak memory is the process's VmHWM, read
SETTLE seconds after the window was shown and just before SIGTERM.

usage: bench/startup_memory.py BIN_DIR [--runs N] [--settle SECONDS]
Needs Xvfb, dbus-run-session and python3-xlib (Debian's, /usr/bin/python3).
"""

import argparse
import os
import select
import subprocess
import sys
import time

from Xlib import X, display as xdisplay, error as xerror

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_session  # noqa: E402


class MapWatch:
    """Top-level windows mapped on the display, told apart by their process."""

    def __init__(self, name):
        self.display = xdisplay.Display(name)
        self.root = self.display.screen().root
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.pid_atom = self.display.intern_atom("_NET_WM_PID")
        self.display.sync()

    def _pid_of(self, window):
        try:
            value = window.get_full_property(self.pid_atom, X.AnyPropertyType)
        except xerror.XError:  # gone again meanwhile
            return None
        return value.value[0] if value and len(value.value) else None

    def wait_for_window_of(self, process, timeout=30.0):
        """The moment (time.monotonic) a window of the process was mapped."""
        deadline = time.monotonic() + timeout
        while True:
            while self.display.pending_events():
                event = self.display.next_event()
                if event.type == X.MapNotify:
                    now = time.monotonic()
                    if self._pid_of(event.window) == process.pid:
                        return now
            left = deadline - time.monotonic()
            if left <= 0 or process.poll() is not None:
                raise RuntimeError(f"{process.args[0]} showed no window "
                                   f"(exit status {process.poll()})")
            select.select([self.display.fileno()], [], [], min(left, 0.5))

    def drain(self):
        self.display.sync()
        while self.display.pending_events():
            self.display.next_event()


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status", encoding="ascii") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise RuntimeError("no VmHWM")


def start_once(program, watch, env, scratch, settle):
    """Starts the program in a fresh folder; returns (seconds to its window, peak KiB)."""
    folder = scratch.fresh("run")
    run_env = bench_session.in_folder(env, folder)
    watch.drain()
    errors = open(os.path.join(folder, "stderr"), "wb")
    start = time.monotonic()
    process = subprocess.Popen([program], env=run_env, cwd=folder, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=errors)
    try:
        shown = watch.wait_for_window_of(process)
        time.sleep(settle)
        peak = peak_rss_kib(process.pid)
    finally:
        bench_session.stop(process)
        errors.close()
    return shown - start, peak


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bin", help="the folder holding velantro and minimal_window")
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--settle", type=float, default=1.0)
    args = parser.parse_args()
    bench_session.on_private_bus(os.path.abspath(__file__), sys.argv[1:])

    programs = {"velantro": os.path.join(os.path.abspath(args.bin), "velantro"),
                "minimal window": os.path.join(os.path.abspath(args.bin), "minimal_window")}
    xvfb, name = bench_session.start_display()
    scratch = bench_session.Scratch()
    env = bench_session.start_up_env(name)
    try:
        watch = MapWatch(name)
        times = {what: [] for what in programs}
        peaks = {what: [] for what in programs}
        for run in range(args.runs + 1):
            # Each pair in the other order than the one before.
            order = list(programs) if run % 2 == 0 else list(reversed(programs))
            for what in order:
                seconds, peak = start_once(programs[what], watch, env, scratch, args.settle)
                if run > 0:  # the first pair warms the caches and the bus
                    times[what].append(seconds * 1000)
                    peaks[what].append(peak / 1024)
    finally:
        scratch.close()
        bench_session.stop(xvfb)
    # Figures to watch, not goals: libcurl's TLS libraries, which take much
    # of both, are needed for https web endpoints.
    print(bench_session.ratio_line("start-up to the window shown", "velantro",
                                   "minimal window", times, "ms", args.runs))
    print(bench_session.ratio_line("peak memory (VmHWM)", "velantro", "minimal window",
                                   peaks, "MiB", args.runs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
