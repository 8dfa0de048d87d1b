#!/usr/bin/env bash
# Cross-compiles the Windows programs (vantrel.exe, vantrel-reg.exe) and
# their installer into build-windows/ with mingw-w64 and NSIS:
#   scripts/build-windows.sh [cmake options...]
# VANTREL_BUILD_TARGETS (space-separated) builds only those targets;
# VANTREL_WINDOWS_BUILD names another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${VANTREL_WINDOWS_BUILD:-build-windows}
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
  echo "build-windows: x86_64-w64-mingw32-g++-posix is missing (scripts/deps.sh installs it)" >&2
  exit 1
fi
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/windows/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" "$@"
else
  cmake -S . -B "$dir" "$@" >/dev/null
fi
targets=()
for t in ${VANTREL_BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
