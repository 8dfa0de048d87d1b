#!/usr/bin/env bash
# Pictures of Vantrel's main window and its dialogs, for a person to look at:
#
#   scripts/screenshots.sh [-b BUILD_TREE] [-v "VARIANTS"] [OUTDIR]
#                          (default: build, "light dark scale2 de", docs/screenshots)
#
# Builds nothing: it runs the programs of an existing build tree. For each
# variant (light, dark, scale2, de) it starts an Xvfb of its own (1280x800)
# with the openbox window manager, an emulated keyboard (vantrel-kbd) and the
# real vantrel in a sandbox of its own (data files, settings database,
# devices and runtime folders under a temporary folder; the typed keys go to
# a log, never to a desktop). It opens each dialog through the Options menu
# with xdotool, before connecting those that need no keyboard and after
# connecting the others, and saves VARIANT-WINDOW.png in OUTDIR, WINDOW
# being the window's title (and options-menu, main-window,
# main-window-connected, key-test, calibration-question and
# new-keyboard-question). A key test list makes the first connection run
# the key test; a second emulated keyboard with a new serial number is then
# offered calibration. Windows are told apart by their type and title,
# never by which came last: the menus are not taken for dialogs. Needs
# Xvfb, openbox, xdotool, xprop, xwininfo and ImageMagick's import
# (scripts/deps.sh installs them).
# Not a test: CI does not run it; a window that does not show is reported
# and left out.
set -u
shopt -s extglob

here=$(cd "$(dirname "$0")/.." && pwd)
tree=$here/build
variants="light dark scale2 de"
while getopts "b:v:h" opt; do
  case $opt in
  b) tree=$OPTARG ;;
  v) variants=$OPTARG ;;
  *) sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
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
for tool in Xvfb openbox xdotool xprop xwininfo import; do
  command -v "$tool" >/dev/null ||
    { echo "screenshots: $tool is not installed (scripts/deps.sh installs it)" >&2; exit 1; }
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
ForegroundLink=41,128,185
ForegroundVisited=127,140,141
[Colors:Button]
BackgroundNormal=60,66,72
ForegroundNormal=239,240,241
[Colors:Selection]
BackgroundNormal=61,174,233
ForegroundNormal=255,255,255'

# The Options menu's items counted upwards from its last one (Quit), so that
# the count does not depend on the items above; the keyboard skips greyed
# items. Before connecting the enabled ones above Quit are About, Help,
# Language and Keyboard Layout; after it About, Help, Language, Hot Tips,
# Typing Settings, Calibration and Battery Status (Keyboard Layout and Reset
# Comport are greyed). Calibration asks first; it has a step of its own;
# About has About More behind its More button.
counts_disconnected="2 3 4 5"
count_about=2
counts_connected="5 6 8"
count_calibration=7

# Waits up to $2 seconds for the command $1 to succeed.
wait_for() {
  local end=$((SECONDS + $2))
  until eval "$1" >/dev/null 2>&1; do
    ((SECONDS < end)) || return 1
    sleep 0.2
  done
}

# The X window type of window $1 (NORMAL, DIALOG, ...: the first it names,
# its most specific), MENU for a window the window manager does not manage
# (menus and their sub-menus: the toolkit does not always type them).
window_type() {
  if xwininfo -id "$1" 2>/dev/null | grep -q 'Override Redirect State: yes'; then
    echo MENU
    return
  fi
  xprop -id "$1" _NET_WM_WINDOW_TYPE 2>/dev/null |
    sed -n 's/^[^=]*= _NET_WM_WINDOW_TYPE_\([A-Z_]*\).*/\1/p' | head -1
}

# The program's visible top-level windows of the types in $1 (a pattern),
# one id a line, in id order.
windows_of() {
  local id
  for id in $(xdotool search --onlyvisible --class org.vantrel.Vantrel 2>/dev/null | sort -n); do
    case "$(window_type "$id")" in
    $1) echo "$id" ;;
    esac
  done
}
# Windows a person works with (menus, tooltips and the like left out), and
# the menus.
windows() { windows_of '@(NORMAL|DIALOG|)'; }
menus() { windows_of MENU; }

# The windows in the list $1 that were not in the list $2.
new_windows() { comm -13 <(echo "$2" | sort) <(echo "$1" | sort) | grep .; }

# A window's title as a file name: ASCII letters (accents dropped) and
# digits in lower case, words joined by dashes.
slug() {
  xdotool getwindowname "$1" 2>/dev/null | iconv -f UTF-8 -t ASCII//TRANSLIT 2>/dev/null |
    tr '[:upper:]' '[:lower:]' | LC_ALL=C sed 's/[^a-z0-9]\{1,\}/-/g; s/^-//; s/-$//'
}

shoot() { # WINDOW_ID FILE
  [ -n "$1" ] && timeout 20 import -window "$1" "$2" 2>/dev/null && echo "  $(basename "$2")"
}

# Opens the Options menu of the window $main; true once it shows.
open_options() {
  xdotool key Escape
  xdotool mousemove --window "$main" $((20 * scale)) $((10 * scale)) click 1
  wait_for '[ -n "$(menus)" ]' 5
}

# Presses the key $2 in the window $1, brought to the front first.
press_in() {
  xdotool windowactivate --sync "$1" >/dev/null 2>&1
  xdotool key "$2"
}

# Presses the key $2 in the message box $1 after a click on its text (at a
# quarter of its height, half its width), which brings it to the front
# where activation alone may not: one box may sit over another modal window.
press_in_box() {
  local geometry width height
  geometry=$(xdotool getwindowgeometry "$1" 2>/dev/null | sed -n 's/.*Geometry: //p')
  width=${geometry%x*} height=${geometry#*x}
  [ -n "$width" ] && xdotool mousemove --window "$1" $((width / 2)) $((height / 4)) click 1
  sleep 0.3
  xdotool key "$2"
}

# Waits up to $2 seconds for the window $1 to go.
gone() { wait_for "! xdotool getwindowname $1" "$2"; }

# Closes the window $1 as a person does (Escape, its cancel), and the
# question its closing may ask (Return: its first answer); true once it is
# gone. $keep lists the windows that were there before it.
close_window() {
  local id=$1 question
  press_in "$id" Escape
  if ! gone "$id" 3; then
    question=$(new_windows "$(windows)" "$keep" | grep -v "^$id\$" | tail -1)
    [ -n "$question" ] && press_in_box "$question" Return
    gone "$id" 3 || xdotool windowclose "$id" 2>/dev/null
  fi
  sleep 0.3
}

# Opens About More from the About page $1 with its More button (left of
# Close at the bottom right) and saves it as $name-TITLE.png.
open_more() {
  local about=$1 before geometry width height more
  before=$(windows)
  geometry=$(xdotool getwindowgeometry "$about" 2>/dev/null | sed -n 's/.*Geometry: //p')
  width=${geometry%x*} height=${geometry#*x}
  [ -n "$width" ] || return
  xdotool mousemove --window "$about" $((width - 130 * scale)) $((height - 18 * scale)) click 1
  if wait_for "new_windows \"\$(windows)\" \"$before\"" 5; then
    sleep 1
    more=$(new_windows "$(windows)" "$before" | head -1)
    shoot "$more" "$out/$name-$(slug "$more").png"
    keep=$before close_window "$more"
  else
    echo "screenshots: $name: About More did not open" >&2
  fi
}

# Opens the Options item at each count of the list $1.. and saves the
# window it opens as $name-TITLE.png.
open_dialogs() {
  local count before dialog file
  for count in "$@"; do
    before=$(windows)
    if ! open_options; then
      echo "screenshots: $name: the Options menu did not open" >&2
      continue
    fi
    xdotool key --repeat "$count" --delay 80 Up
    xdotool key Return
    if wait_for "new_windows \"\$(windows)\" \"$before\"" 5; then
      sleep 1
      # The first new window is the dialog; a question it asks at once
      # comes after it.
      dialog=$(new_windows "$(windows)" "$before" | head -1)
      file=$out/$name-$(slug "$dialog").png
      [ -e "$file" ] || shoot "$dialog" "$file"
      [ "$count" = "$count_about" ] && open_more "$dialog"
      keep=$before close_window "$dialog"
    else
      echo "screenshots: $name: Options item $count opened no window" >&2
      xdotool key Escape Escape
    fi
  done
}

# Calibrates through the Options menu: the question (Calibrate), then the
# page at its first step, which the emulated keyboard reaches a few seconds
# later; closing the page ends the calibration.
calibrate() {
  local before question page
  before=$(windows)
  open_options || return
  xdotool key --repeat "$count_calibration" --delay 80 Up
  xdotool key Return
  if ! wait_for "new_windows \"\$(windows)\" \"$before\"" 5; then
    echo "screenshots: $name: Calibration asked nothing" >&2
    return
  fi
  sleep 1
  question=$(new_windows "$(windows)" "$before" | head -1)
  shoot "$question" "$out/$name-calibration-question.png"
  press_in_box "$question" Return
  if wait_for "new_windows \"\$(windows)\" \"$before\" | grep -v '^$question\$'" 5; then
    page=$(new_windows "$(windows)" "$before" | grep -v "^$question\$" | head -1)
    sleep 4.5
    shoot "$page" "$out/$name-$(slug "$page").png"
    keep=$before close_window "$page"
  fi
}

# A keyboard the program has not seen: the emulated keyboard goes (the
# program says so in a box, answered), another one with a new serial number
# comes and is connected, and the program offers to calibrate it (answered
# Not Now).
new_keyboard() {
  local before question
  kill "$kbd_pid" 2>/dev/null && wait "$kbd_pid" 2>/dev/null
  if wait_for "[ -n \"\$(new_windows \"\$(windows)\" $main)\" ]" 30; then
    sleep 1
    press_in_box "$(new_windows "$(windows)" "$main" | head -1)" Return
  fi
  wait_for "[ -z \"\$(new_windows \"\$(windows)\" $main)\" ]" 5
  env "${env[@]}" "$kbd" "${kbd_args[@]}" --serial 0x00B0C0DE >>"$box/kbd.log" 2>&1 &
  kbd_pid=$!
  pids+=("$kbd_pid")
  wait_for "[ -e '$box/dev/COM4' ]" 10
  env "${env[@]}" "$vantrel" --connect >/dev/null 2>&1
  if wait_for "[ -n \"\$(new_windows \"\$(windows)\" $main)\" ]" 30; then
    sleep 2
    question=$(new_windows "$(windows)" "$main" | head -1)
    shoot "$question" "$out/$name-new-keyboard-question.png"
    press_in_box "$question" Escape
    gone "$question" 5 || echo "screenshots: $name: the new keyboard question stayed" >&2
  else
    echo "screenshots: $name: no new keyboard question" >&2
  fi
}

run_variant() { # NAME SCALE [ENV...]
  local name=$1 scale=$2
  shift 2
  local box=$work/$name display
  mkdir -p "$box/usr/share/vantrel" "$box/dev" "$box/config" "$box/run"
  chmod 700 "$box/dev" "$box/run"
  cp -r "$here"/data/. "$box/usr/share/vantrel/"
  # A key test list: the first connection runs the key test.
  printf 'A,65,x\nB,66,x\nSpace,32,x\n' >"$box/usr/share/vantrel/testmode.txt"
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
  openbox >/dev/null 2>&1 &
  pids+=($!)
  sleep 1

  local env=(VANTREL_ROOT="$box" VANTREL_REGISTRY="$db" VANTREL_DEVICES="$box/dev"
    VANTREL_INJECT="log:$box/inject.log" VANTREL_TRACE="$box/trace.log"
    XDG_RUNTIME_DIR="$box/run" XDG_CONFIG_HOME="$box/config" LANG=C.UTF-8 "$@")
  # The emulated keyboard is the one the settings know (its serial number is
  # preset): the first connection runs the key test and asks nothing.
  local kbd_args=(--port COM4 --devices "$box/dev" --calibration-step 3000)
  env "${env[@]}" "$kbd" "${kbd_args[@]}" >"$box/kbd.log" 2>&1 &
  local kbd_pid=$!
  pids+=("$kbd_pid")
  wait_for "[ -e '$box/dev/COM4' ]" 10 || echo "screenshots: $name: the emulated keyboard did not start" >&2
  env "${env[@]}" "$vantrel" >"$box/vantrel.log" 2>&1 &
  local app=$!
  pids+=("$app")
  if ! wait_for '[ -n "$(windows)" ]' 30; then
    echo "screenshots: $name: no main window (see $box/vantrel.log)" >&2
    cat "$box/vantrel.log" >&2
    return 1
  fi
  sleep 1
  local main keep
  main=$(windows | head -1)
  keep=$main
  shoot "$main" "$out/$name-main-window.png"
  if open_options; then
    sleep 0.5
    shoot "$(menus | head -1)" "$out/$name-options-menu.png"
  fi
  xdotool key Escape
  sleep 0.5
  open_dialogs $counts_disconnected

  env "${env[@]}" "$vantrel" --connect >/dev/null 2>&1
  # The status poll begins once the keyboard is connected.
  wait_for "grep -q 'Request System data' '$box/trace.log'" 20 ||
    echo "screenshots: $name: the emulated keyboard did not connect" >&2
  # The key test list runs the key test: it is left with Escape and its
  # question's first answer (quit).
  local test= id
  wait_for "[ -n \"\$(new_windows \"\$(windows)\" $main)\" ]" 15 &&
    test=$(new_windows "$(windows)" "$main" | head -1)
  if [ -n "$test" ]; then
    sleep 2
    shoot "$test" "$out/$name-key-test.png"
    keep=$main close_window "$test"
  else
    echo "screenshots: $name: no key test" >&2
  fi
  wait_for "[ -z \"\$(new_windows \"\$(windows)\" $main)\" ]" 5 ||
    echo "screenshots: $name: a window is still open after connecting" >&2
  sleep 1
  shoot "$main" "$out/$name-main-window-connected.png"
  open_dialogs $counts_connected
  calibrate
  new_keyboard

  env "${env[@]}" "$vantrel" --quit >/dev/null 2>&1
  wait "$app" 2>/dev/null
  stop_all
  exec 3<&-
}

echo "Pictures in $out:"
for variant in $variants; do
  case $variant in
  light) run_variant light 1 ;;
  # The dark theme reaches the toolkit through the desktop's settings file.
  dark) run_variant dark 1 XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 QT_QPA_PLATFORMTHEME=kde ;;
  scale2) run_variant scale2 2 QT_SCALE_FACTOR=2 ;;
  de) run_variant de 1 ;;
  *) echo "screenshots: no variant $variant" >&2 ;;
  esac
done
