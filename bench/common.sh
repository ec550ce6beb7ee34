# Shared by the benchmark scripts: a throw-away home for one run of the real
# program, and how to start it there. Source it; it defines functions only.

# Writes the program's settings: $1 = run folder, then key=value lines.
preset() {
  mkdir -p "$1/config/Quillory" "$1/home" "$1/runtime" "$1/clips"
  chmod 700 "$1/runtime"
  { echo '[Camwarden]'; printf '%s\n' "${@:2}"; echo "Path=$1/clips/"; } \
    > "$1/config/Quillory/Quillory.ini"
}

# Context switches of a process, all threads: how often it wakes.
wakeups() { awk '$1 ~ /ctxt_switches/ {s+=$2} END {print s+0}' /proc/"$1"/task/*/status 2>/dev/null; }

# Replaces the calling (sub)shell with the program: $1 = run folder, then the
# command. Log lines carry the boot clock, which /proc's start times share.
run_program() {
  exec env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$1/config" HOME="$1/home" \
      XDG_RUNTIME_DIR="$1/runtime" QT_MESSAGE_PATTERN='%{time boot} %{category}: %{message}' \
      "${@:2}"
}
