#!/usr/bin/env python3
"""Messages between two running instances: the round trip of a small payload and the delivery of
1 MiB, between two Linux instances with the real runtime (objects), and as raw payloads through
the launcher's protocol alone (a native peer on Linux and, through the Windows backend, under
Wine). The native Linux figures are the baseline of the ratios. Prints only.
Usage: instances.py DIST [ROUNDS]"""
import os
import sys
import tempfile
from pathlib import Path

repo = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(repo / "tests" / "e2e"))
dist = Path(sys.argv[1]).resolve()
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 200
os.environ.setdefault("VXO_DIST", str(dist))
os.environ.setdefault("VXO_PROBE_JAR", str(repo / "build" / "linux" / "tests" / "e2e" / "probe.jar"))

from harness import JAVA_HOME, Workspace  # noqa: E402
from targets import WIN_BUILD, LINUX_BUILD  # noqa: E402
from test_instances import Peer  # noqa: E402

MIB = 1 << 20


def measure(start_peer):
    """(small round trip, 1 MiB one way) in microseconds; the one way is half a 1 MiB round trip."""
    a, b = start_peer(), start_peer()
    try:
        b.ask("echo")
        a.send(f"ping {b.pid} 20 100")
        a.expect("ping ", 120)  # warm-up
        a.send(f"ping {b.pid} {rounds} 100")
        small = int(a.expect("ping ", 300).split()[1])
        a.send(f"ping {b.pid} 5 {MIB}")
        big = int(a.expect("ping ", 300).split()[1]) // 2
        return small, big
    finally:
        for p in (a, b):
            p.process.kill()
            p.process.wait()


ws = Workspace()
try:
    results = {}
    native = LINUX_BUILD / "tests" / "instance_peer"
    results["native, Linux"] = measure(lambda: Peer(None, [str(native)]))
    program = ws.pack(f"mainclass probe.Probe\njvmdll {JAVA_HOME}/lib/server/libjvm.so\nsingleinstance custom\n",
                      name="bench")
    results["objects, Linux, real runtime"] = measure(lambda: Peer(program))
    windows_peer = WIN_BUILD / "tests" / "instance_peer.exe"
    if windows_peer.exists() and (dist / "launcher-console.exe").exists():
        folder = Path(tempfile.mkdtemp(prefix="vxo-bench-wine-"))
        copy = folder / windows_peer.name
        copy.write_bytes(windows_peer.read_bytes())
        results["native, Windows backend under Wine"] = measure(
            lambda: Peer(None, ["bash", str(repo / "tests" / "wine" / "run-wine.sh"), str(WIN_BUILD), str(copy)]))
    base_small, base_big = results["native, Linux"]
    print(f"instance messages ({rounds} round trips of 100 bytes; 1 MiB one way = half its round trip)")
    for name, (small, big) in results.items():
        print(f"  {name:40s} round trip {small / 1000:8.3f} ms ({small / base_small:5.2f}x)"
              f"   1 MiB {big / 1000:8.2f} ms ({big / base_big:5.2f}x)")
    java_small, java_big = results["objects, Linux, real runtime"]
    print(f"  goals with the real runtime: round trip {java_small / 1000:.3f} / 1 ms = {java_small / 1000:.2f};"
          f" 1 MiB {java_big / 1000:.1f} / 50 ms = {java_big / 50000:.2f}")
finally:
    ws.close()
