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

# A Windows build (a build folder with camwarden.exe) runs under Wine, with
# the SDK's DLLs (CAMWARDEN_WINSDK, default ../shared/winsdk), in a prefix
# of its own made in $1, on the DISPLAY given or an Xvfb of its own: the
# window through Windows' own platform plugin, as users get it.
wine_setup() {
  export WINEPREFIX=$1/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wine_sdk=$(cd "${CAMWARDEN_WINSDK:-$root/../shared/winsdk}" && pwd)
  if [[ -z ${DISPLAY:-} ]]; then
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$1/display" 2>/dev/null &
    wine_xvfb=$!
    for _ in $(seq 50); do [[ -s $1/display ]] && break; sleep 0.1; done
    export DISPLAY=:$(cat "$1/display")
  fi
  "$wine_sdk/bin/wine-run" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial \
    /d 'Liberation Sans' /f >/dev/null
  wine_log=$(/usr/lib/wine/wine64 winepath -u \
    "C:\\users\\$(id -un)\\AppData\\Local\\Quillory\\Camwarden\\camwarden.log")
  mkdir -p "$(dirname "$wine_log")" "$1/clips"
}

wine_teardown() {
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  if [[ -n ${wine_xvfb:-} ]]; then kill "$wine_xvfb" 2>/dev/null || true; fi
}

# The program's settings in the registry: $1 = run folder, then key=value.
wine_preset() {
  local key='HKCU\Software\VB and VBA Program Settings\Quillory\Camwarden' kv
  /usr/lib/wine/wine64 reg delete "$key" /f >/dev/null 2>&1 || true
  for kv in "${@:2}" "Path=$(printf 'Z:%s' "$1/clips/" | sed 's|/|\\|g')"; do
    /usr/lib/wine/wine64 reg add "$key" /v "${kv%%=*}" /d "${kv#*=}" /f >/dev/null 2>&1
  done
}

# Starts camwarden.exe of build folder $1 with the test camera, and waits
# (at most 6 s) until its log says it is ready; sets wine_pid to the
# Windows process (wine-run's child once Wine's loader has become it).
wine_start() {
  : >"$wine_log"
  "$wine_sdk/bin/wine-run" "$1/camwarden.exe" --camera test >/dev/null 2>&1 &
  local runner=$!
  for _ in $(seq 300); do grep -q ' ready' "$wine_log" && break; sleep 0.02; done
  grep -q ' ready' "$wine_log" || { cat "$wine_log" >&2; echo "not ready within 6 s" >&2; return 1; }
  wine_pid=$(ps --ppid "$runner" -o pid=,comm= | awk '$2 == "camwarden.exe" {print $1}') || true
  [[ -n $wine_pid ]] || { echo "no camwarden.exe under $runner" >&2; return 1; }
}

wine_stop() {
  /usr/lib/wine/wine64 taskkill /im camwarden.exe >/dev/null 2>&1 || true
  while kill -0 "$wine_pid" 2>/dev/null; do sleep 0.1; done
}

# The prefix's wineserver, which does the window system's and the timers'
# work for every Wine process: part of what a waiting Wine program costs.
wineserver_pid() {
  local p
  for p in /proc/[0-9]*; do
    [[ $(readlink "$p/exe" 2>/dev/null) == */wineserver* ]] || continue
    tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "${p#/proc/}"
  done
}
