"""The launch sequence observed through the JNI test double, on Linux and under Wine: options,
properties, arguments, every result code with its message, and the runtime sources."""
import os
import shutil
import sys
import unittest

from harness import Workspace
from targets import LinuxTarget, WineTarget, available_targets

SELECTED = os.environ.get("VXO_TARGET")
TARGETS = [t for t in available_targets() if SELECTED in (None, t.name)]
MAIN = "mainclass demo.Main\n"


class FakeJvmCase:
    target = None

    def setUp(self):
        self.ws = Workspace()
        self.log = self.ws.root / "fake.log"

    def tearDown(self):
        self.ws.close()

    def program(self, config, variant="full", image=None, name="app"):
        """Packs config into a program with the fake runtime in the folder "jre" beside it."""
        folder = self.ws.root / name
        runtime = folder / self.target.runtime_dir
        runtime.mkdir(parents=True, exist_ok=True)
        shutil.copy(self.target.fake(variant), runtime / self.target.library)
        return self.ws.pack(config, name=name + self.target.exe, image=image or self.target.console,
                            folder=folder)

    def start(self, program, args=(), **env):
        self.log.unlink(missing_ok=True)
        env.setdefault("VXO_FAKEJVM_LOG", self.target.path(self.log))
        for key in ("JAVA_HOME", "JRE_HOME", "JAVA_TOOL_OPTIONS", "CLASSPATH"):
            env.setdefault(key, None)
        return self.target.run(program, args, env=env)

    def events(self):
        # Property values are logged as the launcher's bytes: modified UTF-8, surrogates and all.
        return self.log.read_bytes().decode("utf-8", "surrogatepass").splitlines() if self.log.exists() else []

    def test_options_properties_and_arguments(self):
        program = self.program(MAIN + "option -Xmx512m\noption -Dz=1\nproperty a=b=c\nproperty flag\n"
                               'argv "a b" c\nproperty u=x\U0001F600y\n')
        out = self.start(program, ["x", "\u00e9"])
        self.assertEqual(out.returncode, 0, out.stderr)
        events = self.events()
        options = [e[7:] for e in events if e.startswith("option ")]
        path = self.target.path(program)
        sep = ";" if self.target.exe else ":"
        home = path[:path.rfind("\\" if self.target.exe else "/") + 1]
        self.assertEqual(options[:6], ["-Xmx512m", "-Dz=1", f"-Djava.class.path={path}",
                                       f"-Dvxo.class.path={path}", f"-Dvxo.app.path={path}",
                                       f"-Dapplication.home={home}"])
        self.assertIn("setProperty a=b=c", events)
        self.assertIn("setProperty flag=", events)
        self.assertIn("setProperty u=x\ud83d\ude00y", events)  # one surrogate pair, as Java holds it
        self.assertIn("main demo/Main", events)
        args = [e[4:] for e in events if e.startswith("arg ")]
        self.assertEqual(args, ["a b", "c", "x", "\u00e9"])
        self.assertEqual(events[-1], "destroy")

    def test_results_and_messages(self):
        text = self.ws.root / "notalib.dll"
        text.write_text("plain text")
        cases = [
            ("no runtime", "jre_order c\n", "full", {}, 1, "Java Runtime Environment not found."),
            ("no entry point", "", "no-entry", {}, 2, "Java Runtime Environment not valid."),
            ("text file as library", f"jvmdll {self.target.path(text)}\n", "full", {}, 2,
             "Java Runtime Environment not valid."),
            ("refused", "", "full", {"VXO_FAKEJVM_REFUSE": "1"}, 4, "Java Virtual Machine starts failed."),
            ("no System", "minjre 1.8\n", "full", {"VXO_FAKEJVM_NO_SYSTEM": "1"}, 5,
             "Can not get the virtual machine version."),
            ("no getProperty", "maxjre 99\n", "full", {"VXO_FAKEJVM_NO_GETPROPERTY": "1"}, 5,
             "Can not get the virtual machine version."),
            ("too low", "minjre 9\n", "full", {"VXO_FAKEJVM_VERSION": "1.8.0_151"}, 6,
             "Java virtual machine version 1.8.0_151 is too low, require 9 or higher."),
            ("too high", "maxjre 1.8\n", "full", {"VXO_FAKEJVM_VERSION": "11.0.2"}, 12,
             "Java virtual machine version 11.0.2 is too high, version between  and 1.8 is required."),
            ("no main class", "", "full", {"VXO_FAKEJVM_MAINCLASS": "other/Main"}, 7,
             "The main startup class could not be found."),
            ("no main method", "", "full", {"VXO_FAKEJVM_NO_MAIN": "1"}, 8,
             "The main startup class is not valid, main method missing."),
            ("version passes", "minjre 1.8\nmaxjre 1.8\n", "full", {"VXO_FAKEJVM_VERSION": "1.8.0_401"}, 0, ""),
            ("no version needed", "", "full", {"VXO_FAKEJVM_NO_SYSTEM": "1"}, 0, ""),
            ("impl entry point", "", "impl-only", {}, 0, ""),
            ("main throws", "", "full", {"VXO_FAKEJVM_MAIN_THROW": "1"}, 1, ""),
            ("System.exit", "", "full", {"VXO_FAKEJVM_MAIN_EXIT": "3"}, 3, ""),
        ]
        for name, config, variant, env, code, message in cases:
            with self.subTest(name):
                program = self.program(MAIN + config, variant=variant, name=name.replace(" ", "-"))
                out = self.start(program, **env)
                self.assertEqual(out.returncode, code, out.stderr)
                if message:
                    self.assertIn(message, out.stderr.decode("cp1252").splitlines())

    def test_refused_creation_consumes_the_options(self):
        program = self.program(MAIN + "option -Da\n")
        self.start(program, VXO_FAKEJVM_REFUSE="1")
        events = self.events()
        self.assertIn("option -Da", events)
        self.assertIn("create refused", events)
        self.assertNotIn("main demo/Main", events)


def load_tests(loader, tests, pattern):
    suite = unittest.TestSuite()
    for target in TARGETS:
        case = type(f"FakeJvm_{target.name}", (FakeJvmCase, unittest.TestCase), {"target": target})
        suite.addTests(loader.loadTestsFromTestCase(case))
    return suite


if __name__ == "__main__":
    unittest.main(verbosity=2)
