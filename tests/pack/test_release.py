#!/usr/bin/env python3
"""The release sub-commands of vexilo-pack with the real tools: `runtime` (jdeps, jlink) runs a
packed program with no Java on PATH, `deb` (dpkg-deb) passes desktop-file-validate and lintian and
runs from its extracted tree, `msi` (wixl) installs, upgrades and uninstalls under Wine."""

import argparse
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

import pictures

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "..", ".."))
TOOLS = argparse.Namespace()  # filled in by main()
JDK17 = "/usr/lib/jvm/java-17-openjdk-amd64"
JDK25 = "/usr/lib/jvm/temurin-25-jdk-amd64"

# The application: its main class prints where its runtime lives and touches java.sql; a library
# JAR is multi-release and uses java.net.http only in its Java 11 version, which jdeps sees only
# when it reads the JAR for the target release.
APP_SOURCES = {
    "demo/Main.java": """package demo;
public class Main {
    public static void main(String[] args) throws Exception {
        System.out.println("home=" + System.getProperty("java.home"));
        System.out.println("sql=" + java.sql.Types.class.getSimpleName());
        System.out.println("lib=" + lib.Fetch.client());
        System.out.println("args=" + String.join(",", args));
    }
}
""",
}
LIB_BASE = {"lib/Fetch.java": "package lib;\npublic class Fetch { public static String client() { return \"none\"; } }\n"}
LIB_11 = {"lib/Fetch.java": """package lib;
public class Fetch {
    public static String client() { return java.net.http.HttpClient.class.getSimpleName(); }
}
"""}


def run(cmd, timeout=900, **kw):
    env = {k: v for k, v in os.environ.items() if k not in ("JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS")}
    env.update(kw.pop("env", {}))
    return subprocess.run([str(c) for c in cmd], capture_output=True, text=True, timeout=timeout, env=env, **kw)


def pack_tool(*args, java=None, env=None):
    return run([java or TOOLS.java, "-jar", TOOLS.packer_jar, *args], env=env or {})


def tree_size(root):
    total = 0
    for folder, _, files in os.walk(root):
        for f in files:
            p = os.path.join(folder, f)
            if not os.path.islink(p):
                total += os.path.getsize(p)
    return total


def leftovers(folder):
    """Work folders and moved-aside outputs the commands must never leave behind."""
    return [n for n in os.listdir(folder) if n.startswith(".") and (n.endswith(".tmp") or n.endswith(".old"))]


def compile_jar(work, name, sources, release="11", versions=None, main=None, multi_release=False):
    """A JAR from sources; versions: {N: sources} for META-INF/versions/N of a multi-release JAR."""
    def javac(files, out, rel):
        src = os.path.join(work, name + "-src-" + out.replace(os.sep, "_"))
        paths = []
        for rel_path, text in files.items():
            p = os.path.join(src, rel_path)
            os.makedirs(os.path.dirname(p), exist_ok=True)
            with open(p, "w") as f:
                f.write(text)
            paths.append(p)
        classes = os.path.join(work, name + "-classes", out)
        r = run([TOOLS.javac, "--release", rel, "-cp", ":".join(TOOLS.classpath), "-d", classes, *paths])
        assert r.returncode == 0, r.stderr
        return classes

    jar = os.path.join(work, name + ".jar")
    base = javac(sources, "base", release)
    with zipfile.ZipFile(jar, "w") as z:
        manifest = "Manifest-Version: 1.0\r\n"
        if main:
            manifest += f"Main-Class: {main}\r\n"
        if versions or multi_release:
            manifest += "Multi-Release: true\r\n"
        z.writestr("META-INF/MANIFEST.MF", manifest + "\r\n")
        for folder, prefix in [(base, "")] + [(javac(s, f"v{n}", str(n)), f"META-INF/versions/{n}/")
                                              for n, s in (versions or {}).items()]:
            for d, _, files in os.walk(folder):
                for f in files:
                    full = os.path.join(d, f)
                    z.write(full, prefix + os.path.relpath(full, folder))
    TOOLS.classpath.append(base)
    return jar


def packed_program(work, image, config, name="app"):
    """A program file packed from the dist image with the application's JARs."""
    cfg = os.path.join(work, name + ".cfg.in")
    with open(cfg, "w") as f:
        f.write(config)
    out = os.path.join(work, name)
    r = pack_tool("--image", os.path.join(TOOLS.dist, image), "--config", cfg, "--jar", TOOLS.app_jar,
                  "--jar", TOOLS.lib_jar, "--out", out)
    assert r.returncode == 0, r.stderr
    return out


def release_modules(runtime):
    with open(os.path.join(runtime, "release")) as f:
        for line in f:
            if line.startswith("MODULES="):
                return set(line.split("=", 1)[1].strip().strip('"').split())
    return set()


def jdk_version(jdk):
    with open(os.path.join(jdk, "release")) as f:
        return re.search(r'^JAVA_VERSION="([^"]+)"', f.read(), re.M).group(1)


def jlink_links_own_image(jdk):
    r = run([os.path.join(jdk, "bin", "jlink"), "--help"])
    return "Linking from run-time image enabled" in r.stdout


class ReleaseCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vexilo-release-test-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def assert_refused(self, r, fragment, status=1):
        self.assertEqual(r.returncode, status, r.stdout + r.stderr)
        lines = r.stderr.splitlines()
        self.assertEqual(len(lines), 1, r.stderr)
        self.assertTrue(lines[0].startswith("vexilo-pack: "), lines[0])
        self.assertIn(fragment, lines[0])


class RuntimeTest(ReleaseCase):
    def link(self, jdk, out, *extra):
        r = pack_tool("runtime", "--jar", TOOLS.app_jar, "--jar", TOOLS.lib_jar, "--jdk", jdk, "--out", out, *extra)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r

    def test_trimmed_runtime_runs_the_program_without_system_java(self):
        cases = [("JDK 17 with jmods", JDK17)]
        if os.path.isdir(JDK25) and jlink_links_own_image(JDK25):
            cases.append(("JDK 25 linking its run-time image", JDK25))
        for label, jdk in cases:
            if not os.path.isdir(os.path.join(jdk, "jmods")) and jdk == JDK17:
                self.skipTest(f"{jdk} has no jmods (package openjdk-17-jmods)")
            with self.subTest(label):
                folder = self.path(label.replace(" ", "-"))
                os.makedirs(folder)
                runtime = os.path.join(folder, "jre")
                r = self.link(jdk, runtime)
                printed = dict(line.split(": ", 1) for line in r.stdout.splitlines())
                modules = set(printed["modules"].split(","))
                # java.sql from the main JAR, java.net.http only from the library's Java 11 part,
                # java.desktop from the companion classes' splash listener.
                self.assertLessEqual({"java.base", "java.sql", "java.net.http", "java.desktop"}, modules)
                self.assertLessEqual(modules, release_modules(runtime))
                self.assertNotIn("jdk.jshell", release_modules(runtime))
                self.assertFalse(os.path.exists(os.path.join(runtime, "include")), "no header files")
                self.assertFalse(os.path.exists(os.path.join(runtime, "man")), "no man pages")
                size = tree_size(runtime)
                self.assertLess(size * 3, tree_size(jdk), "a trimmed runtime is much smaller than its JDK")
                self.assertIn(f"{size / 1e6:.1f} MB", printed["runtime"])
                self.assertEqual(leftovers(folder), [])

                program = packed_program(folder, "launcher-console", "mainclass demo.Main\n")
                out = run([program, "x y"], env={"PATH": "/nonexistent", "JAVA_HOME": "", "JRE_HOME": ""},
                          timeout=120)
                self.assertEqual(out.returncode, 0, out.stderr)
                self.assertEqual(out.stdout.splitlines(),
                                 [f"home={runtime}", "sql=Types", "lib=HttpClient", "args=x y"])

    def test_existing_output(self):
        """A runtime folder is replaced as a whole; any other folder is never touched."""
        runtime = self.path("jre")
        self.link(JDK17, runtime)
        self.link(JDK17, runtime, "--add-modules", "jdk.zipfs,java.naming")
        self.assertLessEqual({"jdk.zipfs", "java.naming"}, release_modules(runtime))
        self.assertEqual(leftovers(self.dir), [])

        own = self.path("mine")
        os.makedirs(own)
        with open(os.path.join(own, "notes.txt"), "w") as f:
            f.write("keep")
        r = pack_tool("runtime", "--jar", TOOLS.app_jar, "--jdk", JDK17, "--out", own)
        self.assert_refused(r, "exists and is not a Java runtime or an empty folder")
        self.assertEqual(os.listdir(own), ["notes.txt"])
        self.assertEqual(leftovers(self.dir), [])

    def test_interrupted_run_leaves_nothing(self):
        """Ctrl-C or SIGTERM while a tool runs: the tool is ended and the work folder removed."""
        def work_folder():
            found = [n for n in os.listdir(self.dir) if n.startswith(".jre.") and n.endswith(".tmp")]
            return os.path.join(self.dir, found[0]) if found else None

        cases = [
            ("while jdeps reads the JARs", lambda work: not os.path.exists(os.path.join(work, "image"))),
            ("while jlink writes the image", lambda work: os.path.isdir(os.path.join(work, "image", "lib"))),
        ]
        for label, moment in cases:
            with self.subTest(label):
                out = self.path("jre")
                process = subprocess.Popen([TOOLS.java, "-jar", TOOLS.packer_jar, "runtime", "--jar", TOOLS.app_jar,
                                            "--jdk", JDK17, "--out", out],
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                try:
                    deadline = time.monotonic() + 120
                    while process.poll() is None and time.monotonic() < deadline:
                        work = work_folder()
                        if work and moment(work):
                            break
                        time.sleep(0.02)
                    self.assertIsNone(process.poll(), "the run ended before the moment came")
                    process.send_signal(signal.SIGTERM)
                    self.assertNotEqual(process.wait(timeout=60), 0)
                finally:
                    if process.poll() is None:
                        process.kill()
                        process.wait()
                self.assertFalse(os.path.exists(out))
                self.assertEqual(leftovers(self.dir), [])

    def test_refusals(self):
        no_jmods = self.path("jdk-without-jmods")
        os.makedirs(no_jmods)
        for entry in os.listdir(JDK17):
            if entry != "jmods":
                os.symlink(os.path.join(JDK17, entry), os.path.join(no_jmods, entry))
        not_jdk = self.path("empty")
        os.makedirs(not_jdk)
        windows_jdk = self.path("windows-jdk-21")
        os.makedirs(os.path.join(windows_jdk, "jmods"))
        with open(os.path.join(windows_jdk, "release"), "w") as f:
            f.write('JAVA_VERSION="21.0.5"\nOS_NAME="Windows"\nOS_ARCH="amd64"\n')
        open(os.path.join(windows_jdk, "jmods", "java.base.jmod"), "wb").close()
        windows_no_jmods = self.path("windows-jdk-17-no-jmods")
        os.makedirs(windows_no_jmods)
        with open(os.path.join(windows_no_jmods, "release"), "w") as f:
            f.write('JAVA_VERSION="17.0.9"\nOS_NAME="Windows"\n')
        jar = TOOLS.app_jar
        cases = [
            ("Windows JDK of another version than the local jlink", ["--jar", jar, "--jdk", windows_jdk],
             f"is Java {jdk_version(JDK17)} but {windows_jdk} is Java 21.0.5", 1),
            ("Windows JDK without jmods", ["--jar", jar, "--jdk", windows_no_jmods],
             "can only be linked from its jmods", 1),
            ("JDK without jmods whose jlink cannot link its image",
             ["--jar", jar, "--jdk", no_jmods], "has no jmods and its jlink cannot link from its run-time image", 1),
            ("folder without a release file", ["--jar", jar, "--jdk", not_jdk], "is not a JDK", 1),
            ("no JAR", ["--jdk", JDK17], "missing --jar", 2),
            ("JAR that is not there", ["--jar", self.path("nothing.jar")], "no such file", 1),
            ("bad module name", ["--jar", jar, "--add-modules", "java.base,1bad"], "not a module name", 2),
            ("unknown option", ["--jar", jar, "--strip"], "unknown option: --strip", 2),
        ]
        for label, args, fragment, status in cases:
            with self.subTest(label):
                out = self.path("out-jre")
                # The local JDK is then the one running the packer (JDK 17), whatever the caller's JAVA_HOME.
                r = pack_tool("runtime", *args, "--out", out, java=os.path.join(JDK17, "bin", "java"),
                              env={"JAVA_HOME": ""})
                self.assert_refused(r, fragment, status)
                self.assertFalse(os.path.exists(out))
                self.assertEqual(leftovers(self.dir), [])


def deb_field(deb, field):
    return run(["dpkg-deb", "--field", deb, field]).stdout.strip()


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    return struct.unpack(">II", head[16:24])


@unittest.skipUnless(shutil.which("dpkg-deb"), "dpkg-deb not installed")
class DebTest(ReleaseCase):
    @classmethod
    def setUpClass(cls):
        cls.shared = tempfile.mkdtemp(prefix="vexilo-deb-test-")
        cls.runtime = os.path.join(cls.shared, "jre")
        r = pack_tool("runtime", "--jar", TOOLS.app_jar, "--jar", TOOLS.lib_jar, "--jdk", JDK17, "--out", cls.runtime)
        assert r.returncode == 0, r.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.shared, True)

    def build(self, image, config, *extra, name="example-editor"):
        program = packed_program(self.dir, image, config, name="editor")
        icon = self.path("icon.png")
        with open(icon, "wb") as f:
            f.write(pictures.png(100, 60))
        deb = self.path(name + ".deb")
        r = pack_tool("deb", "--program", program, "--name", name, "--version", "1.2.3",
                      "--maintainer", "Ann Example <ann@example.com>", "--title", "Example Editor",
                      "--icon", icon, "--associate", ".edoc=application/x-edoc", "--associate", ".txt=text/plain",
                      "--out", deb, *extra)
        self.assertEqual(r.returncode, 0, r.stderr)
        return deb, r

    def test_package_with_runtime(self):
        deb, printed = self.build("launcher-gui", "mainclass demo.Main\n", "--runtime", self.runtime,
                                  "--description", "Edits example documents")
        contents = run(["dpkg-deb", "--contents", deb]).stdout
        listed = {line.split()[5].lstrip("."): line for line in contents.splitlines()}
        expected = [
            ("/opt/example-editor/editor", "-rwxr-xr-x root/root"),
            ("/opt/example-editor/jre/lib/server/libjvm.so", "-rw"),
            ("/opt/example-editor/jre/bin/java", "-rwxr-xr-x"),
            ("/usr/share/applications/example-editor.desktop", "-rw-r--r-- root/root"),
            ("/usr/share/mime/packages/example-editor.xml", "-rw-r--r--"),
            ("/usr/share/doc/example-editor/copyright", "-rw-r--r--"),
            ("/usr/share/doc/example-editor/changelog.gz", "-rw-r--r--"),
        ]
        for path, mode in expected:
            with self.subTest(path):
                self.assertIn(path, listed)
                self.assertTrue(listed[path].startswith(mode), listed[path])
        self.assertIn("/usr/bin/example-editor -> /opt/example-editor/editor", contents)
        # The icon (100 x 60) in every hicolor size up to its own, never scaled up.
        icons = sorted(int(re.search(r"/(\d+)x\1/", p).group(1)) for p in listed if p.startswith("/usr/share/icons/") and p.endswith(".png"))
        self.assertEqual(icons, [16, 22, 24, 32, 48, 64])

        control = {f: deb_field(deb, f) for f in ("Package", "Version", "Architecture", "Depends", "Description")}
        self.assertEqual(control["Architecture"], "amd64")
        self.assertEqual(control["Description"].splitlines()[0], "Edits example documents")
        depends = [d.strip() for d in control["Depends"].split(",")]
        self.assertTrue(any(d.startswith("libc6 (>= ") for d in depends), depends)
        self.assertTrue(any(d.startswith("zlib1g") for d in depends), "the runtime's own libraries: " + str(depends))
        self.assertFalse(any("jre" in d or "java" in d for d in depends), "a bundled runtime needs no Java package")
        self.assertIn(control["Depends"], printed.stdout)

        tree = self.path("tree")
        run(["dpkg-deb", "-x", deb, tree])
        desktop = os.path.join(tree, "usr/share/applications/example-editor.desktop")
        v = run(["desktop-file-validate", desktop])
        self.assertEqual((v.returncode, v.stdout + v.stderr), (0, ""))
        with open(desktop) as f:
            entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertEqual(entry["Exec"], "example-editor %F")
        self.assertEqual(entry["Icon"], "example-editor")
        self.assertEqual(entry["Terminal"], "false")
        self.assertEqual(entry["MimeType"], "application/x-edoc;text/plain;")
        for size in icons:
            self.assertEqual(png_size(os.path.join(tree, f"usr/share/icons/hicolor/{size}x{size}/apps/example-editor.png")),
                             (size, size))
        with open(os.path.join(tree, "usr/share/mime/packages/example-editor.xml")) as f:
            mime = f.read()
        self.assertIn('<glob pattern="*.edoc"/>', mime)
        self.assertIn('<glob pattern="*.txt"/>', mime)
        self.assertEqual(mime.count("<comment>"), 1, "only the application's own type gets a description")
        scripts = self.path("control")
        run(["dpkg-deb", "-e", deb, scripts])
        for script in ("postinst", "postrm"):
            with open(os.path.join(scripts, script)) as f:
                text = f.read()
            for tool in ("update-desktop-database", "update-mime-database", "gtk-update-icon-cache"):
                self.assertIn(tool, text, script)
            self.assertEqual(run(["sh", "-n", os.path.join(scripts, script)]).returncode, 0)
        self.assertEqual(run(["md5sum", "--quiet", "-c", os.path.join(scripts, "md5sums")], cwd=tree).returncode, 0)

        # The tree as installed runs the program on its own runtime, with no Java on PATH.
        home = os.path.join(tree, "opt/example-editor")
        out = run([os.path.join(home, "editor"), "a"], env={"PATH": "/nonexistent", "JAVA_HOME": ""}, timeout=120)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout.splitlines()[0], f"home={home}/jre")

        if shutil.which("lintian"):
            report = run(["lintian", "--allow-root", deb], timeout=900)
            errors = [line for line in report.stdout.splitlines() if line.startswith("E:")]
            self.assertEqual(errors, [], report.stdout)
            sys.stderr.write("lintian on the package with a runtime:\n" + report.stdout)

    def test_java_dependency_without_runtime(self):
        """The Java package follows minjre and the kind of launcher (console: headless)."""
        cases = [
            ("console, minjre 11", "launcher-console", "minjre 11\n",
             "default-jre-headless (>= 2:1.11) | java11-runtime-headless", "true"),
            ("GUI, minjre 1.8.0_200", "launcher-gui", "MINJRE = 1.8.0_200\n", "default-jre | java8-runtime", "false"),
            ("GUI, no minjre", "launcher-gui", "", "default-jre | java8-runtime", "false"),
            ("console, minjre 21 after a longer keyword", "launcher-console", "minjrex 9\nminjre=21\n",
             "default-jre-headless (>= 2:1.21) | java21-runtime-headless", "true"),
        ]
        for label, image, config, java, terminal in cases:
            with self.subTest(label):
                deb, _ = self.build(image, "mainclass demo.Main\n" + config)
                depends = [d.strip() for d in deb_field(deb, "Depends").split(",")]
                self.assertEqual([d for d in depends if "java" in d or "jre" in d], [java])
                tree = self.path("tree-" + image)
                shutil.rmtree(tree, True)
                run(["dpkg-deb", "-x", deb, tree])
                with open(os.path.join(tree, "usr/share/applications/example-editor.desktop")) as f:
                    self.assertIn(f"Terminal={terminal}\n", f.read())
                if label == cases[0][0] and shutil.which("lintian"):
                    # Everything in this package is the command's own making: only the missing
                    # manual page is left to the user.
                    report = run(["lintian", "--allow-root", deb], timeout=900)
                    tags = sorted(line.split()[2] for line in report.stdout.splitlines() if line[:2] in ("E:", "W:"))
                    self.assertEqual(tags, ["no-manual-page"], report.stdout)

    def test_refusals(self):
        program = packed_program(self.dir, "launcher-console", "mainclass demo.Main\n", name="editor")
        plain_image = os.path.join(TOOLS.dist, "launcher-console")
        base = ["--version", "1.0", "--maintainer", "Ann <ann@example.com>", "--out", self.path("x.deb")]
        cases = [
            ("upper case package name", ["--program", program, "--name", "Editor"], "Debian package name", 2),
            ("maintainer without mail", ["--program", program, "--name", "ed", "--maintainer", "Ann"], "NAME <MAIL>", 2),
            ("associate without a MIME type", ["--program", program, "--name", "ed", "--associate", ".edoc=doc"],
             ".EXT=MIME/TYPE", 2),
            ("image that was never packed", ["--program", plain_image, "--name", "ed"], "not a packed program", 1),
            ("Windows program", ["--program", os.path.join(TOOLS.dist, "launcher-console.exe"), "--name", "ed"],
             "not a 64-bit Linux program", 1),
            ("Windows runtime", ["--program", program, "--name", "ed", "--runtime", self.dir], "not a Linux runtime", 1),
        ]
        for label, args, fragment, status in cases:
            with self.subTest(label):
                options = list(args)
                for i in range(0, len(base), 2):
                    if base[i] not in options:
                        options += base[i:i + 2]
                r = pack_tool("deb", *options)
                self.assert_refused(r, fragment, status)
                self.assertFalse(os.path.exists(self.path("x.deb")))
                self.assertEqual(leftovers(self.dir), [])


# ---------------------------------------------------------------------------------------------
# The Windows Installer package, installed under Wine with the fake runtime as jre\.

WIN_BUILD = os.path.join(REPO, "build", "windows")
MSI_PREFIX = os.path.join(REPO, "build", "wineprefix-msi")
RUN_WINE = os.path.join(REPO, "tests", "wine", "run-wine.sh")
UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
VENDOR, NAME = "Lumen & Co", "Example Editor"


def winpath(p):
    return "Z:" + os.path.abspath(p).replace("/", "\\")


def msi_table(msi, table):
    rows = run(["msiinfo", "export", msi, table]).stdout.splitlines()[3:]
    return [r.split("\t") for r in rows]


def msi_property(msi, name):
    return dict((r[0], r[1]) for r in msi_table(msi, "Property")).get(name)


@unittest.skipUnless(shutil.which("wixl") and shutil.which("msiinfo"), "wixl or msitools not installed")
class MsiTableTest(ReleaseCase):
    """What the package holds, read back with msiinfo (no Wine needed)."""

    def build(self, *extra, name=NAME, vendor=VENDOR, version="1.2.3"):
        program = self.path("Editor.exe")
        if not os.path.exists(program):
            with open(program, "wb") as f:
                f.write(b"MZ" + bytes(200))
        out = self.path(f"{len(os.listdir(self.dir))}.msi")
        r = pack_tool("msi", "--program", program, "--name", name, "--vendor", vendor, "--version", version,
                      "--out", out, *extra)
        self.assertEqual(r.returncode, 0, r.stderr)
        return out, r.stdout

    def test_upgrade_code(self):
        first, printed = self.build()
        code = msi_property(first, "UpgradeCode")
        self.assertRegex(code, r"^\{[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\}$")
        self.assertIn(code, printed)
        cases = [
            ("next version, same product", dict(version="1.3.0"), True),
            ("another product of the vendor", dict(name="Example Viewer"), False),
            ("another vendor", dict(vendor="Lumen"), False),
            ("vendor and name split differently", dict(vendor="Lumen & C", name="o" + NAME), False),
        ]
        for label, change, same in cases:
            with self.subTest(label):
                other, _ = self.build(**change)
                self.assertEqual(msi_property(other, "UpgradeCode") == code, same)
                self.assertNotEqual(msi_property(other, "ProductCode"), msi_property(first, "ProductCode"))
        given, _ = self.build("--upgrade-code", "0d6bd4a6-1c6f-4c47-9d2c-5d1f0a5e7b10")
        self.assertEqual(msi_property(given, "UpgradeCode"), "{0D6BD4A6-1C6F-4C47-9D2C-5D1F0A5E7B10}")

    def test_refusals(self):
        with open(self.path("Editor.exe"), "wb") as f:
            f.write(b"MZ" + bytes(200))
        with open(self.path("elf"), "wb") as f:
            f.write(b"\x7fELF" + bytes(200))
        base = ["--program", self.path("Editor.exe"), "--name", NAME, "--vendor", VENDOR, "--version", "1.0.0"]
        cases = [
            ("version part above 255", ["--version", "1.256.0"], "--version must be X.Y.Z", 2),
            ("version with four parts", ["--version", "1.2.3.4"], "--version must be X.Y.Z", 2),
            ("upgrade code not a GUID", ["--upgrade-code", "1234"], "not a GUID", 2),
            ("name with a backslash", ["--name", "a\\b"], "not usable as a folder name", 2),
            ("association without a description", ["--associate", ".edoc"], ".EXT=DESCRIPTION", 2),
            ("text outside code page 1252", ["--vendor", "Łukasz"], "code page 1252", 2),
            ("Linux program", ["--program", self.path("elf")], "not a Windows program", 1),
            ("runtime without jvm.dll", ["--runtime", self.dir], "not a Windows runtime", 1),
        ]
        for label, change, fragment, status in cases:
            with self.subTest(label):
                args = list(base)
                for i in range(0, len(change), 2):
                    if change[i] in args:
                        args[args.index(change[i]) + 1] = change[i + 1]
                    else:
                        args += change[i:i + 2]
                r = pack_tool("msi", *args, "--out", self.path("x.msi"))
                self.assert_refused(r, fragment, status)
                self.assertFalse(os.path.exists(self.path("x.msi")))
                self.assertEqual(leftovers(self.dir), [])


class Wine:
    """A scratch prefix of its own: installs write Program Files, HKLM and HKCR, which the
    other suites' prefix should not see."""

    def __init__(self):
        r = run(["bash", "-c", 'source "$1" "$2"', "wine-env", os.path.join(REPO, "tests", "wine", "wine-env.sh"),
                 MSI_PREFIX], timeout=900)
        assert r.returncode == 0, r.stderr
        # A fresh prefix links the user's Desktop, Documents, ... to the Unix home folder: a
        # desktop shortcut would land in the real home. Plain folders keep it in the prefix.
        users = os.path.join(MSI_PREFIX, "drive_c", "users")
        for user in os.listdir(users):
            for entry in os.listdir(os.path.join(users, user)):
                p = os.path.join(users, user, entry)
                if os.path.islink(p):
                    os.unlink(p)
                    os.makedirs(p)
        self.system32 = os.path.join(MSI_PREFIX, "drive_c", "windows", "system32")

    def run(self, program, *args, env=None):
        full = {"VXO_WINEPREFIX": MSI_PREFIX, "VXO_WINE_TIMEOUT": "600"}
        full.update(env or {})
        return run(["bash", RUN_WINE, WIN_BUILD, program, *args], env=full, timeout=900)

    def msiexec(self, *args):
        return self.run(os.path.join(self.system32, "msiexec.exe"), *args, "/qn")

    def reg_query(self, key):
        """{value name: data} of one key, or None when it does not exist."""
        r = self.run(os.path.join(self.system32, "reg.exe"), "query", key)
        if r.returncode != 0:
            return None
        values = {}
        for line in r.stdout.splitlines():
            parts = re.split(r"\s{4}", line.strip())
            if len(parts) == 3:
                values[parts[0]] = parts[2]
            elif len(parts) == 2 and parts[1].startswith("REG_"):
                values[parts[0]] = ""
        return values

    def subkeys(self, key):
        r = self.run(os.path.join(self.system32, "reg.exe"), "query", key)
        names = [line.strip().replace("HKEY_LOCAL_MACHINE", "HKLM", 1).replace("HKEY_CLASSES_ROOT", "HKCR", 1)
                 for line in r.stdout.splitlines()]
        return [n for n in names if n.upper().startswith(key.upper() + "\\")]

    def drive(self, windows_path):
        return os.path.join(MSI_PREFIX, "drive_c", *windows_path.split("\\")[1:])


@unittest.skipUnless(shutil.which("wixl"), "wixl not installed")
@unittest.skipUnless(os.path.exists(os.path.join(WIN_BUILD, "fakejvm", "full", "jvm.dll"))
                     and os.environ.get("VXO_SKIP_WINE") != "1", "no Windows build, or VXO_SKIP_WINE=1")
class MsiWineTest(ReleaseCase):
    def package(self, version, extra_file, signed=False):
        """The program (console image, fake runtime as jre\\), its external configuration and one
        more file, packed into an .msi of the given version."""
        folder = self.path("v" + version)
        os.makedirs(os.path.join(folder, "jre", "bin", "server"))
        shutil.copy(os.path.join(WIN_BUILD, "fakejvm", "full", "jvm.dll"), os.path.join(folder, "jre", "bin", "server"))
        program = packed_program(folder, "launcher-console.exe", "mainclass demo.Main\noption -Dfrom.payload=yes\n",
                                 name="Editor.exe")
        with open(os.path.join(folder, "Editor.cfg"), "w") as f:
            f.write("option -Dfrom.external=" + version + "\n")
        with open(os.path.join(folder, extra_file), "w") as f:
            f.write(version)
        icon = os.path.join(folder, "editor.ico")
        with open(icon, "wb") as f:
            f.write(pictures.ico([(32, pictures.icon_picture(32))]))
        msi = os.path.join(folder, "editor.msi")
        r = pack_tool("msi", "--program", program, "--runtime", os.path.join(folder, "jre"),
                      "--file", os.path.join(folder, "Editor.cfg"), "--file", os.path.join(folder, extra_file),
                      "--name", NAME, "--vendor", VENDOR, "--version", version, "--icon", icon,
                      "--associate", ".edoc=Example document [draft]", "--desktop-shortcut", "--out", msi)
        self.assertEqual(r.returncode, 0, r.stderr)
        if signed:
            msi = self.sign(msi)
        return msi

    def sign(self, msi):
        key, cert = self.path("key.pem"), self.path("cert.pem")
        r = run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Lumen Test",
                 "-keyout", key, "-out", cert])
        self.assertEqual(r.returncode, 0, r.stderr)
        signed = msi[:-4] + "-signed.msi"
        r = run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256", "-n", NAME,
                 "-in", msi, "-out", signed])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        r = run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return signed

    def installed_products(self, wine):
        found = {}
        for key in wine.subkeys(UNINSTALL):
            values = wine.reg_query(key) or {}
            if values.get("DisplayName") == NAME:
                found[key] = values
        return found

    def test_install_upgrade_uninstall(self):
        if not shutil.which("osslsigncode") or not shutil.which("openssl"):
            self.skipTest("osslsigncode or openssl not installed")
        wine = Wine()
        install_dir = f"C:\\Program Files\\{VENDOR}\\{NAME}"
        home = wine.drive(install_dir)
        vendor_dir = os.path.dirname(home)
        progid = "LumenCo.ExampleEditor.edoc"
        self.assertFalse(os.path.exists(vendor_dir), "the scratch prefix holds an earlier install")

        def shortcuts():
            return sorted(os.path.relpath(os.path.join(d, f), os.path.join(MSI_PREFIX, "drive_c"))
                          for d, _, files in os.walk(os.path.join(MSI_PREFIX, "drive_c"))
                          for f in files if f == NAME + ".lnk")

        try:
            first = self.package("1.2.3", "old.txt", signed=True)
            r = wine.msiexec("/i", winpath(first))
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            for rel in ("Editor.exe", "Editor.ico", "Editor.cfg", "old.txt", "jre/bin/server/jvm.dll"):
                with self.subTest(file=rel):
                    self.assertTrue(os.path.isfile(os.path.join(home, rel)))
            links = shortcuts()
            self.assertEqual(sorted(os.path.basename(os.path.dirname(p)) for p in links), ["Desktop", "Programs"], links)
            products = self.installed_products(wine)
            self.assertEqual(len(products), 1, products)
            entry = next(iter(products.values()))
            self.assertEqual((entry["DisplayVersion"], entry["Publisher"]), ("1.2.3", VENDOR))
            self.assertEqual(entry.get("DisplayIcon"), f"{install_dir}\\Editor.ico")
            keys = [
                ("HKCR\\.edoc", {"(Default)": progid}),
                ("HKCR\\" + progid, {"(Default)": "Example document [draft]"}),
                ("HKCR\\" + progid + "\\DefaultIcon", {"(Default)": f'"{install_dir}\\Editor.exe",0'}),
                ("HKCR\\" + progid + "\\shell\\open\\command", {"(Default)": f'"{install_dir}\\Editor.exe" "%1"'}),
            ]
            for key, values in keys:
                with self.subTest(key=key):
                    self.assertEqual(wine.reg_query(key), values)

            # The installed program finds its runtime in jre\ and reads both configurations.
            log = self.path("fake.log")
            r = wine.run(os.path.join(home, "Editor.exe"), "doc.edoc", env={"VXO_FAKEJVM_LOG": winpath(log)})
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(log, encoding="utf-8") as f:
                events = f.read().splitlines()
            for line in ("option -Dfrom.external=1.2.3", "option -Dfrom.payload=yes",
                         f"option -Dapplication.home={install_dir}\\", "arg doc.edoc"):
                self.assertIn(line, events)

            # A higher version replaces the older one: one product, its files, not the old ones.
            second = self.package("1.2.4", "new.txt")
            r = wine.msiexec("/i", winpath(second))
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            products = self.installed_products(wine)
            self.assertEqual([v["DisplayVersion"] for v in products.values()], ["1.2.4"])
            self.assertFalse(os.path.exists(os.path.join(home, "old.txt")))
            with open(os.path.join(home, "Editor.cfg")) as f:
                self.assertEqual(f.read(), "option -Dfrom.external=1.2.4\n")
            self.assertTrue(os.path.isfile(os.path.join(home, "new.txt")))
            self.assertEqual(len(shortcuts()), 2)

            r = wine.msiexec("/x", winpath(second))
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertFalse(os.path.exists(vendor_dir), "uninstall leaves no folder")
            self.assertEqual(shortcuts(), [])
            self.assertEqual(self.installed_products(wine), {})
            for key in [k for k, _ in keys] + [f"HKLM\\Software\\{VENDOR}"]:
                with self.subTest(removed=key):
                    self.assertIsNone(wine.reg_query(key))
        finally:
            # A failed run must not leave the product for the next one.
            for msi in (self.path("v1.2.4", "editor.msi"), self.path("v1.2.3", "editor.msi")):
                if os.path.exists(vendor_dir) and os.path.exists(msi):
                    wine.msiexec("/x", winpath(msi))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--packer-jar", required=True)
    parser.add_argument("--java", default=shutil.which("java"))
    parser.add_argument("--javac", default=shutil.which("javac"))
    parser.add_argument("--dist", default=os.path.join(REPO, "build", "dist"))
    args, rest = parser.parse_known_args()
    vars(TOOLS).update(vars(args))
    TOOLS.packer_jar = os.path.abspath(TOOLS.packer_jar)
    if not os.path.exists(os.path.join(TOOLS.dist, "launcher-console")):
        print(f"no launcher images in {TOOLS.dist}: run make dist first", file=sys.stderr)
        sys.exit(1)
    with tempfile.TemporaryDirectory(prefix="vexilo-release-") as work:
        TOOLS.classpath = []
        TOOLS.lib_jar = compile_jar(work, "lib", LIB_BASE, release="8", versions={11: LIB_11})
        # The merged archive takes the first JAR's manifest: the application's says Multi-Release
        # so that the library's Java 11 classes are the ones the runtime loads.
        TOOLS.app_jar = compile_jar(work, "app", APP_SOURCES, main="demo.Main", multi_release=True)
        result = unittest.main(argv=[sys.argv[0]] + rest, exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
