"""Packed program files started by the Linux images with the real Java runtime."""
import os
import pty
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path

from targets import REPO

sys.path.insert(0, str(REPO / "tests" / "pack"))
import pictures  # noqa: E402  (shared with the packer's tests)
from harness import (DIST, JAVA_HOME, Workspace, java_version, lines, run, screen_pixels, slot_integer, start,
                     start_xvfb,
                     wait_for_line)

LIBJVM = JAVA_HOME / "lib" / "server" / "libjvm.so"
# A second runtime of another release, where the machine has one (not from the distribution).
OTHER_LIBJVM = Path("/usr/lib/jvm/temurin-25-jdk-amd64/lib/server/libjvm.so")
RUNTIMES = [LIBJVM] + ([OTHER_LIBJVM] if OTHER_LIBJVM.exists() else [])
BASE = f"mainclass probe.Probe\njvmdll {LIBJVM}\n"
VERSION = java_version()


class LaunchTest(unittest.TestCase):
    def setUp(self):
        self.ws = Workspace()

    def tearDown(self):
        self.ws.close()

    def launch(self, config, args=(), **kw):
        program = self.ws.pack(config, image=kw.pop("image", "launcher-console"))
        return run(program, args, **kw), program

    def props(self, out):
        return {m.group(1): m.group(2) for m in
                (re.match(r"prop ([^=\s]+)=(.*)", line) for line in lines(out)) if m}

    def test_runs_main_with_launcher_properties(self):
        for image in ("launcher-console", "launcher-gui"):
            with self.subTest(image=image):
                out, program = self.launch(BASE, ["x", "y"], image=image)
                self.assertEqual(out.returncode, 0, out.stderr)
                p = self.props(out)
                self.assertEqual(p["vxo.app.path"], str(program))
                self.assertEqual(p["application.home"], str(program.parent) + "/")
                self.assertEqual(p["java.class.path"], str(program))
                self.assertEqual(p["vxo.class.path"], p["java.class.path"])
                self.assertIn("args=[<x>, <y>]", lines(out))

    def test_debug_line_shows_the_slot(self):
        out, program = self.launch(BASE, env_extra={"_VEXILO_BINARY_DEBUG_": ""})
        a = slot_integer(program)
        raw = a.to_bytes(8, "little") + b"VEXILO_ARCLEN\x00"
        expected = bytes(ord(".") if b < 0x20 else b for b in raw)
        self.assertEqual(out.stdout.split(b"\n")[0], expected)
        self.assertGreater(a, 0)

    def test_argument_arrays(self):
        cases = [
            ('argv "a b" c\n', ["x", "y"], "<a b>, <c>, <x>, <y>"),
            ('argv -v "two words"\nargv  last\n', ["z"], "<-v>, <two words>, <last>, <z>"),
            ("", ['quo"te', "back\\slash", "sp ace", ""], '<quo"te>, <back\\slash>, <sp ace>, <>'),
            ("", ["*.none"], "<*.none>"),
        ]
        for config, args, expected in cases:
            with self.subTest(config=config, args=args):
                out, _ = self.launch(BASE + config, args)
                self.assertIn(f"args=[{expected}]", lines(out))

    def test_wildcard_modes(self):
        folder = self.ws.root / "files"
        folder.mkdir()
        for name in ("a1.txt", "a2.txt", "b.log"):
            (folder / name).write_text("x")
        # The shell has expanded what the user left unquoted: a wildcard that still arrives was
        # quoted, so only "all" expands it, whether or not the argument holds a blank.
        cases = [("", "<*.txt>"), ("wildcard true\n", "<*.txt>"),
                 ("wildcard AUTO\n", "<*.txt>"), ("wildcard all\n", "<a1.txt>, <a2.txt>"),
                 ("wildcard yes\n", "<*.txt>")]
        for config, expected in cases:
            with self.subTest(config=config):
                out, _ = self.launch(BASE + config, ["*.txt"], cwd=folder)
                got = next(l for l in lines(out) if l.startswith("args="))
                self.assertEqual(sorted(got[6:-1].split(", ")), sorted(expected.split(", ")))
        out, _ = self.launch(BASE + "wildcard true\n", ["*.none", "sp ace"], cwd=folder)
        self.assertIn("args=[<*.none>, <sp ace>]", lines(out))
        (folder / "x y1").write_text("x")
        out, _ = self.launch(BASE + "wildcard all\n", ["x y*", "a1*"], cwd=folder)
        self.assertIn("args=[<x y1>, <a1.txt>]", lines(out))

    def test_jvm_options_in_order(self):
        out, program = self.launch(BASE + "option -Xmx64m\noption -Dprobe.a=1\n")
        opts = [l[7:] for l in lines(out) if l.startswith("jvmopt ")]
        cp = f"{program}"
        # The runtime consumes -Djava.class.path itself and does not list it among its inputs.
        self.assertEqual(opts[:5], ["-Xmx64m", "-Dprobe.a=1", f"-Dvxo.class.path={cp}",
                                    f"-Dvxo.app.path={program}", f"-Dapplication.home={program.parent}/"])
        self.assertEqual(self.props(out)["java.class.path"], cp)
        elevated = os.geteuid() == 0
        self.assertEqual("-Dvxo.is.elevated=true" in opts, elevated)

    def test_properties(self):
        out, _ = self.launch(BASE + "property probe.a=b=c\nproperty probe.flag\nproperty probe.utf8=\u00e9\u20ac\n"
                             "property =ignored\n")
        self.assertEqual(out.returncode, 0, out.stderr)
        p = self.props(out)
        self.assertEqual(p["probe.a"], "b=c")
        self.assertEqual(p["probe.flag"], "")
        self.assertEqual(p["probe.utf8"], "\u00e9\u20ac")

    def test_exports_and_inherited_tool_options(self):
        inherited = {"JAVA_TOOL_OPTIONS": "-Dinherited=1"}
        out, _ = self.launch(BASE + "export PROBE_EXPORT=yes\nexport FOO\n", env_extra=inherited)
        self.assertIn("env JAVA_TOOL_OPTIONS=null", lines(out))
        self.assertIn("env PROBE_EXPORT=yes", lines(out))
        out, _ = self.launch(BASE + "export JAVA_TOOL_OPTIONS=-Dprobe.a=tool\n", env_extra=inherited)
        self.assertIn("prop probe.a=tool", lines(out))
        # POSIX names keep their case: another name does not let the inherited value through.
        out, _ = self.launch(BASE + "export java_tool_options=-Dprobe.a=lower\n", env_extra=inherited)
        self.assertIn("env JAVA_TOOL_OPTIONS=null", lines(out))

    def test_version_bounds(self):
        major = VERSION.split(".")[0]
        cases = [
            (f"minjre {major}\n", 0, ""),
            ("minjre 1.8\n", 0, ""),
            ("minjre latest\n", 0, ""),
            ("minjre 99\n", 6, f"Java virtual machine version {VERSION} is too low, require 99 or higher."),
            ("maxjre 1.8\n", 12,
             f"Java virtual machine version {VERSION} is too high, version between  and 1.8 is required."),
            ("minjre 9\nmaxjre 11\n", 12,
             f"Java virtual machine version {VERSION} is too high, version between 9 and 11 is required."),
            (f"maxjre {major}.99\n", 0, ""),
            ("minjre 99\nmessage 6=Version %s too old, need %s %d\n", 6, f"Version {VERSION} too old, need 99 %d"),
        ]
        for config, code, message in cases:
            with self.subTest(config=config):
                out, _ = self.launch(BASE + config)
                self.assertEqual(out.returncode, code, out.stderr)
                if message:
                    self.assertEqual(out.stderr.decode().strip(), message)

    def test_failure_results(self):
        text = self.ws.root / "notalib.so"
        text.write_text("not a library")
        cases = [
            ("mainclass probe.Probe\njre_order c\njvmdll /nonexistent/libjvm.so\n", 1,
             "Java Runtime Environment not found."),
            (f"mainclass probe.Probe\njvmdll {text}\n", 2, "Java Runtime Environment not valid."),
            (f"mainclass probe.Missing\njvmdll {LIBJVM}\n", 7, "The main startup class could not be found."),
            # The packer refuses a text without "mainclass"; the line is commented out afterwards.
            (f"mainclass probe.Probe\njvmdll {LIBJVM}\n#", 7, "The main startup class could not be found."),
            (f"mainclass probe.NoMain\njvmdll {LIBJVM}\n", 8,
             "The main startup class is not valid, main method missing."),
            (f"mainclass probe.Missing\njvmdll {LIBJVM}\nmessage 7=Class missing:\\tcheck\\nthe installation\n", 7,
             "Class missing:\tcheck\nthe installation"),
        ]
        for config, code, message in cases:
            with self.subTest(config=config):
                if config.endswith("#"):
                    program = self.ws.pack(config[:-1])
                    program.write_bytes(program.read_bytes().replace(b"\xef\xbb\xbfmainclass", b"\xef\xbb\xbf#ainclass", 1))
                    out = run(program, env_remove=("JAVA_HOME", "JRE_HOME"))
                else:
                    out, _ = self.launch(config, env_remove=("JAVA_HOME", "JRE_HOME"))
                self.assertEqual(out.returncode, code)
                self.assertTrue(out.stderr.decode().rstrip().endswith(message), out.stderr)

    def test_application_ends_the_process(self):
        out, _ = self.launch(BASE, ["exit=3"])
        self.assertEqual(out.returncode, 3)
        out, _ = self.launch(BASE, ["throw"])
        self.assertEqual(out.returncode, 1)  # as the java launcher ends an uncaught exception
        self.assertIn(b"probe failure", out.stderr)
        out, _ = self.launch(BASE, ["thread"])
        self.assertEqual(out.returncode, 0)
        self.assertEqual(lines(out)[-2:], ["main returns", "thread done"])

    def test_signals_reach_system_exit(self):
        program = self.ws.pack(BASE)
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig):
                process = start(program, ["wait"])
                self.assertTrue(wait_for_line(process, "ready"))
                process.send_signal(sig)
                self.assertEqual(process.wait(timeout=30), 0)
                self.assertIn(b"shutdown hook", process.stdout.read() or b"")

    def test_tray_natives_from_many_threads(self):
        # Four threads create, show, change, hide and free icons and menus by hand and through
        # the finaliser while another runs System.gc(); the records are read where the shell
        # reads them. Then main returns and the launcher removes what is left.
        for image in ("launcher-console", "launcher-gui"):
            with self.subTest(image=image):
                out, _ = self.launch(BASE, ["tray-stress"], image=image, timeout=300)
                self.assertEqual(out.returncode, 0, out.stderr[-2000:])
                self.assertIn("tray icons=1600 unique=true records=ok", lines(out))
                self.assertEqual(lines(out)[-1], "main returns")

    def test_interrupt_while_tray_natives_run(self):
        # The interrupt handler's clean-up races the threads that still call the natives.
        program = self.ws.pack(BASE)
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig):
                process = start(program, ["tray-loop", "wait"])
                self.assertTrue(wait_for_line(process, "ready"))  # once the icons are flowing
                process.send_signal(sig)
                process.communicate(timeout=30)
                self.assertEqual(process.returncode, 0)

    def test_start_on_first_thread(self):
        # The launch runs on the entry thread; the runtime ignores the option it does not know.
        out, _ = self.launch(BASE + "option -XstartOnFirstThread\n", ["thread"])
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(lines(out)[-2:], ["main returns", "thread done"])

    def test_companion_natives_bind(self):
        # Bound when a class is first used, wherever that happens; on every runtime at hand.
        cases = [("main thread", "native", "current instance="),
                 ("thread with a foreign context loader", "native-thread", "thread instance="),
                 ("classes of a loader of the application's own", "native-loader", "loader instance=")]
        for runtime in RUNTIMES:
            config = f"mainclass probe.Probe\njvmdll {runtime}\nsingleinstance custom\n"
            program = self.ws.pack(config, name=runtime.parts[-4])
            for case, command, prefix in cases:
                with self.subTest(runtime=runtime.parts[-4], case=case):
                    out = run(program, [command])
                    self.assertEqual(out.returncode, 0, out.stderr[-2000:])
                    self.assertNotIn(b"UnsatisfiedLinkError", out.stderr)
                    found = [l[len(prefix):] for l in lines(out) if l.startswith(prefix)]
                    self.assertEqual(len(found), 1, lines(out))
                    self.assertGreater(int(found[0]), 0)  # the process's own id, as messaging runs
                    if command == "native-loader":
                        self.assertIn("loader own class=true", lines(out))

    def test_start_up_trace(self):
        # Only when asked for: one line per step on standard error, in start-up order.
        steps = ["configuration read", "instance block open", "splash started", "launch begins", "runtime found",
                 "virtual machine created", "main called", "main returned", "launch ended"]
        program = self.ws.pack(BASE)
        for env, expected in (({}, []), ({"VXO_STARTUP_TRACE": "1"}, steps)):
            with self.subTest(env=env):
                out = run(program, env_extra=env)
                self.assertEqual(out.returncode, 0, out.stderr)
                marks = [l.split(" ", 2) for l in out.stderr.decode().splitlines() if l.startswith("vxo-trace ")]
                self.assertEqual([m[2] for m in marks], expected)
                times = [int(m[1]) for m in marks]
                self.assertEqual(times, sorted(times))

    def test_ten_thousand_arguments(self):
        args = [f"a{i}" for i in range(10000)]
        out, _ = self.launch(BASE, args)
        self.assertEqual(out.returncode, 0, out.stderr[-500:])
        self.assertIn("argc=10000", lines(out))



class RuntimeSplashTest(unittest.TestCase):
    """The runtime's splash library, started by the launcher before the virtual machine, on Xvfb."""
    COLOUR = (0x30, 0xC0, 0x50)
    SIZE = "1024x768x24"

    def setUp(self):
        self.ws = Workspace()
        self.addCleanup(self.ws.close)
        self.xvfb, self.display = start_xvfb(self.SIZE)
        self.addCleanup(self.xvfb.wait, 10)
        self.addCleanup(self.xvfb.terminate)
        (self.ws.root / "splash.png").write_bytes(pictures.png(200, 120, self.COLOUR))

    def env(self):
        return {"DISPLAY": self.display}

    def test_splash_before_main_closed_through_the_companion_class(self):
        for image in ("launcher-gui", "launcher-console"):
            with self.subTest(image=image):
                program = self.ws.pack(BASE + "splash splash.png\n", image=image)
                env = dict(os.environ, DISPLAY=self.display)
                process = subprocess.Popen([str(program), "splash-hold", "splash-check"], stdin=subprocess.PIPE,
                                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
                try:
                    self.assertTrue(wait_for_line(process, "ready", timeout=60))
                    # Centred on the screen; the corners just outside the image are not it.
                    colour = "#%02X%02X%02X" % self.COLOUR
                    points = [(512, 384), (413, 325), (610, 442), (411, 323), (613, 445)]
                    deadline = time.monotonic() + 20
                    seen = screen_pixels(self.display, points)
                    while seen[:3] != [colour] * 3 and time.monotonic() < deadline:
                        seen = screen_pixels(self.display, points)
                    self.assertEqual(seen[:3], [colour] * 3)
                    self.assertNotEqual(seen[3], colour)
                    self.assertNotEqual(seen[4], colour)
                    out, err = process.communicate(b"go\n", timeout=60)
                finally:
                    if process.poll() is None:
                        process.kill()
                        process.communicate()
                self.assertEqual(process.returncode, 0, err[-2000:])
                text = out.decode().splitlines()
                self.assertIn("awt splash=true", text)
                self.assertIn("vxo splash=true" if image == "launcher-gui" else "vxo splash=absent", text)
                self.assertIn("awt splash after close=false", text)

    def test_close_on_window_listener(self):
        # "splashcloseonwindow" (in any case) registers the listener in launcher-gui, and only
        # while a splash shows: without one the toolkit is not even loaded.
        splash = "splash splash.png\n"
        cases = [("launcher-gui", splash + "splashcloseonwindow TRUE\n", "true"),
                 ("launcher-gui", "splashcloseonwindow true\n", "false"),
                 ("launcher-gui", splash + "splashcloseonwindow yes\n", "false"),
                 ("launcher-console", splash + "splashcloseonwindow true\n", "false")]
        for image, config, registered in cases:
            with self.subTest(image=image, config=config):
                program = self.ws.pack(BASE + config, image=image)
                out = run(program, ["splash-listener"], env_extra=self.env(), timeout=120)
                self.assertEqual(out.returncode, 0, out.stderr[-2000:])
                self.assertIn(f"splash listener={registered}", lines(out))
                classes = self.ws.root / "classes.log"
                classes.unlink(missing_ok=True)
                program = self.ws.pack(BASE + config + f"option -Xlog:class+load:file={classes}\n", image=image)
                out = run(program, env_extra=self.env(), timeout=120)
                self.assertEqual(out.returncode, 0, out.stderr[-2000:])
                loaded = re.search(r"\bjava\.awt\.Toolkit\b", classes.read_text()) is not None
                self.assertEqual(loaded, registered == "true")

    def test_picture_too_large_to_decode_is_skipped(self):
        # 20000 x 20000 pixels in 1.2 MB: decoded, 1.6 GB and more than a minute. The header
        # says so; the launch goes on at once without a splash, after one line on stderr.
        (self.ws.root / "huge.png").write_bytes(pictures.png(20000, 20000, self.COLOUR))
        for image in ("launcher-gui", "launcher-console"):
            with self.subTest(image=image):
                program = self.ws.pack(BASE + "splash huge.png\n", image=image)
                out = run(program, ["splash-check"], env_extra=self.env(), timeout=60)
                self.assertEqual(out.returncode, 0, out.stderr[-2000:])
                self.assertEqual(out.stderr.decode().splitlines(),
                                 [f"Splash image {self.ws.root}/huge.png is 20000 x 20000 pixels, "
                                  "more than 8192 x 8192: it is not shown."])
                self.assertIn("awt splash=false", lines(out))

    def test_no_splash_without_an_image(self):
        cases = [("no splash line", ""), ("missing file", "splash missing.png\n")]
        for case, config in cases:
            with self.subTest(case):
                program = self.ws.pack(BASE + config, image="launcher-gui")
                out = run(program, ["libraries", "splash-check"], env_extra=self.env())
                self.assertEqual(out.returncode, 0, out.stderr[-2000:])
                # Nothing to show: the runtime's splash library never entered the process.
                self.assertIn("splash library mapped=false", lines(out))
                self.assertEqual(lines(out)[-4:-1], ["awt splash=false", "vxo splash=false",
                                                     "awt splash after close=false"])


class MessageWindowTest(unittest.TestCase):
    """launcher-gui started away from a terminal shows its failures in a window on the display:
    a dialog program found on PATH, else a window of its own; standard error gets the text too."""
    NO_RUNTIME = "mainclass probe.Probe\njre_order c\njvmdll /nonexistent/libjvm.so\n"
    TEXT = "Java Runtime Environment not found."

    def setUp(self):
        self.ws = Workspace()
        self.addCleanup(self.ws.close)
        self.xvfb, self.display = start_xvfb()
        self.addCleanup(self.xvfb.wait, 10)
        self.addCleanup(self.xvfb.terminate)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=10,
                              env=dict(os.environ, DISPLAY=self.display))

    def window(self, seconds):
        """The id of the visible window titled "Error", or None after seconds."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            found = self.xdotool("search", "--onlyvisible", "--name", "^Error$").stdout.split()
            if found:
                return found[0]
            time.sleep(0.1)
        return None

    def bin_with(self, *programs):
        folder = self.ws.root / ("bin-" + "-".join(programs))
        folder.mkdir()
        for name in programs:
            (folder / name).symlink_to(shutil.which(name))
        return str(folder)

    def test_failure_shown_in_a_window(self):
        cases = [("zenity", self.bin_with("zenity")), ("xmessage", self.bin_with("xmessage")),
                 ("own window", self.bin_with())]
        for name, path in cases:
            with self.subTest(name):
                program = self.ws.pack(self.NO_RUNTIME, image="launcher-gui")
                env = dict(os.environ, DISPLAY=self.display, PATH=path)
                process = subprocess.Popen([str(program)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
                try:
                    window = self.window(60)
                    self.assertIsNotNone(window, "no window")
                    self.assertIsNone(process.poll(), "the launcher did not wait for the window")
                    deadline = time.monotonic() + 30
                    while process.poll() is None and time.monotonic() < deadline:
                        self.xdotool("windowfocus", "--sync", window)
                        self.xdotool("key", "--clearmodifiers", "Return")
                        time.sleep(0.5)
                    out, err = process.communicate(timeout=10)
                finally:
                    if process.poll() is None:
                        process.kill()
                        process.communicate()
                self.assertEqual(process.returncode, 1)
                self.assertEqual(err.decode().splitlines(), [self.TEXT])

    def test_no_window_where_someone_reads_the_text(self):
        # The console image, a terminal on stderr, no display: the launcher ends at once.
        primary, replica = pty.openpty()
        self.addCleanup(os.close, primary)
        cases = [("console image", "launcher-console", {"DISPLAY": self.display}, None),
                 ("stderr a terminal", "launcher-gui", {"DISPLAY": self.display}, replica),
                 ("no display", "launcher-gui", {"DISPLAY": "", "WAYLAND_DISPLAY": ""}, None)]
        for name, image, env, stderr in cases:
            with self.subTest(name):
                program = self.ws.pack(self.NO_RUNTIME, image=image)
                out = subprocess.run([str(program)], stdout=subprocess.PIPE,
                                     stderr=stderr if stderr is not None else subprocess.PIPE,
                                     env=dict(os.environ, **env), timeout=60)
                self.assertEqual(out.returncode, 1)
                self.assertIsNone(self.window(0.5))
                if stderr is None:
                    self.assertEqual(out.stderr.decode().splitlines(), [self.TEXT])
                else:
                    self.assertIn(self.TEXT.encode(), os.read(primary, 4096))
        os.close(replica)


class DamagedProgramTest(unittest.TestCase):
    """Damaged payloads end in an ordinary message and exit code, never a crash."""

    MESSAGES = {1: "Java Runtime Environment not found.", 7: "The main startup class could not be found."}

    def setUp(self):
        self.ws = Workspace()

    def tearDown(self):
        self.ws.close()

    def test_damaged_payloads(self):
        good = self.ws.pack(BASE, name="good").read_bytes()
        at = good.index(b"VEXILO_ARCLEN\x00")
        archive = int.from_bytes(good[at - 8:at], "little")
        text_end = len(good) - archive - 20  # where the length field starts
        image = Path(os.environ.get("VXO_DIST", "build/dist")) / "launcher-console"
        cases = {
            "image alone": image.read_bytes(),
            "archive cut off": good[:len(good) - archive // 2],
            "length field huge": good[:text_end] + (0x7FFFFFF0).to_bytes(4, "little") + good[text_end + 4:],
            "length field negative": good[:text_end] + (0x80000000).to_bytes(4, "little") + good[text_end + 4:],
            "slot larger than the file": good[:at - 8] + (10 ** 12).to_bytes(8, "little") + good[at:],
            "text without its mark": good.replace(b"\xef\xbb\xbfmainclass", b"XXXmainclass", 1),
        }
        for name, data in cases.items():
            with self.subTest(name):
                program = self.ws.root / name.replace(" ", "-")
                program.write_bytes(data)
                program.chmod(0o755)
                out = run(program, env_remove=("JAVA_HOME", "JRE_HOME"))
                self.assertIn(out.returncode, self.MESSAGES, out.stderr)
                # A missing class is also described by the runtime before the message.
                self.assertTrue(out.stderr.decode().strip().endswith(self.MESSAGES[out.returncode]), out.stderr)

    def test_library_folder_that_is_a_file(self):
        (self.ws.root / "notafolder").write_text("x")
        out = run(self.ws.pack(BASE + f"libs {self.ws.root}/notafolder\nclasspath {self.ws.root}/nodir/*\n"))
        self.assertEqual(out.returncode, 0, out.stderr)


class RuntimeSourceTest(unittest.TestCase):
    def setUp(self):
        self.ws = Workspace()

    def tearDown(self):
        self.ws.close()

    def version_ok(self, config, env=None, folder=None, remove=("JAVA_HOME", "JRE_HOME")):
        program = self.ws.pack("mainclass probe.Probe\n" + config, folder=folder)
        return run(program, env_extra=env, env_remove=remove)

    def test_sources(self):
        beside = self.ws.root / "withjre"
        beside.mkdir()
        (beside / "jre").symlink_to(JAVA_HOME)
        empty = self.ws.root / "empty"
        empty.mkdir()
        cases = [
            ("beside the program", "", None, beside, 0),
            ("nothing anywhere", "jre_order cbie\n", None, None, 1),
            ("the system's java through PATH", "", None, None, 0),
            ("JAVA_HOME", "", {"JAVA_HOME": str(JAVA_HOME)}, None, 0),
            ("JRE_HOME without runtime, JAVA_HOME", "jre_order e\n",
             {"JRE_HOME": str(empty), "JAVA_HOME": str(JAVA_HOME)}, None, 0),
            ("order without e", "jre_order cbi\n", {"JAVA_HOME": str(JAVA_HOME)}, None, 1),
            ("jre keyword", f"jre {JAVA_HOME}\njre_order b\n", None, None, 0),
            ("vm keyword", f"jre {JAVA_HOME}\nvm server\n", None, None, 0),
            ("relative jvmdll", "jvmdll jre/lib/server/libjvm.so\njre_order c\n", None, beside, 0),
        ]
        for name, config, env, folder, code in cases:
            with self.subTest(name):
                out = self.version_ok(config, env, folder)
                self.assertEqual(out.returncode, code, out.stderr)


def runtime_copy(folder, version):
    """The system's runtime through links, with a release file that names `version`."""
    folder.mkdir(parents=True)
    for entry in JAVA_HOME.iterdir():
        if entry.name != "release":
            (folder / entry.name).symlink_to(entry)
    (folder / "release").write_text(f'IMPLEMENTOR="test"\nJAVA_VERSION="{version}"\n')
    return folder


def trace_lines(out):
    return [l for l in out.stderr.decode("utf-8", "replace").splitlines() if l.startswith("vexilo: ")]


def chosen(out):
    """The runtime library the VEXILO_DEBUG trace says was used."""
    used = [l[len("vexilo: using "):] for l in trace_lines(out) if l.startswith("vexilo: using ")]
    return os.path.normpath(used[-1]) if used else None


class RuntimeChoiceTest(unittest.TestCase):
    """Which runtime the search takes when several are installed, and what it says about them."""

    def setUp(self):
        self.ws = Workspace()

    def tearDown(self):
        self.ws.close()

    def test_version_range_picks_among_runtimes(self):
        # Beside the program: a copy of the system's runtime that says it is 25. It is really the
        # system's, so the check after creation still refuses it where the range excludes that.
        folder = self.ws.root / "app"
        copy = runtime_copy(folder / "jre", "25.0.1")
        copy_lib, real_lib = f"{copy}/lib/server/libjvm.so", str(LIBJVM)
        major = VERSION.split(".")[0]
        cases = [
            ("no range, beside first", "jre_order be\n", copy_lib, 0),
            ("no range, environment first", "jre_order eb\n", real_lib, 0),
            ("minjre passes the older over", "jre_order eb\nminjre 21\n", copy_lib, 6),
            ("maxjre passes the newer over", f"jre_order be\nmaxjre {major}.99\n", real_lib, 0),
            ("none fits: the first found", "jre_order be\nminjre 99\n", copy_lib, 6),
        ]
        for name, config, library, code in cases:
            with self.subTest(name):
                program = self.ws.pack("mainclass probe.Probe\n" + config, folder=folder)
                out = run(program, env_extra={"JAVA_HOME": str(JAVA_HOME), "VEXILO_DEBUG": "1"},
                          env_remove=("JRE_HOME",))
                self.assertEqual(out.returncode, code, out.stderr)
                self.assertEqual(chosen(out), library, out.stderr)

    def test_installed_runtimes_in_usr_lib_jvm(self):
        # The machine's own folder of runtimes: the PATH's java is the system's; a newer one
        # installed beside it must be found when "minjre" asks for it.
        newer = []
        for home in sorted(Path("/usr/lib/jvm").iterdir()):
            release = home / "release"
            m = re.search(r'JAVA_VERSION="(\d+)', release.read_text()) if release.is_file() else None
            if m and int(m.group(1)) > int(VERSION.split(".")[0]) and (home / "lib/server/libjvm.so").exists():
                newer.append((int(m.group(1)), home))
        if not newer:
            self.skipTest("no runtime newer than the system's in /usr/lib/jvm")
        need = max(newer)[0]
        program = self.ws.pack(f"mainclass probe.Probe\nminjre {need}\n")
        out = run(program, env_extra={"VEXILO_DEBUG": "1", "PATH": f"{JAVA_HOME}/bin:/usr/bin:/bin"},
                  env_remove=("JAVA_HOME", "JRE_HOME"))
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertTrue(chosen(out).startswith("/usr/lib/jvm/"), out.stderr)
        trace = trace_lines(out)
        self.assertTrue(any(l.startswith(f"vexilo: the runtime reports java.version {need}") for l in trace), trace)
        # Each candidate once, in order: the PATH's runtime before the folder's, and no runtime
        # listed twice under a link's name.
        passed = [l for l in trace if "outside the range" in l]
        self.assertTrue(passed and str(JAVA_HOME) in passed[0], trace)
        libraries = [l.split(": ")[2].split(" (")[0] for l in trace if l.startswith("vexilo:   /usr/lib/jvm/")
                     and ": /" in l]
        real = [os.path.realpath(p) for p in libraries]
        self.assertEqual(len(real), len(set(real)), trace)

    def test_no_trace_without_the_variable(self):
        program = self.ws.pack(BASE)
        for env in ({}, {"VEXILO_DEBUG": "0"}, {"VEXILO_DEBUG": ""}):
            with self.subTest(env=env):
                out = run(program, env_extra=env, env_remove=("VEXILO_DEBUG",))
                self.assertEqual(out.returncode, 0)
                self.assertNotIn(b"vexilo:", out.stderr)

    def test_trace_names_each_candidate_and_why(self):
        empty = self.ws.root / "empty"
        empty.mkdir()
        program = self.ws.pack("mainclass probe.Probe\njre_order cbe\njvmdll missing/libjvm.so\n")
        out = run(program, env_extra={"VEXILO_DEBUG": "1", "JRE_HOME": str(empty), "JAVA_HOME": str(JAVA_HOME)})
        self.assertEqual(out.returncode, 0, out.stderr)
        trace = trace_lines(out)
        self.assertEqual(trace[0], 'vexilo: runtime search, order "cbe", minjre "", maxjre ""')
        self.assertRegex(trace[1], r"^vexilo:   jvmdll missing/libjvm.so: no such file$")
        self.assertRegex(trace[2], r"^vexilo:   jre .*/jre/?: no runtime library there$")
        self.assertEqual(trace[3], f"vexilo:   JRE_HOME {empty}: no runtime library there")
        self.assertTrue(trace[4].startswith(f"vexilo:   JAVA_HOME {JAVA_HOME}: {LIBJVM} (version "), trace)
        self.assertEqual(trace[5], f"vexilo: using {LIBJVM}")

    def test_failure_help(self):
        url = "https://example.org/get-java"
        none = "mainclass probe.Probe\njre_order c\njvmdll /nonexistent/libjvm.so\n"
        cases = [
            ("range and address", none + f"minjre 21\njreurl {url}\n", "launcher-console", 1,
             ["Java Runtime Environment not found.", "This program needs Java 21 or later.", f"Get Java at {url}"]),
            ("windowed image: the same text in its box", none + f"minjre 17\nmaxjre 21\njreurl {url}\n",
             "launcher-gui", 1,
             ["Java Runtime Environment not found.", "", "This program needs Java 17 to 21.", f"Get Java at {url}"]),
            ("no help configured", none, "launcher-console", 1, ["Java Runtime Environment not found."]),
            ("too low: the range is in the message", BASE + f"minjre 99\njreurl {url}\n", "launcher-console", 6,
             [f"Java virtual machine version {VERSION} is too low, require 99 or higher.", f"Get Java at {url}"]),
            ("translated", none + "maxjre 11\nmessage 21=Bitte Java %s oder älter.\n", "launcher-console", 1,
             ["Java Runtime Environment not found.", "Bitte Java 11 oder älter."]),
            ("the external file cannot set the address", none + "jreurl \n", "launcher-console", 1,
             ["Java Runtime Environment not found."]),
            ("a started program is not an address", BASE + "minjre 99\njreurl /bin/sh\n", "launcher-console", 6,
             [f"Java virtual machine version {VERSION} is too low, require 99 or higher.", "Get Java at /bin/sh"]),
        ]
        for name, config, image, code, expected in cases:
            with self.subTest(name):
                program = self.ws.pack(config, image=image)
                if name.startswith("the external file"):
                    Path(str(program) + ".cfg").write_text(f"jreurl {url}\n")
                out = run(program, env_remove=("JAVA_HOME", "JRE_HOME"))
                self.assertEqual(out.returncode, code)
                self.assertEqual(out.stderr.decode().rstrip("\n").split("\n"), expected)

    def test_windows_separators_in_configured_paths(self):
        import zipfile
        folder = self.ws.root / "app"
        (folder / "lib").mkdir(parents=True)
        with zipfile.ZipFile(folder / "lib" / "x.jar", "w") as jar:
            jar.writestr("probe/Planted.class", b"\xca\xfe\xba\xbe")
        jdk = folder / "runtime"
        jdk.symlink_to(JAVA_HOME)
        cases = [  # a relative wildcard is matched in the working folder, the others beside the program
            ("wildcard", "classpath lib\\*.jar\n", folder),
            ("plain entry", "classpath .\\lib\\x.jar\n", self.ws.root),
            ("library folder", "libs lib\\\n", self.ws.root),
        ]
        for name, config, cwd in cases:
            with self.subTest(name):
                program = self.ws.pack("mainclass probe.Probe\njre_order b\njre .\\runtime\\\n" + config,
                                       folder=folder)
                out = run(program, ["planted"], cwd=cwd, env_remove=("JAVA_HOME", "JRE_HOME"))
                self.assertEqual(out.returncode, 0, out.stderr)
                self.assertIn("planted probe/Planted.class=true", lines(out))
        (self.ws.root / "data").mkdir()
        program = self.ws.pack(BASE + "forcecwd ..\\data\n", folder=folder)
        self.assertIn(f"cwd={self.ws.root.resolve()}/data", lines(run(program, cwd="/")))


class ClassPathTest(unittest.TestCase):
    def setUp(self):
        self.ws = Workspace()

    def tearDown(self):
        self.ws.close()

    def test_class_path_sources(self):
        folder = self.ws.root / "cp"
        (folder / "lib" / "sub").mkdir(parents=True)
        for rel in ("lib/a.jar", "lib/sub/b.zip", "lib/note.txt", "extra.jar"):
            (folder / rel).write_text("x")
        program = self.ws.pack(BASE + "classpath extra.jar;missing.jar\nlibs lib\njava_classpath "
                               f"{folder}/lib/*.jar\n", folder=folder)
        out = run(program, env_extra={"CLASSPATH": "/env/one.jar::/env/two.jar:"})
        cp = next(l for l in lines(out) if l.startswith("prop java.class.path="))[len("prop java.class.path="):]
        entries = cp.split(":")
        self.assertEqual(entries[:2], [str(program), f"{folder}/lib/a.jar"])
        self.assertEqual(entries[2:4], [f"{folder}/extra.jar", f"{folder}/missing.jar"])
        self.assertEqual(sorted(entries[4:6]), sorted([f"{folder}/lib/a.jar", f"{folder}/lib/sub/b.zip"]))
        self.assertEqual(entries[6:], ["/env/one.jar", "/env/two.jar"])  # empty elements dropped

    def test_forcecwd(self):
        folder = self.ws.root / "app"
        (self.ws.root / "data").mkdir()
        program = self.ws.pack(BASE + "forcecwd ../data\n", folder=folder)
        out = run(program, cwd="/")
        self.assertIn(f"cwd={self.ws.root.resolve()}/data", lines(out))


class RedirectionTest(unittest.TestCase):
    def setUp(self):
        self.ws = Workspace()

    def tearDown(self):
        self.ws.close()

    def test_standard_streams_to_files_and_programs(self):
        # name, configuration, arguments, file and what it must hold, what stays on stdout/stderr
        cases = [
            ("file appended", "stdout out.txt\n", [], "out.txt", ["old", "args=[]"], b"", b""),
            ("one file for both", "stdout both.txt\nstderr both.txt\n", ["throw"], "both.txt",
             ["args=[<throw>]", "probe failure"], b"", b""),
            ("failure message", BASE.replace("Probe", "Missing") + "stderr err.txt\n", [], "err.txt",
             ["The main startup class could not be found."], None, b""),
            ("program", "stdout |tee -a piped.txt\n", [], "piped.txt", ["args=[]"], b"", None),
            ("bar alone", "stdout |\n", [], None, [], b"args=[]", None),
        ]
        for name, config, args, file, expected, stdout, stderr in cases:
            with self.subTest(name):
                folder = self.ws.root / name.replace(" ", "-")
                program = self.ws.pack(config if config.startswith("mainclass") else BASE + config, folder=folder)
                if file:
                    (folder / file).write_text("old\n")
                out = run(program, args, cwd=folder)
                if stdout is not None:
                    self.assertTrue(out.stdout.startswith(stdout), out.stdout)
                if stderr is not None:
                    self.assertEqual(out.stderr, stderr)
                if not file:
                    continue
                deadline = time.monotonic() + 10  # a started program writes on its own time
                text = ""
                while time.monotonic() < deadline:
                    text = (folder / file).read_text(errors="replace")
                    if all(e in text for e in expected):
                        break
                    time.sleep(0.05)
                self.assertTrue(text.startswith("old\n"), text)
                for e in expected:
                    self.assertIn(e, text)


    def test_targets_that_must_not_hang_or_be_followed(self):
        # name, what the target path is, whether the output lands in it
        shared = Path("/tmp")
        fifo = self.ws.root / "fifo"
        os.mkfifo(fifo)
        victim = self.ws.root / "victim.txt"
        planted = shared / f"vxo-planted-{os.getpid()}.log"
        own = shared / f"vxo-own-{os.getpid()}.log"
        for link in (planted, own):
            link.unlink(missing_ok=True)
            link.symlink_to(victim)
            self.addCleanup(link.unlink, True)
        if os.geteuid() == 0:
            os.lchown(planted, 65534, 65534)  # as if "nobody" had put it there
        cases = [("FIFO without a reader", fifo, None),
                 ("missing folders", self.ws.root / "logs" / "a" / "b" / "out.txt", "created"),
                 ("link planted by another user", planted, None),
                 ("our own link", own, "victim")]
        for name, target, lands in cases:
            with self.subTest(name):
                if name.startswith("link planted") and os.geteuid() != 0:
                    self.skipTest("needs root to plant a link owned by another user")
                victim.write_text("old\n")
                program = self.ws.pack(BASE + f"stdout {target}\n", folder=self.ws.root / "app")
                out = run(program, timeout=30)
                self.assertEqual(out.returncode, 0, out.stderr)
                self.assertEqual("args=[]" in lines(out), lands is None, out.stdout[:200])
                if lands == "created":
                    self.assertIn("args=[]", target.read_text())
                    folder_modes = [(self.ws.root / p).stat().st_mode & 0o777 for p in ("logs", "logs/a", "logs/a/b")]
                    self.assertEqual(folder_modes, [0o700] * 3)
                self.assertEqual("args=[]" in victim.read_text(), lands == "victim")

    def test_started_programs_are_reaped_with_default_signals(self):
        # The second program starts after the first has run; it reports its own signal state.
        folder = self.ws.root / "signals"
        report = folder / "signals.txt"
        config = (BASE + "stderr |true\n"
                  f'stdout |sh -c "grep -E ^Sig[IB] /proc/self/status > {report}; exec cat > /dev/null"\n')
        program = self.ws.pack(config, folder=folder)
        process = subprocess.Popen([str(program), "wait"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            def children():
                found = []
                for entry in Path("/proc").iterdir():
                    try:
                        stat = (entry / "stat").read_text()
                    except (OSError, ValueError):
                        continue
                    fields = stat[stat.rindex(")") + 2:].split()
                    if int(fields[1]) == process.pid:
                        found.append((stat[stat.index("(") + 1:stat.rindex(")")], fields[0]))
                return found
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline and (not report.exists() or ("true", "Z") in children()):
                time.sleep(0.05)
            self.assertNotIn(("true", "Z"), children())
            signals = dict(line.split(":") for line in report.read_text().split("\n") if line)
            self.assertEqual(int(signals["SigIgn"], 16) & (1 << (signal.SIGPIPE - 1)), 0, signals)
            self.assertEqual(int(signals["SigBlk"], 16), 0, signals)
        finally:
            process.kill()
            process.wait(timeout=30)


class HardeningTest(unittest.TestCase):
    """What a program must never take from the folder it is started in, and inputs that must
    neither hang the launcher nor garble its text."""

    def setUp(self):
        self.ws = Workspace()
        self.cwd = self.ws.root / "cwd"
        for rel, text in (("probe/Planted.class", "x"), ("planted.txt", "x"),
                          ("META-INF/services/java.lang.Runnable", "probe.Planted\n"),
                          ("jre/lib/server/libjvm.so", "not a library"), ("lib/server/libjvm.so", "no")):
            (self.cwd / rel).parent.mkdir(parents=True, exist_ok=True)
            (self.cwd / rel).write_text(text)

    def tearDown(self):
        self.ws.close()

    def test_working_folder_is_never_searched(self):
        env = {"JAVA_HOME": str(JAVA_HOME)}
        cases = [
            ("class path", BASE, {}, 0),
            ("empty configured elements", BASE + "classpath ;;\njava_classpath ;\n", {"CLASSPATH": ":"}, 0),
            ("empty CLASSPATH", BASE, {"CLASSPATH": ""}, 0),
            ("default jre folder", "mainclass probe.Probe\n", env, 0),
            ("relative jre", "mainclass probe.Probe\njre .\n", env, 0),
            ("relative jvmdll", "mainclass probe.Probe\njre_order c\njvmdll jre/lib/server/libjvm.so\n", {}, 1),
            ("forcecwd to a runtime", "mainclass probe.Probe\nforcecwd " + str(self.cwd) + "\n", env, 0),
        ]
        for name, config, extra, code in cases:
            with self.subTest(name):
                program = self.ws.pack(config, folder=self.ws.root / "app")
                out = run(program, ["planted"], cwd=self.cwd, env_extra=extra, env_remove=("JAVA_HOME",))
                self.assertEqual(out.returncode, code, out.stderr)
                self.assertFalse([l for l in lines(out) if l.startswith("planted ") and l.endswith("true")])

    def test_first_runtime_search_precedes_exports(self):
        cases = [("export JAVA_HOME=/nonexistent\n", {"JAVA_HOME": str(JAVA_HOME)}, 0),
                 (f"export JAVA_HOME={JAVA_HOME}\n", {}, 1)]
        for config, env, code in cases:
            with self.subTest(config=config):
                program = self.ws.pack("mainclass probe.Probe\njre_order e\n" + config)
                self.assertEqual(run(program, env_extra=env, env_remove=("JAVA_HOME",)).returncode, code)

    def test_library_folders_and_external_files_are_bounded(self):
        app = self.ws.root / "bounded"
        (app / "lib" / "sub").mkdir(parents=True)
        (app / "lib" / "a.jar").write_text("x")
        (app / "lib" / "self").symlink_to(".")
        (app / "lib" / "sub" / "up").symlink_to("..")
        big = self.ws.root / "big"
        with open(big, "wb") as f:
            f.truncate(17 << 20)
        fifo = self.ws.root / "fifo"
        os.mkfifo(fifo)
        cases = [("bare libs line", "libs\njava_libs\n", None), ("folder linked to itself", "libs lib\n", None),
                 ("external FIFO", "", fifo), ("external /dev/zero", "", Path("/dev/zero")),
                 ("external file of 17 MiB", "", big)]
        for name, config, external in cases:
            with self.subTest(name):
                program = self.ws.pack(BASE + config, folder=app)
                for candidate in (app / "app.cfg", app / "app.config"):
                    candidate.unlink(missing_ok=True)
                if external:
                    (app / "app.cfg").symlink_to(external)
                    (app / "app.config").write_text("property probe.a=next candidate\n")
                out = run(program, timeout=30)
                self.assertEqual(out.returncode, 0, out.stderr)
                cp = next(l for l in lines(out) if l.startswith("prop java.class.path="))
                self.assertEqual(cp.count("a.jar"), 1 if "lib" in config.split() else 0)
                if external:
                    self.assertIn("prop probe.a=next candidate", lines(out))

    def test_text_is_never_cut(self):
        utf8 = {"LC_ALL": "C.UTF-8"}
        cases = [
            ("payload", "property probe.utf8=x\U0001F600y\nargv x\U0001F600y\n", None, [], utf8,
             "x\U0001F600y", "<x\\uD83D\\uDE00y>"),
            ("external file", "", "\ufeffproperty probe.utf8=\u4e2d\U00020000\n", [], utf8,
             "\u4e2d\U00020000", ""),
            ("argument", "", None, ["x\U0001F600y".encode(), b"bad\xfftail"], utf8, None,
             "<x\\uD83D\\uDE00y>, <bad\\uFFFDtail>"),
            ("ASCII locale", "", None, ["caf\u00e9!".encode()], {"LC_ALL": "C"}, None, "<caf\\uFFFD\\uFFFD!>"),
        ]
        for name, config, external, args, env, prop, expected in cases:
            with self.subTest(name):
                folder = self.ws.root / name.replace(" ", "-")
                program = self.ws.pack(BASE + config, folder=folder)
                if external:
                    (folder / "app.cfg").write_bytes(external.encode("utf-8"))
                out = run(program, args, env_extra=env)
                self.assertEqual(out.returncode, 0, out.stderr)
                text = out.stdout.decode("utf-8")
                if prop:
                    self.assertIn(f"prop probe.utf8={prop}", text.splitlines())
                if expected:
                    self.assertIn(f"args=[{expected}]", text.splitlines())

    def test_argument_array_that_cannot_be_built(self):
        # Three million strings in a heap of 8 MiB: the filling stops at the first failure.
        program = self.ws.pack(BASE + "option -Xmx8m\nargv " + " a" * 3_000_000 + "\n")
        out = run(program, timeout=120)
        self.assertEqual(out.returncode, 1)
        self.assertIn(b"OutOfMemoryError", out.stderr)
        self.assertNotIn(b"args=", out.stdout)


class ImageLinkTest(unittest.TestCase):
    """What the Linux images ask of the system at start: the C library and libgcc only, no
    newer C library than 2.34, and no exported function but the JNI entry points (a static
    libstdc++ that exported its own would stand in for the runtime's)."""

    ALLOWED_LIBRARIES = {"libc.so.6", "libgcc_s.so.1", "ld-linux-x86-64.so.2"}
    NEWEST_C_LIBRARY = (2, 34)

    def tool(self, *command):
        return subprocess.run(command, check=True, capture_output=True, text=True).stdout

    def test_libraries_versions_and_exports(self):
        for image in ("launcher-console", "launcher-gui"):
            with self.subTest(image=image):
                path = str(DIST / image)
                needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", self.tool("readelf", "-d", path)))
                self.assertLessEqual(needed, self.ALLOWED_LIBRARIES)
                versions = {tuple(map(int, v.split("."))) for v in
                            re.findall(r"\bGLIBC_(\d+(?:\.\d+)+)", self.tool("objdump", "-T", path))}
                self.assertTrue(versions)
                self.assertLessEqual(max(versions), self.NEWEST_C_LIBRARY)
                functions = {f.split()[-1] for f in self.tool("nm", "-D", "--defined-only", path).splitlines()
                             if f.split()[1] in ("T", "W", "i")}
                strays = {f for f in functions if not f.startswith("Java_com_lumenfold_vxo_")}
                self.assertEqual(strays, {"JNI_OnLoad_vxo"})


if __name__ == "__main__":
    unittest.main(verbosity=2)
