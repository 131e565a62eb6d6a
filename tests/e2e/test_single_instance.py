"""Single instance enforcement and message 13 with its overrides, on the Linux images."""
import unittest

from harness import JAVA_HOME, Workspace, run, start, wait_for_line

BASE = f"mainclass probe.Probe\njvmdll {JAVA_HOME}/lib/server/libjvm.so\nsingleinstance true\n"
REFUSED = "There is already an instance of this program running."


class SingleInstanceTest(unittest.TestCase):
    def setUp(self):
        self.ws = Workspace()
        self.holders = []

    def tearDown(self):
        for process in self.holders:
            process.kill()
            process.wait()
        self.ws.close()

    def hold(self, program):
        process = start(program, ["wait"])
        self.holders.append(process)
        self.assertTrue(wait_for_line(process, "ready"), "first instance did not start")
        return process

    def test_second_start_is_refused(self):
        for image in ("launcher-console", "launcher-gui"):
            with self.subTest(image=image):
                program = self.ws.pack(BASE, name=f"single-{image}", image=image)
                self.hold(program)
                second = run(program, ["x"])
                self.assertEqual(second.returncode, 11)
                self.assertEqual(second.stderr.decode().strip(), REFUSED)
                self.assertNotIn(b"args=", second.stdout)

    def test_lock_is_released_when_the_holder_dies(self):
        program = self.ws.pack(BASE, name="released")
        first = self.hold(program)
        first.kill()
        first.wait()
        self.assertEqual(run(program, ["exit=0"]).returncode, 0)

    def test_letter_case_and_other_values(self):
        cases = [("singleinstance TRUE\n", 11), ("singleinstance yes\n", 0), ("singleinstance\n", 0)]
        for line, code in cases:
            with self.subTest(line=line):
                config = BASE.replace("singleinstance true\n", line)
                program = self.ws.pack(config, name="case" + str(len(self.holders)))
                self.hold(program)
                self.assertEqual(run(program, ["exit=0"]).returncode, code)

    def test_appid_shares_the_lock_between_program_files(self):
        one = self.ws.pack(BASE + "appid Acme\\Report\n", name="one")
        two = self.ws.pack(BASE + "appid Acme\\Report\n", name="two")
        other = self.ws.pack(BASE + "appid Other\n", name="three")
        self.hold(one)
        self.assertEqual(run(two, ["exit=0"]).returncode, 11)
        self.assertEqual(run(other, ["exit=0"]).returncode, 0)

    def test_lock_that_cannot_be_created(self):
        # A name too long for a lock file: the creation fails, which refuses the start as well.
        program = self.ws.pack(BASE + "appid " + "x" * 300 + "\n", name="toolong")
        out = run(program, ["exit=0"])
        self.assertEqual(out.returncode, 11)
        self.assertRegex(out.stdout.decode(), r"^CreateMutex error: \d+\n")
        self.assertEqual(out.stderr.decode().strip(), REFUSED)

    def test_message_overrides(self):
        cases = [
            ("payload", "message 13=Schon gestartet.\n", None, "Schon gestartet."),
            ("external file", "", "message 13=Extern.\n", "Extern."),
            ("external before payload", "message 13=Payload.\n", "message 13=Extern.\n", "Extern."),
            ("disabled external", "message 13=Payload.\ndisableexternal true\n", "message 13=Extern.\n",
             "Payload."),
        ]
        for name, payload, external, expected in cases:
            with self.subTest(name):
                folder = self.ws.root / name.replace(" ", "-")
                program = self.ws.pack(BASE + payload, name="app", folder=folder)
                if external is not None:
                    (folder / "app.cfg").write_text(external)
                self.hold(program)
                second = run(program, ["x"])
                self.assertEqual(second.returncode, 11)
                self.assertEqual(second.stderr.decode().strip(), expected)


if __name__ == "__main__":
    unittest.main(verbosity=2)
