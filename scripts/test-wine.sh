#!/usr/bin/env bash
# The COM transport on the platform's own COM, under Wine: installs the tools and a private
# prefix (scripts/setup-wine.sh), cross-builds the Windows targets (cmake/mingw-w64.cmake),
# registers the OPC proxy/stub DLL in the prefix and checks what the platform made of it.
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
check "configure the Windows build" cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
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

# tagscope-cli.exe against the registered servers.
source scripts/wine-cli-checks.sh

echo "test-wine: $(($(date +%s) - start)) s"
finish
