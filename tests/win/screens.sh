#!/usr/bin/env bash
# Photographs under Wine what tests/win/e2e.sh cannot judge by itself: the
# window at 150 % (Windows' 144 dots per inch) and the setup program's and
# the uninstaller's pages, into SCREENS-DIR (the window at 100 % and the
# tray's balloon are taken by e2e.sh).
#   tests/win/screens.sh BUILD-DIR SDK-DIR SCREENS-DIR
# Needs DISPLAY and WINEPREFIX, as e2e.sh.
set -euo pipefail
build=$(cd "$1" && pwd)
sdk=$(cd "$2" && pwd)
screens=$3
mkdir -p "$screens"
wine=${WINE:-/usr/lib/wine/wine64}
wineserver=${WINESERVER:-/usr/lib/wine/wineserver64}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
: "${WINEPREFIX:?}" "${DISPLAY:?}"
reg() { "$wine" reg "$@" >/dev/null 2>&1; }
trap '"$wineserver" -k 2>/dev/null || true' EXIT

# The newest visible window whose name matches, waiting up to 10 s.
window() {
  local id=
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1) || true
    [[ -n $id ]] && break
    sleep 0.1
  done
  [[ -n $id ]] || { echo "no window named $1" >&2; exit 1; }
  echo "$id"
}
shoot() { sleep 1; import -window "$(window "$1")" "$screens/$2.png"; echo "$screens/$2.png"; }

key='HKCU\Software\VB and VBA Program Settings\Quillory\Camwarden'
reg add "$key" /v StartStopState /d Off /f
reg add "$key" /v Minimized /d Off /f
# Windows reads the display's scale when a session starts: Wine's is its server.
reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f
"$wineserver" -k 2>/dev/null || true
log=$("$wine" winepath -u "C:\\users\\$(id -un)\\AppData\\Local\\Quillory\\Camwarden\\camwarden.log")
: >"$log"
"$sdk/bin/wine-run" "$build/camwarden.exe" --camera test >/dev/null 2>&1 &
for _ in $(seq 300); do grep -q 'camwarden.app: ready' "$log" && break; sleep 0.1; done
shoot '^Camwarden$' window-150
"$wine" taskkill /im camwarden.exe >/dev/null 2>&1
wait
reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f
"$wineserver" -k 2>/dev/null || true

setup=$(ls "$build"/package/Camwarden-*-setup.exe)
"$wine" "$setup" >/dev/null 2>&1 &
for page in welcome licence folder; do
  shoot 'Camwarden Setup' "setup-$page"
  xdotool key --window "$(window 'Camwarden Setup')" Return
done
# Installing takes a moment; the last page comes by itself.
sleep 3
shoot 'Camwarden Setup' setup-finish
# "Finish" with "Start Camwarden" ticked: the installed program comes up.
xdotool key --window "$(window 'Camwarden Setup')" Return
wait
window '^Camwarden$' >/dev/null
"$wine" taskkill /im camwarden.exe >/dev/null 2>&1
inst=$("$wine" winepath -u "C:\\users\\$(id -un)\\AppData\\Local\\Programs\\Camwarden")
"$wine" "$inst/uninstall.exe" >/dev/null 2>&1 &
shoot 'Camwarden Uninstall' uninstall-confirm
xdotool key --window "$(window 'Camwarden Uninstall')" Return
sleep 3
shoot 'Camwarden Uninstall' uninstall-done
xdotool key --window "$(window 'Camwarden Uninstall')" Return
wait
