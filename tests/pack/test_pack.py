#!/usr/bin/env python3
"""Runs the real vexilo-pack.jar on fake launcher images and checks the program files it writes."""

import argparse
import hashlib
import os
import re
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

import pictures

MARKER = b"VEXILO_ARCLEN\0"
GUI_EXPORT = b"Java_com_lumenfold_vxo_SplashScreen_nativeClose"
VXO = "com/lumenfold/vxo/"
TOOLS = argparse.Namespace()  # filled in by main()
HERE = os.path.dirname(os.path.abspath(__file__))
KEYWORD_TABLE = os.path.join(HERE, "..", "..", "src", "config", "config_store.h")


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


def has_entry(jar, name):
    with zipfile.ZipFile(jar) as z:
        return name in z.namelist()


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

    def pack(self, jars, image=None, config=b"mainclass App\n", packer=None, extra=(), tail=(), out="out.bin"):
        """Packs into out and returns (output bytes, stderr lines). Unless a JAR holds App.class,
        one that does comes last, so the main class check passes. tail: arguments after the JARs."""
        args = ["--image", self.write("image", image or fake_image()),
                "--config", self.write("config", config), "--out", self.path(out)] + list(extra)
        for jar in jars + ([] if any(has_entry(j, "App.class") for j in jars)
                           else [make_jar(self.path("main.jar"), [("App.class", b"app")])]):
            args += ["--jar", jar]
        r = self.run_pack(*args + list(tail), packer=packer)
        self.assertEqual(r.returncode, 0, r.stderr)
        return read(self.path(out)), r.stderr.splitlines()

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

    def test_duplicates_summed_up_per_jar(self):
        a = make_jar(self.path("a.jar"), [("d/", None)] + [("d/%d" % i, b"a") for i in range(5)])
        b = make_jar(self.path("b.jar"), [("d/", None)] + [("d/%d" % i, b"a" if i < 3 else b"b") for i in range(5)]
                     + [("e/new", b"b")])
        c = make_jar(self.path("-c.jar"), [("d/0", b"c"), ("e/new", b"c")])
        b_line = "%s: 5 entries already in %s, kept %s's (2 with other content)" % (b, a, a)
        c_line = "%s: 2 entries already in %s, %s, kept the first copies (2 with other content)" % (c, a, b)
        cases = [
            ([], [b_line, c_line]),
            (["--verbose"], [b_line] + ["%s: duplicate d/%d ignored" % (b, i) for i in range(5)]
             + [c_line, "%s: duplicate d/0 ignored" % c, "%s: duplicate e/new ignored" % c]),
        ]
        for extra, expected in cases:
            with self.subTest(extra):
                # "--" ends the options: a JAR whose name starts with "-" comes after it.
                out, warnings = self.pack([a, b], extra=extra, tail=["--", c])
                self.assertEqual([w[len("vexilo-pack: warning: "):] for w in warnings], expected)
                self.assertEqual(self.archive(out).read("e/new"), b"b")

    def test_licence_files_kept(self):
        """A later JAR's licence texts stay beside the first one's; other duplicates do not."""
        a = make_jar(self.path("a.jar"), [("META-INF/LICENSE", b"A"), ("META-INF/NOTICE.txt", b"A"),
                                          ("LICENSE-2.0.md", b"A"), ("META-INF/licenses/Copying", b"A"),
                                          ("docs/LICENSE", b"A"), ("p/LicenseCheck.class", b"A"),
                                          ("META-INF/services/LicenseProvider", b"p.A\n")])
        b = make_jar(self.path("lib b-1.2.jar"), [("META-INF/LICENSE", b"B"), ("META-INF/NOTICE.txt", b"A"),
                                                  ("LICENSE-2.0.md", b"B"), ("META-INF/licenses/Copying", b"B"),
                                                  ("docs/LICENSE", b"B"), ("p/LicenseCheck.class", b"B"),
                                                  ("META-INF/services/LicenseProvider", b"p.B\n")])
        c = make_jar(self.path("c.jar"), [("META-INF/LICENSE", b"C"), ("META-INF/LICENSE-lib_b-1.2", b"taken")])
        out, _ = self.pack([a, b, c])
        z = self.archive(out)
        expected = {
            "META-INF/LICENSE": b"A", "META-INF/LICENSE-lib_b-1.2": b"B", "META-INF/LICENSE-c": b"C",
            "META-INF/LICENSE-lib_b-1.2-c": b"taken",  # c's own file of that name is a licence text too
            "META-INF/NOTICE.txt": b"A",  # the same text once
            "LICENSE-2.0.md": b"A", "LICENSE-2.0-lib_b-1.2.md": b"B",
            "META-INF/licenses/Copying": b"A", "META-INF/licenses/Copying-lib_b-1.2": b"B",
            "docs/LICENSE": b"A", "p/LicenseCheck.class": b"A",  # not licence texts: first copy wins
            "META-INF/services/LicenseProvider": b"p.A\np.B\n",
        }
        self.assertEqual({n: z.read(n) for n in z.namelist() if n in expected or "LICENSE" in n.upper()
                          or "Copying" in n}, expected)

    def test_manifests_merged(self):
        made = []

        def jar(name, text, *entries):
            """Every case's JARs get a folder of their own: the table is built before any case runs."""
            os.makedirs(self.path("m%d" % len(made)))
            made.append(make_jar(self.path("m%d/%s" % (len(made), name)),
                                 [("META-INF/MANIFEST.MF", text.encode())] + list(entries)))
            return made[-1]

        def main(text):
            return "Manifest-Version: 1.0\r\n" + text + "\r\n"
        section = "Name: p/\r\nSealed: true\r\n\r\n"
        os.makedirs(self.path("lib"), exist_ok=True)
        lib = make_jar(self.path("lib/my lib.jar"), [("l.txt", b"l")])
        # label, JARs, the merged main attributes that matter, the per-entry section names
        cases = [
            ("first unchanged keeps its bytes", [jar("a.jar", main("Created-By: a\r\nX-Odd:  spaced \r\n"))],
             None, None),
            ("Class-Path: merged JARs dropped, URL escapes and file URLs resolved, order kept",
             [jar("a.jar", main("Class-Path: x.jar ../lib/my%20lib.jar\r\n")),
              jar("b.jar", main("Class-Path: y.jar x.jar file:" + self.path("lib/my%20lib.jar") + "\r\n")), lib],
             {"Class-Path": "x.jar y.jar"}, []),
            ("Multi-Release from any, Main-Class from the first naming one, sections of all",
             [jar("a.jar", main("Implementation-Title: A\r\n") + section),
              jar("b.jar", main("Main-Class: p.B\r\nMulti-Release: TRUE\r\nImplementation-Title: B\r\n")
                  + "Name: p/\r\nSealed: false\r\n\r\nName: q/\r\nSealed: true\r\n\r\n"),
              jar("c.jar", main("Main-Class: p.C\r\n"))],
             {"Main-Class": "p.B", "Multi-Release": "true", "Implementation-Title": "A"}, ["p/", "q/"]),
            ("a later unreadable one is left out", [jar("a.jar", main("Main-Class: p.A\r\n")),
                                                    jar("b.jar", "\xff no header\n")],
             {"Main-Class": "p.A"}, []),
        ]
        for label, jars, attributes, sections in cases:
            with self.subTest(label):
                out, warnings = self.pack(jars)
                text = self.archive(out).read("META-INF/MANIFEST.MF")
                if attributes is None:
                    self.assertEqual(text, read(jars[0])[30 + len("META-INF/MANIFEST.MF"):][:len(text)])
                    continue
                blocks = text.decode().split("\r\n\r\n")
                found = dict(line.split(": ", 1) for line in blocks[0].splitlines())
                self.assertEqual({k: found.get(k) for k in attributes}, attributes)
                names = [b.splitlines()[0][len("Name: "):] for b in blocks[1:] if b.strip()]
                self.assertEqual(sorted(names), sections)
                if sections:
                    self.assertIn("Name: p/\r\nSealed: true", text.decode(), "the first section of a name wins")
                if "unreadable" in label:
                    self.assertEqual(len([w for w in warnings if "cannot read META-INF/MANIFEST.MF" in w]), 1)

    def test_long_output_name(self):
        """The temporary file's name does not grow with the output's: a name at the limit works."""
        name = "p" * 255
        out, _ = self.pack([make_jar(self.path("a.jar"), [("x", b"x")])], out=name)
        self.assertEqual(out[:4], fake_image()[:4])

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


MAIN_SOURCE = b"""package app;
import java.util.*;
public class Main {
    public static void main(String[] args) throws Exception {
        System.out.println("main " + Main.class.getName());
        List<String> names = new ArrayList<>();
        for (Object provider : ServiceLoader.load(Class.forName("spi.Greeter"))) {
            names.add(provider.getClass().getName());
        }
        System.out.println("providers " + names);
        System.out.println("extra " + call("c.Extra"));
        System.out.println("which " + call("v.Which"));
        System.out.println("resource " + (Main.class.getResource("/r/69999.txt") != null));
    }
    static Object call(String name) throws Exception {
        try {
            return Class.forName(name).getMethod("name").invoke(null);
        } catch (ClassNotFoundException e) {
            return "missing";
        }
    }
}
"""


def manifest(*lines):
    return ("Manifest-Version: 1.0\r\n" + "".join(line + "\r\n" for line in lines) + "\r\n").encode()


class ClassPathParityTest(PackCase):
    """JAR sets packed into a program for the real Linux image and runtime, which must behave as
    `java -cp` over the same JARs does."""

    @classmethod
    def setUpClass(cls):
        cls.image = os.path.join(TOOLS.dist, "launcher-console")
        if not os.path.exists(cls.image):
            raise unittest.SkipTest("no Linux image in " + TOOLS.dist)
        cls.build = tempfile.mkdtemp(prefix="vexilo-parity-")
        sources = {
            "app/Main.java": MAIN_SOURCE,
            "spi/Greeter.java": b"package spi; public interface Greeter {}",
            "a/AGreeter.java": b"package a; public class AGreeter implements spi.Greeter {}",
            "b/BGreeter.java": b"package b; public class BGreeter implements spi.Greeter {}",
            "c/Extra.java": b'package c; public class Extra { public static String name() { return "found"; } }',
            "v/Which.java": b'package v; public class Which { public static String name() { return "base"; } }',
            "v9/v/Which.java": b'package v; public class Which { public static String name() { return "nine"; } }',
        }
        for name, text in sources.items():
            os.makedirs(os.path.dirname(os.path.join(cls.build, "src", name)), exist_ok=True)
            with open(os.path.join(cls.build, "src", name), "wb") as f:
                f.write(text)
        src = os.path.join(cls.build, "src")
        common = [os.path.join(src, n) for n in sources if not n.startswith("v9/")]
        subprocess.run([TOOLS.javac, "--release", "8", "-nowarn", "-Xlint:-options", "-d", cls.build + "/classes"]
                       + common, check=True, capture_output=True)
        subprocess.run([TOOLS.javac, "--release", "9", "-d", cls.build + "/classes9",
                        os.path.join(src, "v9/v/Which.java")], check=True, capture_output=True)
        cls.classes = {}
        for root, folder in ((cls.build + "/classes", ""), (cls.build + "/classes9", "META-INF/versions/9/")):
            for dirpath, _, files in os.walk(root):
                for file in files:
                    full = os.path.join(dirpath, file)
                    cls.classes[folder + os.path.relpath(full, root)] = read(full)
        java_home = os.path.dirname(os.path.dirname(os.path.realpath(TOOLS.java)))
        cls.libjvm = os.path.join(java_home, "lib", "server", "libjvm.so")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.build, ignore_errors=True)

    def cls(self, *names):
        return [(n, self.classes[n]) for n in names]

    def test_program_runs_like_the_class_path(self):
        # Every JAR set starts with a JAR with a manifest, as real ones have: a later one's is merged.
        base = [("META-INF/MANIFEST.MF", manifest("Created-By: a"))] + self.cls("app/Main.class", "spi/Greeter.class")
        services = "META-INF/services/spi.Greeter"
        many = [("r/%d.txt" % i, b"") for i in range(70000)]
        mr = [("META-INF/MANIFEST.MF", manifest("Multi-Release: true"))] + self.cls(
            "v/Which.class", "META-INF/versions/9/v/Which.class")
        # label, JARs (name, entries), mainclass line, expected output, expected manifest attributes;
        # the packer's warnings are checked below
        cases = [
            ("services in two JARs",
             [("a.jar", base + self.cls("a/AGreeter.class") + [(services, b"# A\na.AGreeter\n")]),
              ("b.jar", self.cls("b/BGreeter.class") + [(services, b"b.BGreeter # B\r\na.AGreeter\n")])],
             True, ["providers [a.AGreeter, b.BGreeter]"], {}),
            ("Class-Path in the second",
             [("a.jar", base),
              ("b.jar", [("META-INF/MANIFEST.MF", manifest("Class-Path: c.jar a.jar"))]),
              ("c.jar", self.cls("c/Extra.class"))],
             True, ["extra found"], {"Class-Path": "c.jar", "Created-By": "a"}),
            ("Multi-Release in the second", [("a.jar", base), ("b.jar", mr)], True, ["which nine"],
             {"Multi-Release": "true"}),
            ("Main-Class in the second",
             [("a.jar", base),
              ("b.jar", [("META-INF/MANIFEST.MF", manifest("Main-Class: app.Main", "Created-By: b"))])],
             False, ["main app.Main"], {"Main-Class": "app.Main", "Created-By": "a"}),
            ("70,000 entries", [("a.jar", base), ("b.jar", many)], True, ["resource true"], {}),
            ("licence files in both",
             [("a.jar", base + [("META-INF/LICENSE", b"A licence"), ("NOTICE.txt", b"A notice")]),
              ("b.jar", [("META-INF/LICENSE", b"B licence"), ("NOTICE.txt", b"A notice")])],
             True, ["main app.Main"], {}),
        ]
        for label, jars, mainclass, expected, attributes in cases:
            with self.subTest(label):
                folder = tempfile.mkdtemp(dir=self.dir)
                paths = [make_jar(os.path.join(folder, name), entries) for name, entries in jars]
                merged = [p for p in paths if not (label.startswith("Class-Path") and p.endswith("c.jar"))]
                config = ("mainclass app.Main\n" if mainclass else "") + "jvmdll %s\n" % self.libjvm
                program = os.path.join(folder, "program")
                args = ["--image", self.image, "--config", self.write("config", config.encode()), "--out", program]
                r = self.run_pack(*args + [a for p in merged for a in ("--jar", p)], packer=TOOLS.packer_jar)
                self.assertEqual(r.returncode, 0, r.stderr)
                env = {k: v for k, v in os.environ.items() if k not in ("JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS")}
                packed = subprocess.run([program], capture_output=True, text=True, cwd=folder, env=env, timeout=120)
                plain = subprocess.run([TOOLS.java, "-cp", os.pathsep.join(merged), "app.Main"], capture_output=True,
                                       text=True, cwd=folder, env=env, timeout=120)
                self.assertEqual((plain.returncode, packed.returncode), (0, 0), plain.stderr + packed.stderr)
                self.assertEqual(packed.stdout, plain.stdout, packed.stderr)
                for line in expected:
                    self.assertIn(line, packed.stdout.splitlines())
                warnings = [w for w in r.stderr.splitlines() if "App" not in w]
                self.assertEqual(warnings, {
                    "Class-Path in the second": ["vexilo-pack: warning: Class-Path c.jar: the runtime looks for this "
                                                 "file beside the program file, after the packed classes"],
                    "Main-Class in the second": ["vexilo-pack: warning: mainclass app.Main: the Main-Class of %s; the "
                                                 "JARs before it name none" % paths[1]],
                    "licence files in both": ["vexilo-pack: warning: %s: entry NOTICE.txt already in %s, kept %s's "
                                              "(same content)" % (paths[1], paths[0], paths[0]),
                                              "vexilo-pack: warning: %s: licence file kept as META-INF/LICENSE-b "
                                              "(an earlier JAR has one of that name)" % paths[1]],
                }.get(label, []))
                with zipfile.ZipFile(program) as z:
                    text = z.read("META-INF/MANIFEST.MF").decode() if "META-INF/MANIFEST.MF" in z.namelist() else ""
                    found = dict(line.split(": ", 1) for line in text.splitlines() if ": " in line)
                    self.assertEqual({k: found.get(k) for k in attributes}, attributes)
                    if label.startswith("licence"):
                        texts = sorted(z.read(n) for n in z.namelist() if "LICENSE" in n or "NOTICE" in n)
                        self.assertEqual(texts, [b"A licence", b"A notice", b"B licence"], z.namelist())
                    if label.startswith("70,000"):
                        self.check_zip64_end(read(program))

    def check_zip64_end(self, data):
        """Every end record's offsets are the ones a reader of the whole file uses."""
        end = data.rindex(b"PK\5\6")
        locator = end - 20
        self.assertEqual(data[locator:locator + 4], b"PK\6\7")
        (record,) = struct.unpack_from("<Q", data, locator + 8)
        self.assertEqual(data[record:record + 4], b"PK\6\6", "the locator gives a position in the file")
        size, offset = struct.unpack_from("<QQ", data, record + 40)
        self.assertEqual(data[record - size:record - size + 4], b"PK\1\2")
        archive = split_output(data)
        self.assertEqual(len(data) - archive["arclen"] + offset, record - size, "the directory's archive offset")
        self.assertEqual(archive["digest"], hashlib.md5(archive["archive"]).digest())


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


    def test_api_jars(self):
        """Classes only in the API JAR (a source there would be compiled into the application),
        sources and HTML documentation beside it, with a comment on every public member."""
        jars = {kind: os.path.join(TOOLS.dist, "vexilo-api%s.jar" % kind) for kind in ("", "-sources", "-javadoc")}
        missing = [path for path in jars.values() if not os.path.exists(path)]
        if missing:
            self.skipTest("not built: %s" % missing)
        with zipfile.ZipFile(TOOLS.packer_jar) as z:
            built = {n[len("companion/"):] for n in z.namelist() if n.startswith("companion/") and n.endswith(".class")}
        outers = {n.split("$")[0].replace(".class", "") for n in built}
        with zipfile.ZipFile(jars[""]) as z:
            names = set(z.namelist())
            tray = z.read(VXO + "SystemTray.class")
        self.assertEqual({n for n in names if n.endswith(".class")}, built)
        self.assertEqual([n for n in names if n.endswith(".java")], [])
        for parameter in (b"iconId", b"balloonText", b"MethodParameters"):
            self.assertIn(parameter, tray, "parameter names kept for the IDE")
        with zipfile.ZipFile(jars["-sources"]) as z:
            self.assertEqual({n[:-len(".java")] for n in z.namelist() if n.endswith(".java")}, outers)
            z.extractall(self.path("sources"))
        with zipfile.ZipFile(jars["-javadoc"]) as z:
            pages = set(z.namelist())
        self.assertIn("index.html", pages)
        for outer in outers:
            self.assertIn(outer + ".html", pages)
        javadoc = os.path.join(os.path.dirname(os.path.realpath(TOOLS.javac)), "javadoc")
        sources = [os.path.join(d, f) for d, _, files in os.walk(self.path("sources")) for f in files
                   if f.endswith(".java")]
        r = subprocess.run([javadoc, "--release", "8", "-quiet", "-Xdoclint:all", "-Werror", "-d", self.path("doc")]
                           + sources, capture_output=True, text=True, timeout=300)
        self.assertEqual(r.returncode, 0, "every public member has a doc comment:\n" + r.stdout + r.stderr)


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
        api_jar = os.path.join(os.path.dirname(TOOLS.bare_jar), "vexilo-api.jar")
        shutil.copy(f["jar"], api_jar)
        self.addCleanup(os.remove, api_jar)
        originals = {p: read(p) for p in (f["image"], f["config"], f["jar"], TOOLS.bare_jar, api_jar)}
        cases = [
            ("no arguments", [], "missing --image"),
            ("unknown option", good + ["--frobnicate", "x"], "unknown option: --frobnicate"),
            ("duplicated --image", good + ["--image", f["image"]], "--image given more than once"),
            ("duplicated --config", good + ["--config", f["config"]], "--config given more than once"),
            ("duplicated --out", good + ["--out", f["out"]], "--out given more than once"),
            ("value missing at end", good + ["--jar"], "--jar needs a value"),
            ("option as value", ["--image", "--config", f["config"]] + good[4:], '--image took "--config" as its value'),
            ("stray argument", good + ["stray"], "unexpected argument: stray"),
            # A value, even one that spells an option: this packs (and is refused for the image).
            ("-h as a value", good + ["--description", "-h"], "only go into a Windows image"),
            ("--help as a value", good + ["--company", "--help"], "only go into a Windows image"),
            ("argument after --", good[:6] + ["--", f["jar"], "--out", f["out"]], "missing --out"),
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
            ("output is the packer's JAR", TOOLS.bare_jar, "the packer's own bare.jar"),
            ("output is the API JAR beside it", api_jar, "the packer's own vexilo-api.jar"),
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
        damaged = bytearray(read(make_jar(self.path("crc.jar"), [("x.class", b"x"), ("p/Data.bin", b"hello world")])))
        damaged[damaged.index(b"hello world")] ^= 0x20
        self.write("crc.jar", bytes(damaged))
        # A small file whose central directory says its one entry is 2 GiB: refused before writing.
        huge = bytearray(read(make_jar(self.path("huge.jar"), [("x.class", b"x"), ("big.bin", b"0123456789")])))
        central = huge.rindex(b"PK\1\2")
        huge[central + 20:central + 28] = struct.pack("<II", 0x7FFFFFF0, 0x7FFFFFF0)
        self.write("huge.jar", bytes(huge))
        cases = [
            ("image without slot", dict(image=b"\x7fELF no marker here"), "no archive-length slot"),
            ("image with two slots", dict(image=fake_image(slots=2)), "more than one archive-length slot"),
            ("slot at the very start", dict(image=MARKER + b"rest"), "cut off"),
            ("image already packed", dict(image=fake_image(slot=struct.pack("<Q", 1234))), "already packed"),
            ("config not UTF-8", dict(config=b"name=\xff\xfe\xfd broken"), "not valid UTF-8"),
            ("odd-length UTF-16", dict(config=b"\xff\xfea\0b"), "not valid"),
            ("config with NUL", dict(config=b"a=1\0b=2\n"), "NUL"),
            ("only empty jars", dict(jar=empty_jar), "nothing to pack"),
            ("corrupt CRC", dict(jar=self.path("crc.jar")),
             "corrupt entry p/Data.bin in %s: CRC" % self.path("crc.jar")),
            ("2 GiB from the central directory", dict(jar=self.path("huge.jar")), "would be about 2048 MiB; it must stay below 2 GiB"),
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


class ConfigCheckTest(PackCase):
    def launcher_keywords(self):
        """The keyword table the launcher itself uses."""
        with open(KEYWORD_TABLE, encoding="utf-8") as f:
            return re.findall(r'\{Keyword::\w+, "(\w+)"', f.read())

    def test_every_launcher_keyword_is_known(self):
        keywords = self.launcher_keywords()
        self.assertGreater(len(keywords), 20)
        config = "".join("%s x\n" % k.upper() if i % 2 else "  %s=x\n" % k for i, k in enumerate(keywords))
        _, warnings = self.pack([], config=("mainclass App\nclasspath lib\n" + config).encode())
        self.assertEqual([w for w in warnings if "unknown keyword" in w], [])

    def test_warnings(self):
        cases = [
            ("typo with a suggestion", b"mainclass App\n# comment\nmainclas App\n",
             ['config:3: unknown keyword "mainclas" (did you mean "mainclass"?)']),
            ("unknown keyword, nothing close", b"mainclass App\n\nfrobnicate=1\n\toption x\n",
             ['config:3: unknown keyword "frobnicate"; the launcher']),
            ("a longer keyword is not the shorter one", b"mainclass App\nsplashx a.png\n",
             ['config:2: unknown keyword "splashx" (did you mean "splash"?)']),
            ("main class not in the JARs", b"option x\nmainclass p.Gone\nclasspath lib/*.jar\n",
             ['config:2: main class "p.Gone" is not in the JARs (no p/Gone.class); unless a "classpath"']),
            ("trailing space makes another name", b"mainclass App \n", ['main class "App " is not in']),
            ("Main-Class not in the JARs", b"", ['Main-Class of the JAR manifest: main class "p.Gone"']),
            ("manifest cannot be read", b"mainclass App\n", ["cannot read META-INF/MANIFEST.MF"]),
        ]
        for label, config, expected in cases:
            with self.subTest(label):
                jars = [make_jar(self.path("a.jar"), [("App.class", b"a")])]
                if label == "Main-Class not in the JARs":
                    jars = [make_jar(self.path("g.jar"), [("META-INF/MANIFEST.MF", b"Manifest-Version: 1.0\r\n"
                                                          b"Main-Class: p.Gone\r\n\r\n"), ("App.class", b"a")])]
                if label == "manifest cannot be read":
                    jars = [make_jar(self.path("m.jar"), [("META-INF/MANIFEST.MF", b"\xff no header\n"),
                                                          ("App.class", b"a")])]
                _, warnings = self.pack(jars, config=config)
                self.assertEqual(len(warnings), len(expected), warnings)
                for warning, fragment in zip(warnings, expected):
                    self.assertIn(fragment, warning)

    def test_main_class_from_the_manifest(self):
        jar = make_jar(self.path("a.jar"), [("META-INF/MANIFEST.MF",
                                             b"Manifest-Version: 1.0\r\nMain-Class: p.Main\r\n\r\n"),
                                            ("p/Main.class", b"m")])
        out, warnings = self.pack([jar], config=b"option -Xmx1g")
        self.assertEqual(warnings, [])
        self.assertEqual(split_output(out)["config"], b"\xef\xbb\xbfoption -Xmx1g\r\nmainclass p.Main\r\n\0")

    def test_main_class_errors(self):
        no_main = make_jar(self.path("n.jar"), [("META-INF/MANIFEST.MF", b"Manifest-Version: 1.0\r\n\r\n"),
                                                ("p/Other.class", b"o")])
        blank_main = make_jar(self.path("m.jar"), [("META-INF/MANIFEST.MF",
                                                    b"Manifest-Version: 1.0\r\nMain-Class:  \r\n\r\n")])
        cases = [
            ("no mainclass, no Main-Class", b"option x\n", no_main, "no JAR's manifest names a Main-Class"),
            ("blank Main-Class", b"option x\n", blank_main, "no JAR's manifest names a Main-Class"),
            ("empty mainclass", b"option x\nmainclass =\n", no_main, 'config:2: "mainclass" has no class name'),
        ]
        for label, config, jar, fragment in cases:
            with self.subTest(label):
                args = ["--image", self.write("image", fake_image()), "--config", self.write("config", config),
                        "--jar", jar, "--out", self.path("out.bin")]
                r = self.run_pack(*args)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
                self.assertIn(fragment, r.stderr)
                self.assertFalse(os.path.exists(self.path("out.bin")))

    def test_external_file_beside_the_output(self):
        jar = make_jar(self.path("a.jar"), [("App.class", b"a")])
        for name in ("App.exe.cfg", "App.exe.config", "App.cfg", "App.config", None):
            for disabled in (False, True):
                with self.subTest(name=name, disabled=disabled):
                    os.makedirs(self.path("o"), exist_ok=True)
                    for old in os.listdir(self.path("o")):
                        os.remove(self.path("o/" + old))
                    if name:
                        self.write("o/" + name, b"option -Xmx1m\n")
                    config = b"mainclass App\n" + (b"disableexternal TRUE\n" if disabled else b"")
                    r = self.run_pack("--image", self.write("image", fake_image()), "--config",
                                      self.write("config", config), "--jar", jar, "--out", self.path("o/App.exe"))
                    self.assertEqual(r.returncode, 0, r.stderr)
                    warned = [w for w in r.stderr.splitlines() if "exists beside the output" in w]
                    self.assertEqual(len(warned), 1 if name and not disabled else 0, r.stderr)
                    if warned:
                        self.assertIn(name, warned[0])


class WindowsImageTest(PackCase):
    """Packs the real Windows images and reads the result back with wrestool and the PE format."""

    def setUp(self):
        super().setUp()
        self.gui = os.path.join(TOOLS.dist, "launcher-gui.exe")
        if not os.path.exists(self.gui):
            self.skipTest("no Windows images in " + TOOLS.dist)
        self.icon = self.write("app.ico", pictures.ico([(16, pictures.icon_picture(16)),
                                                        (32, pictures.icon_picture(32)),
                                                        (48, pictures.png(48, 48))]))
        self.tray = self.write("tray.ico", pictures.ico([(16, pictures.icon_picture(16))]))
        self.bitmap = self.write("splash.bmp", pictures.bmp(30, 20, gap=b"GAP!"))
        self.image = self.write("splash.png", pictures.png(8, 8))
        self.jar = make_jar(self.path("app.jar"), [("App.class", b"a")])

    def pack_exe(self, *extra, image=None, out="App.exe"):
        args = ["--image", image or self.gui, "--config", self.write("config", b"mainclass App\n"),
                "--jar", self.jar, "--out", self.path(out)] + list(extra)
        r = self.run_pack(*args)
        self.assertEqual(r.returncode, 0, r.stderr)
        return self.path(out)

    def resource(self, program, kind, name):
        r = subprocess.run(["wrestool", "-x", "--raw", "--type=%d" % kind, "--name=%d" % name, program],
                           capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout

    def listing(self, program):
        r = subprocess.run(["wrestool", "-l", program], capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        return sorted(re.findall(r"--type=(\d+) --name=(\d+)", r.stdout))

    @unittest.skipUnless(shutil.which("wrestool"), "icoutils not installed")
    def test_resources_read_back(self):
        for image in ("launcher-gui.exe", "launcher-console.exe"):
            with self.subTest(image):
                original = os.path.join(TOOLS.dist, image)
                program = self.pack_exe("--icon", self.icon, "--tray-icon", "7=" + self.tray,
                                        "--splash-bitmap", self.bitmap, "--splash-image", self.image,
                                        image=original)
                names = self.listing(program)
                for kind, name in ((14, 1), (14, 7), (2, 100), (10, 100), (16, 1), (24, 1), (6, 1)):
                    self.assertIn((str(kind), str(name)), names)
                self.assertEqual(self.resource(program, 6, 1), self.resource(original, 6, 1),
                                 "the message table stays as it was")
                self.assertEqual(self.resource(program, 2, 100), read(self.bitmap)[14:54] + read(self.bitmap)[58:])
                self.assertEqual(self.resource(program, 10, 100), read(self.image))
                self.check_group(program, 1, read(self.icon))
                self.check_group(program, 7, read(self.tray))

    def check_group(self, program, group_id, ico):
        """Each group entry repeats the .ico directory entry and names an icon holding the picture."""
        group = self.resource(program, 14, group_id)
        count = struct.unpack_from("<H", group, 4)[0]
        self.assertEqual(count, struct.unpack_from("<H", ico, 4)[0])
        for i in range(count):
            entry = ico[6 + 16 * i:6 + 16 * (i + 1)]
            size, offset = struct.unpack_from("<II", entry, 8)
            self.assertEqual(group[6 + 14 * i:6 + 14 * i + 12], entry[:12])
            icon_id, = struct.unpack_from("<H", group, 6 + 14 * i + 12)
            self.assertEqual(self.resource(program, 3, icon_id), ico[offset:offset + size])

    @unittest.skipUnless(shutil.which("wrestool"), "icoutils not installed")
    def test_manifest_and_version_choices(self):
        own = self.write("own.manifest", b'<?xml version="1.0"?><assembly xmlns="urn:schemas-microsoft-com:asm.v1"'
                         b' manifestVersion="1.0"/>')
        own16 = self.write("own16.manifest", b"\xff\xfe" + '<?xml version="1.0" encoding="UTF-16"?><assembly xmlns='
                           '"urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"/>'.encode("utf-16-le"))
        titled = make_jar(self.path("t.jar"), [("META-INF/MANIFEST.MF", b"Manifest-Version: 1.0\r\n"
                                                b"Implementation-Title: Tool\r\nImplementation-Version: 2.5.1-beta"
                                                b"\r\nImplementation-Vendor: Acme\r\n\r\n"), ("App.class", b"a")])
        u = lambda text: text.encode("utf-16-le")  # noqa: E731
        cases = [
            ("defaults", [], None, 'level="asInvoker"', (0, 0, 0, 0), [u("App.exe"), u("App\0")]),
            ("administrator", ["--require-admin"], None, 'level="requireAdministrator"', (0, 0, 0, 0), []),
            ("own manifest", ["--manifest", own], None, 'manifestVersion="1.0"/>', (0, 0, 0, 0), []),
            ("options", ["--version", "3.4", "--product-name", "Thing", "--company", "Me", "--copyright", "(c) Me"],
             None, "PerMonitorV2", (3, 4, 0, 0), [u("Thing"), u("(c) Me"), u("3.4.0.0")]),
            ("JAR manifest", [], titled, "supportedOS", (2, 5, 1, 0), [u("Tool"), u("Acme"), u("2.5.1-beta")]),
            ("values that look like options", ["--description", "-h", "--company", "--verbose"], None,
             "PerMonitorV2", (0, 0, 0, 0), [u("-h\0"), u("--verbose\0")]),
            ("UTF-16 manifest", ["--manifest", own16], None, 'manifestVersion="1.0"/>'.encode("utf-16-le").decode(
                "latin-1"), (0, 0, 0, 0), []),
        ]
        for label, extra, jar, manifest_text, numbers, texts in cases:
            with self.subTest(label):
                self.jar = jar or make_jar(self.path("app.jar"), [("App.class", b"a")])
                program = self.pack_exe(*extra)
                self.assertIn(manifest_text.encode("latin-1"), self.resource(program, 24, 1))
                version = self.resource(program, 16, 1)
                fixed = version.index(struct.pack("<I", 0xFEEF04BD))
                ms, ls = struct.unpack_from("<II", version, fixed + 8)
                self.assertEqual((ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), numbers)
                for text in texts:
                    self.assertIn(text, version)

    @unittest.skipUnless(shutil.which("wrestool"), "icoutils not installed")
    def test_named_resources_survive(self):
        original = os.path.join(TOOLS.win_tools, "named_resources.exe")
        if not os.path.exists(original):
            self.skipTest("no " + original)
        program = self.pack_exe("--icon", self.icon, image=original)

        def entries(path):
            r = subprocess.run(["wrestool", "-l", path], capture_output=True, text=True, timeout=60)
            return [re.sub(r" ?offset=0x[0-9a-f]+", "", line) for line in r.stdout.splitlines()]
        before, after = entries(original), entries(program)
        self.assertEqual(len([e for e in before if "'" in e]), 3, before)
        self.assertEqual([e for e in after if e in before], before, "every old resource, same size")
        # wrestool lists the named type's resource under the type's name, so it is asked by type alone.
        for selection in (["--type=10", "--name=GREETING"], ["--type=10", "--name=ANOTHER"],
                          ["--type=10", "--name=7"], ["--type=TEXTFILE"]):
            args = ["wrestool", "-x", "--raw"] + selection
            old = subprocess.run(args + [original], capture_output=True, timeout=60).stdout
            self.assertGreater(len(old), 0)
            self.assertEqual(subprocess.run(args + [program], capture_output=True, timeout=60).stdout, old)

    def test_image_layout_and_checksum(self):
        original = read(self.gui)
        program = read(self.pack_exe("--icon", self.icon))
        before, after = pictures.Pe(original), pictures.Pe(program)
        rsrc = after.section(".rsrc")
        slot = original.index(MARKER) - 8
        unchanged = bytearray(program[:rsrc["raw_ptr"]])
        unchanged[slot:slot + 8] = bytes(8)
        for offset, size in ((after.checksum_offset, 4), (after.directories + 16, 8), (after.directories + 40, 4),
                             (after.optional + 8, 4), (after.optional + 56, 4)):
            unchanged[offset:offset + size] = original[offset:offset + size]
        table = after.optional + 240  # section headers of .rsrc and .reloc (PE32+, 16 directories)
        unchanged[table:] = original[table:rsrc["raw_ptr"]]
        self.assertEqual(bytes(unchanged), original[:rsrc["raw_ptr"]],
                         "before the resources only headers and the slot change")
        self.assertEqual([s["name"] for s in after.sections], [s["name"] for s in before.sections])
        self.assertEqual(after.sections[-2:][0]["name"], ".rsrc")
        reloc = after.section(".reloc")
        self.assertEqual(after.raw(".reloc"), before.raw(".reloc"), "relocations move unchanged")
        self.assertEqual(after.directory(5)[0], reloc["va"])
        self.assertEqual(reloc["va"] % after.section_alignment, 0)
        self.assertGreaterEqual(reloc["va"], rsrc["va"] + rsrc["vsize"])
        self.assertEqual(reloc["raw_ptr"], rsrc["raw_ptr"] + rsrc["raw_size"])
        self.assertEqual(after.directory(2), (rsrc["va"], rsrc["vsize"]))
        self.assertEqual(after.size_of_image, -(-(reloc["va"] + reloc["vsize"]) // after.section_alignment)
                         * after.section_alignment)
        self.assertEqual(after.checksum, pictures.pe_checksum(program, after.checksum_offset))
        self.assertEqual(split_output(program)["config"], b"\xef\xbb\xbfmainclass App\r\n\0")

    @unittest.skipUnless(shutil.which("osslsigncode") and shutil.which("openssl"), "osslsigncode not installed")
    def test_sign_after_packing_and_refuse_signed_images(self):
        key, cert = self.path("key.pem"), self.path("cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Vexilo Test",
                        "-days", "2", "-keyout", key, "-out", cert], check=True, capture_output=True, timeout=120)
        program = self.pack_exe("--icon", self.icon)
        signed = self.path("Signed.exe")
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "App", "-in", program,
                        "-out", signed], check=True, capture_output=True, timeout=120)
        r = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed],
                           capture_output=True, text=True, timeout=120)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("Signature verification: ok", r.stdout)
        data = read(signed)
        # The launcher's way: the last end-of-central-directory record within the window.
        eocd = data.rindex(b"PK\5\6", max(0, len(data) - max(len(data) // 100, 51200) - 22))
        trailer = len(data) - eocd - 22
        arclen = struct.unpack("<Q", data[data.index(MARKER) - 8:data.index(MARKER)])[0]
        d = len(data) - trailer - arclen - 16
        t, = struct.unpack("<I", data[d - 4:d])
        self.assertEqual(data[d - 4 - t:d - 4], b"\xef\xbb\xbfmainclass App\r\n\0")
        signed_image = self.path("signed-image.exe")
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", self.gui,
                        "-out", signed_image], check=True, capture_output=True, timeout=120)
        r = self.run_pack("--image", signed_image, "--config", self.write("config", b"mainclass App\n"),
                          "--jar", self.jar, "--out", self.path("again.exe"))
        self.assertEqual(r.returncode, 1)
        self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
        self.assertIn("already signed", r.stderr)
        self.assertIn("sign the program file", r.stderr)
        self.assertFalse(os.path.exists(self.path("again.exe")))

    def test_damaged_windows_images(self):
        original = read(self.gui)
        pe = pictures.Pe(original)
        certificate = bytearray(original)
        certificate[pe.directories + 32:pe.directories + 40] = struct.pack("<II", len(original), 8)
        far_header = bytearray(original)
        far_header[0x3C:0x40] = struct.pack("<I", len(original) - 10)
        cases = [
            ("MZ and nothing else", b"MZ" + fake_image()[2:], "no PE signature"),
            ("header offset past the end", bytes(far_header), "no PE signature"),
            # Just past the slot, which the packer looks for first: later sections are missing.
            ("cut inside the sections", original[:original.index(b"VEXILO_ARCLEN\0") + 64], "lies outside the file"),
            ("symbols or data after the sections", original + b"\0" * 512, "data after its last section"),
            ("certificate directory set", bytes(certificate), "already signed"),
        ]
        for label, image, fragment in cases:
            with self.subTest(label):
                r = self.run_pack("--image", self.write("damaged.exe", image), "--config",
                                  self.write("config", b"mainclass App\n"), "--jar", self.jar, "--out", self.path("o.exe"))
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
                self.assertIn(fragment, r.stderr)
                self.assertNotIn("internal error", r.stderr)
                self.assertFalse(os.path.exists(self.path("o.exe")))

    def test_bad_resource_inputs(self):
        ico = read(self.icon)
        bmp = read(self.bitmap)
        files = {
            "truncated.ico": ico[:200], "cursor.ico": ico[:2] + b"\2\0" + ico[4:], "empty.ico": ico[:4] + b"\0\0",
            "garbage-picture.ico": ico[:22] + b"\0" * (len(ico) - 22),
            "not.bmp": b"XX" + bmp[2:], "short.bmp": bmp[:-10], "core-header.bmp": bmp[:14] + b"\x0c" + bmp[15:],
            "text.png": b"hello, world", "no-assembly.manifest": b"<?xml version='1.0'?><x/>",
            "broken-png.ico": pictures.ico([(48, pictures.png(48, 48).replace(b"PNG", b"PNX", 1))]),
            "bad-bitmap.ico": pictures.ico([(16, pictures.icon_picture(16)[:-40])]),
            "rle-24.bmp": bmp[:30] + b"\1" + bmp[31:],
            "wide.png": pictures.png(9000, 1), "cut.png": pictures.png(8, 8)[:45],
            "unclosed.manifest": b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">',
            "plain.manifest": b"plain text with <assembly in it",
            "dtd.manifest": b'<?xml version="1.0"?><!DOCTYPE assembly [<!ENTITY a "aaaaaaaaaa">'
                            b'<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">]>'
                            b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">&b;</assembly>',
            "utf16-no-mark.manifest": '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"/>'
                                      .encode("utf-16-le"),
            "other-namespace.manifest": b'<assembly xmlns="urn:other" manifestVersion="1.0"/>',
        }
        paths = {name: self.write(name, data) for name, data in files.items()}
        self.write("config", b"mainclass App\n")
        before = sorted(os.listdir(self.dir))
        cases = [
            (["--icon", paths["truncated.ico"]], "icon " + paths["truncated.ico"] + " is damaged"),
            (["--icon", paths["cursor.ico"]], "not an icon file"),
            (["--tray-icon", "3=" + paths["empty.ico"]], "0 pictures"),
            (["--icon", paths["garbage-picture.ico"]], "neither PNG nor"),
            (["--icon", self.path("missing.ico")], "no such file"),
            (["--splash-bitmap", paths["not.bmp"]], "not a bitmap file"),
            (["--splash-bitmap", paths["short.bmp"]], "pixel data lies outside"),
            (["--splash-bitmap", paths["core-header.bmp"]], "unsupported bitmap header"),
            (["--splash-image", paths["text.png"]], "not a PNG, GIF or JPEG"),
            (["--manifest", paths["no-assembly.manifest"]], "not an application manifest"),
            (["--manifest", paths["other-namespace.manifest"]], "not an application manifest"),
            (["--manifest", paths["unclosed.manifest"]], "not well-formed XML"),
            (["--manifest", paths["plain.manifest"]], "not well-formed XML"),
            (["--manifest", paths["dtd.manifest"]], "DOCTYPE is disallowed"),
            (["--manifest", paths["utf16-no-mark.manifest"]], "UTF-16 without a byte-order mark"),
            (["--icon", paths["broken-png.ico"]], "broken PNG signature"),
            (["--icon", paths["bad-bitmap.ico"]], "picture 1 pixels and mask lies outside"),
            (["--splash-bitmap", paths["rle-24.bmp"]], "compression 1 with 24 bits per pixel"),
            (["--splash-image", paths["wide.png"]], "9000 x 1 pixels; at most 8192 x 8192"),
            (["--splash-image", paths["cut.png"]], "splash image cannot be decoded"),
            (["--company", "c" * 40000], "CompanyName (--company) has 40000 characters; the version resource"
                                         " holds at most"),
            (["--company", "c" * 20000, "--copyright", "c" * 20000], "the version texts (CompanyName"),
            (["--product-version", "2.123456-beta"], '--product-version "2.123456-beta" does not start with'),
            (["--tray-icon", "0=" + self.tray], "ID from 1 to 65535"),
            (["--tray-icon", "70000=" + self.tray], "ID from 1 to 65535"),
            (["--tray-icon", self.tray], "ID=FILE"),
            (["--icon", self.icon, "--tray-icon", "1=" + self.tray], "--tray-icon 1 is the program icon"),
            (["--manifest", paths["no-assembly.manifest"], "--require-admin"], "exclude each other"),
            (["--version", "1.2.3.4.5"], "more than four numbers"),
            (["--version", "1.x"], "up to four numbers"),
            (["--version", "70000"], "0-65535"),
            (["--out", self.path("App.exe"), "--icon", self.icon], "--out given more than once"),
        ]
        for extra, fragment in cases:
            with self.subTest(extra[0] + " " + os.path.basename(extra[1])[:40]):
                args = ["--image", self.gui, "--config", self.write("config", b"mainclass App\n"),
                        "--jar", self.jar, "--out", self.path("App.exe")] + extra
                r = self.run_pack(*args)
                self.assertNotEqual(r.returncode, 0)
                self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
                self.assertIn(fragment, r.stderr)
                self.assertEqual(sorted(os.listdir(self.dir)), before, "no output, no temporary file")
        r = self.run_pack("--image", self.write("linux", fake_image()), "--config", self.write("config", b"mainclass App\n"),
                          "--jar", self.jar, "--out", self.path("app"), "--icon", self.icon)
        self.assertEqual(r.returncode, 1)
        self.assertIn("only go into a Windows image", r.stderr)


class RobustnessTest(PackCase):
    def args(self, out, jar=None, image=None):
        jar = jar or make_jar(self.path("a.jar"), [("App.class", b"a")])
        return ["--image", image or self.write("image", fake_image()), "--config",
                self.write("config", b"mainclass App\n"), "--jar", jar, "--out", out]

    def test_output_that_is_not_a_regular_file(self):
        os.mkfifo(self.path("pipe"))
        for out in (self.path("pipe"), "/dev/null"):
            with self.subTest(out):
                r = self.run_pack(*self.args(out))
                self.assertEqual(r.returncode, 1)
                self.assertEqual(r.stderr.strip(), "vexilo-pack: output exists and is not a regular file: " + out)
        self.assertFalse(os.path.isfile("/dev/null"))
        self.assertTrue(stat.S_ISFIFO(os.stat(self.path("pipe")).st_mode))

    def test_mode_follows_umask_or_existing_file(self):
        def run_with_umask(mask, out):
            def child():
                os.umask(mask)
            env = {k: v for k, v in os.environ.items() if k not in ("JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS")}
            return subprocess.run([TOOLS.java, "-jar", TOOLS.bare_jar] + self.args(out), env=env,
                                  capture_output=True, text=True, preexec_fn=child, timeout=120)
        for mask, existing, expected in ((0o022, None, 0o755), (0o077, None, 0o700), (0o027, None, 0o750),
                                         (0o022, 0o640, 0o640), (0o077, 0o775, 0o775)):
            with self.subTest(umask=oct(mask), existing=existing):
                out = self.path("out-%o-%s" % (mask, existing))
                if existing is not None:
                    self.write(os.path.basename(out), b"old")
                    os.chmod(out, existing)
                r = run_with_umask(mask, out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(stat.S_IMODE(os.stat(out).st_mode), expected)

    def test_interrupt_leaves_no_temporary_file(self):
        big = self.path("big.jar")
        with zipfile.ZipFile(big, "w") as z:
            z.writestr("App.class", b"a")
            z.writestr("noise.bin", os.urandom(96 << 20), compress_type=zipfile.ZIP_STORED)
        env = {k: v for k, v in os.environ.items() if k not in ("JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS")}
        p = subprocess.Popen([TOOLS.java, "-jar", TOOLS.bare_jar] + self.args(self.path("out.bin"), jar=big),
                             env=env, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 60
        while not [n for n in os.listdir(self.dir) if n.endswith(".tmp")] and time.monotonic() < deadline:
            time.sleep(0.01)
        p.send_signal(signal.SIGINT)
        p.communicate(timeout=60)
        self.assertNotEqual(p.returncode, 0, "the run ended before it could be interrupted")
        self.assertEqual([n for n in os.listdir(self.dir) if n.endswith(".tmp")], [])
        self.assertFalse(os.path.exists(self.path("out.bin")))

    def test_inputs_too_large_are_refused_up_front(self):
        sparse = self.path("huge.jar")
        with open(sparse, "wb") as f:
            f.truncate((2 << 30) + 1)
        huge_image = self.path("huge-image")
        with open(huge_image, "wb") as f:
            f.truncate(3 << 30)
        for label, args in (("JAR", self.args(self.path("out.bin"), jar=sparse)),
                            ("image", self.args(self.path("out.bin"), image=huge_image))):
            with self.subTest(label):
                started = time.monotonic()
                r = self.run_pack(*args)
                self.assertEqual(r.returncode, 1)
                self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
                self.assertIn("must stay below 2 GiB", r.stderr)
                self.assertLess(time.monotonic() - started, 60, "refused before reading the inputs")
                self.assertFalse(os.path.exists(self.path("out.bin")))


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
    parser.add_argument("--dist", default=os.path.join(HERE, "..", "..", "build", "dist"),
                        help="folder with launcher-gui.exe and launcher-console.exe")
    parser.add_argument("--win-tools", default=os.path.join(HERE, "..", "..", "build", "windows", "tests",
                                                            "wine", "tools"),
                        help="folder with named_resources.exe (Windows build)")
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
