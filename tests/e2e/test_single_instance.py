"""Single instance enforcement and message 13 with its overrides, on the Linux images."""
import os
import shutil
import unittest
from pathlib import Path

from harness import JAVA_HOME, Workspace, run, start, wait_for_line

BASE = f"mainclass probe.Probe\njvmdll {JAVA_HOME}/lib/server/libjvm.so\nsingleinstance true\n"
REFUSED = "There is already an instance of this program running."
# Planting tests run the launcher as VICTIM, so they never disturb /tmp/vexilo-<our uid>, which
# the other tests (and other runs of this suite) use. OTHER is the local user who plants.
VICTIM, OTHER = 64999, 65534
as_root = unittest.skipUnless(os.geteuid() == 0, "acting as other users needs root")


def make_dir(path, owner, mode):
    path.mkdir()
    os.chown(path, owner, owner)
    path.chmod(mode)
    return path


def make_file(path, owner):
    """A file anyone may write, so only its owner tells it apart."""
    path.touch()
    os.chown(path, owner, owner)
    path.chmod(0o666)


def entries(*folders):
    """Everything directly inside the real folders among folders (links are not followed), but
    the lock files of instance blocks, which every start makes in its runtime folder."""
    return {folder / name for folder in folders if folder.is_dir() and not folder.is_symlink()
            for name in os.listdir(folder) if not name.endswith(".lock")}


def remove_victim_traces():
    runtime = Path(f"/tmp/vexilo-{VICTIM}")
    if runtime.is_dir() and not runtime.is_symlink():
        shutil.rmtree(runtime)
    elif runtime.is_symlink() or runtime.exists():
        runtime.unlink()
    for block in Path("/dev/shm").glob(f"vexilo-{VICTIM}-*"):
        block.unlink()


class SingleInstanceTest(unittest.TestCase):
    def setUp(self):
        self.ws = Workspace()
        self.holders = []

    def tearDown(self):
        for process in self.holders:
            process.kill()
            process.wait()
        self.ws.close()

    def hold(self, program, env_extra=None):
        process = start(program, ["wait"], env_extra)
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

    def test_long_names_are_hashed_and_still_lock(self):
        # Lock names past the 255-byte file name limit: a 300-character appid, a program whose
        # path is 251 characters.
        long_id = BASE + "appid " + "x" * 300 + "\n"
        deep = self.ws.pack(BASE, name="app", folder=self.ws.root / ("d" * (246 - len(str(self.ws.root)))))
        cases = [("long appid", self.ws.pack(long_id, name="id1"), self.ws.pack(long_id, name="id2")),
                 ("long path", deep, deep)]
        for name, first, second in cases:
            with self.subTest(name):
                self.hold(first)
                out = run(second, ["exit=0"])
                self.assertEqual((out.returncode, out.stdout), (11, b""))

    def test_runtime_folder_that_is_not_private_is_passed_over(self):
        # $XDG_RUNTIME_DIR must be ours and 0700, else the lock goes to /tmp/vexilo-<uid>, where
        # a start without the variable meets it. A private one is used, so that start runs.
        cases = [  # name, mode, owner, through a link, second start's code, files made there
            ("private", 0o700, os.geteuid(), False, 0, 1),
            ("open to all", 0o777, os.geteuid(), False, 11, 0),
            ("another user's", 0o700, OTHER, False, 11, 0),
            ("link to a private folder", 0o700, os.geteuid(), True, 11, 0),
        ]
        for index, (name, mode, owner, linked, code, files) in enumerate(cases):
            with self.subTest(name):
                if owner != os.geteuid() and os.geteuid() != 0:
                    continue
                folder = make_dir(self.ws.root / f"xdg{index}", owner, mode)
                xdg = self.ws.root / f"xdg{index}-link" if linked else folder
                if linked:
                    xdg.symlink_to(folder)
                program = self.ws.pack(BASE, name=f"xdg-app{index}")
                self.hold(program, {"XDG_RUNTIME_DIR": str(xdg)})
                out = run(program, ["exit=0"], env_remove=("XDG_RUNTIME_DIR",))
                self.assertEqual(out.returncode, code, out.stdout)
                self.assertEqual(len(entries(folder)), files)

    @as_root
    def test_no_private_place_for_the_lock(self):
        # Someone else got to /tmp/vexilo-<uid> first: no lock can be made safely, so the start
        # is refused, and nothing appears in what they prepared.
        runtime, bait = Path(f"/tmp/vexilo-{VICTIM}"), self.ws.root / "bait"
        lock = "Planted.vxo.mutex"

        def ours(mode=0o700):
            return make_dir(runtime, VICTIM, mode)

        def decoy():  # a folder of the victim's that a planted link points at
            return make_dir(bait, VICTIM, 0o700)
        cases = [
            ("nothing planted", lambda: None, 0),
            ("another user's folder", lambda: make_dir(runtime, OTHER, 0o777), 11),
            ("our folder open to all", lambda: ours(0o777), 11),
            ("link to our own folder", lambda: runtime.symlink_to(decoy()), 11),
            ("link as the lock file", lambda: (ours() / lock).symlink_to(decoy() / "x"), 11),
            ("another user's lock file", lambda: make_file(ours() / lock, OTHER), 11),
        ]
        self.ws.root.chmod(0o755)
        program = self.ws.pack(BASE + "appid Planted\n", name="victim")
        for name, plant, code in cases:
            with self.subTest(name):
                remove_victim_traces()
                shutil.rmtree(bait, ignore_errors=True)
                try:
                    plant()
                    before = entries(runtime, bait)
                    out = run(program, ["exit=0"], env_remove=("XDG_RUNTIME_DIR",), cwd=self.ws.root,
                              user=VICTIM, group=VICTIM, extra_groups=[])
                    if code == 0:
                        self.assertEqual(out.returncode, 0, out.stderr)
                        continue
                    self.assertEqual(out.returncode, 11)
                    self.assertRegex(out.stdout.decode(), r"^CreateMutex error: [1-9]\d*\n$")
                    self.assertEqual(out.stderr.decode().strip(), REFUSED)
                    self.assertEqual(entries(runtime, bait), before)
                finally:
                    remove_victim_traces()

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
