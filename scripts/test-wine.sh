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
#   WINE_CHECKS proxy: only the proxy/stub DLL's checks (build, registration, marshalling)
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${BUILD_DIR:-build-win}"
check_log=test-wine.log
source scripts/checks.sh

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
[ "${WINE_CHECKS:-all}" = proxy ] ||
  check "build the toolkit for Windows" cmake --build "$build" -j2 --target velqor_model
check "build the OPC proxy/stub DLL" cmake --build "$build" -j2 --target velqor_opcproxy
proxy="$build/toolkit/com/idl/opcproxy.dll"
if [ ! -f "$proxy" ]; then
  finish
fi

# A re-registered proxy DLL is only picked up by a fresh wineserver.
wineserver -k 2>/dev/null || true
# proxy_dll [/u]: registers (unregisters) the proxy/stub DLL; the registry is written out when
# the prefix's last process ends.
proxy_dll() {
  wine regsvr32 /s "$@" "$(winepath -w "$proxy")"
  local rc=$?
  wineserver -w
  return $rc
}
check "register the proxy/stub DLL" proxy_dll
# Every interface of the definitions: name, identifier and method count (the base's count and
# its own methods).
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
# proxy_registry WHAT [NAME CLSID]: what the prefix's registry holds of the proxy/stub DLL, where
# NAME's proxy class was registered as CLSID by another DLL beforehand:
#   interface NAME   NAME's proxy class is served by the DLL, with the method count declared
#   own-class        the DLL serves one class (ThreadingModel Both), and it is no interface's
#                    identifier
#   beside           every interface but NAME is served by the DLL; NAME still names CLSID
#   unregistered     the DLL serves no class and no interface is registered, but NAME as CLSID
proxy_registry() {
  PROXY_INTERFACES="$expected" python3 - "$prefix/system.reg" "$(winepath -w "$proxy")" "$@" <<'PY'
import os, re, sys
path, dll, what, args = sys.argv[1], sys.argv[2].lower(), sys.argv[3], sys.argv[4:]
values, current = {}, None
for line in open(path, encoding="utf-8", errors="replace"):
    if line.startswith("["):
        key = line[1:line.rfind("]")].replace("\\\\", "\\").lower()
        current = values.setdefault(key, {})
    elif current is not None:
        m = re.match(r'(?:@|"([^"]*)")="(.*)"$', line.rstrip("\n"))
        if m:
            current[(m.group(1) or "@").lower()] = m.group(2).replace("\\\\", "\\").lower()
def value(key, name="@"):
    return values.get(("software\\classes\\" + key).lower(), {}).get(name.lower())
def registered(key):
    return ("software\\classes\\" + key).lower() in values
interfaces = {n: (i, m) for n, i, m in (l.split() for l in os.environ["PROXY_INTERFACES"].splitlines())}
served = {k.split("\\")[3] for k, v in values.items()
          if re.fullmatch(r"software\\classes\\clsid\\\{[^\\]*\}\\inprocserver32", k) and v.get("@") == dll}
def ours(name):
    iid, methods = interfaces[name]
    return value("Interface\\{%s}\\ProxyStubClsid32" % iid) in served and \
        value("Interface\\{%s}\\NumMethods" % iid) == methods
def untouched():
    return not args or value("Interface\\{%s}\\ProxyStubClsid32" % interfaces[args[0]][0]) == args[1].lower()
others = [n for n in interfaces if not args or n != args[0]]
if what == "interface":
    failed = [] if ours(args[0]) else args
elif what == "own-class":
    iids = {"{%s}" % i.lower() for i, _ in interfaces.values()}
    failed = ["served: %s" % sorted(served)] if len(served) != 1 or served & iids or \
        any(registered("Interface\\" + c) or value("CLSID\\%s\\InprocServer32" % c, "ThreadingModel") != "both"
            for c in served) else []
elif what == "beside":
    failed = [n for n in others if not ours(n)] + ([] if untouched() else ["foreign entry changed"])
else:
    failed = [n for n in others if registered("Interface\\{%s}" % interfaces[n][0])] + \
        (["served: %s" % sorted(served)] if served else []) + ([] if untouched() else ["foreign entry changed"])
print("proxy_registry %s %s: %s" % (what, " ".join(args), ", ".join(failed) or "as expected"))
sys.exit(1 if failed else 0)
PY
}
while read -r name _; do
  check "$name: proxy class and method count registered" proxy_registry interface "$name"
done <<<"$expected"
check "the proxy class is the DLL's own, not an interface identifier" proxy_registry own-class
check "unregister the proxy/stub DLL" proxy_dll /u
check "nothing of the proxy/stub DLL left registered" proxy_registry unregistered
# Another DLL's proxy registered first for IOPCShutdown (as a vendor's proxy DLL for the OPC
# Common interfaces would be): registering ours beside it, and unregistering ours, leave it. And
# an earlier build of this same file, which had an interface identifier (IOPCServerList's) as its
# class, left IOPCCommon registered: that interface is taken over and the old class removed.
iid_of() { grep "^$1 " <<<"$expected" | cut -d' ' -f2; }
reg64() { wine reg "$@" /f /reg:64; } # reg.exe in the 64-bit view, that of the 64-bit DLL
foreign_name=IOPCShutdown
foreign_clsid="{2F4AF28F-C1EA-46B0-A68E-FBFD1A8A3D05}"
former_clsid="{$(iid_of IOPCServerList)}"
seed_registry() {
  reg64 add "HKCR\\Interface\\{$(iid_of $foreign_name)}\\ProxyStubClsid32" /ve /d "$foreign_clsid" &&
    reg64 add "HKCR\\CLSID\\$former_clsid\\InprocServer32" /ve /d "$(winepath -w "$proxy")" &&
    reg64 add "HKCR\\Interface\\{$(iid_of IOPCCommon)}\\ProxyStubClsid32" /ve /d "$former_clsid"
}
check "another DLL's proxy class, and an earlier build's, registered" seed_registry
check "register the proxy/stub DLL beside another DLL's proxy" proxy_dll
check "every interface but $foreign_name registered, $foreign_name left to the other DLL" \
  proxy_registry beside "$foreign_name" "$foreign_clsid"
check "the earlier build's proxy class removed" proxy_registry own-class
check "unregister the proxy/stub DLL beside another DLL's proxy" proxy_dll /u
check "unregistering left the other DLL's entry and removed ours" \
  proxy_registry unregistered "$foreign_name" "$foreign_clsid"
reg64 delete "HKCR\\Interface\\{$(iid_of $foreign_name)}" >>"$build/test-wine.log" 2>&1
check "register the proxy/stub DLL again" proxy_dll
check "every interface registered again" proxy_registry beside

# Every string parameter of the OPC interfaces crosses apartments intact through the DLL.
check "build the proxy/stub string test" cmake --build "$build" -j2 --target winproxy_string_tests
check "OPC string parameters marshalled intact" \
  timeout 300 wine "$build/tests/winproxy/winproxy_string_tests.exe" --gtest_brief=1
[ "${WINE_CHECKS:-all}" = proxy ] && finish

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
