# Sourced by a desktop test: PipeWire with WirePlumber on the caller's private
# session bus (DBUS_SESSION_BUS_ADDRESS), and a virtual camera on it. Each
# function appends what it starts to the caller's array `pids`. Commands go
# through the caller's `in_session` when it has one (to run them as another
# user), else run as they are.

_pw() {
    if declare -F in_session >/dev/null; then in_session "$@"; else "$@"; fi
}
# _pw_start LOG COMMAND...: in the background; the pid kept is the command's
# own, not that of the shell running _pw, so killing it ends the command.
_pw_start() {
    local log=$1 shell child i
    shift
    _pw "$@" >"$log" 2>&1 &
    shell=$!
    for i in $(seq 200); do child=$(pgrep -P "$shell") && break; sleep 0.05; done
    pids+=("${child:-$shell}")
}

# start_pipewire [RUNTIME_DIR]: the daemons' socket goes in RUNTIME_DIR
# (default: XDG_RUNTIME_DIR).
start_pipewire() {
    export XDG_RUNTIME_DIR=${1:-$XDG_RUNTIME_DIR}
    _pw_start "$XDG_RUNTIME_DIR/pipewire.log" pipewire
    local i
    for i in $(seq 500); do _pw pw-cli info 0 >/dev/null 2>&1 && break; sleep 0.1; done
    _pw_start "$XDG_RUNTIME_DIR/wireplumber.log" wireplumber
    # Ready once WirePlumber has joined as a client.
    for i in $(seq 1000); do
        _pw pw-cli ls Client 2>/dev/null | grep -q WirePlumber && return 0
        sleep 0.1
    done
    echo "PipeWire or WirePlumber did not come up" >&2
    return 1
}

# start_virtual_camera NAME: a moving test picture offered as a camera.
start_virtual_camera() {
    # A fixed raw format, or no consumer can link to it; media.type lets
    # WirePlumber's policy match it with a video consumer.
    _pw_start "$XDG_RUNTIME_DIR/camera-$1.log" gst-launch-1.0 -q videotestsrc is-live=true pattern=ball \
        ! video/x-raw,format=YUY2,width=640,height=480,framerate=15/1 \
        ! pipewiresink mode=provide \
        stream-properties="props,media.class=Video/Source,media.type=Video,media.role=Camera,node.description=$1"
    local i
    for i in $(seq 100); do
        _pw timeout 5 gst-device-monitor-1.0 Video/Source 2>/dev/null | grep -q "name  : $1\$" &&
            return 0
        sleep 0.2
    done
    echo "Camera $1 did not appear" >&2
    return 1
}
