# Sourced by a desktop test: PipeWire with WirePlumber on the caller's private
# session bus (DBUS_SESSION_BUS_ADDRESS), and a virtual camera on it. Each
# function appends what it starts to the caller's array `pids`.

# start_pipewire RUNTIME_DIR: the daemons put their socket in RUNTIME_DIR.
start_pipewire() {
    export XDG_RUNTIME_DIR=$1
    pipewire >"$XDG_RUNTIME_DIR/pipewire.log" 2>&1 &
    pids+=($!)
    local i
    for i in $(seq 50); do pw-cli info 0 >/dev/null 2>&1 && break; sleep 0.1; done
    wireplumber >"$XDG_RUNTIME_DIR/wireplumber.log" 2>&1 &
    pids+=($!)
    # Ready once WirePlumber has joined as a client.
    for i in $(seq 100); do
        pw-cli ls Client 2>/dev/null | grep -q WirePlumber && return 0
        sleep 0.1
    done
    echo "PipeWire or WirePlumber did not come up" >&2
    return 1
}

# start_virtual_camera NAME: a moving test picture offered as a camera.
start_virtual_camera() {
    # A fixed raw format, or no consumer can link to it; media.type lets
    # WirePlumber's policy match it with a video consumer.
    gst-launch-1.0 -q videotestsrc is-live=true pattern=ball \
        ! video/x-raw,format=YUY2,width=640,height=480,framerate=15/1 \
        ! pipewiresink mode=provide \
        stream-properties="props,media.class=Video/Source,media.type=Video,media.role=Camera,node.description=$1" \
        >"$XDG_RUNTIME_DIR/camera-$1.log" 2>&1 &
    pids+=($!)
    local i
    for i in $(seq 100); do
        timeout 5 gst-device-monitor-1.0 Video/Source 2>/dev/null | grep -q "name  : $1\$" &&
            return 0
        sleep 0.2
    done
    echo "Camera $1 did not appear" >&2
    return 1
}
