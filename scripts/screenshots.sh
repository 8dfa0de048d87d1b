#!/usr/bin/env bash
# Pictures of Vantrel's main window and its dialogs, for a person to look at:
#
#   scripts/screenshots.sh [-b BUILD_TREE] [OUTDIR]     (default: build, docs/screenshots)
#
# Builds nothing: it runs the programs of an existing build tree. For each of
# four variants (light, dark, scale2, de) it starts an Xvfb of its own
# (1280x800), a light window manager when one is installed, an emulated
# keyboard (vantrel-kbd) and the real vantrel in a sandbox of its own (data
# files, settings database, devices and runtime folders under a temporary
# folder; the typed keys go to a log, never to a desktop), connects it and
# opens each dialog through the Options menu with xdotool, and saves
# VARIANT-WINDOW.png in OUTDIR, WINDOW being the window's title (and
# options-menu, main-window, main-window-connected). Needs Xvfb, xdotool and
# ImageMagick's import.
# Not a test: CI does not run it; a window that does not show is left out.
set -u

here=$(cd "$(dirname "$0")/.." && pwd)
tree=$here/build
while getopts "b:h" opt; do
  case $opt in
  b) tree=$OPTARG ;;
  *) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
out=${1:-$here/docs/screenshots}
tree=$(cd "$tree" 2>/dev/null && pwd) || { echo "screenshots: no build tree ${tree}" >&2; exit 1; }
vantrel=$tree/app/vantrel
reg=$tree/tools/vantrel-reg/vantrel-reg
kbd=$tree/tools/vantrel-kbd/vantrel-kbd
for exe in "$vantrel" "$reg" "$kbd"; do
  [ -x "$exe" ] || { echo "screenshots: $exe is not built (scripts/build.sh first)" >&2; exit 1; }
done
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is not installed" >&2; exit 1; }
done
mkdir -p "$out"
out=$(cd "$out" && pwd)

work=$(mktemp -d /tmp/vantrel-shots.XXXXXX)
pids=()
stop_all() {
  local p
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    p=${pids[i]}
    kill "$p" 2>/dev/null && wait "$p" 2>/dev/null
  done
  pids=()
}
trap 'stop_all; [ -n "${VANTREL_SHOTS_KEEP:-}" ] || rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# The dark colour scheme as a desktop's settings file gives it to the toolkit.
dark_theme='[Colors:Window]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
[Colors:View]
BackgroundNormal=35,38,41
ForegroundNormal=239,240,241
[Colors:Button]
BackgroundNormal=60,66,72
ForegroundNormal=239,240,241
[Colors:Selection]
BackgroundNormal=61,174,233
ForegroundNormal=255,255,255'

# The Options menu's items counted upwards from its last one (Quit), so that
# the count does not depend on the items above. Which are greyed depends on
# the link: before connecting About, Help, Language and Keyboard Layout;
# after it Hot Tips, Typing Settings, Calibration and Battery Status. Each
# window is named by its title (in the variant's language).
counts_disconnected="2 3 4 5"
counts_connected="5 6 7 8"

# Waits up to $2 seconds for the command $1 to succeed.
wait_for() {
  local end=$((SECONDS + $2))
  until eval "$1" >/dev/null 2>&1; do
    ((SECONDS < end)) || return 1
    sleep 0.2
  done
}

# The program's visible top-level windows, one id a line.
windows() { xdotool search --onlyvisible --class org.vantrel.Vantrel 2>/dev/null | sort; }

# The windows in the list $1 that were not in the list $2.
new_windows() { comm -13 <(echo "$2") <(echo "$1") | grep .; }

shoot() { # WINDOW_ID FILE
  [ -n "$1" ] && timeout 20 import -window "$1" "$2" 2>/dev/null && echo "  $(basename "$2")"
}

# Opens the Options item at each count of the list $1.. in the window
# $main and saves what shows as $name-TITLE.png, once per title.
open_dialogs() {
  local count before dialog title file
  for count in "$@"; do
    before=$(windows)
    # The menu bar's first menu (Options) lies at the window's top left.
    xdotool mousemove --window "$main" $((20 * scale)) $((10 * scale)) click 1
    sleep 0.5
    xdotool key --repeat "$count" --delay 80 Up
    xdotool key Return
    if wait_for "new_windows \"\$(windows)\" \"$before\"" 5; then
      sleep 1
      dialog=$(new_windows "$(windows)" "$before" | tail -1)
      title=$(xdotool getwindowname "$dialog" 2>/dev/null)
      title=$(echo "$title" | tr '[:upper:]' '[:lower:]' | sed 's/[^[:alnum:]]\{1,\}/-/g; s/^-//; s/-$//')
      file=$out/$name-${title:-window-$count}.png
      [ -e "$file" ] || shoot "$dialog" "$file"
      xdotool key Escape
      wait_for "! new_windows \"\$(windows)\" \"$before\"" 5 ||
        { xdotool windowclose "$dialog" 2>/dev/null; sleep 1; }
    else
      xdotool key Escape Escape
    fi
    sleep 0.3
  done
}

run_variant() { # NAME SCALE [ENV...]
  local name=$1 scale=$2
  shift 2
  local box=$work/$name display
  mkdir -p "$box/usr/share/vantrel" "$box/dev" "$box/config" "$box/run"
  chmod 700 "$box/dev" "$box/run"
  cp -r "$here"/data/. "$box/usr/share/vantrel/"
  [ "$name" = dark ] && printf '%s\n' "$dark_theme" >"$box/config/kdeglobals"
  local language=English.lang
  [ "$name" = de ] && language=Deutsch.lang
  local key='HKLM\Software\Vantrel' db=$box/registry.db
  "$reg" --db "$db" set "$key" Initialised --dword 1 >/dev/null &&
    "$reg" --db "$db" set "$key" keycode --sz "Intl English.kcod" >/dev/null &&
    "$reg" --db "$db" set "$key" language --sz "$language" >/dev/null &&
    "$reg" --db "$db" set "$key" COMPORT --sz COM4: >/dev/null &&
    "$reg" --db "$db" set "$key" "Serial No" --dword 10875649 >/dev/null ||
    { echo "screenshots: $name: the settings could not be preset" >&2; return 1; }

  # An X server of its own; -displayfd tells which display it took.
  exec 3< <(Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null & echo "pid $!"; wait)
  local line xpid=
  read -r line <&3 && xpid=${line#pid }
  read -r -t 10 display <&3 || { echo "screenshots: $name: Xvfb did not start" >&2; return 1; }
  pids+=("$xpid")
  export DISPLAY=:$display
  for wm in openbox xfwm4 icewm fluxbox twm; do
    if command -v "$wm" >/dev/null; then
      "$wm" >/dev/null 2>&1 &
      pids+=($!)
      sleep 1
      break
    fi
  done

  local env=(VANTREL_ROOT="$box" VANTREL_REGISTRY="$db" VANTREL_DEVICES="$box/dev"
    VANTREL_INJECT="log:$box/inject.log" VANTREL_TRACE="$box/trace.log"
    XDG_RUNTIME_DIR="$box/run" XDG_CONFIG_HOME="$box/config" LANG=C.UTF-8 "$@")
  env "${env[@]}" "$kbd" --port COM4 --devices "$box/dev" >"$box/kbd.log" 2>&1 &
  pids+=($!)
  wait_for "[ -e '$box/dev/COM4' ]" 10 || echo "screenshots: $name: the emulated keyboard did not start" >&2
  env "${env[@]}" "$vantrel" >"$box/vantrel.log" 2>&1 &
  local app=$!
  pids+=("$app")
  if ! wait_for "[ -n \"\$(windows)\" ]" 30; then
    echo "screenshots: $name: no main window (see $box/vantrel.log)" >&2
    cat "$box/vantrel.log" >&2
    return 1
  fi
  sleep 1
  local main
  main=$(windows | head -1)
  shoot "$main" "$out/$name-main-window.png"
  local before=$(windows) menu
  xdotool mousemove --window "$main" $((20 * scale)) $((10 * scale)) click 1
  if wait_for "new_windows \"\$(windows)\" \"$before\"" 5; then
    sleep 0.5
    menu=$(new_windows "$(windows)" "$before" | tail -1)
    shoot "$menu" "$out/$name-options-menu.png"
  fi
  xdotool key Escape
  sleep 0.5
  open_dialogs $counts_disconnected
  env "${env[@]}" "$vantrel" --connect >/dev/null 2>&1
  wait_for "grep -q 'TYPING' '$box/trace.log'" 20 ||
    echo "screenshots: $name: the emulated keyboard did not connect" >&2
  sleep 2
  # A keyboard the program has not seen is offered calibration: that
  # question is a window of its own too.
  local question
  question=$(new_windows "$(windows)" "$main" | tail -1)
  if [ -n "$question" ]; then
    shoot "$question" "$out/$name-new-keyboard-question.png"
    xdotool key Escape
    sleep 1
  fi
  shoot "$main" "$out/$name-main-window-connected.png"
  open_dialogs $counts_connected

  env "${env[@]}" "$vantrel" --quit >/dev/null 2>&1
  wait "$app" 2>/dev/null
  stop_all
  exec 3<&-
}

echo "Pictures in $out:"
run_variant light 1
# The dark theme reaches the toolkit through the desktop's settings file.
run_variant dark 1 XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 QT_QPA_PLATFORMTHEME=kde
run_variant scale2 2 QT_SCALE_FACTOR=2
run_variant de 1
