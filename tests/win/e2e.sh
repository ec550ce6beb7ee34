#!/usr/bin/env bash
# The real camwarden.exe under Wine, headless, and its setup program:
#   tests/win/e2e.sh BUILD-DIR SDK-DIR [SCREENS-DIR]
# Needs DISPLAY (an Xvfb) and WINEPREFIX (scripts/test-windows sets both up).
#  1. a schedule of 10 s / 5 s on the test camera: at least three clips of
#     75 +- 1 frames by Linux's ffprobe; a close request from outside
#     (taskkill without /f) in the middle of the next clip leaves it
#     finished and playable; the settings are in the registry; so does a
#     log-off in the middle of a clip;
#  2. started hidden in the tray, a second start brings the window up and
#     ends with 0; the log-on box writes and removes the user's Run value;
#     the first folder is the desktop as Windows names it;
#  3. the setup program installs silently, the installed copy records (a
#     clip cut off by a hard kill is repaired at its next start), and the
#     uninstaller, waited for, closes it, removes the program and its Run
#     value, turns the log-on switch off, and keeps the settings and the
#     clips; a reinstall then finds switch and Run value agreeing;
#  4. into a folder with other programs' files in bin, lib and licenses: an
#     older version, then this one over it while it runs, which removes the
#     older one's plugin and starts the program again; the uninstaller
#     removes the program's files and keeps the others;
#  5. a bad command line and /? are answered in a message box and the log;
#     the installed copy records into a folder of more than 300 characters
#     and loads only its own GStreamer plugins, whatever the environment
#     names; a silent install for every user and its uninstall;
#  6. on a 1280x800 screen at 150 % and 200 %, with frames drawn as Windows
#     draws them, the whole window is on the screen.
# With SCREENS-DIR: the window at 100 % and 150 %, the tray balloon and the
# setup program's pages, as PNG files there.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
sdk=$(cd "$2" && pwd)
screens=${3:-}
wine=${WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
: "${WINEPREFIX:?}" "${DISPLAY:?}"
[[ -n $screens ]] && mkdir -p "$screens"

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  "${WINESERVER:-/usr/lib/wine/wineserver64}" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $*"; }
towin() { printf 'Z:%s' "$1" | sed 's|/|\\|g'; }
reg() { "$wine" reg "$@" >/dev/null 2>&1; }
# A screenshot NAME of the program's window ("window") or of a region of the screen.
shot() {
  [[ -z $screens ]] && return
  if [[ $2 == window ]]; then import -window "$(window_id)" "$screens/$1.png"
  else import -window root -crop "$2" "$screens/$1.png"; fi
}

key='HKCU\Software\VB and VBA Program Settings\Quillory'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
user=$(id -un)
local_app=$("$wine" winepath -u "C:\\users\\$user\\AppData\\Local" 2>/dev/null)
[[ -d $local_app ]] || local_app="$WINEPREFIX/drive_c/users/$user/AppData/Local"
log="$local_app/Quillory/Camwarden/camwarden.log"

# Settings as the earlier version stored them: text values in the registry.
preset() {
  reg delete "$key" /f || true
  local kv
  for kv in "$@"; do reg add "$key\\Camwarden" /v "${kv%%=*}" /d "${kv#*=}" /f; done
}

# Waits until the clip being recorded in FOLDER has COUNT frames on the
# disk, at most SECONDS. Each frame is a "00db" chunk; the header's stream
# index names that id once more.
wait_frames() {
  local folder=$1 count=$2 tenths=$(($3 * 10)) clip
  until clip=$(ls -t "$folder"/SS*.avi 2>/dev/null | head -1) && [[ -n $clip ]] &&
    (($(grep -aoF 00db "$clip" | wc -l) > count)); do
    ((tenths-- > 0)) || fail "no clip with $count frames in $folder"
    sleep 0.1
  done
}

# Waits until the log holds PATTERN at least COUNT times, at most SECONDS.
wait_log() {
  local pattern=$1 count=$2 tenths=$(($3 * 10))
  until (($(grep -c -- "$pattern" "$log" 2>/dev/null || true) >= count)); do
    ((tenths-- > 0)) || { cat "$log" >&2; fail "no $count x '$pattern' in the log"; }
    sleep 0.1
  done
}

start() {  # the program under wine-run, in the background; its pid in $prog
  mkdir -p "$(dirname "$log")"
  : >"$log"
  "$@" --camera test >>"$work/out" 2>&1 &
  prog=$!
  pids+=("$prog")
}

# Ends the program as another program would (WM_CLOSE) and expects it gone
# with 0 within the bound it has for finishing a clip.
close_program() {
  "$wine" taskkill /im camwarden.exe >/dev/null 2>&1 || fail "taskkill found no camwarden.exe"
  local rc=0
  timeout 15 tail --pid="$prog" -f /dev/null || fail "still running 15 s after the close request"
  wait "$prog" || rc=$?
  ((rc == 0)) || fail "ended with $rc after the close request"
}

# frames,has-index of a clip by Linux's ffprobe; "0,no" when it does not play.
probe() {
  local frames index=no
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$1" 2>/dev/null) || frames=0
  grep -q idx1 "$1" && index=yes
  echo "${frames:-0},$index"
}

window_id() { xdotool search --onlyvisible --name '^Camwarden$' 2>/dev/null | head -1; }
notice_id() {
  local id
  for id in $(xdotool search --onlyvisible --class explorer.exe 2>/dev/null); do
    [[ -z $(xdotool getwindowname "$id" 2>/dev/null) ]] && { echo "$id"; return; }
  done
}

# Clicks a control at its place in twips within the window (Form1's layout
# at 100 %; the window has no frame here, there being no window manager).
click_twips() {
  local id x y
  id=$(window_id) || true
  [[ -n $id ]] || fail "the window is not shown"
  eval "$(xdotool getwindowgeometry --shell "$id")"
  x=$((X + ($1 + 7) / 15 + 8)) y=$((Y + ($2 + 7) / 15 + 9))
  xdotool mousemove "$x" "$y" click 1
}

run_value() {  # the Run value's data, empty when there is none
  "$wine" reg query "$run_key" /v camwarden.exe 2>/dev/null | sed -n 's/.*REG_SZ *//p' | tr -d '\r'
}

clips=$work/clips
mkdir -p "$clips"

step "command line: problems and /? answered in a message box and the log"
answer() {  # ARGS...: the exit code once the box it shows is closed
  local p id= rc=0
  mkdir -p "$(dirname "$log")"
  : >"$log"
  "$sdk/bin/wine-run" "$build/camwarden.exe" "$@" >>"$work/out" 2>&1 &
  p=$!
  for _ in $(seq 300); do id=$(window_id) && [[ -n $id ]] && break; sleep 0.1; done
  [[ -n $id ]] || fail "no message box for $*"
  xdotool key --window "$id" Return
  wait "$p" || rc=$?
  echo "$rc"
}
[[ $(answer --no-such-option) == 2 ]] || fail "a bad option did not end with 2"
grep -q "not starting: Unknown option 'no-such-option'" "$log" || fail "a bad option is not in the log"
[[ $(answer --camera) == 2 ]] || fail "--camera without a camera did not end with 2"
[[ $(answer '/?') == 0 ]] || fail "/? did not end with 0"
grep -qF 'asked for help' "$log" && grep -qF '\\?\usb#' "$log" && ! grep -q /dev/video "$log" ||
  fail "the help does not name Windows' cameras"$'\n'"$(cat "$log")"
echo "bad option, --camera alone: a box and 2; /?: a box naming Windows' camera paths, and 0"

step "schedule: 10 s / 5 s on the test camera, closed from outside in the fourth clip"
preset OftenIndex=1 OftenIndex1=1 ReturnSecondsRec=5 StartStopState=On "Path=$(towin "$clips")\\"
start "$sdk/bin/wine-run" "$build/camwarden.exe"
wait_log 'Clip finished:' 3 60
wait_log 'Clip started:' 4 15
wait_frames "$clips" 5 15
close_program
mapfile -t files < <(find "$clips" -name 'SS *.avi' | sort)
((${#files[@]} == 4)) || fail "${#files[@]} clips, not 4: ${files[*]}"
for f in "${files[@]:0:3}"; do
  IFS=, read -r frames index <<<"$(probe "$f")"
  ((frames >= 74 && frames <= 76)) && [[ $index == yes ]] ||
    fail "$(basename "$f"): $frames frames, index $index"
done
IFS=, read -r frames index <<<"$(probe "${files[3]}")"
((frames > 0)) && [[ $index == yes ]] || fail "the clip cut by the close: $frames frames, index $index"
echo "clips: ${#files[@]}, the last cut at $frames frames and finished"
settings=$("$wine" reg query "$key\\Camwarden" 2>/dev/null | tr -d '\r')
for value in "Path    REG_SZ    $(towin "$clips")\\" "StartStopState    REG_SZ    On"; do
  grep -qF -- "$value" <<<"$settings" || fail "not in the registry: $value"$'\n'"$settings"
done

step "log-off in the middle of a clip"
preset OftenIndex=1 OftenIndex1=1 ReturnSecondsRec=5 StartStopState=On "Path=$(towin "$clips")\\"
rm -f "$clips"/*.avi
start "$sdk/bin/wine-run" "$build/camwarden.exe"
wait_log 'Clip started:' 1 30
wait_frames "$clips" 5 15
# Wine's log-off: WM_QUERYENDSESSION and WM_ENDSESSION to every window, then
# the processes are ended, as Windows does.
"$wine" wineboot --end-session >/dev/null 2>&1
timeout 15 tail --pid="$prog" -f /dev/null || fail "still running 15 s after the session ended"
wait "$prog" || true
mapfile -t files < <(find "$clips" -name 'SS *.avi')
((${#files[@]} == 1)) || fail "${#files[@]} clips, not 1"
IFS=, read -r frames index <<<"$(probe "${files[0]}")"
((frames > 0)) && [[ $index == yes ]] || fail "the clip cut by the log-off: $frames frames, index $index"
echo "log-off: the clip was finished first ($frames frames)"

step "started in the tray; a second start brings it up; the log-on box"
preset Minimized=On StartStopState=Off
start "$sdk/bin/wine-run" "$build/camwarden.exe"
if [[ -n $screens ]]; then
  wait_log 'capture driver connected' 1 30
  # The notice, up for five seconds: Wine's tray draws it top left, as a
  # window of its own without a name.
  for _ in $(seq 300); do [[ -n $(notice_id) ]] && break; sleep 0.1; done
  [[ -n $(notice_id) ]] || fail "no notice in the tray"
  sleep 0.5  # painted
  shot tray-balloon 420x160+0+0
fi
wait_log 'camwarden.app: ready' 1 30
[[ -z $(window_id) ]] || fail "shown although started in the tray"
rc=0
"$sdk/bin/wine-run" "$build/camwarden.exe" --camera test >>"$work/out" 2>&1 || rc=$?
((rc == 0)) || fail "the second start ended with $rc"
grep -q 'not starting: another copy' "$log" || fail "the second start did not say why it ended"
for _ in $(seq 150); do [[ -n $(window_id) ]] && break; sleep 0.1; done
[[ -n $(window_id) ]] || fail "the second start did not bring the window up"
[[ -z $screens ]] || sleep 0.5  # painted
shot window-100 window
# Check3, "Load this software on Windows startup": Frame6 at (120, 7185) once the active hours' and
# the time stamp's rows moved it down, the box at (240, 300) in it.
click_twips $((120 + 240)) $((7185 + 300))
for _ in $(seq 100); do [[ -n $(run_value) ]] && break; sleep 0.1; done
expected="\"$(towin "$build/camwarden.exe")\""
[[ $(run_value) == "$expected" ]] || fail "Run value '$(run_value)', not '$expected'"
"$wine" reg query "$key\\Camwarden" /v "Windows Startup" 2>/dev/null | grep -q 'REG_SZ *On' ||
  fail "the box's setting is not stored"
click_twips $((120 + 240)) $((7185 + 300))
for _ in $(seq 100); do [[ -z $(run_value) ]] && break; sleep 0.1; done
[[ -z $(run_value) ]] || fail "the Run value stayed after the box was cleared"
close_program
desktop=$("$wine" reg query "$key\\Camwarden" /v Path 2>/dev/null | sed -n 's/.*REG_SZ *//p' | tr -d '\r')
[[ $desktop == "C:\\users\\$user\\Desktop\\" ]] || fail "first folder '$desktop', not the desktop"
echo "second start: 0, window up; Run value came and went with the box; folder: the desktop"

setup=$(ls "$build"/package/Camwarden-*-setup.exe)
step "setup program: silent install, the installed copy, the uninstaller"
"$wine" "$setup" /S || fail "the setup program failed"
inst="$local_app/Programs/Camwarden"
start_menu="$WINEPREFIX/drive_c/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
[[ -x $inst/bin/camwarden.exe && -f $inst/uninstall.exe && -f $inst/bin/qt.conf ]] ||
  fail "not installed in $inst"
[[ -f $start_menu/Camwarden.lnk ]] || fail "no Start-menu entry"
"$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Camwarden' /v DisplayName \
  >/dev/null 2>&1 || fail "not in the installed-apps list"
ls "$inst/licenses" | grep -q qtbase.LGPL || fail "no licence notices beside the program"

# Only what the setup program installed: none of the SDK's folders.
bare() { env -u WINEPATH -u QT_PLUGIN_PATH -u GST_PLUGIN_SYSTEM_PATH -u GST_PLUGIN_SCANNER \
  "$wine" "$@"; }
# Another GStreamer's plugins named in the environment: the SDK's, which
# hold some the installed copy does not.
foreign=$(towin "$sdk/mingw64/lib/gstreamer-1.0")
installed() { GST_PLUGIN_PATH=$foreign GST_PLUGIN_SYSTEM_PATH=$foreign bare "$inst/bin/camwarden.exe" "$@"; }
# Deeper than Windows' 260 characters.
clips2=$work/$(printf 'a%.0s' {1..100})/$(printf 'b%.0s' {1..100})/$(printf 'c%.0s' {1..100})
mkdir -p "$clips2"
(($(towin "$clips2" | wc -c) > 300)) || fail "the clip folder is not long enough"
preset OftenIndex=1 OftenIndex1=1 ReturnSecondsRec=5 StartStopState=On "Path=$(towin "$clips2")\\"
start installed
wait_log 'Clip finished:' 1 40
wait_log 'Clip started:' 2 15
wait_frames "$clips2" 5 15
"$wine" taskkill /f /im camwarden.exe >/dev/null 2>&1 || fail "taskkill /f found nothing"
wait "$prog" || true
start installed
wait_log 'camwarden.app: ready' 1 30
wait_log 'after an unfinished run' 1 10
registry="$local_app/Quillory/Camwarden/gstreamer-registry.bin"
[[ -f $registry ]] || fail "no GStreamer registry of the program's own"
grep -qaF 'Programs\Camwarden\lib\gstreamer-1.0\libgstwinks.dll' "$registry" &&
  ! grep -qaF "$foreign" "$registry" ||
  fail "the installed copy's GStreamer knows plugins from elsewhere"

# Uninstalled while it runs: the uninstaller closes it as its close box
# would. Waited for as the README says, it is done when it returns.
reg add "$run_key" /v camwarden.exe /d "\"$(towin "$inst")\\bin\\camwarden.exe\"" /f
reg add "$key\\Camwarden" /v "Windows Startup" /d On /f
uninstall() {  # FOLDER: the quiet uninstall command as the installed-apps list has it
  local began rc=0
  began=$(date +%s%N)
  bare "$1/uninstall.exe" /S "_?=$("$wine" winepath -w "$1" 2>/dev/null | tr -d '\r')" || rc=$?
  ((rc == 0)) || fail "the uninstaller ended with $rc"
  echo "uninstall.exe /S _?=...: returned after $((($(date +%s%N) - began) / 1000000)) ms"
}
uninstall "$inst"
rc=0
timeout 15 tail --pid="$prog" -f /dev/null || fail "the uninstaller did not close the running copy"
wait "$prog" || rc=$?
((rc == 0)) || fail "the running copy ended with $rc when the uninstaller closed it"
[[ ! -e $inst/bin && ! -e $inst/lib && ! -e $inst/licenses ]] || fail "the uninstaller returned before it was done"
[[ -z $(run_value) ]] || fail "the Run value stayed after uninstalling"
"$wine" reg query "$key\\Camwarden" /v "Windows Startup" 2>/dev/null | grep -q 'REG_SZ *Off' ||
  fail "the log-on switch stayed on without its Run value"
# The uninstaller itself goes once it has ended.
for _ in $(seq 150); do [[ -e $inst ]] || break; sleep 0.1; done
mapfile -t files < <(find "$clips2" -name 'SS *.avi' | sort)
((${#files[@]} == 2)) || fail "${#files[@]} clips from the installed copy, not 2"
IFS=, read -r frames index <<<"$(probe "${files[0]}")"
((frames >= 74 && frames <= 76)) && [[ $index == yes ]] || fail "installed copy's clip: $frames frames"
IFS=, read -r frames index <<<"$(probe "${files[1]}")"
((frames > 0)) && [[ $index == yes ]] || fail "the killed clip was not repaired: $frames frames"
echo "installed copy: a clip of 75 frames, and one cut by a hard kill repaired to $frames"

[[ ! -e $inst ]] || fail "$inst is still there after uninstalling"
[[ ! -e $start_menu/Camwarden.lnk ]] || fail "the Start-menu entry stayed"
! "$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Camwarden' \
  >/dev/null 2>&1 || fail "still in the installed-apps list"
"$wine" reg query "$key\\Camwarden" /v Path >/dev/null 2>&1 || fail "the settings went"
[[ $(find "$clips2" -name 'SS *.avi' | wc -l) == 2 ]] || fail "the clips went"
echo "uninstalled: program, entry and Run value gone, log-on switch off; settings and clips kept"

# Installed again, the log-on box shows what the Run key holds: nothing.
"$wine" "$setup" /S || fail "the setup program failed to install again"
[[ -z $(run_value) ]] || fail "a Run value after installing again"
"$wine" reg query "$key\\Camwarden" /v "Windows Startup" 2>/dev/null | grep -q 'REG_SZ *Off' ||
  fail "installed again, the log-on box would show ticked with no Run value"
uninstall "$inst"
echo "installed again: log-on switch off, no Run value"

step "setup program: for every user, silently"
"$wine" "$setup" /S /ALLUSERS || fail "the setup program failed for every user"
machine=$("$wine" winepath -u 'C:\Program Files\Camwarden' 2>/dev/null)
machine_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Camwarden'
[[ -x $machine/bin/camwarden.exe ]] || fail "not installed in Program Files"
[[ -f $WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Camwarden.lnk ]] ||
  fail "no Start-menu entry for every user"
"$wine" reg query "$machine_key" /v QuietUninstallString >/dev/null 2>&1 || fail "not in the machine's installed-apps list"
! "$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Camwarden' >/dev/null 2>&1 ||
  fail "in the user's installed-apps list"
uninstall "$machine"
for _ in $(seq 150); do [[ -e $machine ]] || break; sleep 0.1; done
[[ ! -e $machine ]] || fail "Program Files still holds Camwarden"
! "$wine" reg query "$machine_key" >/dev/null 2>&1 || fail "still in the machine's installed-apps list"
echo "for every user: Program Files, the machine's entries; uninstalled"

step "setup program: a folder shared with other programs, an upgrade over a running copy"
tools=$WINEPREFIX/drive_c/Tools
rm -rf "$tools"
for f in bin/other.exe bin/Qt6Core.conf lib/other.lib lib/gstreamer-1.0/other.txt licenses/other.txt; do
  mkdir -p "$(dirname "$tools/$f")"
  echo "not Camwarden's" >"$tools/$f"
done
others=$(cd "$tools" && find . -type f | sort)
# An older version: the same setup program with a plugin this one lacks.
old_stage=$work/old-stage
cp -r "$build/package/Camwarden" "$old_stage"
cp "$old_stage/lib/gstreamer-1.0/libgstvideorate.dll" "$old_stage/lib/gstreamer-1.0/libgstgone.dll"
cmake -Dstage="$old_stage" -Dlist="$work/old-files.txt" -P "$src/resources/windows/ListFiles.cmake"
makensis -V1 -X'SetCompress off' -DSTAGE="$old_stage" -DFILES="$work/old-files.txt" \
  -DOUTFILE="$work/old-setup.exe" -DVERSION=0.9.0 -DICON="$build/resources/camwarden.ico" \
  "$src/resources/windows/camwarden.nsi" >/dev/null
bare "$work/old-setup.exe" /S "/D=C:\\Tools" || fail "the older setup program failed"
[[ -f $tools/lib/gstreamer-1.0/libgstgone.dll ]] || fail "the older version was not installed"
preset StartStopState=Off "Path=$(towin "$clips2")\\"
start bare "$tools/bin/camwarden.exe"
wait_log 'camwarden.app: ready' 1 30
bare "$setup" /S "/D=C:\\Tools" || fail "the upgrade failed"
rc=0
timeout 15 tail --pid="$prog" -f /dev/null || fail "the upgrade did not close the running copy"
wait "$prog" || rc=$?
((rc == 0)) || fail "the running copy ended with $rc when the upgrade closed it"
[[ ! -e $tools/lib/gstreamer-1.0/libgstgone.dll ]] || fail "the older version's plugin stayed"
version=${setup##*/Camwarden-}
"$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Camwarden' \
  /v DisplayVersion 2>/dev/null | grep -q "REG_SZ *${version%-setup.exe}" || fail "still the older version"
wait_log 'camwarden.app: ready' 2 30
[[ $(grep -c 'camwarden.app: closing' "$log") == 1 ]] || fail "the program the upgrade started again did not stay"
echo "upgrade: the older plugin gone, the program started again"

rc=0
bare "$tools/uninstall.exe" /S '_?=C:\nowhere' || rc=$?
((rc != 0)) && [[ -f $tools/bin/camwarden.exe ]] || fail "uninstalling from a wrong folder ended with $rc"
uninstall "$tools"
[[ $(grep -c 'camwarden.app: closing' "$log") == 2 ]] || fail "the uninstaller did not close the copy the upgrade started"
for _ in $(seq 150); do [[ -e $tools/uninstall.exe ]] || break; sleep 0.1; done
left=$(cd "$tools" && find . | sort)
expected=$(printf '%s\n' "$others" . ./bin ./lib ./lib/gstreamer-1.0 ./licenses | sort)
[[ $left == "$expected" ]] ||
  fail "after uninstalling, the folder holds"$'\n'"$left"$'\n'"not what it held before installing"$'\n'"$expected"
grep -qx "not Camwarden's" "$tools/bin/other.exe" || fail "another program's file was changed"
echo "uninstalled from a shared folder: the program's files gone, $(wc -l <<<"$others") others kept"

step "on a 1280x800 screen at 150 % and 200 %"
# Its own screen, and frames Wine draws itself as Windows does (with no
# window manager to draw them); both need a fresh Wine server.
small=$work/small-display
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$small" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [[ -s $small ]] && break; sleep 0.1; done
export DISPLAY=:$(cat "$small")
reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
preset StartStopState=Off "Path=$(towin "$clips")\\"
for dpi in 144 192; do
  "${WINESERVER:-/usr/lib/wine/wineserver64}" -k 2>/dev/null || true
  reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f
  start "$sdk/bin/wine-run" "$build/camwarden.exe"
  wait_log 'camwarden.app: ready' 1 60
  for _ in $(seq 100); do [[ -n $(window_id) ]] && break; sleep 0.1; done
  eval "$(xdotool getwindowgeometry --shell "$(window_id)")"
  ((X >= 0 && Y >= 0 && X + WIDTH <= 1280 && Y + HEIGHT <= 800)) ||
    fail "at $((dpi * 100 / 96)) %: the window ${WIDTH}x$HEIGHT at $X,$Y is not all on the 1280x800 screen"
  echo "at $((dpi * 100 / 96)) %: ${WIDTH}x$HEIGHT at $X,$Y"
  [[ -z $screens ]] || { sleep 0.5; import -window root "$screens/window-$((dpi * 100 / 96))-1280x800.png"; }
  close_program
done
reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f
reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f
