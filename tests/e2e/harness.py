"""Shared helpers for the end-to-end tests: packing program files and running them."""
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

DIST = Path(os.environ.get("VXO_DIST", "build/dist")).resolve()
PROBE_JAR = Path(os.environ.get("VXO_PROBE_JAR", "build/linux/tests/e2e/probe.jar")).resolve()
JAVA_HOME = Path(os.environ.get("VXO_JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
MARKER = b"VEXILO_ARCLEN\x00"


def java_version():
    out = subprocess.run([str(JAVA_HOME / "bin" / "java"), "-XshowSettings:properties", "-version"],
                         capture_output=True, text=True).stderr
    for line in out.splitlines():
        if line.strip().startswith("java.version ="):
            return line.split("=", 1)[1].strip()
    raise RuntimeError("no java.version")


class Workspace:
    """A scratch folder holding packed program files; removed when the test ends."""

    def __init__(self):
        self.root = Path(tempfile.mkdtemp(prefix="vxo-e2e-"))

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def pack(self, config, name="app", image="launcher-console", jars=(), folder=None, extra=()):
        """extra: more options for the packer (icons, splash pictures, version texts)."""
        folder = Path(folder) if folder else self.root
        folder.mkdir(parents=True, exist_ok=True)
        cfg = self.root / (name + ".source.cfg")
        cfg.write_bytes(config.encode("utf-8") if isinstance(config, str) else config)
        out = folder / name
        cmd = [str(DIST / "vexilo-pack"), "--image", str(DIST / image), "--config", str(cfg),
               "--out", str(out), *map(str, extra)]
        for jar in (list(jars) or [PROBE_JAR]):
            cmd += ["--jar", str(jar)]
        subprocess.run(cmd, check=True, capture_output=True)
        return out


# A failing launcher-gui on a display shows its message in a window and waits for an answer:
# the tests' programs see a display only where a test gives them one.
NO_DISPLAY = ("DISPLAY", "WAYLAND_DISPLAY")


def run(program, args=(), env_extra=None, env_remove=(), cwd=None, timeout=60, **options):
    """options go to subprocess.run as they are (user=, group=, extra_groups=, ...)."""
    env = {k: v for k, v in os.environ.items() if k not in NO_DISPLAY}
    for key in env_remove:
        env.pop(key, None)
    env.update(env_extra or {})
    return subprocess.run([str(program), *args], capture_output=True, env=env, cwd=cwd,
                          timeout=timeout, **options)


def start(program, args=(), env_extra=None):
    env = {k: v for k, v in os.environ.items() if k not in NO_DISPLAY}
    env.update(env_extra or {})
    return subprocess.Popen([str(program), *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=env)


def wait_for_line(process, text, timeout=30):
    """Reads the process's output until a line equals text; False on timeout or end."""
    deadline = time.monotonic() + timeout
    os.set_blocking(process.stdout.fileno(), False)
    buffer = b""
    while time.monotonic() < deadline:
        chunk = process.stdout.read()
        if chunk:
            buffer += chunk
            if text.encode() in buffer.splitlines():
                return True
        elif process.poll() is not None:
            return False
        time.sleep(0.05)
    return False


def start_xvfb(size="1024x768x24"):
    """Starts Xvfb on a free display; returns the process and the display name (":N")."""
    read_end, write_end = os.pipe()
    process = None
    try:
        # -displayfd: the server picks a free display and writes its number once it is ready.
        process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", size, "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        write_end = None
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                raise TimeoutError("Xvfb did not report a display")
            chunk = os.read(read_end, 16)
            if not chunk:
                raise RuntimeError("Xvfb ended before reporting a display")
            number += chunk
        return process, ":" + number.decode().strip()
    except BaseException:
        if process is not None:
            process.kill()
            process.wait(timeout=5)
        raise
    finally:
        os.close(read_end)
        if write_end is not None:
            os.close(write_end)


def screen_pixels(display, points):
    """The colours ("#RRGGBB") of the root window at the given points, from one screenshot."""
    shot = subprocess.run(["xwd", "-root", "-silent", "-display", display], capture_output=True,
                          timeout=30, check=True).stdout
    pattern = " ".join(f"%[hex:p{{{x},{y}}}]" for x, y in points)
    out = subprocess.run(["convert", "xwd:-", "-format", pattern, "info:"], input=shot,
                         capture_output=True, timeout=30, check=True).stdout.decode()
    return ["#" + value[:6].upper() for value in out.split()]


def slot_integer(program):
    data = Path(program).read_bytes()
    at = data.index(MARKER)
    return int.from_bytes(data[at - 8:at], "little")


def lines(completed):
    return completed.stdout.decode("utf-8", "replace").splitlines()
