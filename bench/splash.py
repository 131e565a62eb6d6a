#!/usr/bin/env python3
"""Splash benchmark: time from process start to the splash's first frame on the screen.

On a private Xvfb, alternated: a program packed from the Linux launcher-gui with "splash" set,
against the runtime's own `java -splash:<image> -cp <jar> <main>`. The centre pixel of the
screen is polled through Xlib until it takes the image's colour. Prints medians and the ratio
launcher / java. With the Windows test image built (build/windows/tests/wine/tools), it also
times the native splash window under Wine (Wine's own start-up included).
Usage: splash.py DIST [RUNS]"""
import ctypes
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))
sys.path.insert(0, str(HERE.parent / "tests" / "pack"))
import pictures  # noqa: E402
from harness import start_xvfb  # noqa: E402

dist = Path(sys.argv[1]).resolve()
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
java_home = Path(os.environ.get("JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
COLOUR = (0x30, 0xC0, 0x50)
WINE_COLOUR = (0x20, 0xA0, 0xE0)  # the test image's bitmap 100 (tests/wine/resources)
FRAME_LIMIT = 30.0


class Screen:
    """One pixel of the root window, read with XGetSubImage into one reused image."""

    def __init__(self, display):
        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XGetImage.restype = ctypes.c_void_p
        x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x11.XGetSubImage.restype = ctypes.c_void_p
        x11.XGetSubImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                     ctypes.c_uint, ctypes.c_ulong, ctypes.c_int, ctypes.c_void_p, ctypes.c_int,
                                     ctypes.c_int]
        x11.XGetPixel.restype = ctypes.c_ulong
        x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        self.x11 = x11
        self.dpy = x11.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open " + display)
        self.root = x11.XDefaultRootWindow(self.dpy)
        self.image = x11.XGetImage(self.dpy, self.root, 512, 384, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap

    def centre(self):
        self.x11.XGetSubImage(self.dpy, self.root, 512, 384, 1, 1, 0xFFFFFFFF, 2, self.image, 0, 0)
        pixel = self.x11.XGetPixel(self.image, 0, 0)
        return (pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF

    def first_frame(self, cmd, colour, env):
        """Seconds from the start of cmd until the centre shows colour; None if it never does."""
        for _ in range(2000):  # the previous run's window must be gone
            if self.centre() != colour:
                break
            time.sleep(0.005)
        start = time.perf_counter()
        process = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        seen = None
        while time.perf_counter() - start < FRAME_LIMIT:
            if self.centre() == colour:
                seen = time.perf_counter() - start
                break
            if process.poll() is not None:
                break
            time.sleep(0.0005)
        try:
            process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        return seen



def build_programs(work):
    src = work / "src" / "bench"
    src.mkdir(parents=True)
    # main holds the process for a moment: a splash that closes with an instant exit could be
    # gone before the screen is read, on a busy machine.
    (src / "Hello.java").write_text("package bench; public class Hello {"
                                    " public static void main(String[] a) throws Exception { Thread.sleep(400); } }")
    subprocess.run(["javac", "-d", str(work / "classes"), str(src / "Hello.java")], check=True)
    subprocess.run(["jar", "--create", "--file", str(work / "hello.jar"), "-C", str(work / "classes"), "."],
                   check=True)
    (work / "splash.png").write_bytes(pictures.png(300, 200, COLOUR))
    (work / "packed.cfg").write_text(
        f"mainclass bench.Hello\njvmdll {java_home}/lib/server/libjvm.so\nsplash {work / 'splash.png'}\n")
    subprocess.run([str(dist / "vexilo-pack"), "--image", str(dist / "launcher-gui"), "--config",
                    str(work / "packed.cfg"), "--jar", str(work / "hello.jar"), "--out", str(work / "hello")],
                   check=True)
    return {
        "launcher": [str(work / "hello")],
        "java": [str(java_home / "bin" / "java"), f"-splash:{work / 'splash.png'}", "-cp",
                 str(work / "hello.jar"), "bench.Hello"],
    }


def linux_figures(screen, env, commands):
    times = {name: [] for name in commands}
    for name, cmd in commands.items():  # one warm-up each
        screen.first_frame(cmd, COLOUR, env)
    for _ in range(runs):
        for name, cmd in commands.items():
            seen = screen.first_frame(cmd, COLOUR, env)
            if seen is None:
                raise SystemExit(f"{name}: no splash within {FRAME_LIMIT} s")
            times[name].append(seen)
    med = {name: statistics.median(t) for name, t in times.items()}
    print(f"time from process start to the splash's first frame, {runs} alternated runs each (Xvfb)")
    for name, t in med.items():
        print(f"  {name:9s} median {t * 1000:8.1f} ms   min {min(times[name]) * 1000:8.1f} ms")
    print(f"  ratio launcher / java -splash: {med['launcher'] / med['java']:.3f}")


def wine_figures(screen, env, work):
    """The native window under Wine, with the fake runtime: Wine's start-up dominates."""
    repo = HERE.parent
    win = repo / "build" / "windows"
    image = win / "tests" / "wine" / "tools" / "launcher-gui-res.exe"
    if not image.exists():
        print("native splash under Wine: test image not built, skipped")
        return
    folder = work / "wine"
    (folder / "jre" / "bin" / "server").mkdir(parents=True)
    (folder / "jre" / "bin" / "server" / "jvm.dll").write_bytes((win / "fakejvm" / "full" / "jvm.dll").read_bytes())
    (work / "wine.cfg").write_text("mainclass demo.Main\n")
    program = folder / "app.exe"
    subprocess.run([str(dist / "vexilo-pack"), "--image", str(image), "--config", str(work / "wine.cfg"), "--jar",
                    str(work / "hello.jar"), "--out", str(program)], check=True)
    wine_env = dict(env, VXO_WINE_KEEP_DISPLAY="1", VXO_WINE_TIMEOUT="60")
    cmd = ["bash", str(repo / "tests" / "wine" / "run-wine.sh"), str(win), str(program)]
    times = [t for t in (screen.first_frame(cmd, WINE_COLOUR, wine_env) for _ in range(max(3, runs // 2)))
             if t is not None]
    if times:
        print(f"  native window under Wine: median {statistics.median(times) * 1000:8.1f} ms "
              f"over {len(times)} runs (Wine start-up included)")
    else:
        print("  native window under Wine: no frame seen")


def main():
    work = Path(tempfile.mkdtemp(prefix="vxo-splash-bench-"))
    xvfb, display = start_xvfb("1024x768x24")
    try:
        env = dict(os.environ, DISPLAY=display)
        screen = Screen(display)
        linux_figures(screen, env, build_programs(work))
        wine_figures(screen, env, work)
    finally:
        xvfb.terminate()
        xvfb.wait(timeout=10)
        subprocess.run(["rm", "-rf", str(work)])


if __name__ == "__main__":
    main()
