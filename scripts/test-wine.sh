#!/usr/bin/env bash
# The COM transport on the platform's own COM, under Wine: installs the tools and a private
# prefix (scripts/setup-wine.sh), cross-builds the Windows targets (cmake/mingw-w64.cmake),
# registers the OPC proxy/stub DLL in the prefix and checks what the platform made of it, then
# runs the transport's test programs against the simulated servers in both their forms:
#   local       comda-sim.exe /RegServer: LocalServer32, one server process for every client,
#               calls marshalled through the proxy DLL, callbacks across processes
#   in-process  regsvr32 comda-sim-inproc.dll: InprocServer32 (ThreadingModel Free)
# Both forms register the same CLSIDs and ProgIDs, and registering one removes the other's
# server entry, so a client reaches whichever form was registered last (register_form below).
# Its last line is "N passed, M failed"; where Wine cannot be had it says why and counts nothing.
#   BUILD_DIR   the Windows build tree (default build-win)
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${BUILD_DIR:-build-win}"
passed=0
failed=0
check() {  # check NAME COMMAND...: runs the command, counts and reports the result
  local name="$1"
  shift
  if "$@" >>"$build/test-wine.log" 2>&1; then
    passed=$((passed + 1))
    echo "PASS $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name (see $build/test-wine.log)"
  fi
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

start=$(date +%s)
prefix=$(WINEPREFIX="${WINEPREFIX:-$root/$build/prefix}" bash scripts/setup-wine.sh | tail -1)
if [ -z "$prefix" ] || [ ! -d "$prefix" ]; then
  echo "test-wine: Wine or the Windows cross tools are not available; the Wine stage is skipped"
  finish
fi
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
mkdir -p "$build"
: >"$build/test-wine.log"

export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# A build for testing only: lightly optimised and without debug information, which builds in
# about half the time of an optimised build with it.
check "configure the Windows build" cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG=-O1 -DCMAKE_C_FLAGS_DEBUG=-O1 "${launcher[@]}"
check "build the toolkit for Windows" cmake --build "$build" -j2 --target velqor_model
check "build the OPC proxy/stub DLL" cmake --build "$build" -j2 --target velqor_opcproxy
proxy="$build/toolkit/com/idl/opcproxy.dll"
if [ ! -f "$proxy" ]; then
  finish
fi

# A re-registered proxy DLL is only picked up by a fresh wineserver.
wineserver -k 2>/dev/null || true
check "register the proxy/stub DLL" wine regsvr32 /s "$(winepath -w "$proxy")"
wineserver -w
# Every interface of the definitions has its proxy class, and the platform counts its methods
# as the definitions declare them.
expected=$(python3 - "$root/toolkit/com/idl" <<'PY'
import re, sys, pathlib
text = "".join(p.read_text() for p in sorted(pathlib.Path(sys.argv[1]).glob("*.idl")))
counts = {}
for m in re.finditer(r'uuid\(([0-9A-F-]+)\).*?interface (\w+) : (\w+)\s*\{(.*?)\n\}', text, re.S):
    iid, name, base, body = m.groups()
    counts[name] = (iid, counts.get(base, (None, 3))[1] + len(re.findall(r'HRESULT \w+\(', body)))
for name, (iid, n) in counts.items():
    print(name, iid, n)
PY
)
while read -r name iid methods; do
  check "$name: proxy class and method count registered" python3 - "$prefix/system.reg" "$iid" "$methods" <<'PY'
import sys
reg, iid, methods = open(sys.argv[1], encoding="utf-8", errors="replace").read(), sys.argv[2], sys.argv[3]
key = "[Software\\\\Classes\\\\Interface\\\\{%s}" % iid
stub = reg.find(key + "\\\\ProxyStubClsid32]")
count = reg.find(key + "\\\\NumMethods]")
ok = stub >= 0 and count >= 0 and '@="%s"' % methods in reg[count:count + 200]
sys.exit(0 if ok else 1)
PY
done <<<"$expected"

# Every string parameter of the OPC interfaces crosses apartments intact through the DLL.
check "build the proxy/stub string test" cmake --build "$build" -j2 --target winproxy_string_tests
check "OPC string parameters marshalled intact" \
  timeout 300 wine "$build/tests/winproxy/winproxy_string_tests.exe" --gtest_brief=1

check "build the simulated servers and the test programs" cmake --build "$build" -j2 --target \
  comda-sim comda-sim-inproc velqor_comgroup_tests velqor_comconn_tests velqor_combrowse_tests
server="$build/sim/comda/comda-sim.exe"
inproc="$build/sim/comda/comda-sim-inproc.dll"
if [ ! -f "$server" ] || [ ! -f "$inproc" ]; then
  finish
fi

# register_form local|inproc: makes that form the one clients reach.
register_form() {
  wineserver -k 2>/dev/null || true # a server of the other form still lingering ends first
  if [ "$1" = local ]; then
    wine "$(winepath -w "$server")" /RegServer
  else
    wine regsvr32 /s "$(winepath -w "$inproc")"
  fi
  local rc=$?
  wineserver -w # the registry is written out when the prefix's last process ends
  return $rc
}
# registered_as local|inproc|none: every class (the servers and the server list) has the form's
# server entry, ProgIDs and categories, or (none) nothing of it is left.
registered_as() {
  python3 - "$prefix/system.reg" "$1" <<'PY'
import sys
reg, form = open(sys.argv[1], encoding="utf-8", errors="replace").read(), sys.argv[2]
classes = {"407C186B-9B67-4EAE-AEA5-F3F64EBBC460": ("Velqor.SimDA10", "63D5F430-CFE4-11D1-B2C8-0060083BA1FB"),
           "727DF4D6-E3F2-4F4B-A6EC-D30E32960E30": ("Velqor.SimDA20", "63D5F432-CFE4-11D1-B2C8-0060083BA1FB"),
           "A84F4755-15D8-42FC-B008-4D6642B93095": ("Velqor.SimDA20Flat", "63D5F432-CFE4-11D1-B2C8-0060083BA1FB"),
           "40A1578C-1A37-462A-8444-791ABA675002": ("Velqor.SimDA30", "CC603642-66D7-48F1-B69A-B625E73652D7"),
           "13486D51-4821-11D2-A494-3CB306C10000": ("OPC.ServerList", None)}
def has(key):
    return ("[Software\\\\Classes\\\\" + key.replace("\\", "\\\\") + "]") in reg
ok = True
for clsid, (progid, catid) in classes.items():
    base = "CLSID\\{%s}" % clsid
    want = {"local": ("LocalServer32", "InprocServer32"), "inproc": ("InprocServer32", "LocalServer32")}
    if form == "none":
        ok &= not has(base) and not has(progid) and not has(progid + ".1")
        continue
    entry, other = want[form]
    ok &= has(base + "\\" + entry) and not has(base + "\\" + other)
    ok &= has(progid + ".1\\CLSID") and has(progid + "\\CurVer") and has(base + "\\ProgID")
    if catid:
        ok &= has(base + "\\Implemented Categories\\{%s}" % catid)
sys.exit(0 if ok else 1)
PY
}
# run_tests FORM PROGRAM: a test program of the build, run under Wine from its own folder (a
# local server started by it writes to the same log file, never to a pipe). Passes when the
# program's own report says every case passed or was skipped: a crash (Wine then starts its
# debugger and the exit code says nothing) leaves no report.
run_tests() {
  local report
  report="$(winepath -w "$root/$build/wine-$1-$(basename "$2" .exe).xml")"
  rm -f "$build/wine-$1-$(basename "$2" .exe).xml"
  (cd "$(dirname "$build/$2")" && timeout 600 wine "./$(basename "$2")" --gtest_brief=1 \
    "--gtest_output=xml:$report") || return 1
  python3 - "$build/wine-$1-$(basename "$2" .exe).xml" <<'PY'
import sys, xml.etree.ElementTree as et
top = et.parse(sys.argv[1]).getroot()
sys.exit(0 if int(top.get("tests")) > 0 and top.get("failures") == "0" and top.get("errors") == "0" else 1)
PY
}
tests=(tests/comgroup/velqor_comgroup_tests.exe tests/comconn/velqor_comconn_tests.exe
  tests/combrowse/velqor_combrowse_tests.exe)

for form in local inproc; do
  check "$form: register the simulated servers" register_form $form
  check "$form: classes, ProgIDs and categories registered" registered_as $form
  for t in "${tests[@]}"; do
    [ -f "$build/$t" ] && check "$form: $(basename "$t" .exe)" run_tests $form "$t"
  done
  # The local server, the prefix's last process, ends by itself once its last client has gone
  # (and a short linger).
  [ $form = local ] && check "local: the server process ends after its last client" \
    timeout 60 wineserver -w
done

# tagscope-cli.exe against the servers in each form (its own file).
# shellcheck source=scripts/wine-cli-checks.sh
source scripts/wine-cli-checks.sh
source scripts/wine-win32-checks.sh # the 32-bit build and clients (its own file)

check "unregister the simulated servers" wine "$(winepath -w "$server")" /UnregServer
# A server kept by a client that leaked its references (Wine does not ping clients) ends here.
wineserver -k 2>/dev/null || true
check "no class of the simulated servers is left registered" registered_as none

echo "test-wine: $(($(date +%s) - start)) s"
finish
