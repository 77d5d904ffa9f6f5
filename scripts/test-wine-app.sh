#!/usr/bin/env bash
# Tagscope on Windows as a user gets it, under Wine with a real display: builds the Windows
# libraries once (scripts/setup-windows-deps.sh, cached), the programs with the window and both
# transports, the installer and the portable zip (scripts/build-windows-installer.sh); then, in a
# private Wine prefix on an Xvfb display with Wine's X11 driver, installs silently, opens a
# session against the simulated COM server (local form) and one against xmlda-sim.exe, waits
# until the window's list shows live values (read through tagscope --dump-items), checks that
# they changed and saves screenshots, uninstalls and checks that nothing is left.
# Its last line is "N passed, M failed"; where Wine cannot be had it says why and counts nothing.
#   BUILD_DIR  the Windows build tree (default build-winapp)
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${BUILD_DIR:-build-winapp}"
check_log=test-wine-app.log
source scripts/checks.sh

prefix=$(WINEPREFIX="$root/$build/prefix" bash scripts/setup-wine.sh | tail -1)
if [ -z "$prefix" ] || [ ! -d "$prefix" ]; then
  echo "test-wine-app: Wine or the Windows cross tools are not available; the stage is skipped"
  finish
fi
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$build"
: >"$build/$check_log"
out="$root/$build/app-checks"
rm -rf "$out"
mkdir -p "$out"

check "build the programs, the installer and the portable zip" \
  bash scripts/build-windows-installer.sh "$build"
setup=$(ls "$build"/tagscope-*-setup.exe 2>/dev/null | head -1)
[ -n "$setup" ] || finish
check "the portable zip holds what the installer installs" \
  bash -c "unzip -l '$build'/tagscope-*-portable.zip | grep -q 'platforms/qwindows.dll'"

# A display for the window: Wine's X11 driver draws on it.
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$out/display" >/dev/null 2>&1 &
xvfb=$!
for n in $(seq 30); do [ -s "$out/display" ] && break; sleep 1; done
display=$(head -1 "$out/display")
trap 'kill "$xvfb" 2>/dev/null; wineserver -k 2>/dev/null' EXIT
export DISPLAY=":$display"

installed="$prefix/drive_c/Program Files/Tagscope"
wineserver -k 2>/dev/null || true
check "install silently" bash -c "wine '$(winepath -w "$setup")' /S && wineserver -w"
check "installed: the window, its Qt plugin, the command line, the proxy DLL, the servers" \
  test -f "$installed/tagscope.exe" -a -f "$installed/platforms/qwindows.dll" \
  -a -f "$installed/tagscope-cli.exe" -a -f "$installed/opcproxy.dll" \
  -a -f "$installed/comda-sim.exe" -a -f "$installed/xmlda-sim.exe"
check "the installer registered the simulated servers" grep -q 'Velqor.SimDA20.1' "$prefix/system.reg"
win_installed='C:\Program Files\Tagscope'

# session NAME SERVER: a session file with one group of changing items.
session() {
  cat >"$out/$1.json" <<EOF
{"format":"tagscope-session","version":1,"server":"$2","computer":"","groups":[
 {"name":"Live","active":true,"updateRate":250,"deadBand":0,"timeBias":0,"localeId":0,
  "holdTime":0,"waitTime":0,"items":[{"itemID":"Dynamic/Double","active":true},
  {"itemID":"Dynamic/Int","active":true},{"itemID":"Dynamic/String","active":true}]}]}
EOF
}
# live NAME: opens session NAME in the installed window; the list it shows is sampled once every
# row has a good value and again three seconds later, and the window is saved as NAME.png.
live() {
  local dump="$out/$1.tsv" shot="$out/$1.png" pid n
  rm -f "$dump" "$shot"
  wine "$win_installed\\tagscope.exe" "$(winepath -w "$out/$1.json")" \
    --dump-items "$(winepath -w "$dump")" --screenshot "$(winepath -w "$shot")" \
    --screenshot-delay 20000 >"$out/$1.log" 2>&1 &
  pid=$!
  for n in $(seq 60); do
    [ -f "$dump" ] && [ "$(tail -n +2 "$dump" | grep -ci $'\tgood')" -eq 3 ] && break
    sleep 1
  done
  cp "$dump" "$out/$1-first.tsv" 2>/dev/null
  sleep 3
  cp "$dump" "$out/$1-second.tsv" 2>/dev/null
  timeout 60 tail --pid="$pid" -f /dev/null
  python3 - "$out/$1-first.tsv" "$out/$1-second.tsv" "$shot" <<'PY'
import os, sys
def rows(path):
    lines = open(path, encoding="utf-8").read().splitlines()
    head = lines[0].split("\t")
    return {r[0]: dict(zip(head, r)) for r in (l.split("\t") for l in lines[1:])}
first, second = rows(sys.argv[1]), rows(sys.argv[2])
print("first:", first, "\nsecond:", second)
assert len(first) == 3 and all(r["Quality"].lower().startswith("good") for r in first.values())
changed = [i for i in first if first[i]["Value"] != second[i]["Value"]]
assert changed, "no value changed in three seconds"
assert os.path.getsize(sys.argv[3]) > 10000, "no screenshot"
PY
}

session com Velqor.SimDA20.1
check "the window shows live values from the simulated COM server (local form)" live com

port=$((18000 + RANDOM % 1000))
wine "$win_installed\\xmlda-sim.exe" --port "$port" >"$out/xmlda-sim.log" 2>&1 &
sim=$!
for n in $(seq 60); do grep -q listening "$out/xmlda-sim.log" && break; sleep 1; done
session xmlda "http://127.0.0.1:$port/opc/xmlda"
check "the window shows live values from xmlda-sim.exe" live xmlda
kill "$sim" 2>/dev/null

wineserver -k 2>/dev/null || true
check "uninstall silently" bash -c "wine '$win_installed\\Uninstall.exe' /S && sleep 5 && wineserver -w"
check "nothing of the installation left on disk (program folder, Start menu)" \
  bash -c "! find '$prefix/drive_c' -iname '*tagscope*' | grep -q ."
check "the simulated servers and the proxy DLL unregistered" \
  bash -c "! grep -qiE 'Velqor.SimDA20.1|opcproxy.dll' '$prefix/system.reg'"
finish
