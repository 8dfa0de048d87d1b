#!/usr/bin/env bash
# The kill test: Vantrel killed with SIGKILL KILLS times (default 200) at
# random moments of start-up and of a connection, while vantrel-reg keeps
# writing settings; every start after a kill must have put the power
# time-outs back, and every setting vantrel-reg acknowledged must still be
# there. Prints the kills by the moment they hit and the values lost.
#
#   scripts/kill-test.sh [KILLS] [kill_test.py options, e.g. --lanes 2 --seed N --dir DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
kills=${1:-200}
[ $# -gt 0 ] && shift
scripts/deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
exec python3 tests/system/kill_test.py --build build --kills "$kills" "$@"
