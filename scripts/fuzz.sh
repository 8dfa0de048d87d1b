#!/usr/bin/env bash
# Fuzzes every parser of outside data: scripts/fuzz.sh [SECONDS] [TARGET...]
# (scripts/fuzz.sh --build-only builds the targets and runs nothing;
# scripts/fuzz.sh --tree DIR ... runs the targets of a tree already built
# with -DVANTREL_FUZZ=ON, such as the test run's sanitizer build, and builds
# nothing.)
#
# Builds the libFuzzer targets of tests/fuzz with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz (only they and the libraries they
# need), then runs each target for SECONDS (default 600), as many at once as
# there are cores. TARGETs are frame_decoder, layout, language, key_test,
# text_page, bmp, settings and sdp_answer (default: all). Each corpus lives in
# build-fuzz/corpus/TARGET and grows from run to run; it starts from the
# shipped data, the frame decoding scenarios and the kept regressions.
#
# A target that fails leaves its input in build-fuzz/crashes/TARGET/; keep it
# as a regression by copying it into tests/fuzz/regressions/TARGET/ (the
# replay test then feeds it through the target in every build). Prints one
# line per target with its executions, and exits 1 when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
build_only=0
dir=build-fuzz
tree_given=0
if [ "${1:-}" = --build-only ]; then build_only=1; shift; fi
if [ "${1:-}" = --tree ]; then dir=$2; tree_given=1; shift 2; fi
seconds=${1:-600}
shift || true
all=(frame_decoder layout language key_test text_page bmp settings sdp_answer)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

if [ "$tree_given" = 0 ]; then
  launcher=()
  if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    generator=()
    if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
    CC=clang CXX=clang++ cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DVANTREL_FUZZ=ON -DVANTREL_BENCH=OFF -DCMAKE_UNITY_BUILD=ON -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld \
      "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
      "${launcher[@]}" >/dev/null
  fi
  cmake --build "$dir" --target fuzz_targets -j "$(nproc)"
fi
[ "$build_only" = 0 ] || exit 0

python3 tests/fuzz/make_seeds.py "$dir/corpus"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run() {
  local t=$1 extra=()
  # Pictures are decoded whole: keep the inputs small enough to mutate fast.
  case $t in
    bmp) extra=(-max_len=8192) ;;
    layout | language | text_page) extra=(-max_len=16384) ;;
  esac
  mkdir -p "$dir/crashes/$t"
  "$dir/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/crashes/$t/" "${extra[@]}" \
    "$dir/corpus/$t" >"$dir/fuzz_$t.log" 2>&1
}

pids=()
names=()
jobs=$(nproc)
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do sleep 1; done
  run "$t" &
  pids+=($!)
  names+=("$t")
done

failed=0
for i in "${!pids[@]}"; do
  t=${names[$i]}
  if wait "${pids[$i]}"; then
    runs=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 runs in \2 s/p' "$dir/fuzz_$t.log")
    echo "fuzz $t: ${runs:-no count}, no failure"
  else
    failed=1
    echo "fuzz $t: FAILED; input and log:"
    ls "$dir/crashes/$t/" | sed "s|^|  $dir/crashes/$t/|"
    tail -n 40 "$dir/fuzz_$t.log"
  fi
done
exit $failed
