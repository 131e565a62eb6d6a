"""Running instances and object messages between them, on the Linux images with the real runtime."""
import os
import queue
import random
import shutil
import signal
import stat
import subprocess
import threading
import time
import unittest
from pathlib import Path

from harness import JAVA_HOME, Workspace
from targets import REPO, WIN_BUILD, LINUX_BUILD, available_targets

BASE = f"mainclass probe.Probe\njvmdll {JAVA_HOME}/lib/server/libjvm.so\n"
CUSTOM = BASE + "singleinstance custom\n"


class Peer:
    """A packed probe in its "peer" mode: commands on standard input, one report per line."""

    def __init__(self, program, command=None, env=None):
        self.process = subprocess.Popen(command or [str(program), "peer"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        self.lines = queue.Queue()
        self.errors = []
        self.backlog = []
        threading.Thread(target=self._read, args=(self.process.stdout, self.lines.put), daemon=True).start()
        threading.Thread(target=self._read, args=(self.process.stderr, self.errors.append), daemon=True).start()
        self.pid = int(self.expect("ready ").split()[1])

    @staticmethod
    def _read(stream, sink):
        for raw in stream:
            sink(raw.decode("utf-8", "replace").rstrip("\r\n"))

    def send(self, command):
        self.process.stdin.write((command + "\n").encode())
        self.process.stdin.flush()

    def expect(self, prefix, timeout=20):
        """The first line starting with prefix; lines that do not match wait for a later call
        (an object sent to oneself can be reported before the "sent" that follows the send)."""
        deadline = time.monotonic() + timeout
        while True:
            for index, line in enumerate(self.backlog):
                if line.startswith(prefix):
                    return self.backlog.pop(index)
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError(f"no line starting {prefix!r} from {self.process.pid}; "
                                     f"stderr: {self.errors[-5:]}")
            try:
                self.backlog.append(self.lines.get(timeout=left))
            except queue.Empty:
                pass

    REPLIES = {"self": "self ", "first": "first ", "list": "list ", "flush": "flushed ", "slow": "slow",
               "quit": "bye", "fill": "filled", "echo": "echo", "drain": "drained ",
               "cpu": "cpu "}

    def ask(self, command, timeout=20):
        self.send(command)
        return self.expect(self.REPLIES.get(command.split()[0], "sent"), timeout)

    def value(self, command):
        return self.ask(command).split(" ", 1)[1]

    def received(self, timeout=20):
        """(sender, description) of the next object that arrived."""
        _, sender, description = self.expect("recv ", timeout).split(" ", 2)
        return int(sender), description

    def nothing_received(self, within=1.0):
        try:
            line = self.expect("recv ", within)
        except AssertionError:
            return True
        raise AssertionError(f"unexpected {line}")

    def stop(self):
        if self.process.poll() is None:
            try:
                self.send("quit")
                self.process.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self.process.kill()
        self.process.wait()


def serialised(size):
    """How a peer describes a byte array of that serialised size (its hash computed the same way)."""
    overhead = 27  # ObjectOutputStream of an empty byte[]
    body = [((i * 31 + i // 1024) & 0xFF) for i in range(size - overhead)]
    h = 1
    for b in body:
        h = (31 * h + (b - 256 if b > 127 else b)) & 0xFFFFFFFF
    if h >= 1 << 31:
        h -= 1 << 32
    return f"bytes {size} {h}"


def stopped(pid, timeout=10):
    """Waits until every thread of the process is stopped by a signal (SIGSTOP is asynchronous)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        states = []
        for task in Path(f"/proc/{pid}/task").iterdir():
            try:
                states.append(task.joinpath("stat").read_text().rsplit(")", 1)[1].split()[0])
            except (OSError, IndexError):
                pass
        if states and all(state in "tT" for state in states):
            return True
        time.sleep(0.01)
    return False


class PeerCase(unittest.TestCase):
    """Peers started by a test end with it: told to die (a Wine process outlives its starter)."""

    def setUp(self):
        self.ws = Workspace()
        self.peers = []

    def tearDown(self):
        for peer in self.peers:
            if peer.process.poll() is None:
                try:
                    peer.send("die")
                    peer.process.wait(timeout=20)
                except (OSError, subprocess.TimeoutExpired):
                    peer.process.kill()
            peer.process.wait()
        self.ws.close()


class InstancesTest(PeerCase):
    def peer(self, program):
        p = Peer(program)
        self.peers.append(p)
        return p

    def test_objects_travel_whole_between_instances_of_one_program(self):
        program = self.ws.pack(CUSTOM, name="messages")
        owner, second, third = (self.peer(program) for _ in range(3))
        for p in (owner, second, third):
            self.assertEqual(int(p.value("first")), owner.pid)
            self.assertEqual(int(p.value("self")), p.pid)
        self.assertEqual(third.value("list"), f"[{owner.pid},{second.pid},{third.pid}]")
        cases = [
            # (from, command, to): 1020 serialised bytes and the tag fill one chunk; 1021 take two
            (second, "send 0 1020", owner),
            (third, "send 0 1021", owner),
            (owner, f"send {second.pid} 1048576", second),
            (second, "sendfirst 5000", owner),
            (third, f"send {third.pid} 3000", third),
        ]
        for sender, command, receiver in cases:
            with self.subTest(command=command):
                sender.ask(command)
                self.assertEqual(receiver.received(), (sender.pid, serialised(int(command.split()[-1]))))
        # A class only the application's loader can see.
        second.ask(f"note {third.pid} hello")
        self.assertEqual(third.received(), (second.pid, "probe.Note note:hello"))
        # One that cannot be serialised: its exception is printed, nothing is sent.
        second.ask(f"bad {owner.pid}")
        second.ask(f"send {owner.pid} 200")
        self.assertEqual(owner.received(), (second.pid, serialised(200)))
        deadline = time.monotonic() + 10  # standard error is read by a thread of its own
        while not any("NotSerializableException" in line for line in second.errors) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertTrue(any("NotSerializableException" in line for line in second.errors), second.errors)

    def test_one_appid_across_two_program_files(self):
        config = CUSTOM + f"appid vexilo.e2e.{os.getpid()}\n"
        a = self.peer(self.ws.pack(config, name="one"))
        b = self.peer(self.ws.pack(config, name="two"))
        self.assertEqual(b.value("list"), f"[{a.pid},{b.pid}]")
        b.ask("send 0 600")
        self.assertEqual(a.received(), (b.pid, serialised(600)))

    def test_without_custom_only_the_list_works(self):
        program = self.ws.pack(BASE, name="plain")
        a, b = self.peer(program), self.peer(program)
        self.assertEqual(a.value("first"), "-1")
        self.assertEqual(a.value("self"), "-1")
        self.assertEqual(b.value("list"), f"[{a.pid},{b.pid}]")
        a.ask(f"send {b.pid} 100")
        started = time.monotonic()
        a.ask("flush")
        self.assertLess(time.monotonic() - started, 1)
        b.nothing_received()

    def test_a_new_owner_takes_over_and_messages_go_on(self):
        program = self.ws.pack(CUSTOM, name="takeover")
        owner, second, third = (self.peer(program) for _ in range(3))
        owner.process.send_signal(signal.SIGKILL)
        owner.process.wait()
        killed = time.monotonic()
        while int(second.value("first")) == owner.pid:
            self.assertLess(time.monotonic() - killed, 1.0, "no new owner within a second")
            time.sleep(0.02)
        new_owner = {second.pid: second, third.pid: third}[int(second.value("first"))]
        # The killed owner left its liveness file; the next start removes it, no one else's.
        dead_file = user_folder() / f"live.{os.stat('/proc/self/ns/pid').st_ino}.{owner.pid}"
        self.assertTrue(dead_file.exists(), dead_file)
        fourth = self.peer(program)
        self.assertEqual(int(fourth.value("first")), new_owner.pid)
        self.assertFalse(dead_file.exists(), dead_file)
        everyone = [second, third, fourth]
        for sender in everyone:
            for receiver in everyone:
                with self.subTest(sender=sender.pid, receiver=receiver.pid, owner=new_owner.pid):
                    sender.ask(f"send {receiver.pid} 1500")
                    self.assertEqual(receiver.received(), (sender.pid, serialised(1500)))
        fourth.ask("send 0 100")
        self.assertEqual(new_owner.received(), (fourth.pid, serialised(100)))

    def test_busy_receivers_lose_nothing_and_gone_ones_cost_nothing(self):
        program = self.ws.pack(CUSTOM, name="patience")
        a, b, c = (self.peer(program) for _ in range(3))
        # A receiver that spends 1.5 s in onReceive while others keep talking loses nothing.
        b.ask("slow 1500")
        for _ in range(2):
            a.ask(f"send {b.pid} 3000")
        for _ in range(3):
            c.ask(f"send {a.pid} 100")
        for _ in range(3):
            self.assertEqual(a.received(), (c.pid, serialised(100)))
        for _ in range(2):
            self.assertEqual(b.received(10), (a.pid, serialised(3000)))
        # A destination that is gone costs nothing: the sender's queue drains at once.
        c.process.kill()
        c.process.wait()
        a.ask(f"send {c.pid} 50000")
        started = time.monotonic()
        a.ask("flush")
        self.assertLess(time.monotonic() - started, 2)


def user_folder():
    """The per-user folder the launcher chooses for this user (no other user's folder here)."""
    runtime = Path(f"/run/user/{os.geteuid()}")
    try:
        st = os.lstat(runtime)
        if stat.S_ISDIR(st.st_mode) and st.st_uid == os.geteuid() and st.st_mode & 0o777 == 0o700:
            return runtime
    except OSError:
        pass
    return Path(f"/tmp/vexilo-{os.geteuid()}")


def peak_rss_mb(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1]) / 1024
    raise AssertionError("no VmHWM")


class FaultsTest(PeerCase):
    """What real desktops do to running instances: one scenario each, through real runtimes."""

    def peer(self, program, command=None, env=None):
        """env: variables to set, or to remove where the value is None."""
        if env is not None:
            env = {k: v for k, v in {**os.environ, **env}.items() if v is not None}
        p = Peer(program, command, env)
        self.peers.append(p)
        return p

    def trio(self, name, extra=""):
        program = self.ws.pack(CUSTOM + extra, name=name)
        return program, [self.peer(program) for _ in range(3)]

    def stalled_receiver(self):
        # C is stopped: B's message to it holds the area about a second, then goes, and is
        # reported; A's message to B is not held up behind it.
        _, (a, b, c) = self.trio("stalled")
        c.process.send_signal(signal.SIGSTOP)
        try:
            self.assertTrue(stopped(c.pid), "C did not stop")
            b.ask(f"send {c.pid} 4000")
            started = time.monotonic()
            a.ask(f"send {b.pid} 100")
            self.assertEqual(b.received(3), (a.pid, serialised(100)))
            self.assertLess(time.monotonic() - started, 3)
            self.assertEqual(b.ask("drain 5000"), "drained false 1")
            self.assertTrue(any(f"to instance {c.pid} was dropped" in line for line in b.errors), b.errors)
        finally:
            c.process.send_signal(signal.SIGCONT)
        # Once it runs again it takes messages again.
        a.ask(f"send {c.pid} 3000")
        self.assertEqual(c.received(), (a.pid, serialised(3000)))
        self.assertEqual(a.ask("drain 5000"), "drained true 0")

    def slow_on_receive(self):
        # C spends seconds in onReceive (a modal dialog): its messaging thread goes on taking
        # chunks, others are not held up, and everything reaches C afterwards, in order.
        _, (a, b, c) = self.trio("slow")
        c.ask("slow 4000")
        b.ask(f"send {c.pid} 100")
        time.sleep(0.3)  # C is now inside onReceive
        b.ask(f"send {c.pid} 4000")
        a.ask(f"send {b.pid} 100")
        self.assertEqual(b.received(3), (a.pid, serialised(100)))
        self.assertEqual(b.ask("drain 5000"), "drained true 0")
        self.assertEqual(c.received(15), (b.pid, serialised(100)))
        self.assertEqual(c.received(15), (b.pid, serialised(4000)))

    def scribbled_block(self):
        # Any process of the user may write the block: 0xFF or random bytes over all of it kill
        # no instance, a new start reaches main, and after all quit two new copies talk again.
        appid = f"vexilo.e2e.scribble.{os.getpid()}"
        program, (a, b, _) = self.trio("scribble", f"appid {appid}\n")
        block = user_folder() / f"{appid}.vxo.mapping.block"
        st = os.lstat(block)
        self.assertTrue(stat.S_ISREG(st.st_mode))
        self.assertEqual((st.st_uid, st.st_mode & 0o777, st.st_size), (os.geteuid(), 0o600, 4096))
        rng = random.Random(5)
        for content in (b"\xff" * 4096, bytes(rng.getrandbits(8) for _ in range(4096))):
            with open(block, "r+b") as f:
                f.write(content)
            time.sleep(0.5)
            for p in (a, b):
                self.assertTrue(p.value("list").startswith("["))
                p.ask(f"send {a.pid} 50")
            for p in (a, b):
                self.assertEqual(a.received(10), (p.pid, serialised(50)))
            newcomer = self.peer(program)
            self.assertTrue(newcomer.value("list").startswith("["))
        for p in list(self.peers):
            p.stop()
        x, y = self.peer(program), self.peer(program)
        self.assertEqual(y.value("list"), f"[{x.pid},{y.pid}]")
        x.ask(f"send {y.pid} 2000")
        self.assertEqual(y.received(), (x.pid, serialised(2000)))

    def environment_differs(self):
        # Copies started with different XDG_RUNTIME_DIR values (desktop, ssh, sudo, cron) share
        # one block and one owner; one of them leaving takes nothing from the others.
        program = self.ws.pack(CUSTOM, name="xdg")
        private = self.ws.root / "xdg-private"
        private.mkdir(mode=0o700)
        a = self.peer(program, env={"XDG_RUNTIME_DIR": str(private)})
        b = self.peer(program, env={"XDG_RUNTIME_DIR": None})
        c = self.peer(program, env={"XDG_RUNTIME_DIR": "/nonexistent"})
        for p in (a, b, c):
            self.assertEqual(int(p.value("first")), a.pid)
        b.stop()
        d = self.peer(program, env={"XDG_RUNTIME_DIR": None})
        self.assertEqual(d.value("list"), f"[{a.pid},{c.pid},{d.pid}]")
        d.ask("send 0 700")
        self.assertEqual(a.received(), (d.pid, serialised(700)))
        self.assertEqual(os.listdir(private), [])

    def reused_pid(self):
        # The owner dies without clean-up and a plain process takes its pid: the copies that
        # start later do not take that process for the first instance.
        if shutil.which("unshare") is None or shutil.which("nsenter") is None:
            self.skipTest("no unshare or nsenter")
        # The namespace lives as long as its first process, which dies with the holder and keeps
        # none of the test's pipes.
        holder = subprocess.Popen(["unshare", "--pid", "--fork", "--kill-child", "--mount-proc", "--map-root-user",
                                   "sleep", "600"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 10
            children = []
            while not children and time.monotonic() < deadline:
                children = Path(f"/proc/{holder.pid}/task/{holder.pid}/children").read_text().split()
                time.sleep(0.05)
            if not children:
                self.skipTest("no pid namespace here")
            enter = ["nsenter", "-t", children[0], "-p", "-m"]
            program = self.ws.pack(CUSTOM, name="reuse")
            owner = self.peer(program, command=enter + [str(program), "peer"])
            second = self.peer(program, command=enter + [str(program), "peer"])
            self.assertEqual(int(second.value("first")), owner.pid)
            owner.send("die")
            owner.process.wait(timeout=20)
            # A plain process takes the pid (other tasks may take a pid in between: tried again).
            take = (f"for i in $(seq 50); do echo {owner.pid - 1} > /proc/sys/kernel/ns_last_pid || exit 1; "
                    f"sleep 600 </dev/null >/dev/null 2>&1 & [ $! = {owner.pid} ] && exit 0; kill $!; done; exit 1")
            taker = subprocess.run(enter + ["sh", "-c", take], capture_output=True, text=True, timeout=60)
            if taker.returncode != 0:
                self.skipTest(f"the pid could not be taken again: {taker.stderr}")
            third = self.peer(program, command=enter + [str(program), "peer"])
            # The first instance is a live copy: the second, or the newcomer when it finds the
            # owner dead before the second has taken over. Never the process that took the pid.
            self.assertIn(int(third.value("first")), (second.pid, third.pid))
            self.assertNotIn(str(owner.pid), third.value("list").strip("[]").split(","))
            third.ask(f"send {second.pid} 300")
            self.assertEqual(second.received(), (third.pid, serialised(300)))
        finally:
            holder.kill()
            holder.wait()

    def big_messages_to_a_stopped_receiver(self):
        # 8 objects of 50 MiB to an instance that takes nothing: the sender waits for room
        # instead of queueing them all, and its memory stays within the queue's bound, one
        # message in hand and the heap the test gives it.
        size, heap, queued = 50 << 20, 256, 64
        program = self.ws.pack(CUSTOM + f"option -Xmx{heap}m\n", name="big")
        a, b = self.peer(program), self.peer(program)
        a.ask(f"send {b.pid} 100")
        self.assertEqual(b.received(), (a.pid, serialised(100)))
        before = peak_rss_mb(a.process.pid)
        b.process.send_signal(signal.SIGSTOP)
        try:
            self.assertTrue(stopped(b.pid), "B did not stop")
            a.ask(f"sendmany {b.pid} 8 {size}", timeout=120)
            self.assertEqual(a.ask("drain 30000", timeout=60), "drained false 8")
            grown = peak_rss_mb(a.process.pid) - before
            print(f"sender grew by {grown:.0f} MB for 8 x 50 MiB")
            self.assertLess(grown, heap + queued + 2 * (size >> 20) + 64)
        finally:
            b.process.send_signal(signal.SIGCONT)

    def serial_filter(self):
        # The process-wide serialisation filter applies to what arrives from other instances.
        program = self.ws.pack(CUSTOM + "option -Djdk.serialFilter=!probe.Note\n", name="filter")
        a, b = self.peer(program), self.peer(program)
        a.ask(f"note {b.pid} rejected")
        a.ask(f"send {b.pid} 64")
        self.assertEqual(b.received(), (a.pid, serialised(64)))
        self.assertTrue(any("InvalidClassException" in line for line in b.errors), b.errors[-5:])

    def test_fault_scenarios(self):
        only = os.environ.get("VXO_SCENARIO")
        for scenario in (self.stalled_receiver, self.slow_on_receive, self.scribbled_block,
                         self.environment_differs, self.reused_pid, self.big_messages_to_a_stopped_receiver,
                         self.serial_filter):
            if only and scenario.__name__ != only:
                continue
            with self.subTest(scenario.__name__):
                try:
                    scenario()
                finally:
                    self.tearDown()
                    self.setUp()


class NativeInstancesTest(PeerCase):
    """The protocol between real processes of a small native program (no runtime needed), on
    Linux and, through the Windows backend, under Wine."""

    def program(self, target, folder):
        """A copy of the peer program in its own folder: one program file, one block."""
        source = (WIN_BUILD / "tests" / "instance_peer.exe") if target.name == "windows" else \
            (LINUX_BUILD / "tests" / "instance_peer")
        (self.ws.root / folder).mkdir(exist_ok=True)
        copy = self.ws.root / folder / source.name
        copy.write_bytes(source.read_bytes())
        copy.chmod(0o755)
        return copy

    def peer(self, target, program, *args):
        if target.name == "windows":
            command = ["bash", str(REPO / "tests" / "wine" / "run-wine.sh"), str(WIN_BUILD), str(program), *args]
        else:
            command = [str(program), *args]
        p = Peer(None, command)
        self.peers.append(p)
        return p

    @staticmethod
    def send(sender, dest, size):
        """Sends and returns what the receiver will report: (sender pid, size, hash)."""
        sender.send(f"send {dest} {size}")
        return sender.pid, f"{size} {sender.expect('sent ').split()[1]}"

    @staticmethod
    def die(peer):
        peer.send("die")
        peer.process.wait(timeout=30)

    def test_payloads_registration_and_takeover(self):
        for target in available_targets():
            with self.subTest(target=target.name):
                program = self.program(target, f"{target.name}-one")
                a, b, c = (self.peer(target, program) for _ in range(3))
                self.assertEqual(c.value("list"), f"[{a.pid},{b.pid},{c.pid}]")
                self.assertEqual((int(b.value("first")), int(b.value("self"))), (a.pid, b.pid))
                for size, sender, dest, receiver in [(1, b, 0, a), (1024, a, c.pid, c), (1025, c, c.pid, c),
                                                     (100000, b, c.pid, c)]:
                    expected = self.send(sender, dest, size)
                    self.assertEqual(receiver.received(30), expected, size)
                self.die(b)
                self.assertEqual(a.value("list"), f"[{a.pid},{c.pid}]")
                self.die(a)  # the owner: c takes over, and a newcomer finds it
                deadline = time.monotonic() + 1.0
                while int(c.value("first")) != c.pid:
                    self.assertLess(time.monotonic(), deadline, "no new owner within a second")
                d = self.peer(target, program)
                self.assertEqual(int(d.value("first")), c.pid)
                expected = self.send(d, 0, 2000)
                self.assertEqual(c.received(30), expected)
                expected = self.send(c, d.pid, 3000)
                self.assertEqual(d.received(30), expected)
                # A full table: the next instance is not listed, yet it sends and receives.
                d.ask("fill")
                e = self.peer(target, program)
                self.assertNotIn(str(e.pid), e.value("list").strip("[]").split(","))
                expected = self.send(e, 0, 10)
                self.assertEqual(c.received(30), expected)
                expected = self.send(c, e.pid, 10)
                self.assertEqual(e.received(30), expected)
                for peer in (c, d, e):
                    self.die(peer)

    def test_an_appid_joins_program_files_and_nothing_else(self):
        appid = f"vexilo.peer.{os.getpid()}"
        for target in available_targets():
            with self.subTest(target=target.name):
                first = self.peer(target, self.program(target, f"{target.name}-a"), appid)
                second = self.peer(target, self.program(target, f"{target.name}-b"), appid)
                alone = self.peer(target, self.program(target, f"{target.name}-c"))
                self.assertEqual(second.value("list"), f"[{first.pid},{second.pid}]")
                self.assertEqual(alone.value("list"), f"[{alone.pid}]")
                expected = self.send(second, 0, 5000)
                self.assertEqual(first.received(30), expected)
                for peer in (first, second, alone):
                    self.die(peer)

    def owner_exits_with_still_active(self, target):
        # 259 is STILL_ACTIVE on Windows: the exit code must not make a dead owner look alive.
        program = self.program(target, f"{target.name}-259")
        owner, b, c = (self.peer(target, program) for _ in range(3))
        owner.send("exit 259")
        self.assertEqual(owner.process.wait(timeout=30), 259 & 0xFF)
        before = [int(p.value("cpu")) for p in (b, c)]
        time.sleep(3)
        spent = [int(p.value("cpu")) - was for p, was in zip((b, c), before)]
        self.assertLess(max(spent), 300, f"processor ms over 3 s: {spent}")
        self.assertIn(int(b.value("first")), (b.pid, c.pid))
        d = self.peer(target, program)
        new_owner = {b.pid: b, c.pid: c}[int(d.value("first"))]
        expected = self.send(d, 0, 2000)
        self.assertEqual(new_owner.received(30), expected)

    def copy_of_the_published_procedure(self, target):
        # A copy that claims by `busy` alone, without `claimant`, in both directions.
        program = self.program(target, f"{target.name}-published")
        launcher = self.peer(target, program)
        copy = self.peer(target, program, "--published")
        for step, (sender, receiver) in enumerate([(copy, launcher), (launcher, copy), (copy, launcher)]):
            expected = self.send(sender, receiver.pid, 3000)
            self.assertEqual(receiver.received(30), expected, f"step {step}")
        # The copy holds an empty claim while the launcher has a message to write.
        copy.send(f"send {launcher.pid} 1500 1500")
        time.sleep(0.3)
        expected = self.send(launcher, copy.pid, 2500)
        _, digest, area = copy.expect("sent ").split()
        self.assertEqual(area, "intact")
        self.assertEqual(copy.received(30), expected)
        self.assertEqual(launcher.received(30), (copy.pid, f"1500 {digest}"))

    def test_the_windows_backend_with_odd_peers(self):
        for target in available_targets():
            for scenario in (self.owner_exits_with_still_active, self.copy_of_the_published_procedure):
                if target.name != "windows" and scenario == self.owner_exits_with_still_active:
                    continue  # exit codes are 8 bits there
                with self.subTest(target=target.name, scenario=scenario.__name__):
                    try:
                        scenario(target)
                    finally:
                        self.tearDown()
                        self.setUp()

    def test_messages_survive_instances_killed_at_random(self):
        # Five instances talk while some are killed and replaced: no deadlock, every message
        # between instances that stay alive arrives exactly once, a new owner within a second.
        rng = random.Random(int(os.environ.get("VXO_KILL_SEED", "7")))
        program = self.program(LinuxTargetName(), "kill")
        live = [self.peer(LinuxTargetName(), program) for _ in range(5)]
        sent = []  # (sender, receiver, (sender pid, description))
        gone = set()
        size = 900
        for round_ in range(12):
            for _ in range(6):
                sender, receiver = rng.choice(live), rng.choice(live)
                size += 37
                sent.append((sender, receiver, self.send(sender, receiver.pid, size)))
            if round_ % 3 == 2:
                victim = rng.choice(live)
                was_owner = int(victim.value("first")) == victim.pid
                self.die(victim)
                gone.add(victim)
                live.remove(victim)
                if was_owner:
                    killed = time.monotonic()
                    while int(live[0].value("first")) == victim.pid:
                        self.assertLess(time.monotonic() - killed, 1.0, "no new owner within a second")
                        time.sleep(0.01)
                live.append(self.peer(LinuxTargetName(), program))
        for receiver in live:
            wanted = [e for s, r, e in sent if r is receiver and s not in gone]
            possible = [e for s, r, e in sent if r is receiver]
            got = []
            deadline = time.monotonic() + 60
            while not all(e in got for e in wanted) and time.monotonic() < deadline:
                got.append(receiver.received(30))
            while True:  # and whatever else comes, from instances that were killed
                try:
                    got.append(receiver.received(0.5))
                except AssertionError:
                    break
            # Exactly once each, nothing that was not sent to it, each sender's in its order.
            self.assertEqual(sorted(set(got)), sorted(got))
            self.assertEqual([e for e in got if e not in possible], [])
            for e in wanted:
                self.assertIn(e, got)
            for sender in {e[0] for e in got}:
                mine = [e for e in got if e[0] == sender]
                self.assertEqual(mine, [e for e in possible if e in mine])


def LinuxTargetName():
    return available_targets()[0]


if __name__ == "__main__":
    unittest.main()
