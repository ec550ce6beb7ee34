# Sourced by the desktop test and the quit-loop benchmark: a Wayland desktop
# as people use one today, headless: sway, waybar's StatusNotifier tray (the
# caller starts it), mako for notifications and PipeWire with a virtual
# camera, on a private session bus. sway will not run as root, so as root
# everything runs as "nobody". Everything the session starts, down to what
# D-Bus starts on demand, carries a mark of this run in its environment; the
# run ends them all by their ids at its end, and fails if any is left.
#
# The caller sets `program` (the binary to copy in) and `out` (where logs go
# at the end), and may call `settings LINE...` before starting the program.
# Exit 77 = skipped (something is not installed); with
# CAMWARDEN_FAULTS_MUST_RUN set (CI) that fails instead.
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
mark=CAMWARDEN_DESKTOP_RUN=$$.$RANDOM
marked() { grep -lzxF "$mark" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 || true; }
cleanup() {
  local rc=$? left end=$((SECONDS + 50))
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  while left=$(marked) && [[ -n $left ]] && ((SECONDS < end)); do
    kill $left 2>/dev/null || true
    sleep 0.2
  done
  if [[ -n $left ]]; then
    rc=1
    echo "FAIL: still running after the end:" >&2
    for pid in $left; do echo "  $pid $(tr '\0' ' ' </proc/"$pid"/cmdline 2>/dev/null)" >&2; done
    kill -KILL $left 2>/dev/null || true
  fi
  wait 2>/dev/null || true
  [[ -z ${out:-} ]] || cp "$work"/*.log "$out"/ 2>/dev/null || true
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT

# Everything the session runs is copied in, so "nobody" can reach it.
run_dir=$work/run
mkdir -p "$work/home/.config/waybar" "$work/home/.config/Quillory" "$work/clips" "$run_dir" "$work/bin"
chmod 700 "$run_dir"
cp "$program" "$work/bin/camwarden"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cp "$here/activation_token.py" "$here/press_button.py" "$here/pipewire_camera.sh" "$work/bin/"
cat > "$work/sway.conf" <<'CONF'
output HEADLESS-1 resolution 1024x768
focus_on_window_activation focus
CONF
cat > "$work/home/.config/waybar/config" <<'CONF'
{ "layer": "top", "height": 28, "modules-right": ["tray"], "tray": { "icon-size": 20 } }
CONF
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
in_session() { "${as[@]}" env PATH=/usr/sbin:/usr/bin:/sbin:/bin "$mark" "$@"; }
start() { # start LOG COMMAND...: in the background, stopped at the end; its pid is the command's
  local log=$1; shift
  "${as[@]}" env PATH=/usr/sbin:/usr/bin:/sbin:/bin "$mark" "$@" >"$work/$log" 2>&1 &
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
source "$here/pipewire_camera.sh"
start_camera() { # PipeWire, WirePlumber and the camera's producer
  start_pipewire
  daemons=("${pids[@]: -2}")
  start_virtual_camera VirtCam
  producer=${pids[-1]}
}
start_camera

# The program's settings: [Camwarden] with these lines, clips into $work/clips.
settings() {
  { echo '[Camwarden]'; printf '%s\n' "$@"; echo "Path=$work/clips/"; } \
    >"$work/home/.config/Quillory/Quillory.ini"
  ((EUID != 0)) || chown nobody:nogroup "$work/home/.config/Quillory/Quillory.ini"
}
# The window as sway sees it: "focused", "visible", or nothing when unmapped.
# Its message boxes are the program's windows too, of another size.
window() {
  in_session swaymsg -t get_tree -r | python3 -c '
import json, sys
def walk(n):
    if n.get("app_id") == "com.quillory.Camwarden" and n.get("window_rect", {}).get("width") == 536:
        print("focused" if n.get("focused") else "visible" if n.get("visible") else "hidden")
    for c in n.get("nodes", []) + n.get("floating_nodes", []): walk(c)
walk(json.load(sys.stdin))'
}
window_is() { [[ $(window) == "$1" ]]; }
window_shown() { [[ $(window) == focused || $(window) == visible ]]; }
watcher_prop() {
  in_session busctl --user get-property org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
    org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null
}
icon_registered() { [[ $(watcher_prop) == *StatusNotifierItem* ]]; }
# The program's icon in the tray, and its menu's Quit.
tray_item() { watcher_prop | grep -o '":[^/]*' | tr -d '"'; }
tray_quit() {
  local item quit_id
  item=$(tray_item)
  quit_id=$(in_session busctl --user --json=short call "$item" /MenuBar com.canonical.dbusmenu \
    GetLayout iias 0 -- -1 0 | python3 -c '
import json, sys
for child in json.load(sys.stdin)["data"][1][2]:
    if child["data"][1].get("label", {}).get("data") == "Quit": print(child["data"][0])')
  [[ -n $quit_id ]] || return 1
  in_session busctl --user call "$item" /MenuBar com.canonical.dbusmenu Event isvu "$quit_id" clicked i 0 0
}

# The clip's own connection to the camera, as PipeWire lists it.
camera_node() {
  in_session pw-dump | python3 -c '
import json, sys
sys.exit(not any(o.get("type") == "PipeWire:Interface:Node"
                 and o["info"]["props"].get("node.name") == "camwarden"
                 and o["info"]["props"].get("media.class") == "Stream/Input/Video"
                 for o in json.load(sys.stdin)))'
}
