#!/usr/bin/env bash
# The program on a Wayland desktop as people use one today, headless: sway,
# waybar's StatusNotifier tray, mako for notifications and PipeWire with a
# virtual camera, on a private session bus. sway will not run as root, so as
# root everything runs as "nobody".
#
#   desktop.sh PROGRAM OUT_DIR
#
# Screenshots and logs land in OUT_DIR. Exit 77 = skipped (something is not
# installed); with CAMWARDEN_FAULTS_MUST_RUN set (CI) that fails instead.
set -euo pipefail
program=$(realpath "${1:?usage: $0 PROGRAM OUT_DIR}")
out=$(mkdir -p "${2:?usage: $0 PROGRAM OUT_DIR}" && cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
rm -f "$out"/*.png "$out"/*.log

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() {
  [[ -z ${CAMWARDEN_FAULTS_MUST_RUN:-} ]] || fail "cannot run here: $*"
  echo "SKIP: $*"
  exit 77
}
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR
for tool in sway waybar mako makoctl pipewire wireplumber grim dbus-daemon dbus-monitor \
  busctl python3 ffprobe setpriv; do
  command -v "$tool" >/dev/null || skip "needs $tool"
done

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  cp "$work"/*.log "$out"/ 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Everything the session runs is copied in, so "nobody" can reach it.
run_dir=$work/run
mkdir -p "$work/home/.config/waybar" "$work/home/.config/Quillory" "$work/clips" "$run_dir" "$work/bin"
chmod 700 "$run_dir"
cp "$program" "$work/bin/camwarden"
cp "$here/activation_token.py" "$here/pipewire_camera.sh" "$work/bin/"
cat > "$work/sway.conf" <<'CONF'
output HEADLESS-1 resolution 1024x768
focus_on_window_activation focus
CONF
cat > "$work/home/.config/waybar/config" <<'CONF'
{ "layer": "top", "height": 28, "modules-right": ["tray"], "tray": { "icon-size": 20 } }
CONF
# Every 10 seconds for 5 seconds, on.
printf '[Camwarden]\nOftenIndex=1\nOftenIndex1=1\nReturnSecondsRec=5\nStartStopState=On\nPath=%s/\n' \
  "$work/clips" > "$work/home/.config/Quillory/Quillory.ini"
as=()
if ((EUID == 0)); then
  chown -R nobody:nogroup "$work"
  as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
export HOME=$work/home XDG_RUNTIME_DIR=$run_dir XDG_CONFIG_HOME=$work/home/.config \
  XDG_STATE_HOME=$work/home/.state DBUS_SESSION_BUS_ADDRESS=unix:path=$run_dir/bus \
  XDG_SESSION_TYPE=wayland WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  QT_QPA_PLATFORM=wayland
unset DISPLAY WAYLAND_DISPLAY
# The system's own tools: a PATH of root's may lead where "nobody" cannot go.
in_session() { "${as[@]}" env PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
start() { # start LOG COMMAND...: in the background, stopped at the end
  local log=$1; shift
  in_session "$@" >"$work/$log" 2>&1 &
  pids+=($!)
}
wait_for() { # wait_for SECONDS COMMAND...
  local end=$((SECONDS + $1)); shift
  until "$@"; do
    ((SECONDS < end)) || return 1
    sleep 0.2
  done
}

start bus.log dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork --nopidfile
wait_for 10 test -S "$run_dir/bus" || fail "no session bus"
start sway.log sway -c "$work/sway.conf"
wait_for 10 compgen -G "$run_dir/wayland-*.lock" >/dev/null || fail "sway did not start"
WAYLAND_DISPLAY=$(basename "$(compgen -G "$run_dir/wayland-*.lock" | head -n1)" .lock)
SWAYSOCK=$(compgen -G "$run_dir/sway-ipc.*" | head -n1)
export WAYLAND_DISPLAY SWAYSOCK
start mako.log mako
start notify.log dbus-monitor --session "interface='org.freedesktop.Notifications',member='Notify'"
source "$here/pipewire_camera.sh"
start_pipewire
start_virtual_camera VirtCam

# A moment first: a window that was just mapped or raised is still drawing.
shot() { sleep 0.5 && in_session grim "$work/$1.png" && cp "$work/$1.png" "$out/"; }
# The window as sway sees it: "focused", "visible", or nothing when unmapped.
window() {
  in_session swaymsg -t get_tree -r | python3 -c '
import json, sys
def walk(n):
    if n.get("app_id") == "com.quillory.Camwarden":
        print("focused" if n.get("focused") else "visible" if n.get("visible") else "hidden")
    for c in n.get("nodes", []) + n.get("floating_nodes", []): walk(c)
walk(json.load(sys.stdin))'
}
window_is() { [[ $(window) == "$1" ]]; }
watcher_prop() {
  in_session busctl --user get-property org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
    org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null
}
icon_registered() { [[ $(watcher_prop) == *StatusNotifierItem* ]]; }
notices_up() { # notices_up COUNT: true when the daemon shows that many
  [[ $(in_session makoctl list | python3 -c 'import json,sys; print(len(json.load(sys.stdin)["data"][0]))') == "$1" ]]
}
clips_finished() { (($(grep -c 'Clip finished' "$work/program.log") >= $1)); }

echo "== the window shows; no tray yet"
cd "$work"
start program.log bin/camwarden --camera VirtCam
program_pid=${pids[-1]}
started=$SECONDS
wait_for 15 window_is focused || fail "the window did not show: $(window)"
shot 1-window

echo "== a tray that starts 5 s later gets the icon"
sleep $((5 - (SECONDS - started) > 0 ? 5 - (SECONDS - started) : 0))
start waybar.log waybar
wait_for 10 icon_registered || fail "the icon never reached the tray"
item=$(watcher_prop | grep -o '":[^/]*' | tr -d '"')
sleep 1
shot 2-tray
click_icon() { in_session busctl --user call "$item" /StatusNotifierItem org.kde.StatusNotifierItem Activate ii 0 0; }

echo "== a click on the icon hides the window, and the notice reaches the daemon"
click_icon
wait_for 5 window_is "" || fail "the window is still $(window) after a click on the icon"
wait_for 5 notices_up 1 || fail "no notice reached the notification daemon"
in_session makoctl list | grep -q 'has been minimized to the system tray' || fail "not the notice"
shot 3-notice
wait_for 8 notices_up 0 || fail "the notice stays up"
[[ $(grep -c 'member=Notify' "$work/notify.log") == 1 ]] ||
  fail "a blank notification took the notice down: $(cat "$work/notify.log")"

echo "== a click again brings it back"
click_icon
wait_for 5 window_is focused || fail "the window did not come back: $(window)"
shot 4-restored

echo "== a second start raises it, with the launcher's token"
in_session swaymsg -q workspace 2
wait_for 5 window_is hidden || fail "another workspace still shows the window: $(window)"
token=$(in_session python3 bin/activation_token.py)
in_session env XDG_ACTIVATION_TOKEN="$token" bin/camwarden >"$work/second.log" 2>&1 ||
  fail "the second start failed: $(cat "$work/second.log")"
wait_for 5 window_is focused || fail "the second start did not raise the window: $(window)"
shot 5-raised

echo "== two clips from the PipeWire camera"
wait_for 40 clips_finished 2 ||
  fail "two clips did not finish: $(grep -i clip "$work/program.log")"

echo "== Quit in the tray menu ends the run with its clip finished"
quit_id=$(in_session busctl --user --json=short call "$item" /MenuBar com.canonical.dbusmenu \
  GetLayout iias 0 -- -1 0 | python3 -c '
import json, sys
for child in json.load(sys.stdin)["data"][1][2]:
    if child["data"][1].get("label", {}).get("data") == "Quit": print(child["data"][0])')
[[ -n $quit_id ]] || fail "the tray menu has no Quit"
in_session busctl --user call "$item" /MenuBar com.canonical.dbusmenu Event isvu "$quit_id" clicked i 0 0
rc=0
wait_for 15 bash -c "! kill -0 $program_pid 2>/dev/null" || fail "Quit did not end the program"
wait "$program_pid" || rc=$?
((rc == 0)) || fail "the program ended with $rc"
grep -q 'closing' "$work/program.log" || fail "the window was not closed"

mapfile -t clips < <(find "$work/clips" -name '*.avi' | sort)
((${#clips[@]} >= 2)) || fail "only ${#clips[@]} clips"
for clip in "${clips[@]:0:2}"; do
  # Frames and their rate as written, and the time the clip covers.
  read -r frames rate duration < <(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=nb_read_frames,r_frame_rate,duration -of csv=p=0 "$clip" |
    awk -F, '{split($1, r, "/"); print $3, r[1] / r[2], $2}')
  echo "$(basename "$clip"): $frames frames at $rate fps, $duration s"
  python3 -c "import sys; f, r, d = map(float, sys.argv[1:]); sys.exit(not (abs(f - 5 * r) <= 1 and abs(d - 5) <= 1 / r + 0.01))" \
    "$frames" "$rate" "$duration" || fail "$(basename "$clip") is not 5 s long"
done
for clip in "${clips[@]}"; do
  ffprobe -v error "$clip" || fail "$(basename "$clip") does not play"
done
echo "PASS"
