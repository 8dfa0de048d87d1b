#!/usr/bin/env bash
# Installs what Vantrel needs, builds it, installs it into a sandbox of its
# own and starts it against vantrel-kbd, the keyboard emulator, so the whole
# program can be seen working without the keyboard. The sandbox has its own
# settings database, device root and devices folder: the user's real
# settings are never touched.
#
# With a display: click Connect in the Vantrel window, watch the button show
# the link's progress, then click into a text window: the emulated keyboard
# types a sentence there. Quit (in the Options menu) ends Vantrel and the emulator.
# Without a display (no DISPLAY, no WAYLAND_DISPLAY): runs headless, connects
# by itself, prints the status changes and the typed keys, then quits.
#
#   VANTREL_SANDBOX=DIR   where the sandbox lives (default build/sandbox)
#   VANTREL_SENTENCE=...  what the emulated keyboard types
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo

sandbox=${VANTREL_SANDBOX:-$PWD/build/sandbox}
sentence=${VANTREL_SENTENCE:-Hello from the Vantrel keyboard.}
port=COM3

# A fresh sandbox: the program installed as it would be in /opt/Vantrel.
rm -rf "$sandbox"
mkdir -p "$sandbox/root/opt" "$sandbox/devices"
cmake --install build --prefix "$sandbox/root/opt/Vantrel" >/dev/null
bin=$sandbox/root/opt/Vantrel

export VANTREL_ROOT=$sandbox/root
export VANTREL_REGISTRY=$sandbox/registry.db
export VANTREL_DEVICES=$sandbox/devices
export VANTREL_TRACE=$sandbox/trace.log

# Settings as after a first run with the emulated keyboard: its port, the
# layout and language chosen, and its serial number already known (so no
# calibration question waits for an answer).
reg() { "$bin/vantrel-reg" set 'HKLM\Software\Vantrel' "$@" >/dev/null; }
reg COMPORT --sz "$port:"
reg Initialised --dword 1
reg keycode --sz "Intl English.kcod"
reg language --sz English.lang
reg 'Serial No' --dword 0x00A5F301

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$bin/vantrel-kbd" --port "$port" --devices "$VANTREL_DEVICES" --log "$sandbox/kbd.log" \
    --type "$sentence" --type-delay 4000 &
  pids+=($!)
  echo "Vantrel is starting with an emulated keyboard on $port (sandbox: $sandbox)."
  echo "Click Connect. Once the button shows Disconnect, click into a text window:"
  echo "four seconds later the keyboard types: $sentence"
  echo "Quit (in the Options menu) ends Vantrel. Trace: $VANTREL_TRACE"
  "$bin/vantrel"
  exit 0
fi

echo "No display: running Vantrel headless against the emulated keyboard on $port."
export QT_QPA_PLATFORM=offscreen
export VANTREL_INJECT=log:$sandbox/typed.log
"$bin/vantrel-kbd" --port "$port" --devices "$VANTREL_DEVICES" --log "$sandbox/kbd.log" \
  --type "$sentence" --key-interval 60 --exit-after-typing &
kbd=$!
pids+=($kbd)
for _ in $(seq 50); do [ -e "$VANTREL_DEVICES/$port" ] && break; sleep 0.1; done
"$bin/vantrel" --connect 2>"$sandbox/vantrel.err" &
app=$!
pids+=($app)

# The emulator ends after the sentence; give it a minute at most.
for _ in $(seq 600); do kill -0 "$kbd" 2>/dev/null || break; sleep 0.1; done
sleep 0.5
"$bin/vantrel" --quit || true
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done

echo "Connect button, as the link went:"
grep '^Connect button:' "$VANTREL_TRACE" | uniq | sed 's/^/  /' || true
echo "Typed into the focused window:"
scripts/typed-text.py "$sandbox/typed.log" | sed 's/^/  /'
calls=0
[ -f "$sandbox/typed.log" ] && calls=$(wc -l <"$sandbox/typed.log")
echo "  ($calls key calls in $sandbox/typed.log)"
if grep -q '^Connect button: Disconnect' "$VANTREL_TRACE"; then
  echo "Done: Vantrel connected, typed and quit."
else
  echo "Vantrel did not connect; see $VANTREL_TRACE" >&2
  exit 1
fi
