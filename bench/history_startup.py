#!/usr/bin/python3
"""Velantro's start-up with a long history: 100,000 stored entries across
50 partners (the pages come back, each with its latest entries), over the
same program starting with no history at all, in the same run.

Both start alternately, RUNS times each after one warm-up start of each, on
a virtual display (Xvfb) and a private session bus, with no chat client and
no translator. Start-up is the time from just before the program is started
to the X server mapping its window (the pages are restored before it is
shown). The history file is made once with velantro-history-fill and copied
into each run's own folder.

usage: bench/history_startup.py BIN_DIR [--runs N] [--entries N] [--partners N]
Needs Xvfb, dbus-run-session and python3-xlib (Debian's, /usr/bin/python3).
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_session  # noqa: E402
from startup_memory import MapWatch  # noqa: E402

GOAL = 1.5


def start_once(program, watch, env, folder):
    """Starts velantro with its data in folder; returns seconds to its window."""
    run_env = bench_session.in_folder(env, folder)
    watch.drain()
    with open(os.path.join(folder, "stderr"), "wb") as errors:
        start = time.monotonic()
        process = subprocess.Popen([program], env=run_env, cwd=folder, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=errors)
        try:
            shown = watch.wait_for_window_of(process)
        finally:
            bench_session.stop(process)
    return shown - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bin", help="the folder holding velantro and velantro-history-fill")
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--entries", type=int, default=100000)
    parser.add_argument("--partners", type=int, default=50)
    args = parser.parse_args()
    bench_session.on_private_bus(os.path.abspath(__file__), sys.argv[1:])

    bin_dir = os.path.abspath(args.bin)
    program = os.path.join(bin_dir, "velantro")
    xvfb, name = bench_session.start_display()
    scratch = bench_session.Scratch()
    env = bench_session.start_up_env(name)
    try:
        made = os.path.join(scratch.fresh("made"), "history.sqlite")
        subprocess.run([os.path.join(bin_dir, "velantro-history-fill"), made,
                        str(args.entries), str(args.partners)], check=True)
        watch = MapWatch(name)
        kinds = {f"{args.entries} entries": made, "no history": None}
        times = {kind: [] for kind in kinds}
        for run in range(args.runs + 1):
            order = list(kinds) if run % 2 == 0 else list(reversed(kinds))
            for kind in order:
                folder = scratch.fresh("run")
                if kinds[kind] is not None:
                    data = os.path.join(folder, "data", "velantro")
                    os.makedirs(data, mode=0o700)
                    shutil.copy(kinds[kind], os.path.join(data, "history.sqlite"))
                seconds = start_once(program, watch, env, folder)
                if run > 0:  # the first pair warms the caches and the bus
                    times[kind].append(seconds * 1000)
    finally:
        scratch.close()
        bench_session.stop(xvfb)
    print(bench_session.ratio_line("start-up to the window shown", f"{args.entries} entries",
                                   "no history", times, "ms", args.runs, GOAL))
    return 0


if __name__ == "__main__":
    sys.exit(main())
