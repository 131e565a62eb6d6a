#!/usr/bin/env bash
# run-fuzzer.sh FUZZER SEED_CORPUS SECONDS: a bounded libFuzzer run; new inputs go to a scratch
# folder so the seed corpus in the tree is never written.
set -euo pipefail
fuzzer=$1 seeds=$2 seconds=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
  "$work" "$seeds" 2>&1 | tail -n 15
