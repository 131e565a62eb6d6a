#!/usr/bin/env python3
"""Start-up benchmark: a hello-world application through the Linux console image versus
`java -cp <the same jar> <main class>`, alternated; prints median wall-time, processor-time and
peak-memory ratios. Usage: startup.py DIST [RUNS]"""
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

dist = Path(sys.argv[1]).resolve()
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
java_home = Path(os.environ.get("JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
work = Path(tempfile.mkdtemp(prefix="vxo-startup-"))
src = work / "src" / "bench"
src.mkdir(parents=True)
(src / "Hello.java").write_text(
    "package bench; public class Hello { public static void main(String[] a) {"
    " System.out.println(\"hello\"); } }")
subprocess.run(["javac", "-d", str(work / "classes"), str(src / "Hello.java")], check=True)
subprocess.run(["jar", "--create", "--file", str(work / "hello.jar"), "-C", str(work / "classes"), "."],
               check=True)
(work / "packed.cfg").write_text(f"mainclass bench.Hello\njvmdll {java_home}/lib/server/libjvm.so\n")
subprocess.run([str(dist / "vexilo-pack"), "--image", str(dist / "launcher-console"), "--config",
                str(work / "packed.cfg"), "--jar", str(work / "hello.jar"), "--out", str(work / "hello")],
               check=True)

commands = {
    "launcher": [str(work / "hello")],
    "java": [str(java_home / "bin" / "java"), "-cp", str(work / "hello.jar"), "bench.Hello"],
}


def measure(cmd):
    start = time.perf_counter()
    process = subprocess.Popen(cmd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    if status != 0:
        raise SystemExit(f"{cmd[0]} failed with status {status}")
    return elapsed, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


results = {name: ([], [], []) for name in commands}
for name, cmd in commands.items():  # one warm-up each
    measure(cmd)
for _ in range(runs):
    for name, cmd in commands.items():
        for series, value in zip(results[name], measure(cmd)):
            series.append(value)

med = {name: tuple(statistics.median(series) for series in r) for name, r in results.items()}
print(f"start-up of a hello-world application, {runs} alternated runs each")
for name, (t, c, m) in med.items():
    print(f"  {name:9s} median wall {t * 1000:8.1f} ms   cpu {c * 1000:8.1f} ms   peak RSS {m / 1024:7.1f} MiB")
for index, what in enumerate(("wall-time", "processor-time", "peak-memory")):
    print(f"  {what + ' ratio':24s} launcher / java: {med['launcher'][index] / med['java'][index]:.3f}")
subprocess.run(["rm", "-rf", str(work)])
