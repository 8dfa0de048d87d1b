#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: the normal
# build's tests, the tests again in the build with AddressSanitizer and
# UndefinedBehaviorSanitizer, the link's tests with ThreadSanitizer, a short
# fuzzing run of every parser of outside data (a failure fails the run), the
# Windows build under Wine (scripts/test-windows.sh), then the benchmarks
# (which report figures and never fail the run).
#
# The test suites mostly wait (on the emulated keyboard, the X server, the
# program starting and ending), so each suite runs while the next build
# compiles: the builds run at the lowest priority and take only the time the
# tests leave. The suites themselves run one after the other (some tests
# share users and folders of the machine), except beside the fuzzers, where
# two that share nothing run together. Each suite's output goes to
# build-logs/NAME.log; a suite that fails prints its log. The benchmarks run
# last, on a quiet machine.
#
# scripts/test.sh --repeat N instead builds the normal and the
# ThreadSanitizer trees and runs their unit and link suites N times over,
# every round to the end, then says which rounds failed and in which tests:
# a test that fails now and then shows up as a count, not as a hunch.
set -euo pipefail
cd "$(dirname "$0")/.."

repeat=0
while [ $# -gt 0 ]; do
  case $1 in
    --repeat) repeat=${2:-}; shift $(($# > 1 ? 2 : 1)) ;;
    --repeat=*) repeat=${1#--repeat=}; shift ;;
    *) echo "usage: scripts/test.sh [--repeat N]" >&2; exit 2 ;;
  esac
done
if ! [[ $repeat =~ ^[0-9]+$ ]] || [ "$repeat" -gt 10000 ]; then
  echo "scripts/test.sh: --repeat needs a number of rounds from 1 to 10000" >&2
  exit 2
fi

scripts/deps.sh

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1
logs=build-logs
mkdir -p "$logs"
start=$SECONDS
failed=()
declare -A running

say() { printf '[%4ds] %s\n' $((SECONDS - start)) "$*"; }

# background NAME COMMAND...: runs a test suite beside what follows.
background() {
  local name=$1; shift
  say "$name: started"
  ("$@") >"$logs/$name.log" 2>&1 &
  running[$name]=$!
}

# finish NAME: waits for a suite started by background and reports it.
finish() {
  local name=$1
  if wait "${running[$name]}"; then
    say "$name: passed ($(grep -m1 -o '[0-9]*% tests passed.*' "$logs/$name.log" || echo done))"
  else
    say "$name: FAILED"
    cat "$logs/$name.log"
    failed+=("$name")
  fi
  unset "running[$name]"
}

# alone NAME COMMAND...: runs a test suite with nothing beside it.
alone() {
  local name=$1; shift
  say "$name: started"
  if ("$@") >"$logs/$name.log" 2>&1; then
    say "$name: passed ($(grep -m1 -o '[0-9]*% tests passed.*' "$logs/$name.log" || echo done))"
  else
    say "$name: FAILED"
    cat "$logs/$name.log"
    failed+=("$name")
  fi
}

# build DIR OPTIONS...: a build at the lowest priority (tests run beside it).
build() {
  say "build $1"
  nice -n 19 scripts/build.sh "$@"
}

# These builds only run the tests: line tables (-g1) are all that stack
# traces and the sanitizers' reports need, and they cost much less compile
# time than full debug information.
ci_release=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")
ci_debug=(-DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1)
# They also compile the files of each library and test program in batches
# (a unity build): most of a file's compile time is the headers it shares
# with its neighbours. The README's build compiles file by file, so that a
# missing include is still found there.
ci_release+=(-DCMAKE_UNITY_BUILD=ON)
ci_debug+=(-DCMAKE_UNITY_BUILD=ON)
# They link with lld: the builds link some fifty programs each, and the
# default linker spends two to three times as long on every one of them.
ci_link=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=lld)
ci_release+=("${ci_link[@]}")
ci_debug+=("${ci_link[@]}")

tsan_targets="test_link test_link_connection test_link_protocol test_link_serial
  test_platform_core restart_probe vantrel-kbd"
tsan_options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_TSAN=ON -DVANTREL_BENCH=OFF "${ci_release[@]}"
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
tsan_env=(TSAN_OPTIONS=halt_on_error=0:exitcode=66:second_deadlock_stack=1:report_thread_leaks=0)

# --repeat N: the unit and link suites, N rounds in each of the two builds.
if [ "$repeat" -gt 0 ]; then
  say "build build"
  scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${ci_release[@]}"
  VANTREL_BUILD_TARGETS="$tsan_targets" build build-tsan "${tsan_options[@]}"
  rounds_failed=0
  for round in $(seq "$repeat"); do
    round_failed=()
    if ! (cd build && ctest -j "$jobs" --timeout 600 -L "unit|link") >"$logs/repeat-tests.log" 2>&1; then
      round_failed+=("tests:" $(sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' "$logs/repeat-tests.log"))
      cp "$logs/repeat-tests.log" "$logs/repeat-tests-$round.log"
    fi
    if ! (cd build-tsan && env "${tsan_env[@]}" ctest -j "$jobs" --timeout 900 -L "unit|link" \
        -LE nosanitize -E "NOT_BUILT|match_generator") >"$logs/repeat-tsan-tests.log" 2>&1; then
      round_failed+=("tsan-tests:" $(sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' "$logs/repeat-tsan-tests.log"))
      cp "$logs/repeat-tsan-tests.log" "$logs/repeat-tsan-tests-$round.log"
    fi
    if [ ${#round_failed[@]} -gt 0 ]; then
      rounds_failed=$((rounds_failed + 1))
      say "round $round of $repeat: FAILED ${round_failed[*]} (logs: $logs/repeat-*-$round.log)"
    else
      say "round $round of $repeat: passed"
    fi
  done
  say "$rounds_failed of $repeat rounds failed"
  [ "$rounds_failed" -eq 0 ]
  exit
fi

say "build build"
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${ci_release[@]}"
# The thirty quits (label quit_repeat) are there to catch threads outliving
# the program's static objects, which only the sanitizer build reports: they
# run in that build only. The two system tests take a
# slot each for minutes while mostly waiting, so this suite runs one test
# more than there are cores.
# The tests that type into an X client (label x11) or a Wayland window
# (label wayland) and the serial port's timing tests (label serial) run
# apart, with no build beside them: both kinds of typing lend keys and give
# a client a short while to read a key before it means something else, and
# the serial tests measure how late a read returns; a machine busy compiling
# can exceed both.
background tests bash -c 'cd build && ctest -j "$0" --timeout 600 -LE "quit_repeat|x11|wayland|serial"' $((jobs + 1))

# The sanitizer build is compiled by clang, which compiles it in two thirds
# of the time, and it holds the fuzz targets too (their coverage
# instrumentation costs the tests nothing measurable): the fuzzers run from
# this tree, and no build of their own is needed.
# (A tree left by an earlier run with another compiler is configured anew.)
if [ -f build-asan/CMakeCache.txt ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang++' build-asan/CMakeCache.txt; then
  rm -rf build-asan
fi
CC=clang CXX=clang++ build build-asan -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON -DVANTREL_FUZZ=ON \
  -DVANTREL_BENCH=OFF "${ci_debug[@]}"
finish tests
alone tests-apart bash -c 'cd build && ctest -j "$0" --timeout 600 -L "x11|wayland|serial"' "$jobs"
asan_env=(ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp"
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)
background asan-tests env "${asan_env[@]}" bash -c 'cd build-asan && \
  ctest -j "$0" --timeout 900 -LE "nosanitize|x11|wayland|quit_repeat|serial"' "$jobs"

# ThreadSanitizer on the parts where the threads meet: the link, the
# platform core (messages, timers, events) and the serial port. Only their
# test programs are built, to keep the run short; any report fails its test
# (exit code 66). The program joins its threads on its way out (the shutdown
# tests check that); a test process ends with them still there, so threads
# left unjoined at its exit are not reported.
# Optimised as far as ThreadSanitizer asks (-O1), which compiles faster.
VANTREL_BUILD_TARGETS="$tsan_targets" build build-tsan "${tsan_options[@]}"

finish asan-tests
alone asan-tests-apart env "${asan_env[@]}" bash -c 'cd build-asan && \
  ctest -j "$0" --timeout 900 -L "x11|wayland|serial|quit_repeat" -LE nosanitize' "$jobs"

# The fuzzers run for a fixed time at the lowest priority, so suites that
# need no quiet machine run beside them at little cost to the run's length:
# the ThreadSanitizer suite and the packages. (The quits while connected,
# five sanitized programs at a time, load the machine so much that a
# connection test of the ThreadSanitizer suite can miss the keyboard's sync
# pattern: they stay in the stage above. The version tests and the windows
# on X11 need programs of the whole build, which this one is not.)
background tsan-tests env "${tsan_env[@]}" bash -c 'cd build-tsan && \
  ctest -j "$0" --timeout 900 -LE "nosanitize|serial|cli|x11" -E "NOT_BUILT|match_generator"' "$jobs"
# The Debian packages built from the normal tree and checked (lintian,
# desktop entry, metainfo, manuals), and the packaged vantrel run from a
# throw-away root against vantrel-kbd.
background package tests/package/check_package.sh build

# VANTREL_FUZZ_SECONDS: how long each fuzz target runs here (two at a time).
# They run unoptimised from the sanitizer build: fewer runs a second than in
# scripts/fuzz.sh's own build, which is for long runs.
say "fuzz"
nice -n 19 scripts/fuzz.sh --tree build-asan "${VANTREL_FUZZ_SECONDS:-10}" || failed+=(fuzz)
finish tsan-tests
finish package
alone tsan-tests-apart env "${tsan_env[@]}" bash -c 'cd build-tsan && \
  ctest -j "$0" --timeout 900 -L serial -LE nosanitize -E "NOT_BUILT|match_generator"' "$jobs"

# The Windows build under Wine (skipped, with a word, without mingw-w64 or
# Wine): its unit tests, the installer and the program typing end to end.
alone windows scripts/test-windows.sh build

if [ -x scripts/bench.sh ]; then
  say "benchmarks"
  scripts/bench.sh build || echo "benchmarks: some did not run (see above)"
  # The Windows typing path's figures, measured under Wine by its stage.
  echo "== windows (under Wine)"
  grep -h '^windows: \(idle CPU\|per key\)' "$logs/windows.log" 2>/dev/null ||
    echo "windows: no figures (the stage was skipped or did not reach them)"
fi

say "done"
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
