"""What the whole-program benchmarks share: a private session bus, a virtual
display, throw-away folders, and figures printed as ratios."""

import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import private_bus  # noqa: E402
from virtual_display import start_display  # noqa: E402,F401  (the benchmarks' display)


def on_private_bus(script, argv):
    """Runs the benchmark script again on a private session bus of its own."""
    private_bus.on_private_bus(script, argv, "VELANTRO_BENCH_ON_BUS")


class Scratch:
    """A temporary folder removed at the end, with fresh sub-folders on demand."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="velantro-bench-")
        self.count = 0

    def fresh(self, name):
        self.count += 1
        path = os.path.join(self.folder, f"{name}-{self.count}")
        os.makedirs(path, mode=0o700)
        return path

    def close(self):
        shutil.rmtree(self.folder, ignore_errors=True)


def start_up_env(display):
    """The environment a start-up is timed in: the virtual display, X11, no
    accessibility bridge, no web endpoint of the user's."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "WAYLAND_DISPLAY",
                        "VELANTRO_WEB_ENDPOINT")}
    env.update(DISPLAY=display, QT_QPA_PLATFORM="xcb")
    return env


def in_folder(env, folder):
    """env with the program's settings, data, state and runtime in folder."""
    return dict(env, XDG_CONFIG_HOME=os.path.join(folder, "config"),
                XDG_DATA_HOME=os.path.join(folder, "data"),
                XDG_STATE_HOME=os.path.join(folder, "state"), XDG_RUNTIME_DIR=folder)


def stop(process, timeout=10):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def ratio_line(what, candidate, baseline, values, unit, runs, goal=None):
    """One figure: candidate's median / baseline's median, both shown."""
    c, b = statistics.median(values[candidate]), statistics.median(values[baseline])
    verdict = f"goal <= {goal:.2f}: {'met' if c / b <= goal else 'NOT met'}; " if goal else ""
    return (f"{what}: {candidate} / {baseline}: {c / b:.2f} "
            f"({verdict}{c:.4g} vs {b:.4g} {unit}, medians of {runs} alternating runs)")
