#!/usr/bin/env bash
# The Windows build, tested under Wine on a private X server:
#   scripts/test-windows.sh [LINUX_BUILD]
# builds build-windows/ (the programs, the installer, the tests), runs the
# Windows unit tests (the Windows platform's own, and the key logic's and
# interface texts' tests on it), then end to end: the installer installs
# silently into a fresh private Wine prefix, vantrel-reg.exe presets the settings, the
# emulated keyboard's pseudo-terminal (vantrel-kbd of LINUX_BUILD, default
# build) is the prefix's COM3, a window of another program has the
# foreground, and the installed vantrel.exe, asked to connect by a second
# launch, types the keyboard's keys through "Intl English.kcod" into that
# window: the text must arrive exactly. It reports the connected program's
# idle CPU, then --quit must end it with the port closed and the machine
# allowed to sleep, vantrel-reg export must give the settings alone, and
# settings written before a kill must be there after it. Last, a benchmark
# that never fails: the time from a key's write to its WM_CHAR, against a
# minimal forwarder's. Skipped, with a word, where mingw-w64, Wine, NSIS or
# Xvfb is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
linux_build=${1:-build}

missing=()
for tool in x86_64-w64-mingw32-g++-posix wine makensis Xvfb python3; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ! command -v wine64 >/dev/null 2>&1 && [ ! -x /usr/lib/wine/wine64 ]; then missing+=(wine64); fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "windows: skipped: ${missing[*]} missing (scripts/deps.sh installs them)"
  exit 0
fi

nice -n 19 scripts/build-windows.sh
win=$root/build-windows
kbd=$linux_build/tools/vantrel-kbd/vantrel-kbd
if [ ! -x "$kbd" ]; then
  VANTREL_BUILD_TARGETS=vantrel-kbd nice -n 19 scripts/build.sh "$linux_build"
fi
kbd=$(realpath "$kbd")
version=$(sed -n 's/^project(Vantrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
setup=$win/packages/Vantrel-$version-setup.exe

box=$(mktemp -d /tmp/vantrel-windows.XXXXXX)
xvfb_pid=""
kbd_pid=""
cleanup() {
  [ -n "$kbd_pid" ] && kill "$kbd_pid" 2>/dev/null || true
  WINEPREFIX=$box/prefix wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$box"
}
trap cleanup EXIT

fail() {
  echo "windows: FAILED: $*"
  for f in trace.log kbd.log vantrel.out; do
    [ -f "$box/$f" ] && { echo "--- $f (last lines)"; tail -n 40 "$box/$f"; }
  done
  exit 1
}

# wait_for SECONDS COMMAND...: polls COMMAND every 0.2 s until it succeeds.
wait_for() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.2
  done
}

# The X server and the prefix, both the test's own.
exec 3>"$box/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
wait_for 20 test -s "$box/display" || fail "Xvfb did not start"
export DISPLAY=:$(head -n1 "$box/display")
export WINEPREFIX=$box/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine wineboot -i >/dev/null 2>&1 || fail "wineboot -i"
winpath() { echo "Z:${1//\//\\}"; }
# The running vantrel.exe of this test's prefix (not another run's), if any.
program_pid() {
  local p
  for p in $(pgrep -f 'Vantrel.vantrel\.exe$' || true); do
    if tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
      echo "$p"
      return 0
    fi
  done
  return 1
}

echo "windows: unit tests"
wine "$win/test_windows.exe" || fail "test_windows.exe"
# The key logic's tests take a whole drive as their device root.
mkdir "$box/drive-v"
ln -s "$box/drive-v" "$WINEPREFIX/dosdevices/v:"
VANTREL_TEST_DRIVE=V: wine "$win/test_keys_windows.exe" || fail "test_keys_windows.exe"
# Not the check of the shipped language files: it names them ("Français.lang")
# by narrow UTF-8 paths, which the Windows C library reads in the ANSI code
# page; the files themselves are the same on both systems.
VANTREL_TEST_DRIVE=V: wine "$win/test_ui_strings_windows.exe" \
  --gtest_filter=-UiStringsTest.ShippedLanguageFilesAreComplete || fail "test_ui_strings_windows.exe"

echo "windows: installing $setup"
wine "$setup" /S || fail "the installer ended with an error"
installed="$WINEPREFIX/drive_c/Program Files/Vantrel"
for f in vantrel.exe vantrel-reg.exe uninstall.exe English.lang "Intl English.kcod" vtr.bmp Vantrel.htm; do
  [ -f "$installed/$f" ] || fail "the installer did not install $f"
done
[ ! -e "$installed/testmode.txt" ] || fail "the installer installed testmode.txt"
[ -f "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vantrel.lnk" ] ||
  fail "no Start-menu entry"
program='C:\Program Files\Vantrel\vantrel.exe'
reg() { wine 'C:\Program Files\Vantrel\vantrel-reg.exe' "$@"; }

key='HKLM\Software\Vantrel'
reg set "$key" COMPORT --sz COM3: && reg set "$key" Initialised --dword 1 &&
  reg set "$key" keycode --sz "Intl English.kcod" && reg set "$key" language --sz English.lang &&
  reg set "$key" "Serial No" --dword 0x00A5F301 || fail "vantrel-reg could not preset the settings"
[ "$(reg get "$key" keycode | tr -d "\r" | cut -f3)" = "Intl English.kcod" ] || fail "vantrel-reg get"

# The keyboard's keys ({S} Shift, {C} Caps Lock, {G} AltGr, {B} Backspace,
# {E} Enter) and the text they make under Intl English.
keys="{S}hello, {S}world{S}1 {S}caf'e, na{G}iiiive {G}[{G}{C}'c{C}a va{S}/{G}]{G} 100{G}4{G} \
{S}7 for{S}6et {S}\`n {G}uuuu{G} {G}s{G} {G}ss{G} {G}eeeee{G} {G}e{G}{E}{S}2{S}3{S}4{S}5 x{B}-=[]\\;,./"
printf '%s' 'Hello, World! Café, naïve «Ça va?» 100€ & forêt ñ ü ß § € é
@#$% -=[]\;,./' >"$box/expected.txt"
scancodes=$(python3 - "$keys" <<'PY'
import sys
keys, out, i = sys.argv[1], [], 0
while i < len(keys):
    c = keys[i]
    if c == '{':
        out.append({'S': 2, 'C': 3, 'G': 114, 'B': 8}.get(keys[i + 1], 13)); i += 3; continue
    out.append(ord(c.upper()) if c.isalpha() else ord(c)); i += 1
print(','.join(map(str, out)))
PY
)

mkdir -m 700 "$box/dev"
"$kbd" --port COM3 --devices "$box/dev" --log "$box/kbd.log" --keys "$scancodes" \
  --key-interval 40 --type-delay 500 >"$box/kbd.out" 2>&1 &
kbd_pid=$!
wait_for 20 test -L "$box/dev/COM3" || fail "vantrel-kbd offered no port"
ln -sfn "$(readlink "$box/dev/COM3")" "$WINEPREFIX/dosdevices/com3"

export VANTREL_TRACE
VANTREL_TRACE=$(winpath "$box/trace.log")
(cd "$box" && exec wine "$program") >"$box/vantrel.out" 2>&1 &
wait_for 60 grep -q 'instance: mutex .*: ours' "$box/trace.log" ||
  fail "vantrel.exe did not start"
wait_for 30 grep -q 'bluetooth:' "$box/trace.log" || true
# The window of another program takes the foreground; a second launch asks
# the running program to connect.
(cd "$box" && exec wine "$win/typing_window.exe" "$(winpath "$box/typed.txt")" 300) \
  >"$box/window.out" 2>&1 &
wait_for 30 grep -q ready "$box/window.out" || fail "the typing window did not start"
wine "$program" --connect >>"$box/vantrel.out" 2>&1 || true
wait_for 120 cmp -s "$box/typed.txt" "$box/expected.txt" || {
  echo "expected: $(cat "$box/expected.txt")"
  echo "typed:    $(cat "$box/typed.txt" 2>/dev/null)"
  fail "the text did not arrive exactly"
}
echo "windows: the text arrived exactly"

# Idle while connected: the CPU the program's process takes (in % of one
# core), counted from its user and system ticks over 10 s.
pid=$(program_pid || true)
if [ -n "$pid" ]; then
  ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
  hz=$(getconf CLK_TCK)
  before=$(ticks "$pid"); sleep 10; after=$(ticks "$pid")
  idle=$(awk -v d=$((after - before)) -v hz="$hz" 'BEGIN {printf "%.1f", 100 * d / hz / 10}')
  echo "windows: idle CPU while connected: $idle% of one core (10 s)"
  awk -v v="$idle" 'BEGIN {exit !(v < 20)}' || fail "the connected program spins: $idle% CPU"
fi

wine "$program" --quit >>"$box/vantrel.out" 2>&1 || fail "--quit found no running Vantrel"
program_gone() { ! program_pid >/dev/null; }
wait_for 30 program_gone || fail "--quit did not end it"
grep -q '"event": *"close"' "$box/kbd.log" || fail "the port was not closed"
grep -q 'power: the system is kept awake' "$box/trace.log" || fail "no power request while connected"
tail -n 30 "$box/trace.log" | grep -q 'power: the system may sleep' ||
  fail "the power request was not released at the end"
echo "windows: --quit ended it, the port closed, the power request released"

# An export with no key is the program's settings alone: not the rest of
# HKEY_LOCAL_MACHINE, nor the Bluetooth view and the power time-outs' copy
# that the program keeps beside its settings.
reg export >"$box/export.txt" 2>&1 || fail "vantrel-reg export: $(cat "$box/export.txt")"
tr -d '\r' <"$box/export.txt" | grep '^\[' >"$box/export-keys.txt" || true
[ "$(head -n1 "$box/export-keys.txt")" = "[$key]" ] &&
  ! grep -qvF "[$key" "$box/export-keys.txt" &&
  ! grep -qiF -e "[$key\Bluetooth" -e "[$key\Power" "$box/export-keys.txt" &&
  grep -q '^keycode' "$box/export.txt" || {
  head -n 20 "$box/export-keys.txt"
  fail "vantrel-reg export is not the settings alone"
}
echo "windows: vantrel-reg export gives the settings alone"

# A setting written before the program is killed is there after it.
(cd "$box" && exec wine "$program") >>"$box/vantrel.out" 2>&1 &
wait_for 60 program_pid >/dev/null || fail "no second start"
reg set "$key" KeptAcrossKill --dword 7 || fail "vantrel-reg set while running"
kill -KILL "$(program_pid)" || fail "the program to kill was not found"
wineserver -k
[ "$(reg get "$key" KeptAcrossKill | tr -d "\r" | cut -f3)" = 7 ] || fail "a setting was lost with a kill"
[ "$(reg get "$key" keycode | tr -d "\r" | cut -f3)" = "Intl English.kcod" ] || fail "a setting was lost with a kill"
echo "windows: settings kept across a kill"

# The typing benchmark (it never fails the test): the time from the emulated
# keyboard's write of a key to its WM_CHAR in the window, for the installed
# program and, as the baseline in the same run, for com_forwarder.exe (the
# port's letters typed with one SendInput each), over the same letters at the
# same pace. The keyboard stamps its writes on the monotonic clock, the
# window its WM_CHARs on the system time: the offset between the two is read
# here, at once.
echo "windows: benchmark"
# A fresh server, started by the program below (whose output is its log).
wineserver -k 2>/dev/null || true
bench_count=60
bench_keys=$(python3 -c "print(','.join(str(65 + i % 26) for i in range(int('$bench_count'))))")
# bench_port NAME: a fresh emulated keyboard on COM3 that types the letters.
bench_port() {
  [ -n "$kbd_pid" ] && kill "$kbd_pid" 2>/dev/null && wait "$kbd_pid" 2>/dev/null || true
  rm -f "$box/dev/COM3"
  "$kbd" --port COM3 --devices "$box/dev" --log "$box/$1.kbd" --keys "$bench_keys" \
    --session "type:$bench_count" --key-interval 50 --type-delay 800 >/dev/null 2>&1 &
  kbd_pid=$!
  wait_for 20 test -L "$box/dev/COM3" || return 1
  ln -sfn "$(readlink "$box/dev/COM3")" "$WINEPREFIX/dosdevices/com3"
}
# bench_window NAME: the window that stamps what it is typed, in the foreground.
bench_window() {
  (cd "$box" && exec wine "$win/typing_window.exe" "$(winpath "$box/$1.txt")" 120 \
    "$(winpath "$box/$1.times")") >"$box/$1.window" 2>&1 &
  wait_for 30 grep -q ready "$box/$1.window"
}
typed_all() { [ "$(wc -l <"$box/$1.times" 2>/dev/null || echo 0)" -ge "$bench_count" ]; }
clock_offset() {
  python3 -c 'import time; print(time.clock_gettime(time.CLOCK_REALTIME) * 1e3 - time.clock_gettime(time.CLOCK_MONOTONIC) * 1e3)'
}
bench_program() {
  bench_port program || return 1
  VANTREL_TRACE=$(winpath "$box/bench-trace.log")
  (cd "$box" && exec wine "$program") >>"$box/vantrel.out" 2>&1 &
  wait_for 60 program_pid >/dev/null || return 1
  wait_for 60 grep -qs 'instance: mutex .*: ours' "$box/bench-trace.log" || return 1
  bench_window program || return 1
  wine "$program" --connect >>"$box/vantrel.out" 2>&1 || true
  wait_for 90 typed_all program
  local ok=$?
  wine "$program" --quit >>"$box/vantrel.out" 2>&1 || true
  wait_for 30 program_gone || true
  return $ok
}
bench_forwarder() {
  bench_port forwarder || return 1
  bench_window forwarder || return 1
  (cd "$box" && exec wine "$win/com_forwarder.exe" COM3 60) >"$box/forwarder.out" 2>&1 &
  local pid=$!
  wait_for 90 typed_all forwarder
  local ok=$?
  kill "$pid" 2>/dev/null || true
  return $ok
}
offset=$(clock_offset)
if bench_program && bench_forwarder; then
  python3 - "$box" "$offset" "$bench_count" <<'PY' || echo "windows: benchmark: no figures"
import json, statistics, sys
box, offset, count = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
def latencies(name):
    writes = []
    for line in open(f"{box}/{name}.kbd"):
        try:
            e = json.loads(line)
        except ValueError:
            continue
        if e.get("event") == "sent" and e.get("what") == "key" and "mono_ms" in e:
            writes.append(e["mono_ms"] + offset)
    arrivals = [int(l.split()[0]) / 1e4 - 11644473600000.0 for l in open(f"{box}/{name}.times") if l.strip()]
    n = min(len(writes), len(arrivals), count)
    return [arrivals[i] - writes[i] for i in range(n)]
program, forwarder = latencies("program"), latencies("forwarder")
mp, mf = statistics.median(program), statistics.median(forwarder)
ratio = f"{mp / mf:.2f}" if mf > 0 else "-"
print(f"windows: per key, write to WM_CHAR (medians of {len(program)} and {len(forwarder)}): "
      f"vantrel.exe {mp:.2f} ms, forwarder {mf:.2f} ms; ratio {ratio}")
PY
else
  echo "windows: benchmark: a run did not complete, no figures"
fi
echo "windows: passed"
