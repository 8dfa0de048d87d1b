#!/usr/bin/env bash
# Builds the Debian packages from the build tree (scripts/package.sh) and
# checks them: lintian (no error, no warning), the desktop entry and the
# AppStream metainfo (desktop-file-validate, appstreamcli), the manuals
# (groff -ww, not a single warning), then unpacks the main package into a
# throw-away root and runs the installed vantrel headless against
# vantrel-kbd from the build tree. It must find its data in /usr/share/vantrel
# below that root (its trace says so), connect, and type what the keyboard
# sends. Any failure fails the check.
#
#   tests/package/check_package.sh [BUILD_DIR]     (default build)
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build}
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
step() { echo "== [${SECONDS}s] $*"; }

step "package"
scripts/package.sh "$dir"
shopt -s nullglob
debs=("$dir"/packages/*.deb "$dir"/packages/*.ddeb)
main=("$dir"/packages/vantrel_*.deb)
[ ${#main[@]} -eq 1 ] || { echo "FAILED: no vantrel package in $dir/packages"; exit 1; }

step "lintian"
if ! lintian --fail-on error,warning "${debs[@]}"; then fail "lintian"; fi

step "desktop entry and metainfo"
desktop-file-validate packaging/desktop/org.vantrel.Vantrel.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net packaging/desktop/org.vantrel.Vantrel.metainfo.xml ||
  fail "appstreamcli validate"

step "manuals"
for page in packaging/man/*.1; do
  warnings=$(LC_ALL=C.UTF-8 groff -ww -man -z "$page" 2>&1) || fail "groff $page"
  if [ -n "$warnings" ]; then
    echo "$warnings"
    fail "groff warnings in $page"
  fi
done

step "installed vantrel against vantrel-kbd"
work=$(mktemp -d)
kbd_pid=
app_pid=
cleanup() {
  for p in $app_pid $kbd_pid; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
root=$work/root
dpkg -x "${main[0]}" "$root"
mkdir -m 0700 "$work/devices" "$work/run"
# The programs as installed, in a sandbox of their own: device root, settings,
# devices and runtime folders, no desktop bus, keys into a log.
export VANTREL_ROOT=$root VANTREL_REGISTRY=$work/registry.db VANTREL_DEVICES=$work/devices \
  VANTREL_TRACE=$work/trace.log VANTREL_INJECT=log:$work/typed.log VANTREL_BLUETOOTH=stored \
  XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config HOME=$work QT_QPA_PLATFORM=offscreen \
  DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/no-bus DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus
reg() { "$root/usr/bin/vantrel-reg" set 'HKLM\Software\Vantrel' "$@" >/dev/null; }
reg COMPORT --sz COM3:
reg Initialised --dword 1
reg keycode --sz "Intl English.kcod"
reg language --sz English.lang
reg 'Serial No' --dword 0x00A5F301

"$dir/tools/vantrel-kbd/vantrel-kbd" --port COM3 --devices "$work/devices" --log "$work/kbd.log" \
  --type "Packaged" --key-interval 20 --exit-after-typing &
kbd_pid=$!
for _ in $(seq 100); do [ -e "$work/devices/COM3" ] && break; sleep 0.1; done
"$root/usr/bin/vantrel" --connect 2>"$work/vantrel.err" &
app_pid=$!
# The emulator ends once it has typed; two minutes at most.
for _ in $(seq 1200); do kill -0 "$kbd_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$kbd_pid" 2>/dev/null; then
  fail "vantrel-kbd had not typed after two minutes"
  kill "$kbd_pid"
  wait "$kbd_pid" || true
else
  wait "$kbd_pid" || fail "vantrel-kbd ended with an error"
fi
kbd_pid=
# The last keys are in the log once vantrel has read them: wait for the text
# (at most 20 s), then quit.
typed() { scripts/typed-text.py "$work/typed.log"; }
for _ in $(seq 200); do [ "$(typed)" = "Packaged" ] && break; sleep 0.1; done
"$root/usr/bin/vantrel" --quit || fail "vantrel --quit"
# Vantrel gives its threads at most 5 + 4 + 4 seconds on the way out.
for _ in $(seq 300); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app_pid" 2>/dev/null; then
  fail "vantrel had not ended 30 s after --quit"
  kill -9 "$app_pid"
  wait "$app_pid" || true
else
  wait "$app_pid" || fail "vantrel ended with an error"
fi
app_pid=

grep -qF 'InstallDir: usr\share\vantrel\ (the system data folder)' "$work/trace.log" ||
  fail "the installed vantrel did not take /usr/share/vantrel as its data folder"
grep -q '^Connect button: Disconnect' "$work/trace.log" || fail "the installed vantrel did not connect"
[ "$(typed)" = "Packaged" ] || fail "typed '$(typed)', not 'Packaged'"
"$root/usr/bin/vantrel" --version | grep -qx 'vantrel [0-9.]*' || fail "vantrel --version"
"$root/usr/bin/vantrel-reg" --version | grep -qx 'vantrel-reg [0-9.]*' || fail "vantrel-reg --version"

if [ "$failures" -gt 0 ]; then
  echo "--- trace"; cat "$work/trace.log" 2>/dev/null || true
  echo "--- stderr"; cat "$work/vantrel.err" 2>/dev/null || true
  exit 1
fi
echo "package checks passed (${SECONDS}s)"
