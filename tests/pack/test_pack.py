#!/usr/bin/env python3
"""Runs the real vexilo-pack.jar on fake launcher images and checks the program files it writes."""

import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

MARKER = b"VEXILO_ARCLEN\0"
GUI_EXPORT = b"Java_com_lumenfold_vxo_SplashScreen_nativeClose"
VXO = "com/lumenfold/vxo/"
TOOLS = argparse.Namespace()  # filled in by main()


def fake_image(gui=False, slots=1, slot=bytes(8)):
    """Bytes around the slot stand in for code; the GUI kind also carries the splash export name."""
    image = b"\x7fELF fake launcher\0" + bytes(range(256))
    for _ in range(slots):
        image += slot + MARKER + b"\x90" * 37
    return image + (GUI_EXPORT if gui else b".dynsym console") + b"\0end"


def make_jar(path, entries):
    """entries: (name, data) pairs; data None makes a directory entry. Timestamps are fixed."""
    with zipfile.ZipFile(path, "w") as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(2001, 2, 3, 4, 5, 6))
            z.writestr(info, b"" if data is None else data)
    return path


def read(path):
    with open(path, "rb") as f:
        return f.read()


def strip_companions(source, target):
    with zipfile.ZipFile(source) as zin, zipfile.ZipFile(target, "w") as zout:
        for info in zin.infolist():
            if not info.filename.startswith("companion/"):
                zout.writestr(info, zin.read(info))
    return target


def split_output(data):
    """Walks the program file from its end, the way the launcher finds its payload."""
    slot = data.index(MARKER) - 8
    (arclen,) = struct.unpack("<Q", data[slot:slot + 8])
    archive = data[len(data) - arclen:]
    digest = data[-arclen - 16:-arclen]
    (t,) = struct.unpack("<I", data[-arclen - 20:-arclen - 16])
    config_start = len(data) - arclen - 20 - t
    return dict(slot=slot, arclen=arclen, archive=archive, digest=digest,
                config=data[config_start:config_start + t], image=data[:config_start])


class PackCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vexilo-pack-test-")
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def run_pack(self, *args, packer=None):
        env = {k: v for k, v in os.environ.items() if k not in ("JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS")}
        cmd = [TOOLS.java, "-jar", packer or TOOLS.bare_jar] + list(args)
        return subprocess.run(cmd, capture_output=True, text=True, env=env, timeout=120)

    def pack(self, jars, image=None, config=b"mainclass App\n", packer=None, extra=()):
        """Packs into out.bin and returns (output bytes, stderr lines). Unless a JAR holds App.class,
        one that does comes last, so the main class check passes."""
        args = ["--image", self.write("image", image or fake_image()),
                "--config", self.write("config", config), "--out", self.path("out.bin")] + list(extra)
        for jar in jars + ([] if any("App.class" in zipfile.ZipFile(j).namelist() for j in jars)
                           else [make_jar(self.path("main.jar"), [("App.class", b"app")])]):
            args += ["--jar", jar]
        r = self.run_pack(*args, packer=packer)
        self.assertEqual(r.returncode, 0, r.stderr)
        return read(self.path("out.bin")), r.stderr.splitlines()

    def archive(self, out):
        z = zipfile.ZipFile(self.write("cut.zip", split_output(out)["archive"]))
        self.addCleanup(z.close)
        return z


class LayoutTest(PackCase):
    def test_payload_layout(self):
        image = fake_image()
        out, warnings = self.pack([make_jar(self.path("a.jar"), [("p/x.txt", b"x" * 1000)])], image=image)
        self.assertEqual(warnings, [])
        parts = split_output(out)
        expected_image = bytearray(image)
        expected_image[parts["slot"]:parts["slot"] + 8] = struct.pack("<Q", len(parts["archive"]))
        self.assertEqual(parts["image"], bytes(expected_image), "only the slot may change in the image")
        self.assertEqual(parts["config"], b"\xef\xbb\xbfmainclass App\r\n\0")
        self.assertEqual(parts["digest"], hashlib.md5(parts["archive"]).digest())
        self.assertEqual(parts["archive"][:4], b"PK\3\4")
        self.assertEqual(os.stat(self.path("out.bin")).st_mode & 0o777, 0o755)

    def test_archive_readable_cut_out_and_in_place(self):
        out, _ = self.pack([make_jar(self.path("a.jar"), [("d/", None), ("d/f.txt", b"hello")])])
        cut = self.write("cut.zip", split_output(out)["archive"])
        for label, path in (("cut out", cut), ("whole file", self.path("out.bin"))):
            with self.subTest(label), zipfile.ZipFile(path) as z:
                self.assertIsNone(z.testzip())
                self.assertEqual(z.read("d/f.txt"), b"hello")
                self.assertEqual(z.comment, b"")
        if shutil.which("unzip"):
            r = subprocess.run(["unzip", "-t", cut], capture_output=True, text=True)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertNotIn("extra bytes", r.stdout + r.stderr, "offsets must be relative to the archive")

    def test_config_text(self):
        """Without a mainclass line, the JAR manifest's Main-Class is added as the last line."""
        bom, nul = b"\xef\xbb\xbf", b"\0"
        cases = [
            ("LF", b"a=1\nb=2\n", b"a=1\r\nb=2\r\n"),
            ("CR LF, last line unterminated", b"a=1\r\nb=2", b"a=1\r\nb=2\r\n"),
            ("CR only", b"a=1\rb=2\r", b"a=1\r\nb=2\r\n"),
            ("mixed with empty lines", b"a\r\n\nb\r\rc", b"a\r\n\r\nb\r\n\r\nc\r\n"),
            ("empty", b"", b""),
            ("UTF-8 with BOM", bom + b"k=\xc3\xa9\n", b"k=\xc3\xa9\r\n"),
            ("UTF-8 beyond the BMP", "k=€𝄞".encode(), "k=€𝄞\r\n".encode()),
            ("UTF-16LE with BOM", b"\xff\xfe" + "a=ü\nb=€".encode("utf-16-le"),
             "a=ü\r\nb=€\r\n".encode()),
            ("UTF-16BE with BOM", b"\xfe\xff" + "a=ü\r\n".encode("utf-16-be"), "a=ü\r\n".encode()),
            # Concatenated files leave marks inside; a doubled one would hide the first keyword.
            ("mark inside", b"a=1\n" + bom + b"b=2\n", b"a=1\r\nb=2\r\n"),
            ("doubled mark at the start", bom + bom + b"mainclass App\n", b"mainclass App\r\n"),
            ("UTF-16LE with a second mark", b"\xff\xfe" + "\ufeffa=1".encode("utf-16-le"), b"a=1\r\n"),
        ]
        jar = make_jar(self.path("a.jar"), [("META-INF/MANIFEST.MF", b"Manifest-Version: 1.0\r\n"
                                             b"Main-Class: App\r\n\r\n"), ("App.class", b"x")])
        for label, given, body in cases:
            with self.subTest(label):
                out, warnings = self.pack([jar], config=given)
                added = b"" if b"mainclass" in body else b"mainclass App\r\n"
                self.assertEqual(split_output(out)["config"], bom + body + added + nul)
                marks = [w for w in warnings if "byte-order mark" in w]
                self.assertEqual(len(marks), 1 if "mark" in label and "BOM" not in label else 0, warnings)

    def test_program_runs_on_jvm(self):
        src = self.write("Hello.java", b"public class Hello { public static void main(String[] a)"
                         b" throws Exception { System.out.print(new String(Hello.class"
                         b".getResourceAsStream(\"/res.txt\").readAllBytes(), \"UTF-8\")); } }")
        subprocess.run([TOOLS.javac, "-d", self.dir, src], check=True)
        app = self.path("app.jar")
        subprocess.run([TOOLS.jar_tool, "cfe", app, "Hello", "-C", self.dir, "Hello.class"], check=True)
        out, _ = self.pack([app, make_jar(self.path("res.jar"), [("res.txt", b"from second jar")])])
        for args in (["-jar", self.path("out.bin")], ["-cp", self.path("out.bin"), "Hello"]):
            with self.subTest(args[0]):
                r = subprocess.run([TOOLS.java] + args, capture_output=True, text=True, timeout=60)
                self.assertEqual((r.returncode, r.stdout), (0, "from second jar"), r.stderr)


class MergeTest(PackCase):
    def test_order_and_first_copy_wins(self):
        a = make_jar(self.path("a.jar"), [("META-INF/MANIFEST.MF", b"first"), ("d/", None), ("d/x", b"a"),
                                          ("d/only-a", b"a")])
        b = make_jar(self.path("b.jar"), [("META-INF/MANIFEST.MF", b"second"), ("d/", None), ("d/x", b"b"),
                                          ("e/y", b"b")])
        c = make_jar(self.path("c.jar"), [("z-first-in-c", b"c"), ("d/x", b"c")])
        out, warnings = self.pack([a, b, c])
        z = self.archive(out)
        self.assertEqual(z.namelist(),
                         ["META-INF/MANIFEST.MF", "d/", "d/x", "d/only-a", "e/y", "z-first-in-c", "App.class"])
        self.assertEqual((z.read("d/x"), z.read("META-INF/MANIFEST.MF")), (b"a", b"first"))
        self.assertEqual(len(warnings), 2, warnings)
        for warning, loser in zip(warnings, (b, c)):
            self.assertTrue(warning.startswith("vexilo-pack: warning: "), warning)
            self.assertIn("d/x", warning)
            self.assertIn(loser, warning)

    def test_manifest_of_later_jar_goes_first(self):
        a = make_jar(self.path("a.jar"), [("a.txt", b"a")])
        b = make_jar(self.path("b.jar"),
                     [("b.txt", b"b"), ("META-INF/", None), ("META-INF/MANIFEST.MF", b"b")])
        z = self.archive(self.pack([a, b])[0])
        self.assertEqual(z.namelist(), ["META-INF/", "META-INF/MANIFEST.MF", "a.txt", "b.txt", "App.class"])

    def test_signatures_and_index_dropped(self):
        dropped = ["META-INF/APP.SF", "META-INF/app.rsa", "META-INF/K.DSA", "META-INF/K.EC",
                   "META-INF/INDEX.LIST"]
        kept = ["META-INF/sub/X.SF", "META-INF/notes.txt", "top.SF", "META-INF/services/a.RSA"]
        out, warnings = self.pack([make_jar(self.path("s.jar"), [(n, b"s") for n in dropped + kept])])
        self.assertEqual(self.archive(out).namelist(), kept + ["App.class"])
        self.assertEqual(len(warnings), len(dropped), warnings)
        for name, warning in zip(dropped, warnings):
            self.assertIn(name, warning)

    def test_timestamps_kept_and_files_deflated(self):
        out, _ = self.pack([make_jar(self.path("a.jar"), [("dir/", None), ("dir/f", b"data" * 100)])])
        for info in self.archive(out).infolist():
            with self.subTest(info.filename):
                self.assertEqual(info.date_time, (2001, 2, 3, 4, 5, 6))
                expected = zipfile.ZIP_STORED if info.is_dir() else zipfile.ZIP_DEFLATED
                self.assertEqual(info.compress_type, expected)


class CompanionTest(PackCase):
    # The last two only look like splash classes, so console images get them too.
    COMMON = [VXO + "SystemTray.class", VXO + "SystemTray$1.class", VXO + "SplashScreen.png",
              VXO + "SplashScreenParts/Logo.class"]
    SPLASH = [VXO + "SplashScreen.class", VXO + "SplashScreen$1.class",
              VXO + "SplashScreen$Painter.class", VXO + "SplashCloseOnWindow.class",
              VXO + "SplashCloseOnWindow$1.class"]

    def companion_packer(self):
        """A copy of vexilo-pack.jar with companion classes added, as the build would store them."""
        packer = shutil.copy(TOOLS.bare_jar, self.path("packer.jar"))
        for name in self.COMMON + self.SPLASH:
            os.makedirs(os.path.dirname(self.path("stage/companion/" + name)), exist_ok=True)
            self.write("stage/companion/" + name, b"companion " + name.encode())
        subprocess.run([TOOLS.jar_tool, "uf", packer, "-C", self.path("stage"), "companion"], check=True)
        return packer

    def test_splash_classes_only_for_gui_images(self):
        packer = self.companion_packer()
        app = make_jar(self.path("app.jar"), [("App.class", b"app")])
        for gui, expected in ((False, self.COMMON), (True, self.COMMON + self.SPLASH)):
            with self.subTest(gui=gui):
                out, warnings = self.pack([app], image=fake_image(gui=gui), packer=packer)
                files = [n for n in self.archive(out).namelist() if not n.endswith("/")]
                self.assertEqual(files[0], "App.class", "application entries come first")
                self.assertEqual(sorted(files[1:]), sorted(expected))
                self.assertEqual(warnings, [])

    def test_application_copy_beats_companion(self):
        app = make_jar(self.path("app.jar"), [(VXO + "SystemTray.class", b"app's own")])
        out, warnings = self.pack([app], packer=self.companion_packer())
        self.assertEqual(self.archive(out).read(VXO + "SystemTray.class"), b"app's own")
        self.assertEqual(len(warnings), 1, warnings)
        self.assertIn(VXO + "SystemTray.class", warnings[0])
        self.assertIn("companion", warnings[0])


class BuiltCompanionTest(PackCase):
    def test_built_companions_reach_program_files(self):
        with zipfile.ZipFile(TOOLS.packer_jar) as z:
            built = {n[len("companion/"):] for n in z.namelist()
                     if n.startswith("companion/") and not n.endswith("/")}
        splash = {n for n in built if re.fullmatch(VXO + r"Splash(Screen|CloseOnWindow)[^/]*\.class", n)}
        app = make_jar(self.path("app.jar"), [("App.class", b"app")])
        for gui, expected in ((False, built - splash), (True, built)):
            with self.subTest(gui=gui):
                out, _ = self.pack([app], image=fake_image(gui=gui), packer=TOOLS.packer_jar)
                names = set(self.archive(out).namelist())
                self.assertEqual(names & built, expected)


class ErrorTest(PackCase):
    def inputs(self):
        return dict(image=self.write("image", fake_image()), config=self.write("config", b"mainclass x\n"),
                    jar=make_jar(self.path("a.jar"), [("x.class", b"x")]), out=self.path("out.bin"))

    def args(self, image, config, jar, out):
        return ["--image", image, "--config", config, "--jar", jar, "--out", out]

    def check_failure(self, args, fragment, absent):
        """absent: the output path that must not exist afterwards, None when it is an existing file."""
        r = self.run_pack(*args)
        lines = r.stderr.splitlines()
        self.assertNotEqual(r.returncode, 0)
        self.assertEqual(len(lines), 1, r.stderr)
        self.assertTrue(lines[0].startswith("vexilo-pack: "), lines[0])
        self.assertIn(fragment, lines[0])
        if absent:
            self.assertFalse(os.path.lexists(absent), "no output after a failure")
        leftovers = [n for _, _, names in os.walk(self.dir) for n in names if n.endswith(".tmp")]
        self.assertEqual(leftovers, [], "temporary file left behind")

    def test_bad_calls(self):
        f = self.inputs()
        good = self.args(**f)
        self.write("text.txt", b"not a zip")
        self.write("empty.jar", b"")
        os.mkdir(self.path("dir"))
        os.symlink(f["jar"], self.path("link.jar"))
        originals = {p: read(p) for p in (f["image"], f["config"], f["jar"])}
        cases = [
            ("no arguments", [], "missing --image"),
            ("unknown option", good + ["--frobnicate", "x"], "unknown option: --frobnicate"),
            ("duplicated --image", good + ["--image", f["image"]], "--image given more than once"),
            ("duplicated --config", good + ["--config", f["config"]], "--config given more than once"),
            ("duplicated --out", good + ["--out", f["out"]], "--out given more than once"),
            ("value missing at end", good + ["--jar"], "--jar needs a value"),
            ("option as value", ["--image", "--config", f["config"]] + good[4:], "--image needs a value"),
            ("stray argument", good + ["stray"], "unexpected argument: stray"),
            ("no --config", good[:2] + good[4:], "missing --config"),
            ("no --jar", good[:4] + good[6:], "missing --jar"),
            ("no --out", good[:6], "missing --out"),
            ("missing image", self.args(self.path("nope"), f["config"], f["jar"], f["out"]), "no such file"),
            ("line break in path", self.args(self.path("no\nsuch"), f["config"], f["jar"], f["out"]),
             "no such file"),
            ("missing config", self.args(f["image"], self.path("nope"), f["jar"], f["out"]), "no such file"),
            ("missing jar", self.args(f["image"], f["config"], self.path("nope.jar"), f["out"]), "nope.jar"),
            ("directory as jar", self.args(f["image"], f["config"], self.path("dir"), f["out"]),
             "not a regular"),
            ("jar not a zip", self.args(f["image"], f["config"], self.path("text.txt"), f["out"]),
             "not a JAR/ZIP archive: " + self.path("text.txt")),
            ("empty jar file", self.args(f["image"], f["config"], self.path("empty.jar"), f["out"]),
             "not a JAR/ZIP archive"),
        ]
        outputs = [
            ("output is the image", f["image"], "overwrite an input"),
            ("output is the config", f["config"], "overwrite an input"),
            ("output is a jar", f["jar"], "overwrite an input"),
            ("output links to the jar", self.path("link.jar"), "overwrite an input"),
            ("output is a directory", self.path("dir"), "output is a directory"),
            ("output directory missing", self.path("no/out"), "cannot write " + self.path("no/out")),
        ]
        cases += [(label, self.args(f["image"], f["config"], f["jar"], out), fragment)
                  for label, out, fragment in outputs]
        for label, args, fragment in cases:
            with self.subTest(label):
                absent = self.path("no/out") if label == "output directory missing" else f["out"]
                self.check_failure(args, fragment, absent)
                for path, data in originals.items():
                    self.assertEqual(read(path), data, "inputs stay intact")

    def test_bad_contents(self):
        f = self.inputs()
        empty_jar = make_jar(self.path("empty.jar"), [])
        cases = [
            ("image without slot", dict(image=b"\x7fELF no marker here"), "no archive-length slot"),
            ("image with two slots", dict(image=fake_image(slots=2)), "more than one archive-length slot"),
            ("slot at the very start", dict(image=MARKER + b"rest"), "cut off"),
            ("image already packed", dict(image=fake_image(slot=struct.pack("<Q", 1234))), "already packed"),
            ("config not UTF-8", dict(config=b"name=\xff\xfe\xfd broken"), "not valid UTF-8"),
            ("odd-length UTF-16", dict(config=b"\xff\xfea\0b"), "not valid"),
            ("config with NUL", dict(config=b"a=1\0b=2\n"), "NUL"),
            ("only empty jars", dict(jar=empty_jar), "nothing to pack"),
        ]
        for label, change, fragment in cases:
            with self.subTest(label):
                paths = dict(f)
                for key in ("image", "config"):
                    if key in change:
                        paths[key] = self.write(key + "-bad", change[key])
                paths["jar"] = change.get("jar", f["jar"])
                self.check_failure(self.args(**paths), fragment, f["out"])

    def test_repacking_a_program_file_fails_and_keeps_old_output(self):
        f = self.inputs()
        self.assertEqual(self.run_pack(*self.args(**f)).returncode, 0)
        old = read(f["out"])
        again = self.args(f["out"], f["config"], f["jar"], self.path("again"))
        self.check_failure(again, "image is already packed", self.path("again"))
        packed = shutil.copy(f["out"], self.path("packed"))
        self.check_failure(self.args(packed, f["config"], f["jar"], f["out"]), "already packed", None)
        self.assertEqual(read(f["out"]), old, "a failed run leaves an older output alone")

    @unittest.skipIf(os.geteuid() == 0, "root reads everything")
    def test_unreadable_input(self):
        f = self.inputs()
        os.chmod(f["config"], 0)
        self.check_failure(self.args(**f), "permission denied", f["out"])


class WrapperTest(PackCase):
    def install(self):
        bindir = self.path("dist")
        os.mkdir(bindir)
        shutil.copy(TOOLS.packer_jar, os.path.join(bindir, "vexilo-pack.jar"))
        wrapper = shutil.copy(TOOLS.wrapper, os.path.join(bindir, "vexilo-pack"))
        os.chmod(wrapper, 0o755)
        os.mkdir(self.path("bin"))
        os.symlink(os.path.relpath(wrapper, self.path("bin")), self.path("bin/vexilo-pack"))
        return wrapper

    def run_wrapper(self, path, java_home=None):
        env = dict(os.environ)
        env.pop("JAVA_HOME", None)
        env["PATH"] = os.path.dirname(TOOLS.java) + os.pathsep + env.get("PATH", "")
        if java_home is not None:
            env["JAVA_HOME"] = java_home
        return subprocess.run([path, "--help"], capture_output=True, text=True, env=env, timeout=60)

    def test_runs_jar_next_to_the_real_script(self):
        wrapper = self.install()
        for label, path in (("direct", wrapper), ("through symlink", self.path("bin/vexilo-pack"))):
            with self.subTest(label):
                r = self.run_wrapper(path)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertTrue(r.stdout.startswith("usage: vexilo-pack --image"), r.stdout)

    def test_java_home(self):
        self.install()
        os.makedirs(self.path("jdk/bin"))
        fake = self.write("jdk/bin/java", b'#!/bin/sh\necho "fake java $*"\n')
        os.chmod(fake, 0o755)
        r = self.run_wrapper(self.path("bin/vexilo-pack"), java_home=self.path("jdk"))
        jar = os.path.realpath(self.path("dist/vexilo-pack.jar"))
        self.assertEqual(r.stdout.strip(), "fake java -jar %s --help" % jar)
        r = self.run_wrapper(self.path("bin/vexilo-pack"), java_home=self.path("nowhere"))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("JAVA_HOME", r.stderr)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--packer-jar", required=True)
    parser.add_argument("--wrapper", required=True)
    parser.add_argument("--java", default=shutil.which("java"))
    parser.add_argument("--javac", default=shutil.which("javac"))
    parser.add_argument("--jar-tool", default=shutil.which("jar"))
    args, rest = parser.parse_known_args()
    vars(TOOLS).update({k: os.path.abspath(v) if k in ("packer_jar", "wrapper") else v
                        for k, v in vars(args).items()})
    with tempfile.TemporaryDirectory(prefix="vexilo-pack-test-") as scratch:
        # Most tests need to know the companion set exactly, whatever java/ holds today.
        TOOLS.bare_jar = strip_companions(TOOLS.packer_jar, os.path.join(scratch, "bare.jar"))
        result = unittest.main(argv=[sys.argv[0]] + rest, exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
