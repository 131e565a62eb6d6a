#!/usr/bin/env bash
# Runs the benchmarks; they print figures and never fail the build.
set -uo pipefail
dist=${1:-build/dist}
here=$(cd "$(dirname "$0")" && pwd)
"$here/../build/linux/bench/config_load" || echo "config_load did not run"
python3 "$here/startup.py" "$dist" 20 || echo "startup benchmark did not run"
python3 "$here/instances.py" "$dist" 200 || echo "instance message benchmark did not run"
python3 "$here/pack.py" "$dist" 3 || echo "packing benchmark did not run"
python3 "$here/splash.py" "$dist" 20 || echo "splash benchmark did not run"
