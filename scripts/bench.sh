#!/usr/bin/env bash
# Runs every benchmark under tests/bench that the build produced. Each prints
# its figures beside a baseline measured in the same run.
set -uo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
status=0
for b in "$dir"/tests/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" || status=1
done
exit $status
