#!/usr/bin/env python3
"""Packing benchmark: vexilo-pack against `jar` on the same content, at 1 MiB and 100 MiB.
`jar --create` compresses a folder; vexilo-pack then merges that JAR into a Windows program
file (re-compressing every entry, writing the resources and the checksum). Prints median wall
times, their ratio and the packer's peak resident memory, which must not grow with the archive.
Usage: pack.py DIST [RUNS]"""
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

dist = Path(sys.argv[1]).resolve()
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
java_home = Path(os.environ.get("JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
work = Path(tempfile.mkdtemp(prefix="vxo-packbench-"))


def measure(cmd):
    """Wall time and peak RSS (KiB) of one run of cmd, read from the child's own rusage."""
    started = time.monotonic()
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.monotonic() - started
    if status != 0:
        raise RuntimeError(f"{cmd[0]} failed: {child.stderr.read().decode(errors='replace')}")
    child.stderr.close()
    return elapsed, usage.ru_maxrss


def content(folder, mib):
    """Half incompressible, half text-like, in files of up to 1 MiB, like classes plus resources."""
    rng = random.Random(mib)
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(3, 9)))
             for _ in range(2000)]
    folder.mkdir(parents=True)
    for i in range(max(1, mib)):
        size = min(1 << 20, mib << 20)
        if i % 2:
            data = rng.randbytes(size)
        else:
            data = b" ".join(rng.choice(words) for _ in range(size // 6))[:size]
        (folder / f"res{i:03}.bin").write_bytes(data)
    (folder / "App.class").write_bytes(b"\xca\xfe\xba\xbe")


try:
    (work / "app.cfg").write_text("mainclass App\n")
    print("packing benchmark (median of %d runs; launcher-console.exe image)" % runs)
    print("%8s %10s %12s %8s %14s" % ("archive", "jar (s)", "packer (s)", "ratio", "packer RSS"))
    for mib in (1, 100):
        folder = work / f"in{mib}"
        content(folder, mib)
        jar = work / f"app{mib}.jar"
        jar_times, pack_times, peaks = [], [], []
        for _ in range(runs):
            jar.unlink(missing_ok=True)
            jar_times.append(measure([str(java_home / "bin" / "jar"), "--create", "--file", str(jar),
                                      "-C", str(folder), "."])[0])
            elapsed, peak = measure([str(java_home / "bin" / "java"), "-jar", str(dist / "vexilo-pack.jar"),
                                     "--image", str(dist / "launcher-console.exe"), "--config",
                                     str(work / "app.cfg"), "--jar", str(jar), "--out", str(work / "App.exe")])
            pack_times.append(elapsed)
            peaks.append(peak)
        j, p = statistics.median(jar_times), statistics.median(pack_times)
        print("%6d MiB %10.2f %12.2f %8.2f %11d MiB" % (mib, j, p, p / j, max(peaks) // 1024))
        shutil.rmtree(folder)
finally:
    shutil.rmtree(work, ignore_errors=True)
