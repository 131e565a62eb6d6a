"""Packed Windows program files run under Wine with the fake runtime: the slot's debug line, the
single-instance mutex and the overrides of its message, registry references, the GUI image's
message boxes, the registry runtime lookup and the PATH retry for a runtime's dependencies."""
import os
import random
import shutil
import subprocess
import sys
import time
import unittest
import zipfile
from pathlib import Path

from harness import DIST, MARKER, Workspace, screen_pixels, slot_integer
from targets import REPO as _REPO

sys.path.insert(0, str(_REPO / "tests" / "pack"))
import pictures  # noqa: E402  (shared with the packer's tests)
from targets import LINUX_BUILD, REPO, WIN_BUILD, WineTarget
from wine_gui import PREFIX, GuiSession, end_group

TARGET = WineTarget()
TOOLS = Path(os.environ.get("VXO_WINE_TOOLS", WIN_BUILD / "tests" / "wine" / "tools"))
ARTIFACTS = Path(os.environ.get("VXO_E2E_ARTIFACTS", LINUX_BUILD / "tests" / "e2e" / "artifacts"))
REG_EXE = PREFIX / "drive_c" / "windows" / "system32" / "reg.exe"
RUN_WINE = REPO / "tests" / "wine" / "run-wine.sh"
MAIN = "mainclass demo.Main\n"
REFUSED = "There is already an instance of this program running."
NOT_FOUND = "Java Runtime Environment not found."
NOT_VALID = "Java Runtime Environment not valid."
# Keys of this run only: the backend's unit tests use Software\VexiloTest in the same prefix.
USER_KEY = f"Software\\VexiloE2E-{os.getpid()}"
# Read by the launcher under these fixed names; absent from a fresh prefix and written by no
# other suite, so the whole trees are ours to delete.
RUNTIME_TREES = ("SOFTWARE\\JavaSoft", "SOFTWARE\\IBM", "SOFTWARE\\Eclipse Adoptium", "SOFTWARE\\Microsoft\\JDK",
                 "SOFTWARE\\Azul Systems", "SOFTWARE\\AdoptOpenJDK", "SOFTWARE\\Eclipse Foundation")
WINE_SKIPPED = not (DIST / "launcher-console.exe").exists() or os.environ.get("VXO_SKIP_WINE") == "1"


def mutex_name(app_id_or_path):
    """The single-instance mutex name, derived independently of the launcher's code."""
    return app_id_or_path.replace(":", ".").replace("\\", ".") + ".vxo.mutex"


def poll(condition, timeout, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        if condition():
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(interval)


def reg_file_text(lines):
    return "Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n"


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_expand_string(text):
    """A REG_EXPAND_SZ value in .reg syntax: hex(2) of the UTF-16 text and its terminator."""
    return "hex(2):" + ",".join(f"{b:02x}" for b in (text + "\0").encode("utf-16-le"))


class MutexHolder:
    """tests/wine/tools/hold_mutex.exe: owns (or only opens) a named mutex until told otherwise."""

    def __init__(self, process, ready):
        self.process = process
        self.ready = ready

    def state(self):
        try:
            return self.ready.read_text()
        except FileNotFoundError:
            return ""

    def wait_state(self, wanted, timeout=60):
        ok = poll(lambda: self.state() == wanted or self.process.poll() is not None, timeout)
        return ok and self.state() == wanted

    def release(self):
        self.process.stdin.write(b"release\n")
        self.process.stdin.flush()
        return self.wait_state("released")

    def end(self, timeout=60):
        """Closes stdin, which ends the holder without releasing; its exit status, None if stuck."""
        if not self.process.stdin.closed:
            self.process.stdin.close()
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.process.stdin and not self.process.stdin.closed:
            self.process.stdin.close()
        end_group(self.process)


@unittest.skipIf(WINE_SKIPPED, "no Windows images, or VXO_SKIP_WINE=1")
class WineProgramCase(unittest.TestCase):
    """A scratch folder per test, packing and running helpers, holders ended even on failure."""

    # Wine's helper processes inherit the pipes of the program that starts a server session and
    # hold them until the session ends, ~3 s after its last program: every captured run would
    # wait that long for end of file. A program without pipes keeps the session up meanwhile.
    keep_session = True

    @classmethod
    def setUpClass(cls):
        missing = [p for p in (TOOLS / "hold_mutex.exe", TOOLS / "box_text.exe", TOOLS / "vxodep.dll",
                               TOOLS / "needs-dep" / "jvm.dll") if not p.exists()]
        if missing:
            raise AssertionError(f"helpers of tests/wine/tools not built (Windows tree): {missing}")

    def setUp(self):
        self.ws = Workspace()
        self.log = self.ws.root / "fake.log"
        self.holders = []
        # Cleanups run last first: a test's own (registry keys) before these two.
        self.addCleanup(self.ws.close)
        self.addCleanup(self.end_holders)
        if self.keep_session:
            self.start_holder(f"vxo-e2e-session-{os.getpid()}", mode="open")

    def end_holders(self):
        for holder in reversed(self.holders):
            holder.end(timeout=30)
            holder.kill()

    def program(self, config, name="app", image=None, runtime="full", folder=None, jars=(), extra=()):
        """Packs config into folder/name.exe; runtime: the fake variant in jre\\bin\\server, or None."""
        folder = Path(folder) if folder else self.ws.root / name
        if runtime:
            place = folder / TARGET.runtime_dir
            place.mkdir(parents=True, exist_ok=True)
            shutil.copy(TARGET.fake(runtime), place / TARGET.library)
        return self.ws.pack(config, name=name + ".exe", image=image or TARGET.console, folder=folder,
                            jars=jars, extra=extra)

    def env(self, extra=None):
        env = {"VXO_FAKEJVM_LOG": TARGET.path(self.log)}
        for key in ("JAVA_HOME", "JRE_HOME", "JAVA_TOOL_OPTIONS", "CLASSPATH", "_VEXILO_BINARY_DEBUG_"):
            env[key] = None
        env.update(extra or {})
        return env

    def run_program(self, program, args=(), **env):
        self.log.unlink(missing_ok=True)
        return TARGET.run(program, args, env=self.env(env), timeout=180)

    def events(self):
        return self.log.read_text(encoding="utf-8").splitlines() if self.log.exists() else []

    def start_holder(self, name, mode="own", starter=None):
        """Starts hold_mutex.exe headless (or with starter, in a GUI session) and waits until it holds."""
        ready = self.ws.root / f"holder-{len(self.holders)}.ready"
        args = [name, TARGET.path(ready), mode]
        if starter is None:
            env = TARGET.environment({"VXO_WINE_TIMEOUT": "120"})
            process = subprocess.Popen(["bash", str(RUN_WINE), str(WIN_BUILD), str(TOOLS / "hold_mutex.exe"), *args],
                                       stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, env=env, start_new_session=True)
        else:
            process = starter(TOOLS / "hold_mutex.exe", args, stdin=subprocess.PIPE, output=subprocess.DEVNULL)
        holder = MutexHolder(process, ready)
        self.holders.append(holder)
        wanted = "owned" if mode == "own" else "opened"
        self.assertTrue(holder.wait_state(wanted), f"hold_mutex did not take {name!r} "
                                                   f"(exit {process.poll()})")
        return holder

    def reg(self, *args):
        """reg.exe in the prefix, through run-wine.sh so it keeps to the run lock like any program."""
        return TARGET.run(REG_EXE, args, timeout=120)

    def reg_import(self, lines):
        path = self.ws.root / f"keys-{time.monotonic_ns()}.reg"
        path.write_bytes(b"\xff\xfe" + reg_file_text(lines).encode("utf-16-le"))
        out = self.reg("import", TARGET.path(path))
        self.assertEqual(out.returncode, 0, out.stderr)

    def delete_keys(self, keys):
        """Deletes whole key trees; run from cleanups, so a missing key is no error."""
        path = self.ws.root / f"delete-{time.monotonic_ns()}.reg"
        text = reg_file_text([f"[-{k}]\r\n" for k in keys])
        path.write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
        self.reg("import", TARGET.path(path))

    def assert_refused(self, out, message=REFUSED):
        self.assertEqual(out.returncode, 11, out.stderr)
        self.assertEqual(out.stderr.decode("cp1252").splitlines(), [message])
        self.assertEqual([e for e in self.events() if e.startswith("create")], [])

    def assert_started(self, out):
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("main demo/Main", self.events())


class DebugLineTest(WineProgramCase):
    # An archive length whose bytes are 0x20 and 0x1F: the edge of the "." rule.
    EDGE_LENGTH = 0x011F20

    def edge_program(self, image):
        """A program whose archive is EDGE_LENGTH long: a stored jar of random bytes, resized
        until the packer's merged archive has that length."""
        size = self.EDGE_LENGTH - 9000
        for attempt in range(6):
            jar = self.ws.root / "pad.jar"
            with zipfile.ZipFile(jar, "w") as archive:
                archive.writestr(zipfile.ZipInfo("pad.bin", (2020, 1, 1, 0, 0, 0)),
                                 random.Random(1).randbytes(size), compress_type=zipfile.ZIP_STORED)
            program = self.program(MAIN, name="edge-" + image.split(".")[0], image=image, jars=[jar])
            length = slot_integer(program)
            if length == self.EDGE_LENGTH:
                return program
            size += self.EDGE_LENGTH - length
        self.fail(f"could not pack an archive of {self.EDGE_LENGTH} bytes")

    def test_first_stdout_line_shows_the_slot(self):
        # GUI images write to stdout too: Wine hands a program started from a pipe its Unix stdio.
        for image in (TARGET.console, TARGET.gui):
            programs = [(self.program(MAIN, name=image.split(".")[0], image=image), ("", "1", None)),
                        (self.edge_program(image), ("",))]
            for program, values in programs:
                data = program.read_bytes()
                self.assertEqual(data.count(MARKER), 1)
                at = data.index(MARKER)
                slot = data[at - 8:at + len(MARKER)]
                self.assertEqual(len(slot), 22)
                archive = int.from_bytes(slot[:8], "little")
                with self.subTest(image=image, program=program.name, check="archive length"):
                    self.assertGreater(archive, 0)
                    self.assertLessEqual(archive, len(data))
                    self.assertEqual(data[len(data) - archive:len(data) - archive + 4], b"PK\x03\x04")
                shown = bytes(b if b >= 0x20 else ord(".") for b in slot)
                for value in values:
                    with self.subTest(image=image, program=program.name, value=value):
                        out = self.run_program(program, _VEXILO_BINARY_DEBUG_=value)
                        self.assertEqual(out.returncode, 0, out.stderr)
                        if value is None:
                            self.assertNotIn(MARKER[:-1], out.stdout)
                        else:
                            # The C runtime's text mode writes the line's "\n" as "\r\n".
                            self.assertEqual(out.stdout.split(b"\n", 1)[0] + b"\n", shown + b"\r\n")


class SingleInstanceTest(WineProgramCase):
    def test_second_start_while_the_mutex_is_held(self):
        acme = "singleinstance true\nappid Acme\\Report\n"
        # name, configuration, program files started in turn, mutex held (None: the first
        # program's path), exit code of each start
        cases = [
            ("no appid", "singleinstance true\n", ["app"], None, 11),
            ("letter case", "singleinstance TRUE\n", ["app"], None, 11),
            ("not true", "singleinstance yes\n", ["app"], None, 0),
            ("appid shared by two files", acme, ["one", "two"], mutex_name("Acme\\Report"), 11),
            ("another appid", "singleinstance true\nappid Other\n", ["app"], mutex_name("Acme\\Report"), 0),
            ("appid, not the path", acme, ["app"], None, 0),
        ]
        for case, config, names, held, code in cases:
            with self.subTest(case):
                folder = self.ws.root / case.replace(" ", "-").replace(",", "")
                programs = [self.program(MAIN + config, name=n, folder=folder) for n in names]
                holder = self.start_holder(held or mutex_name(TARGET.path(programs[0])))
                for program in programs:
                    out = self.run_program(program)
                    if code == 11:
                        self.assert_refused(out)
                    else:
                        self.assert_started(out)
                self.assertEqual(holder.end(), 0)

    def test_start_after_the_holder_lets_go(self):
        # released: owner alive but no longer owning; abandoned: owner gone while another handle
        # keeps the mutex; ended: the mutex is gone with its only holder.
        for case in ("released", "abandoned", "ended"):
            with self.subTest(case):
                program = self.program(MAIN + "singleinstance true\n", name=case)
                name = mutex_name(TARGET.path(program))
                owner = self.start_holder(name)
                keeper = self.start_holder(name, mode="open") if case == "abandoned" else None
                self.assert_refused(self.run_program(program))
                if case == "released":
                    self.assertTrue(owner.release(), "the holder did not release")
                else:
                    self.assertEqual(owner.end(), 0)
                self.assert_started(self.run_program(program))
                if keeper:
                    self.assertEqual(keeper.end(), 0)
                owner.end()


class MessageOverrideTest(WineProgramCase):
    def test_refusal_message_overrides(self):
        user_key = "HKEY_CURRENT_USER\\" + USER_KEY
        self.addCleanup(self.delete_keys, [user_key])
        self.reg_import([f"[{user_key}]", f'"Msg"={reg_string("Aus der Registry.")}'])
        # One mutex for every program: they share the appid.
        base = MAIN + f"singleinstance true\nappid VexiloE2E\\Messages{os.getpid()}\n"
        self.start_holder(mutex_name(f"VexiloE2E\\Messages{os.getpid()}"))
        registry = f"message 13=%{{HKCU\\{USER_KEY}\\Msg|fallback}}%\n"
        # name, payload lines, external file or None, registry step before the start, text shown
        cases = [
            ("payload", "message 13=Schon gestartet.\n", None, None, "Schon gestartet."),
            ("external file", "", "message 13=Extern.\n", None, "Extern."),
            ("external before payload", "message 13=Payload.\n", "message 13=Extern.\n", None, "Extern."),
            ("registry value", registry, None, None, "Aus der Registry."),
            ("registry value deleted", registry, None, ("delete", f"HKCU\\{USER_KEY}", "/v", "Msg", "/f"),
             "fallback"),
        ]
        for case, payload, external, step, expected in cases:
            with self.subTest(case):
                folder = self.ws.root / case.replace(" ", "-")
                program = self.program(base + payload, folder=folder)
                if external is not None:
                    (folder / "app.exe.cfg").write_text(external)
                if step:
                    self.assertEqual(self.reg(*step).returncode, 0)
                self.assert_refused(self.run_program(program), expected)

    def test_registry_references_expand(self):
        user_key = "HKEY_CURRENT_USER\\" + USER_KEY
        self.addCleanup(self.delete_keys, [user_key])
        self_ref = f"%{{HKCU\\{USER_KEY}\\Self}}%"
        self.reg_import([f"[{user_key}]",
                         f'"S"={reg_string("plain text")}',
                         f'"E"={reg_expand_string("%APPLICATION_HOME%x")}',
                         '"D"=dword:ffffffff',
                         '"B"=hex(5):00,00,00,07',  # REG_DWORD_BIG_ENDIAN
                         f'"Self"={reg_expand_string("a" + self_ref)}'])
        folder = self.ws.root / "expand"
        home = TARGET.path(folder) + "\\"
        # option text written, option the runtime receives
        cases = [
            (f"-Ds=%{{HKCU\\{USER_KEY}\\S}}%", "-Ds=plain text"),
            (f"-Dl=%{{HKEY_CURRENT_USER\\{USER_KEY}\\S}}%", "-Dl=plain text"),
            (f"-De=%{{HKCU\\{USER_KEY}\\E}}%", f"-De={home}x"),
            (f"-Dd=%{{HKCU\\{USER_KEY}\\D}}%", "-Dd=-1"),
            (f"-Db=%{{HKCU\\{USER_KEY}\\B}}%", "-Db=7"),
            (f"-Dm=%{{HKCU\\{USER_KEY}\\Missing|none}}%", "-Dm=none"),
            (f"-Dn=%{{HKCU\\{USER_KEY}\\Missing}}%", f"-Dn=%{{HKCU\\{USER_KEY}\\Missing}}%"),
            # A value naming itself stops after eight levels, kept as stored there.
            (f"-Dr={self_ref}", "-Dr=" + "a" * 8 + "a" + self_ref),
        ]
        program = self.program(MAIN + "".join(f"option {written}\n" for written, _ in cases), folder=folder)
        out = self.run_program(program)
        self.assertEqual(out.returncode, 0, out.stderr)
        options = [e[len("option "):] for e in self.events() if e.startswith("option ")]
        for written, expected in cases:
            with self.subTest(written):
                self.assertIn(expected, options)


class GuiMessageBoxTest(WineProgramCase):
    keep_session = False  # the GUI session needs the run lock that a headless keeper shares

    def test_message_boxes(self):
        # name, configuration, mutex held or None, caption, text, exit code
        cases = [
            ("refused", "singleinstance true\n", True, "Error", REFUSED, 11),
            ("refused, overrides", "singleinstance true\nmessage 10=Fehler\nmessage 13=Schon gestartet.\n",
             True, "Fehler", "Schon gestartet.", 11),
            ("no runtime", "jre_order c\n", False, "Error", NOT_FOUND, 1),
            # Where to get Java, as a question whether to open it (Return: Yes; the discard port).
            ("no runtime, where to get Java", "jre_order c\nminjre 21\njreurl http://127.0.0.1:9/java\n", False,
             "Error", "This program needs Java 21 or later.", 1),
            ("no runtime, the address offered", "jre_order c\njreurl http://127.0.0.1:9/java\n", False,
             "Error", "Open this address now?", 1),
        ]
        ARTIFACTS.mkdir(parents=True, exist_ok=True)
        with GuiSession() as session:
            # The session's first program, so Wine's desktop takes our display.
            self.start_holder(f"vxo-e2e-session-{os.getpid()}", mode="open", starter=session.start)
            for case, config, hold, caption, text, code in cases:
                with self.subTest(case):
                    self.box_case(session, case, config, hold, caption, text, code)

    def box_case(self, session, case, config, hold, caption, text, code):
        slug = case.replace(" ", "-").replace(",", "")
        program = self.program(MAIN + config, name=slug, image=TARGET.gui)
        holder = None
        if hold:
            holder = self.start_holder(mutex_name(TARGET.path(program)), starter=session.start)
        self.log.unlink(missing_ok=True)
        process = session.start(program, env=self.env())
        try:
            window = session.wait_window(f"^{caption}$", 90)
            shot = ARTIFACTS / f"wine_program-{slug}.png"
            if window is None:
                session.screenshot(shot)
                self.fail(f"no window titled {caption!r} (screen in {shot})")
            self.assertTrue(session.screenshot(shot))
            texts = session.run(TOOLS / "box_text.exe", [caption]).stdout.decode("cp1252")
            self.assertIn(text, texts.splitlines())
            self.assertTrue(session.answer(window), "the box did not close on Return")
            out, err = process.communicate(timeout=90)
            self.assertEqual(process.returncode, code, err)
            self.assertEqual([e for e in self.events() if e.startswith("create")], [])
            if holder:
                self.assertEqual(holder.end(), 0)
        finally:
            # A box left open by a failed case would be found by the next one.
            end_group(process)
            if holder:
                holder.kill()


class RegistryRuntimeTest(WineProgramCase):
    def setUp(self):
        super().setUp()
        trees = [f"HKEY_LOCAL_MACHINE\\{tree}" for tree in RUNTIME_TREES]
        self.delete_keys(trees)  # what an interrupted run may have left
        self.addCleanup(self.delete_keys, trees)
        self.rt = self.ws.root / "rt"
        (self.rt / "bin" / "server").mkdir(parents=True)
        (self.rt / "bin" / "client").mkdir(parents=True)
        shutil.copy(TARGET.fake("full"), self.rt / "bin" / "server" / "jvm.dll")
        self.client = self.rt / "bin" / "client" / "jvm.dll"

    def keys(self, vendor, version, current=True, **values):
        lines = [f"[-HKEY_LOCAL_MACHINE\\{tree}]\r\n" for tree in RUNTIME_TREES]
        lines.append(f"[HKEY_LOCAL_MACHINE\\{vendor}]")
        if current:
            lines.append(f'"CurrentVersion"={reg_string(version)}')
        lines.append(f"\r\n[HKEY_LOCAL_MACHINE\\{vendor}\\{version}]")
        lines += [f'"{name}"={reg_string(TARGET.path(path))}' for name, path in values.items()]
        return lines

    def test_runtime_from_the_registry(self):
        jre = "SOFTWARE\\JavaSoft\\JRE"
        ibm = "SOFTWARE\\IBM\\Java2 Runtime Environment"
        server = self.rt / "bin" / "server" / "jvm.dll"
        # name, configuration, keys, client library variant (None: absent), exit code; a client
        # library without entry points fails with 2, which tells which library was loaded.
        cases = [
            ("RuntimeLib", "jre_order s\n", self.keys(jre, "1.8", RuntimeLib=server), None, 0),
            ("RuntimeLib moved, found two levels up", "jre_order s\n",
             self.keys(jre, "1.8", RuntimeLib=self.client), None, 0),
            ("JavaHome only", "jre_order s\n", self.keys(jre, "1.8", JavaHome=self.rt), None, 0),
            ("RuntimeLib loaded as named", "jre_order s\n",
             self.keys(jre, "1.8", RuntimeLib=self.client), "no-entry", 2),
            ("vm server over RuntimeLib", "jre_order s\nvm server\n",
             self.keys(jre, "1.8", RuntimeLib=self.client), "no-entry", 0),
            ("no CurrentVersion", "jre_order s\n",
             self.keys(jre, "1.8", current=False, RuntimeLib=server), None, 1),
            ("JDK key", "jre_order s\n", self.keys("SOFTWARE\\JavaSoft\\JDK", "11", RuntimeLib=server), None, 0),
            ("IBM key", "jre_order i\n", self.keys(ibm, "1.8", RuntimeLib=server), None, 0),
            ("IBM key is not s", "jre_order s\n", self.keys(ibm, "1.8", RuntimeLib=server), None, 1),
            ("JavaSoft key is not i", "jre_order i\n", self.keys(jre, "1.8", RuntimeLib=server), None, 1),
        ]
        programs = {}  # one program file per configuration: packing is the slow part
        for case, config, keys, client, code in cases:
            with self.subTest(case):
                self.client.unlink(missing_ok=True)
                if client:
                    shutil.copy(TARGET.fake(client), self.client)
                self.reg_import(keys)
                if config not in programs:
                    programs[config] = self.program(MAIN + config, name=f"app{len(programs)}", runtime=None)
                out = self.run_program(programs[config])
                if code == 0:
                    self.assert_started(out)
                else:
                    self.assertEqual(out.returncode, code, out.stderr)
                    message = NOT_FOUND if code == 1 else NOT_VALID
                    self.assertEqual(out.stderr.decode("cp1252").splitlines(), [message])
                    self.assertEqual(self.events(), [])


    def runtime(self, name, version):
        """A runtime home with the fake library and, when version is set, a release file naming it."""
        home = self.ws.root / name
        (home / "bin" / "server").mkdir(parents=True)
        shutil.copy(TARGET.fake("full"), home / "bin" / "server" / "jvm.dll")
        if version:
            (home / "release").write_text(f'IMPLEMENTOR="test"\nJAVA_VERSION="{version}"\n')
        return home

    def vendor_key(self, key, value, home):
        return [f"[HKEY_LOCAL_MACHINE\\{key}]", f'"{value}"={reg_string(TARGET.path(home))}', ""]

    def used(self, out):
        """The home of the library the VEXILO_DEBUG trace says was used, as a Linux path."""
        lines = [l for l in out.stderr.decode("cp1252").splitlines() if l.startswith("vexilo: using ")]
        if not lines:
            return None
        library = lines[-1][len("vexilo: using "):].replace("/", "\\")
        self.assertTrue(library.lower().endswith("\\bin\\server\\jvm.dll"), library)
        return Path(library[2:-len("\\bin\\server\\jvm.dll")].replace("\\", "/")).resolve()

    def test_vendor_keys(self):
        rt17, rt21, bare21 = self.runtime("t17", "17.0.9"), self.runtime("t21", "21.0.4"), self.runtime("b21", "")
        adoptium = "SOFTWARE\\Eclipse Adoptium\\JDK\\{}\\hotspot\\MSI"
        javasoft = self.keys("SOFTWARE\\JavaSoft\\JRE", "17", JavaHome=rt17)
        # name, configuration, keys, java.version the runtime reports, home used (None: none, exit 1)
        cases = [
            ("Eclipse Adoptium", "", self.vendor_key(adoptium.format("21.0.4.7"), "Path", rt21), "21.0.4", rt21),
            ("Eclipse Adoptium JRE", "", self.vendor_key(
                "SOFTWARE\\Eclipse Adoptium\\JRE\\17.0.9.9\\hotspot\\MSI", "Path", rt17), None, rt17),
            ("Microsoft", "", self.vendor_key("SOFTWARE\\Microsoft\\JDK\\21.0.4.7\\hotspot\\MSI", "Path", rt21),
             "21.0.4", rt21),
            ("Azul Zulu", "", self.vendor_key("SOFTWARE\\Azul Systems\\Zulu\\zulu-17", "InstallationPath", rt17),
             None, rt17),
            ("AdoptOpenJDK", "", self.vendor_key("SOFTWARE\\AdoptOpenJDK\\JDK\\17.0.9.9\\hotspot\\MSI", "Path", rt17),
             None, rt17),
            ("Eclipse Foundation", "", self.vendor_key("SOFTWARE\\Eclipse Foundation\\JDK\\17.0.9\\MSI", "Path", rt17),
             None, rt17),
            ("a key without a runtime", "", self.vendor_key(adoptium.format("21.0.4.7"), "Path", self.ws.root / "gone"),
             None, None),
            ("two versions: the newest", "", self.vendor_key(adoptium.format("17.0.9.9"), "Path", rt17)
             + self.vendor_key(adoptium.format("21.0.4.7"), "Path", rt21), "21.0.4", rt21),
            ("two versions, maxjre", "maxjre 17.9\n", self.vendor_key(adoptium.format("17.0.9.9"), "Path", rt17)
             + self.vendor_key("SOFTWARE\\Microsoft\\JDK\\21.0.4.7\\hotspot\\MSI", "Path", rt21), None, rt17),
            ("version from the key's name", "minjre 21\n", self.vendor_key(adoptium.format("17.0.9.9"), "Path", rt17)
             + self.vendor_key(adoptium.format("21.0.4.7"), "Path", bare21), "21.0.4", bare21),
            ("JavaSoft keys still win", "", javasoft + self.vendor_key(adoptium.format("21.0.4.7"), "Path", rt21),
             None, rt17),
            ("JavaSoft outside the range", "minjre 21\n",
             javasoft + self.vendor_key(adoptium.format("21.0.4.7"), "Path", rt21), "21.0.4", rt21),
            ("not without letter s", "jre_order ie\n", self.vendor_key(adoptium.format("21.0.4.7"), "Path", rt21),
             None, None),
            ("JavaSoft: another version than CurrentVersion", "minjre 21\n", javasoft
             + [f"[HKEY_LOCAL_MACHINE\\SOFTWARE\\JavaSoft\\JRE\\21]", f'"JavaHome"={reg_string(TARGET.path(rt21))}', ""],
             "21.0.4", rt21),
            # Without a range the installed runtimes come only where no source found any.
            ("JAVA_HOME before the installed runtimes", "", self.vendor_key(adoptium.format("21.0.4.7"), "Path", rt21),
             None, rt17, {"JAVA_HOME": TARGET.path(rt17)}),
            ("JAVA_HOME outside the range", "minjre 21\n", self.vendor_key(adoptium.format("21.0.4.7"), "Path", rt21),
             "21.0.4", rt21, {"JAVA_HOME": TARGET.path(rt17)}),
        ]
        programs = {}
        for case, config, keys, version, home, *more in cases:
            with self.subTest(case):
                self.reg_import([f"[-HKEY_LOCAL_MACHINE\\{tree}]\r\n" for tree in RUNTIME_TREES] + keys)
                if config not in programs:
                    programs[config] = self.program(MAIN + config, name=f"vk{len(programs)}", runtime=None)
                env = {"VEXILO_DEBUG": "1", **(more[0] if more else {})}
                if version:
                    env["VXO_FAKEJVM_VERSION"] = version
                out = self.run_program(programs[config], **env)
                if home is None:
                    self.assertEqual(out.returncode, 1, out.stderr)
                    self.assertIsNone(self.used(out))
                else:
                    self.assert_started(out)
                    self.assertEqual(self.used(out), home.resolve(), out.stderr)


class PathRetryTest(WineProgramCase):
    # Texts of ERROR_MOD_NOT_FOUND (Wine's, then Windows'); no insert, so the path is not named.
    MODULE_NOT_FOUND = {"Module not found.", "The specified module could not be found."}

    def test_dependency_in_the_folder_above(self):
        # name, where vxodep.dll goes (None: nowhere), jvm.dll is a text file, exit code
        cases = [
            ("dependency above", "rt", False, 0),
            ("dependency missing", None, False, 2),
            ("not a library", None, True, 2),
        ]
        for case, dependency, text, code in cases:
            with self.subTest(case):
                folder = self.ws.root / case.replace(" ", "-")
                bin_dir = folder / "rt" / "bin"
                bin_dir.mkdir(parents=True)
                library = bin_dir / "jvm.dll"
                if text:
                    library.write_text("plain text")
                else:
                    shutil.copy(TOOLS / "needs-dep" / "jvm.dll", library)
                if dependency:
                    shutil.copy(TOOLS / "vxodep.dll", folder / dependency / "vxodep.dll")
                program = self.program(MAIN + f"jre_order c\njvmdll {TARGET.path(library)}\n", folder=folder,
                                       runtime=None)
                out = self.run_program(program, VXO_FORWARD_JVM=TARGET.path(TARGET.fake("full")))
                if code == 0:
                    self.assert_started(out)
                    continue
                self.assertEqual(out.returncode, code, out.stderr)
                lines = out.stderr.decode("cp1252").splitlines()
                self.assertEqual(len(lines), 2, lines)
                self.assertEqual(lines[1], NOT_VALID)
                if text:
                    # "%1 is not a valid ..." with the library's path put in.
                    self.assertIn(TARGET.path(library), lines[0])
                else:
                    self.assertIn(lines[0], self.MODULE_NOT_FOUND)
                self.assertEqual(self.events(), [])


class RedirectionTest(WineProgramCase):
    def test_standard_error_to_a_file(self):
        # The fake runtime describes exceptions through the same C runtime as the launcher.
        threw = "fakejvm: exception"
        cases = [
            ("console, failure message", TARGET.console, "stderr {f}\n", {"VXO_FAKEJVM_MAINCLASS": "other/Main"},
             "The main startup class could not be found."),
            ("gui, one file for both", TARGET.gui, "stdout {f}\nstderr {f}\n", {"VXO_FAKEJVM_MAIN_THROW": "1"},
             threw),
            ("console, bar alone", TARGET.console, "stderr |\n", {"VXO_FAKEJVM_MAIN_THROW": "1"}, None),
            ("console, to a program", TARGET.console,
             "stderr |" + TARGET.path(TOOLS / "append_stdin.exe") + " {f}\n", {"VXO_FAKEJVM_MAIN_THROW": "1"}, threw),
        ]
        for name, image, config, env, expected in cases:
            with self.subTest(name):
                folder = self.ws.root / name.replace(" ", "-").replace(",", "")
                target = folder / "out.txt"
                program = self.program(MAIN + config.format(f=TARGET.path(target)), image=image, folder=folder)
                target.write_text("old\r\n")
                out = self.run_program(program, **env)
                self.assertNotEqual(out.returncode, 0)
                text = target.read_bytes().decode("cp1252")
                if expected is None:
                    self.assertEqual(text, "old\r\n")
                    self.assertIn(threw, out.stderr.decode("cp1252"))
                    continue
                # A started program may still be writing when the launcher has ended.
                poll(lambda: expected in target.read_bytes().decode("cp1252"), 30)
                text = target.read_bytes().decode("cp1252")
                self.assertTrue(text.startswith("old\r\n"), text)
                self.assertIn(expected, text)
                self.assertNotIn(expected.encode(), out.stderr)


    def test_writers_of_one_file_never_overwrite_each_other(self):
        # Lines go straight to the standard handles (the fake main's WRITE_LINES). Two programs
        # share a stderr file: both have it open before the first writes, and the second writes
        # once the first is done. One program names one file twice, in two spellings.
        lines = 200
        cases = [("two programs", 2, "stderr {f}\n", ["err"]),
                 ("one file twice", 1, "stdout {f}\nstderr {g}\n", ["out", "err"])]
        for name, copies, config, streams in cases:
            with self.subTest(name):
                folder = self.ws.root / name.replace(" ", "-")
                target = folder / "shared.txt"
                other = TARGET.path(folder).upper() + "\\.\\SHARED.TXT"
                program = self.program(MAIN + config.format(f=TARGET.path(target), g=other), folder=folder)
                target.write_bytes(b"old\r\n")
                gates = [folder / f"gate{i}" for i in range(copies)]
                runs = []
                for gate in gates:
                    env = TARGET.environment(self.env({"VXO_FAKEJVM_WRITE_LINES": str(lines),
                                                       "VXO_FAKEJVM_WRITE_WAIT": TARGET.path(gate)}))
                    runs.append(subprocess.Popen(["bash", str(RUN_WINE), str(WIN_BUILD), str(program)],
                                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env))
                try:
                    for gate in gates:
                        self.assertTrue(poll(lambda: Path(f"{gate}.ready").exists(), 120), gate)
                    for gate in gates:
                        gate.touch()
                        self.assertTrue(poll(lambda: Path(f"{gate}.done").exists(), 60), gate)
                    outputs = [run.communicate(timeout=120) for run in runs]
                finally:
                    for run in runs:
                        if run.poll() is None:
                            run.kill()
                            run.communicate()
                self.assertEqual([run.returncode for run in runs], [0] * copies, outputs)
                written = target.read_bytes().decode("cp1252").splitlines()
                self.assertEqual(written[0], "old")
                pids = {line.split()[0] for line in written[1:]}
                self.assertEqual(len(pids), copies, written[:20])
                expected = sorted(f"{pid} {'out' if i % 2 == 0 else 'err'} {i}" for pid in pids
                                  for i in range(lines) if ("out" if i % 2 == 0 else "err") in streams)
                self.assertEqual(sorted(written[1:]), expected)


class LongProgramPathTest(WineProgramCase):
    def test_program_path_that_does_not_fit(self):
        # The system cuts a path of 260 characters or more: the launcher then reads nothing, least
        # of all what the working folder offers under the names a cut path would give.
        folder = self.ws.root.joinpath(*(["d" * 90] * 3))
        program = self.program(MAIN + "jre_order cb\njre jre\n", folder=folder)
        self.assertGreater(len(TARGET.path(program)), 260)
        cwd = self.ws.root / "cwd"
        (cwd / "jre" / "bin" / "server").mkdir(parents=True)
        shutil.copy(TARGET.fake("full"), cwd / "jre" / "bin" / "server" / "jvm.dll")
        for name in (".cfg", ".config"):
            (cwd / name).write_text(MAIN + "jvmdll jre\\bin\\server\\jvm.dll\nmessage 1=planted\n")
        self.log.unlink(missing_ok=True)
        out = TARGET.run(program, env=self.env(), cwd=cwd, timeout=180)
        self.assertEqual(out.returncode, 1, out.stderr)
        self.assertEqual(out.stderr.decode("cp1252").splitlines(), [NOT_FOUND])
        self.assertEqual(self.events(), [])


class ResourceTest(WineProgramCase):
    """What the packer writes into the resources, loaded the system's way (res_probe.exe), and
    programs that still find their payload and reach main, signed after packing too."""

    def resource_options(self):
        root = self.ws.root
        (root / "app.ico").write_bytes(pictures.ico([(16, pictures.icon_picture(16)),
                                                     (32, pictures.icon_picture(32)), (48, pictures.png(48, 48))]))
        (root / "tray.ico").write_bytes(pictures.ico([(32, pictures.icon_picture(32))]))
        (root / "splash.bmp").write_bytes(pictures.bmp(30, 20))
        (root / "splash.png").write_bytes(pictures.png(8, 8))
        return ["--icon", root / "app.ico", "--tray-icon", "7=" + str(root / "tray.ico"),
                "--splash-bitmap", root / "splash.bmp", "--splash-image", root / "splash.png",
                "--version", "1.2.3", "--product-name", "Probe App"]

    def probe(self, program):
        out = TARGET.run(TOOLS / "res_probe.exe", [TARGET.path(program), "icon:1", "icon:7", "icon:2", "bitmap:100",
                                                   "rcdata:100", "string:1", "version", "manifest"], timeout=180)
        return out.returncode, out.stdout.decode("cp1252").splitlines()

    def test_resources_load_and_the_program_runs(self):
        png_size = len(pictures.png(8, 8))
        expected = ["icon:1 16x16", "icon:7 16x16", "icon:2 missing", "bitmap:100 30x20",
                    f"rcdata:100 {png_size} 89 50 4e 47", "string:1 " + NOT_FOUND, "version 1.2.3.0 Probe App"]
        for image in (TARGET.console, TARGET.gui):
            with self.subTest(image):
                program = self.program(MAIN, name=image.split(".")[0], image=image, extra=self.resource_options())
                status, lines = self.probe(program)
                self.assertEqual(status, 1, lines)
                self.assertEqual(lines[:-1], expected)
                self.assertRegex(lines[-1], r"^manifest:1 \d+ 3c 3f 78 6d$")
                self.assert_started(self.run_program(program))

    @unittest.skipUnless(shutil.which("osslsigncode") and shutil.which("openssl"), "osslsigncode not installed")
    def test_signed_after_packing_still_runs(self):
        root = self.ws.root
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Vexilo Test",
                        "-days", "2", "-keyout", root / "key.pem", "-out", root / "cert.pem"],
                       check=True, capture_output=True, timeout=120)
        program = self.program(MAIN, name="signed", extra=self.resource_options())
        unsigned = program.with_name("unsigned.exe")
        program.rename(unsigned)
        subprocess.run(["osslsigncode", "sign", "-certs", root / "cert.pem", "-key", root / "key.pem",
                        "-n", "Probe App", "-in", unsigned, "-out", program], check=True, capture_output=True,
                       timeout=120)
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", root / "cert.pem", "-in", program],
                                capture_output=True, text=True, timeout=120)
        self.assertIn("Signature verification: ok", verify.stdout, verify.stdout + verify.stderr)
        self.assertGreater(program.stat().st_size, unsigned.stat().st_size)
        self.assert_started(self.run_program(program))
        self.assertEqual(self.probe(program)[1][0], "icon:1 16x16")


class PackerScriptTest(WineProgramCase):
    """vexilo-pack.cmd under the prefix's cmd.exe, with echo_args.exe standing in for java.exe."""

    keep_session = False

    def run_script(self, folder, java_home):
        cmd = PREFIX / "drive_c" / "windows" / "system32" / "cmd.exe"
        env = {"JAVA_HOME": TARGET.path(java_home) if java_home else None}
        # Started from its folder by bare name: cmd /c would strip the quotes of a quoted path.
        out = TARGET.run(cmd, ["/c", "vexilo-pack.cmd", "--help", "two words"], env=env, cwd=folder, timeout=180)
        return out.returncode, out.stdout.decode("cp1252").splitlines(), out.stderr.decode("cp1252")

    def test_script_finds_its_jar_and_java(self):
        # Parentheses in either path must not end a block of the script early; "&" stays literal.
        for folder_name, jdk_name in (("dist dir", "jdk"), ("dist (x86)", "jdk (x86) & more")):
            with self.subTest(folder_name):
                folder = self.ws.root / folder_name
                folder.mkdir()
                shutil.copy(REPO / "tools" / "pack" / "vexilo-pack.cmd", folder)
                status, _, errors = self.run_script(folder, None)
                self.assertEqual(status, 1, errors)
                self.assertIn("vexilo-pack: cannot find", errors)
                (folder / "vexilo-pack.jar").write_bytes(b"PK\5\6" + bytes(18))
                status, _, errors = self.run_script(folder, self.ws.root / ("nowhere " + jdk_name))
                self.assertEqual(status, 1)
                self.assertIn("JAVA_HOME is set but", errors)
                self.assertIn(jdk_name, errors)
                jdk = self.ws.root / jdk_name
                (jdk / "bin").mkdir(parents=True)
                shutil.copy(TOOLS / "echo_args.exe", jdk / "bin" / "java.exe")
                status, lines, errors = self.run_script(folder, jdk)
                self.assertEqual(status, 3, errors)
                self.assertEqual(lines, ["-jar", TARGET.path(folder / "vexilo-pack.jar"), "--help", "two words"])


def tray_record(label, size, uid, icon, tip, info, title, kind, shown):
    """A record line of the fake's tray scenario, as NOTIFYICONDATAA's own offsets read it."""
    return (f"record {label} size={size} window=tray id={uid} flags=0x17 message=1124 icon={icon} "
            f"tip=<{tip}> info=<{info}> title=<{title}> type={kind} shown={shown}")


class TrayTest(WineProgramCase):
    """The fake runtime's tray scenario (tests/fakejvm/fake_tray.cpp) drives the exported natives
    inside the launcher and posts the tray window what the shell and a menu would send."""
    keep_session = False

    def test_records_menus_and_callbacks(self):
        program = self.program(MAIN, name="tray", image=str(TOOLS / "launcher-gui-res.exe"))
        with GuiSession() as session:
            self.log.unlink(missing_ok=True)
            out = session.run(program, env=self.env({"VXO_FAKEJVM_TRAY": "1"}), timeout=150)
        self.assertEqual(out.returncode, 0, out.stderr)
        events = [e for e in self.events() if not e.startswith(("option ", "findClass ", "attach", "detach"))]
        handles = {e.split()[1]: e.split()[2] for e in events if e.startswith("handle ")}
        cut_tip, cut_text, cut_title = "t" * 63, "x" * 255, "y" * 63
        expected = [
            "tray window found",
            f"handle A {handles.get('A')}",
            # Balloon strings and a shell of 5 or more: 504 bytes; the old form without them.
            tray_record("A", 504, 1, "yes", "tip A", "balloon text", "balloon title", 1, 0),
            tray_record("B", 104, 2, "yes", "B", "", "", 0, 0),
            tray_record("C", 504, 3, "no", cut_tip, cut_text, cut_title, 3, 0),
            # Null tip clears, null text keeps; a hidden icon keeps everything; the short form: -1.
            tray_record("A", 504, 1, "yes", "", "balloon text", "new title", 2, 1),
            tray_record("B", 104, 2, "yes", "B", "", "", 0, 0),
            tray_record("C", 504, 3, "no", "two-argument form", cut_text, cut_title, -1, 1),
            # Icon 77 and the commands 1001 and -1 reach nobody; 500 closes the batch.
            f"callback mouse {handles.get('A')} 513",
            "callback mouse null 512",
            "callback command 0",
            "callback command 1000",
            "callback command 500",
            "callbacks arrived",
            f"handle sub {handles.get('sub')}",
            f"popups add {handles.get('sub')}",
            "menu main items=4",
            "menu main 0 string id=50000 text=<Open>",
            "menu main 1 separator id=0 text=<>",
            "menu main 2 submenu id=0 text=<More>",
            "menu main 3 string id=51000 text=<Quit>",
            "menu sub items=1",
            "menu sub 0 string id=50007 text=<Inner>",
            "menu after finalize cleared",
            # A finalised object finds nothing, twice over; Hide takes A out of the area.
            tray_record("A", 504, 1, "yes", "", "balloon text", "new title", 2, 0),
            "record B none",
            "tray done",
            "destroy",
        ]
        after_main = events[events.index("args 0") + 1:]
        self.assertEqual(after_main, expected)


    def test_popup_menu_choice_reaches_the_callback(self):
        # Popup from a Java thread (the scenario's main), an item chosen with the keyboard: the
        # first item, "Open" (command 0), arrives as a click on it would, and Popup has returned.
        program = self.program(MAIN, name="popup", image=str(TOOLS / "launcher-gui-res.exe"))
        with GuiSession() as session:
            self.log.unlink(missing_ok=True)
            process = session.start(program, env=self.env({"VXO_FAKEJVM_TRAY": "popup"}), timeout=150)
            try:
                self.assertTrue(poll(lambda: "popup start" in self.events(), 120), self.events())
                menu = session.wait_window("", 30)  # the menu: the only window on the screen
                self.assertIsNotNone(menu, "no menu shown")
                session.screenshot(ARTIFACTS / "wine_program-tray-popup.png")
                subprocess.run(["xdotool", "key", "--delay", "200", "Down", "Return"], env=session.env(),
                               timeout=30)
                out, err = process.communicate(timeout=120)
            finally:
                end_group(process)
        self.assertEqual(process.returncode, 0, err)
        events = [e for e in self.events() if e not in ("attach", "detach")]
        popup = events[events.index("popup start"):events.index("popup command arrived") + 1]
        self.assertEqual(sorted(popup), ["callback command 0", "popup command arrived", "popup returned",
                                         "popup start"])
        self.assertEqual(popup[-1], "popup command arrived")


class NativeSplashTest(WineProgramCase):
    """The native splash of launcher-gui (bitmap 100 of the test image: 320 x 200, one colour in a
    4-pixel frame) on a 1024 x 768 screen, watched by the fake runtime's splash scenario."""
    keep_session = False
    SPLASH, FRAME = "#20A0E0", "#F04010"
    TITLE = "Vexilo Splash"

    def splash_events(self):
        return [e for e in self.events() if e.startswith("splash ")]

    def elapsed(self, prefix):
        """The milliseconds of the scenario's line that starts with prefix."""
        found = [e for e in self.events() if e.startswith(prefix)]
        self.assertEqual(len(found), 1, self.events())
        return int(found[0][len(prefix):])

    def test_native_splash(self):
        ARTIFACTS.mkdir(parents=True, exist_ok=True)
        with GuiSession() as session:
            self.start_holder(f"vxo-e2e-session-{os.getpid()}", mode="open", starter=session.start)
            for case in (self.kept_past_main, self.launcher_timers, self.no_native_window, self.error_box):
                with self.subTest(case.__name__):
                    case(session)

    def kept_past_main(self, session):
        program = self.program(MAIN + f"splashtitle {self.TITLE}\n", name="keep",
                               image=str(TOOLS / "launcher-gui-res.exe"))
        self.log.unlink(missing_ok=True)
        process = session.start(program, env=self.env({"VXO_FAKEJVM_SPLASH": "keep"}))
        try:
            window = session.wait_window(f"^{self.TITLE}$", 60)
            self.assertIsNotNone(window, "no splash window")
            session.screenshot(ARTIFACTS / "wine_program-native-splash.png")
            # Centred: (1024 - 320) / 2 = 352, (768 - 200) / 2 = 284; the frame starts there.
            points = [(512, 384), (352, 284), (671, 483), (356, 288), (351, 283), (672, 484)]
            self.assertEqual(screen_pixels(session.display, points),
                             [self.SPLASH, self.FRAME, self.FRAME, self.SPLASH, "#000000", "#000000"])
            # autoClose(-1) from main: the launcher's after-main close (750 ms) does not come.
            self.assertTrue(poll(lambda: "splash object same" in self.events(), 30), self.events())
            time.sleep(1.5)
            self.assertIsNotNone(session.wait_window(f"^{self.TITLE}$", 1))
            # A click neither closes nor moves it; a key closes it.
            subprocess.run(["xdotool", "mousemove", "512", "384", "click", "1"], env=session.env(), timeout=30)
            time.sleep(0.5)
            self.assertIsNotNone(session.wait_window(f"^{self.TITLE}$", 1), "a click closed the splash")
            self.assertEqual(screen_pixels(session.display, [(352, 284)]), [self.FRAME])
            self.assertTrue(session.answer(window, key="Escape"), "a key did not close the splash")
            out, err = process.communicate(timeout=90)
        finally:
            end_group(process)
        self.assertEqual(process.returncode, 0, err)
        self.assertEqual(self.splash_events()[:2], ["splash shown=yes", "splash object same"])
        self.assertGreater(self.elapsed("splash gone after main "), 1900)
        self.assertIn("splash object after close null", self.events())

    def launcher_timers(self, session):
        # Untitled: a tool window. Closed 1750 ms after the runtime starts, or 750 ms after main.
        for mode, prefix, low, high in (("timers", "splash gone in main after ", 1500, 4500),
                                        ("after-main", "splash gone after main ", 550, 2500)):
            program = self.program(MAIN, name=mode, image=str(TOOLS / "launcher-gui-res.exe"))
            self.log.unlink(missing_ok=True)
            out = session.run(program, env=self.env({"VXO_FAKEJVM_SPLASH": mode}), timeout=120)
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertIn("splash shown=yes", self.events())
            self.assertTrue(low <= self.elapsed(prefix) <= high, (mode, self.events()))

    def no_native_window(self, session):
        # The console image never shows it; nor does the windowed one when the runtime has its
        # own splash library, bitmap 100 or not.
        library = self.program(MAIN, name="library", image=str(TOOLS / "launcher-gui-res.exe"))
        shutil.copy(TOOLS / "fake-splash" / "splashscreen.dll", library.parent / "jre" / "bin")
        console = self.program(MAIN, name="console", image=str(TOOLS / "launcher-console-res.exe"))
        for program in (console, library):
            self.log.unlink(missing_ok=True)
            out = session.run(program, env=self.env({"VXO_FAKEJVM_SPLASH": "timers"}), timeout=120)
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(self.splash_events(), ["splash shown=no"], program.name)

    def error_box(self, session):
        program = self.program(MAIN + f"jre_order c\nsplashtitle {self.TITLE}\n", name="nojre",
                               image=str(TOOLS / "launcher-gui-res.exe"))
        self.log.unlink(missing_ok=True)
        process = session.start(program, env=self.env())
        try:
            box = session.wait_window("^Error$", 60)
            self.assertIsNotNone(box, "no message box")
            texts = session.run(TOOLS / "box_text.exe", ["Error"]).stdout.decode("cp1252").splitlines()
            session.screenshot(ARTIFACTS / "wine_program-splash-error-box.png")
            self.assertIn(NOT_FOUND, texts)
            self.assertIn("owner=VXOSPLASH", texts)
            self.assertIsNotNone(session.wait_window(f"^{self.TITLE}$", 1), "the splash is gone under the box")
            self.assertTrue(session.answer(box), "the box did not close on Return")
            out, err = process.communicate(timeout=90)
        finally:
            end_group(process)
        self.assertEqual(process.returncode, 1, err)
        self.assertIsNone(session.wait_window(f"^{self.TITLE}$", 1))


class RuntimeSplashLibraryTest(WineProgramCase):
    """A runtime with splashscreen.dll (tools/fake-splash, which logs its calls) beside it: the
    launcher hands it the "splash" file or raw-data resource 100; without either, nothing."""

    def test_the_library_gets_the_image(self):
        splash_log = self.ws.root / "splash.log"
        png = (TOOLS / "images" / "splash.png").read_bytes()
        memory = ["init", f"memory {len(png)} {png[:4].hex()}"]
        gui_res, console_res = str(TOOLS / "launcher-gui-res.exe"), str(TOOLS / "launcher-console-res.exe")
        cases = [
            # name, image, configuration, calls expected (None: the "splash" file's)
            ("file", gui_res, "splash pic.png\n", None),
            ("resource", gui_res, "", memory),
            ("resource, console", console_res, "", memory),
            ("missing file, resource", gui_res, "splash gone.png\n", memory),
            ("no image", TARGET.gui, "", []),
        ]
        for case, image, config, expected in cases:
            with self.subTest(case):
                slug = case.replace(" ", "-").replace(",", "")
                program = self.program(MAIN + config, name=slug, image=image)
                shutil.copy(TOOLS / "fake-splash" / "splashscreen.dll", program.parent / "jre" / "bin")
                (program.parent / "pic.png").write_bytes(png)
                if expected is None:
                    expected = ["init", "file " + TARGET.path(program.parent / "pic.png")]
                splash_log.unlink(missing_ok=True)
                out = self.run_program(program, VXO_FAKESPLASH_LOG=TARGET.path(splash_log))
                self.assert_started(out)
                calls = splash_log.read_text().splitlines() if splash_log.exists() else []
                self.assertEqual(calls, expected)


if __name__ == "__main__":
    unittest.main(verbosity=2)
