#!/usr/bin/env bash
# The soak test: Vantrel, headless and in a sandbox of its own, connected to
# the keyboard emulator typing at full rate (100 keys a second) for SECONDS
# (default 3600), the connection dropped and made again all along (status
# code 8, the keyboard going silent, the line hanging up). Prints the keys
# sent and received, resident memory and open descriptors at the start and
# the end, and the power time-outs after every disconnection and after
# quitting; fails when a key was lost, memory or descriptors grew, or a
# time-out was not restored.
#
#   scripts/soak.sh [SECONDS] [soak.py options, e.g. --key-interval 5 --dir DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-3600}
[ $# -gt 0 ] && shift
scripts/deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
exec python3 tests/system/soak.py --build build --seconds "$seconds" "$@"
