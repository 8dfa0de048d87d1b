#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: first the normal
# build, then the build with AddressSanitizer and UndefinedBehaviorSanitizer,
# then the link's tests with ThreadSanitizer, then a short fuzzing run of
# every parser of outside data (a failure fails the run), then the
# benchmarks (which report figures and never fail the run).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1

scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The fifty quits (label quit_repeat) are there to catch threads outliving
# the program's static objects, which only the sanitizer build reports: they
# run in that build only.
(cd build && ctest -j "$jobs" --timeout 600 -LE quit_repeat)

scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON -DVANTREL_BENCH=OFF
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  LSAN_OPTIONS=suppressions="$PWD/../tests/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest -j "$jobs" --timeout 900 -LE nosanitize)

# ThreadSanitizer on the parts where the threads meet: the link, the
# platform core (messages, timers, events) and the serial port. Only their
# test programs are built, to keep the run short; any report fails its test
# (exit code 66). The program joins its threads on its way out (the shutdown
# tests check that); a test process ends with them still there, so threads
# left unjoined at its exit are not reported.
VANTREL_BUILD_TARGETS="test_link test_link_connection test_link_protocol test_link_serial
  test_platform_core restart_probe vantrel-kbd" \
  scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_TSAN=ON -DVANTREL_BENCH=OFF
(cd build-tsan && TSAN_OPTIONS=halt_on_error=0:exitcode=66:second_deadlock_stack=1:report_thread_leaks=0 \
  ctest -j "$jobs" --timeout 900 -LE nosanitize -E 'NOT_BUILT|match_generator')

# VANTREL_FUZZ_SECONDS: how long each fuzz target runs here (two at a time).
scripts/fuzz.sh "${VANTREL_FUZZ_SECONDS:-30}"

if [ -x scripts/bench.sh ]; then
  scripts/bench.sh build || echo "benchmarks: some did not run (see above)"
fi
