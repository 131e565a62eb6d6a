"""Single instance enforcement and message 13 with its overrides, on the Linux images."""
import os
import pwd
import shutil
import socket
import subprocess
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
    the instance block and the liveness lock, which every start makes in its per-user folder."""
    return {folder / name for folder in folders if folder.is_dir() and not folder.is_symlink()
            for name in os.listdir(folder) if not name.endswith(".block") and not name.startswith("live.")}


def user_with_home():
    """A local user other than root whose home exists, or None."""
    for entry in pwd.getpwall():
        if 1000 <= entry.pw_uid < 65534 and Path(entry.pw_dir).is_dir() and entry.pw_dir != "/":
            return entry
    return None


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

    def test_the_environment_does_not_move_the_lock(self):
        # One folder for the user whatever XDG_RUNTIME_DIR says: copies started from a desktop,
        # ssh, sudo or cron meet, and nothing is made in the folder the variable names.
        cases = [  # the holder's value, the second start's value (None: unset)
            ("private folder, then unset", "private", None),
            ("unset, then a private folder", None, "private"),
            ("two different private folders", "private", "other"),
            ("a folder open to all", "open", None),
        ]
        for index, (name, held, second) in enumerate(cases):
            with self.subTest(name):
                folders = {"private": make_dir(self.ws.root / f"xdg{index}", os.geteuid(), 0o700),
                           "other": make_dir(self.ws.root / f"xdg{index}b", os.geteuid(), 0o700),
                           "open": make_dir(self.ws.root / f"xdg{index}c", os.geteuid(), 0o777)}
                program = self.ws.pack(BASE, name=f"xdg-app{index}")
                env = {"XDG_RUNTIME_DIR": str(folders[held])} if held else None
                self.hold(program, env)
                out = run(program, ["exit=0"], env_extra={"XDG_RUNTIME_DIR": str(folders[second])} if second else None,
                          env_remove=() if second else ("XDG_RUNTIME_DIR",))
                self.assertEqual(out.returncode, 11, out.stdout)
                self.assertEqual(entries(*folders.values()), set())

    @as_root
    def test_a_shared_folder_taken_by_another_user_does_not_stop_the_program(self):
        # Another user made /tmp/vexilo-<uid> first, open to all, with files and links in it:
        # the user's copies meet in a folder of their own in the home instead.
        victim = user_with_home()
        if victim is None:
            self.skipTest("no local user with a home")
        uid, gid = victim.pw_uid, victim.pw_gid
        shared = Path(f"/tmp/vexilo-{uid}")
        in_home = Path(victim.pw_dir) / f".vexilo-{socket.gethostname()}"
        existed = in_home.exists()
        if shared.exists() or shared.is_symlink():
            self.skipTest(f"{shared} is in use")
        self.ws.root.chmod(0o755)
        program = self.ws.pack(BASE + "appid Taken\n", name="taken")
        try:
            make_dir(shared, OTHER, 0o777)
            (shared / "Taken.vxo.mutex").symlink_to("/tmp")
            (shared / "Taken.vxo.mapping.block").symlink_to("/tmp")
            make_file(shared / "live.x", OTHER)
            before = entries(shared)
            first = subprocess.Popen([str(program), "wait"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     cwd=self.ws.root, user=uid, group=gid, extra_groups=[])
            self.holders.append(first)
            self.assertTrue(wait_for_line(first, "ready"), "the first copy did not start")
            out = run(program, ["exit=0"], cwd=self.ws.root, user=uid, group=gid, extra_groups=[])
            self.assertEqual(out.returncode, 11, out.stderr)
            self.assertEqual(entries(shared), before)
            self.assertEqual(in_home.stat().st_uid, uid)
            self.assertEqual(in_home.stat().st_mode & 0o777, 0o700)
            self.assertTrue((in_home / "Taken.vxo.mutex").is_file())
        finally:
            shutil.rmtree(shared, ignore_errors=True)
            if not existed:
                shutil.rmtree(in_home, ignore_errors=True)

    @as_root
    def test_no_private_place_for_the_lock(self):
        # Someone else got to /tmp/vexilo-<uid> first and the user has no home to go to: no lock
        # can be made safely, so the start is refused, and nothing appears in what they prepared.
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
                    # Before it, one line says the copies of the program cannot meet either.
                    lines = out.stderr.decode().strip().splitlines()
                    self.assertEqual(lines[-1], REFUSED)
                    folder_unusable = name not in ("link as the lock file", "another user's lock file")
                    self.assertEqual(len(lines), 2 if folder_unusable else 1, lines)
                    if folder_unusable:
                        self.assertIn("cannot meet", lines[0])
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
