"""GUI runs under Wine from Python: the Wine server to ourselves on a private Xvfb, following the
locking rules of tests/wine/README.md, with the window helpers of tests/wine/xvfb.sh."""
import fcntl
import os
import signal
import subprocess
import time
from pathlib import Path

from harness import start_xvfb
from targets import REPO, WIN_BUILD

WINE_DIR = REPO / "tests" / "wine"
PREFIX = Path(os.environ.get("VXO_WINEPREFIX", REPO / "build" / "wineprefix"))


def wineserver(*args, timeout=60):
    """Runs wineserver of the project's prefix with args; False when it did not finish in time."""
    script = 'source "$0" "$1" && exec "$VXO_WINESERVER" "$@"'
    try:
        subprocess.run(["bash", "-c", script, str(WINE_DIR / "wine-env.sh"), str(PREFIX), *args],
                       capture_output=True, timeout=timeout)
        return True
    except subprocess.TimeoutExpired:
        return False


def session_members(session):
    """Ids of the processes in a session (timeout(1) gives its command a process group of its own,
    so the group of the process we started does not reach the Windows program)."""
    members = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            stat = (entry / "stat").read_text()
        except OSError:
            continue
        fields = stat[stat.rindex(")") + 2:].split()
        if int(fields[3]) == session:
            members.append(int(entry.name))
    return members


def end_group(process, timeout=30):
    """Ends a process started with start_new_session, with every process of its session."""
    for pid in session_members(process.pid):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    try:
        process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        pass
    for stream in (process.stdin, process.stdout, process.stderr):
        if stream:
            stream.close()


class GuiSession:
    """Exclusive use of the Wine server, on an Xvfb of our own, for the life of a with block.

    A GUI run holds $WINEPREFIX.run.lock exclusive (headless runs hold it shared) and waits for the
    previous server session to end: Wine's desktop follows the display of the first program of a
    session, so every program of ours is started with our display."""

    def __init__(self, lock_wait=900, size="1024x768x24"):
        self.lock_wait = lock_wait
        self.size = size
        self.lock = None
        self.xvfb = None
        self.display = None
        self.started = []

    def __enter__(self):
        try:
            self._lock()
            # A session left by a headless run would keep its desktop without a display.
            wineserver("-w")
            self._start_xvfb()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        for process in self.started:
            end_group(process)
        if self.xvfb is not None:
            # Let the session end while its display is still there, then drop the display.
            if not wineserver("-w"):
                wineserver("-k")
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait(timeout=5)
            self.xvfb = None
        if self.lock is not None:
            self.lock.close()  # closing drops the lock
            self.lock = None
        return False

    def _lock(self):
        self.lock = open(str(PREFIX) + ".run.lock", "a")
        deadline = time.monotonic() + self.lock_wait
        while True:
            try:
                fcntl.flock(self.lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise TimeoutError("the Wine run lock stayed taken") from None
                time.sleep(0.2)

    def _start_xvfb(self):
        self.xvfb, self.display = start_xvfb(self.size)

    def env(self, extra=None):
        """The environment of a program run in this session."""
        env = dict(os.environ)
        env.update(DISPLAY=self.display, VXO_WINE_KEEP_DISPLAY="1", VXO_WINE_LOCK_HELD="1",
                   VXO_WINEPREFIX=str(PREFIX))
        for key, value in (extra or {}).items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        return env

    def start(self, program, args=(), env=None, timeout=180, stdin=subprocess.DEVNULL, output=subprocess.PIPE):
        """Starts a Windows program in this session (through run-wine.sh, bounded by timeout)."""
        full = self.env(env)
        full["VXO_WINE_TIMEOUT"] = str(timeout)
        cmd = ["bash", str(WINE_DIR / "run-wine.sh"), str(WIN_BUILD), str(program), *args]
        process = subprocess.Popen(cmd, stdin=stdin, stdout=output, stderr=output, env=full,
                                   start_new_session=True)
        self.started.append(process)
        return process

    def run(self, program, args=(), env=None, timeout=120):
        process = self.start(program, args, env, timeout)
        out, err = process.communicate(timeout=timeout + 30)
        return subprocess.CompletedProcess(process.args, process.returncode, out, err)

    def _xvfb_sh(self, function, *args, timeout):
        """Calls a function of tests/wine/xvfb.sh on this session's display."""
        script = 'source "$0" && "$@"'
        return subprocess.run(["bash", "-c", script, str(WINE_DIR / "xvfb.sh"), function, *args],
                              capture_output=True, text=True, env=self.env(), timeout=timeout)

    def wait_window(self, title_regex, seconds=90):
        """The id of the first visible window whose title matches, or None after seconds."""
        out = self._xvfb_sh("vxo_wait_window", title_regex, str(seconds), timeout=seconds + 30)
        return out.stdout.strip() if out.returncode == 0 else None

    def window_name(self, window):
        out = subprocess.run(["xdotool", "getwindowname", window], capture_output=True, text=True,
                             env=self.env(), timeout=30)
        return out.stdout.rstrip("\n")

    def screenshot(self, path):
        Path(path).parent.mkdir(parents=True, exist_ok=True)
        return self._xvfb_sh("vxo_screenshot", str(path), timeout=60).returncode == 0

    def answer(self, window, key="Return", seconds=30):
        """Presses key in the window until it closes; False if it is still there after seconds."""
        return self._xvfb_sh("vxo_answer_window", window, key, str(seconds),
                             timeout=seconds + 30).returncode == 0
