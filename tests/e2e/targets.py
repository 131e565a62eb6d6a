"""The two ways a packed program runs in the tests: natively on Linux, or under Wine."""
import os
import subprocess
from pathlib import Path

from harness import DIST

REPO = Path(__file__).resolve().parents[2]
LINUX_BUILD = Path(os.environ.get("VXO_LINUX_BUILD", REPO / "build" / "linux"))
WIN_BUILD = Path(os.environ.get("VXO_WIN_BUILD", REPO / "build" / "windows"))


class LinuxTarget:
    name = "linux"
    console = "launcher-console"
    gui = "launcher-gui"
    library = "libjvm.so"
    runtime_dir = "jre/lib/server"  # where the runtime-beside-the-program search looks
    exe = ""

    def fake(self, variant):
        return LINUX_BUILD / "fakejvm" / variant / self.library

    def path(self, p):
        return str(p)

    @staticmethod
    def environment(env):
        """The test's environment with env applied; a value of None removes the variable."""
        full = dict(os.environ)
        for key, value in (env or {}).items():
            if value is None:
                full.pop(key, None)
            else:
                full[key] = value
        return full

    def run(self, program, args=(), env=None, cwd=None, timeout=120):
        full = self.environment(env)
        return subprocess.run([str(program), *args], capture_output=True, env=full, cwd=cwd,
                              timeout=timeout)


class WineTarget(LinuxTarget):
    name = "windows"
    console = "launcher-console.exe"
    gui = "launcher-gui.exe"
    library = "jvm.dll"
    runtime_dir = "jre/bin/server"
    exe = ".exe"

    def fake(self, variant):
        return WIN_BUILD / "fakejvm" / variant / self.library

    def path(self, p):
        return "Z:" + str(Path(p).resolve()).replace("/", "\\")

    def run(self, program, args=(), env=None, cwd=None, timeout=300):
        full = self.environment(env)
        cmd = ["bash", str(REPO / "tests" / "wine" / "run-wine.sh"), str(WIN_BUILD), str(program), *args]
        return subprocess.run(cmd, capture_output=True, env=full, cwd=cwd, timeout=timeout)

    def reg(self, *args):
        env = dict(os.environ)
        script = f'source "{REPO}/tests/wine/wine-env.sh" "{REPO}/build/wineprefix" && "$VXO_WINE" reg "$@"'
        return subprocess.run(["bash", "-c", script, "reg", *args], capture_output=True, env=env, timeout=120)


def available_targets():
    targets = [LinuxTarget()]
    if (DIST / "launcher-console.exe").exists() and os.environ.get("VXO_SKIP_WINE") != "1":
        targets.append(WineTarget())
    return targets
