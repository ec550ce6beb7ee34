#!/usr/bin/env bash
# Puts the program's icon on a real XEmbed tray host (trayer) under Xvfb,
# takes screenshots of the tray and of the balloon, and clicks the icon.
#
#   tray_e2e.sh BUILD_DIR
#       runs tray_demo from BUILD_DIR and checks the events it reports
#   tray_e2e.sh BUILD_DIR PROGRAM [ARGS...]
#       runs PROGRAM instead (e.g. the real camwarden) with a throw-away
#       HOME and XDG_CONFIG_HOME, and screenshots it before and after a
#       left click on its icon; preset settings can be put under
#       $E2E_CONFIG (copied into the throw-away config home first)
#
# Screenshots land in BUILD_DIR/e2e-tray/. Needs Xvfb, trayer, xdotool and
# ImageMagick's import (scripts/setup installs them).
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [PROGRAM [ARGS...]]}" && pwd)
shift
out="$build/e2e-tray"
mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.log

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
# A command that stops the script on its own still says where.
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  until "$@"; do
    ((SECONDS < end)) || return 1
    sleep 0.2
  done
}

# A display of our own, whatever is free.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$out/xvfb.log" 2>&1 &
pids+=($!)
wait_for 100 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
exec 3>&-

# A display just made may still turn a first client away ("cannot open
# display"), more often on a busy machine: the tray host is started again
# when it ends before its panel shows.
panel_up() { xdotool search --name '^panel$' > /dev/null; }
panel_or_gone() { panel_up || ! kill -0 "$tray_pid" 2> /dev/null; }
for attempt in 1 2 3; do
  trayer --edge top --align right --widthtype pixel --width 160 --heighttype pixel --height 28 \
    --SetDockType true --transparent false --tint 0xc0c0c0 > "$out/trayer.log" 2>&1 &
  tray_pid=$!
  pids+=("$tray_pid")
  wait_for 100 panel_or_gone || break
  panel_up && break
  echo "trayer ended at start (try $attempt): $(cat "$out/trayer.log")" >&2
done
panel_up || fail "trayer did not start"

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
if [[ -n "${E2E_CONFIG:-}" ]]; then cp -r "$E2E_CONFIG"/. "$XDG_CONFIG_HOME"/; fi

if (($#)); then
  program=$1; shift
  args=("$@")
  demo=false
else
  program=$(find "$build" -name tray_demo -type f -perm -u+x | head -n1)
  [[ -n "$program" ]] || fail "tray_demo not built in $build"
  args=(--balloon-after 2000 --quit-after 12000)
  demo=true
fi
log="$out/program.log"
QT_QPA_PLATFORM=xcb "$program" "${args[@]}" > "$log" 2>&1 &
program_pid=$!
pids+=("$program_pid")

# The icon is the program's small window embedded at the top of the screen.
icon_center() {
  local w WIDTH HEIGHT X Y
  for w in $(xdotool search --classname "$(basename "$program")" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)" || continue
    if ((WIDTH > 4 && WIDTH <= 64 && HEIGHT > 4 && HEIGHT <= 64 && Y < 40)); then
      echo "$((X + WIDTH / 2)) $((Y + HEIGHT / 2))"
      return 0
    fi
  done
  return 1
}
# The icon may be moved while the host embeds it, so keep the position found.
icon_at=""
find_icon() { icon_at=$(icon_center); }
wait_for 150 find_icon || fail "no icon appeared in the tray"
read -r ix iy <<< "$icon_at"
echo "icon at $ix,$iy"
sleep 0.5
import -window root -crop 240x40+560+0 +repage "$out/tray.png"

logged() { grep -qx "$1" "$log"; }

if $demo; then
  wait_for 100 logged "balloon up" || fail "no balloon"
  sleep 0.7
  import -window root "$out/balloon.png"
  # The balloon stays until its 5 seconds are up; whether the shell's
  # timeout or the program's own wait ends it first does not matter.
  wait_for 100 grep -q "^balloon wait over" "$log" || fail "balloon wait did not end"

  xdotool mousemove "$ix" "$iy" click 1
  wait_for 50 logged "MouseUp 1 0" || fail "left click not reported"
  xdotool click 3
  wait_for 50 logged "MouseUp 2 0" || fail "right click not reported"
  xdotool click 2
  xdotool click --repeat 2 --delay 60 1
  wait_for 50 logged "MouseDblClick 1 0" || fail "double click not reported"

  wait_for 200 logged "icon removed" || fail "icon not removed"
  # The clicks came long before: every event they make has been reported.
  events=$(grep -E '^Mouse' "$log" | tr '\n' ',')
  expected="MouseDown 1 0,MouseUp 1 0,MouseDown 2 0,MouseUp 2 0,MouseDown 1 0,MouseUp 1 0,MouseDblClick 1 0,MouseUp 1 0,"
  [[ "$events" == "$expected" ]] || fail "events were: $events"
  wait "$program_pid" || fail "tray_demo failed"
  icon_gone() { ! icon_center > /dev/null; }
  wait_for 50 icon_gone || fail "icon still in the tray after removal"
  import -window root -crop 240x40+560+0 +repage "$out/tray-after.png"
else
  # The main window is the program's top-level of its own size; the icon's
  # window is small and sits inside the tray.
  main_window_viewable() {
    local id
    for id in $(xdotool search --classname "$(basename "$program")" 2> /dev/null); do
      xwininfo -id "$id" 2> /dev/null | grep -q 'Width: 536' || continue
      xwininfo -id "$id" | grep -q 'Map State: IsViewable' && return 0
    done
    return 1
  }
  # Past its start: the window it shows is up by now.
  wait_for 300 grep -q 'camwarden.app: ready' "$log" || fail "the program never got ready"
  sleep 0.5
  import -window root "$out/started.png"
  if [[ ${E2E_EXPECT_HIDDEN:-0} == 1 ]]; then
    ! main_window_viewable || fail "the window did not start hidden in the tray"
  fi
  # Clicked while the notice is still up: the window must come back all the same.
  xdotool mousemove "$ix" "$iy" click 1
  wait_for 50 main_window_viewable || fail "a click on the icon did not bring the window back"
  sleep 0.5
  import -window root "$out/after-click.png"
  kill -0 "$program_pid" 2> /dev/null || fail "$program exited"

  # Hidden again through the icon's menu, then the tray dies: the window shows.
  main_window_hidden() { ! main_window_viewable; }
  xdotool mousemove "$ix" "$iy" click 3
  sleep 0.5
  xdotool key Down Return
  wait_for 50 main_window_hidden || fail "Hide to tray in the icon's menu did not hide the window"
  kill "$tray_pid"
  wait_for 50 main_window_viewable || fail "the window stayed hidden when the tray went"
fi
echo "screenshots in $out:"
ls "$out"/*.png
