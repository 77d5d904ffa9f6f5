# shellcheck shell=bash disable=SC2154 # the sourcing scripts set $build, $prefix, $cli_out...
# 32-bit Windows under Wine: the i686 build (cmake/mingw-w64-i686.cmake) of the proxy/stub DLL,
# tagscope-cli.exe, the simulated servers and the transport's test programs, run on the 64-bit
# prefix's 32-bit side (WoW64). In-process servers are loaded only by clients of their own
# bitness, and most OPC servers are 32-bit. Sourced by scripts/test-wine.sh after the 64-bit
# client checks; uses its $root, $build, $prefix, $launcher, $expected, $server, $tests and
# check, register_form and run_tests, and the cli_* functions of scripts/wine-cli-checks.sh.
# Skipped, with a message, where the i686 compiler or wine32 is missing.
#
# The registry has a 64-bit and a 32-bit view (Wow6432Node) of HKCR\CLSID and HKCR\Interface; the
# ProgIDs are shared. A 32-bit regsvr32 or server registers in the 32-bit view, and a client
# looks in its own view: the 32-bit client reaches the 32-bit in-process server while the 64-bit
# one stays registered. A 64-bit client finds a LocalServer32 of the 32-bit view only when its own
# view holds no entry of the class, so the 64-bit forms are unregistered before the 32-bit local
# server is registered. Every watch checks which processes have the client and the server mapped.
w32_build="${build%/}32"
w32_regsvr32='C:\windows\syswow64\regsvr32.exe'
w32_skip=""
if ! command -v i686-w64-mingw32-g++-posix >/dev/null; then
  w32_skip="the i686 cross compiler is missing"
elif ! timeout 60 wine 'C:\windows\syswow64\cmd.exe' /c exit 0 >/dev/null 2>&1; then
  w32_skip="the prefix runs no 32-bit program (wine32 is missing)"
fi
if [ -n "$w32_skip" ]; then
  echo "test-wine: $w32_skip; the 32-bit checks are skipped"
  return 0
fi

# Lightly optimised, as the 64-bit tree.
check "32-bit: configure the Windows build" cmake -S . -B "$w32_build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG=-O1 -DCMAKE_C_FLAGS_DEBUG=-O1 "${launcher[@]}"
check "32-bit: build the proxy/stub DLL, tagscope-cli.exe, the simulated servers and the tests" \
  cmake --build "$w32_build" -j2 --target velqor_opcproxy tagscope-cli comda-sim comda-sim-inproc \
  winproxy_string_tests velqor_comgroup_tests velqor_comconn_tests velqor_combrowse_tests
w32_proxy="$w32_build/toolkit/com/idl/opcproxy.dll"
w32_cli="$w32_build/cli/tagscope-cli.exe"
w32_server="$w32_build/sim/comda/comda-sim.exe"
w32_inproc="$w32_build/sim/comda/comda-sim-inproc.dll"
for f in "$w32_proxy" "$w32_cli" "$w32_server" "$w32_inproc"; do
  [ -f "$f" ] || return 0
done

wineserver -k 2>/dev/null || true # a fresh wineserver picks up the re-registered proxy DLL
check "32-bit: register the proxy/stub DLL" wine "$w32_regsvr32" /s "$(winepath -w "$w32_proxy")"
wineserver -w
# w32_proxies_apart: every OPC interface has its proxy class and method count in both views, each
# view's proxy class served by the DLL of its bitness.
w32_proxies_apart() {
  W32_INTERFACES="$expected" python3 - "$prefix/system.reg" "$(winepath -w "$proxy")" \
    "$(winepath -w "$w32_proxy")" <<'PY'
import os, re, sys
reg = open(sys.argv[1], encoding="utf-8", errors="replace").read()
low = reg.lower()
def value(key):
    at = low.find(("[software\\classes\\" + key).lower().replace("\\", "\\\\") + "]")
    if at < 0:
        return None
    m = re.compile(r'^@="(.*)"$', re.M).search(reg, at, low.find("\n\n", at))
    return m.group(1).replace("\\\\", "\\") if m else None
ok = True
for line in os.environ["W32_INTERFACES"].splitlines():
    name, iid, methods = line.split()
    for view, path in (("", sys.argv[2]), ("Wow6432Node\\", sys.argv[3])):
        stub = value("%sInterface\\{%s}\\ProxyStubClsid32" % (view, iid))
        server = value("%sCLSID\\%s\\InprocServer32" % (view, stub)) if stub else None
        good = value("%sInterface\\{%s}\\NumMethods" % (view, iid)) == methods and \
            (server or "").lower() == path.lower()
        if not good:
            print("%s: %s has no proxy in the %s view" % (name, path, view or "64-bit"))
        ok &= good
sys.exit(0 if ok else 1)
PY
}
check "32-bit: each view's proxy classes served by the DLL of its bitness" w32_proxies_apart
check "32-bit: OPC string parameters marshalled intact" \
  timeout 300 wine "$w32_build/tests/winproxy/winproxy_string_tests.exe" --gtest_brief=1

# w32_register local|inproc: registers the 32-bit form (as register_form does the 64-bit one).
w32_register() {
  server="$w32_server" inproc="$w32_inproc" register_form "$1"
}
# w32_in_tree TREE COMMAND...: the command with $build naming that build tree.
w32_in_tree() {
  local build="$1"
  shift
  "$@"
}
# w32_run_tests FORM TREE [PROGRAM...]: the transport's test programs (all, or those named) of
# that tree (see run_tests).
w32_run_tests() {
  local form="$1" tree="$2" t
  shift 2
  [ $# -eq 0 ] && set -- "${tests[@]}"
  for t in "$@"; do
    [ -f "$tree/$t" ] &&
      check "$form: $(basename "$t" .exe)" w32_in_tree "$tree" run_tests "$form" "$t"
  done
}
# w32_mapping FILE: the processes of this prefix that have FILE mapped.
w32_mapping() {
  local file p
  file=$(realpath "$1")
  for p in /proc/[0-9]*; do
    grep -qsF "$file" "$p/maps" || continue
    tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
      echo "${p#/proc/}"
  done
}
# w32_watch NAME PROGID inproc|local SERVERFILE OTHERFILE...: a watch of a number and a string
# by $cli_exe reports changes of good quality; while it runs, SERVERFILE is mapped in the
# client's process (inproc) or in another one (local), and no OTHERFILE is mapped anywhere.
w32_watch() {
  local name="$1" prog="$2" form="$3" file="$4" f pid client="" serving="" other="" n
  shift 4
  # Long enough for the scan of every process's mappings to see the client on a busy machine.
  (cli_run "$name" watch "$prog" Dynamic/Int Dynamic/String --rate 100 --count 12) &
  pid=$!
  # The processes are looked at until both are seen or the watch has ended (bounded by the
  # client's own time limit).
  for n in $(seq $((cli_limit * 10))); do
    client=$(w32_mapping "$cli_exe")
    serving=$(w32_mapping "$file")
    [ -n "$client" ] && [ -n "$serving" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  for f in "$@"; do other+=$(w32_mapping "$f"); done
  wait "$pid"
  echo "$name: client $client, server $serving, other ${other:-none} (after $n looks)"
  cat "$cli_out/$name.out" "$cli_out/$name.err"
  [ "$(cat "$cli_out/$name.rc")" = 0 ] && [ -n "$client" ] && [ -n "$serving" ] &&
    [ -z "$other" ] && { { [ "$form" = inproc ] && [ "$serving" = "$client" ]; } ||
      { [ "$form" = local ] && [ "$serving" != "$client" ]; }; } &&
    [ "$(grep -cE 'Dynamic/String +Text [0-9]+ +good' "$cli_out/$name.out")" -ge 2 ] &&
    cli_lines "$name" 2 Dynamic/Int
}
# w32_checks_on FORM SERVERKEY SERVERFILE: the 32-bit client's commands against each DA version's
# server, registered now in that form.
w32_checks_on() {
  local form="$1" key="$2" file="$3" prog tag tab=$'\t'
  for prog in Velqor.SimDA10.1 Velqor.SimDA20.1 Velqor.SimDA30.1; do
    tag="win32-$form-$prog"
    check "$tag registered ($key, 32-bit view)" cli_registered "$prog" "$key"
    check "$tag status" cli_expect "$tag-status" 0 "State:        running" status "$prog"
    check "$tag browse" cli_expect "$tag-browse" 0 \
      "item${tab}Level${tab}Plant/Area1/Tank1/Level" browse "$prog" Plant/Area1/Tank1
    check "$tag read" cli_expect "$tag-read" 0 "${tab}good 0xC0${tab}" read "$prog" Static/Int
    check "$tag write" cli_expect "$tag-write" 0 "Writable/Int${tab}ok" \
      write "$prog" Writable/Int=-12
    check "$tag watch, served by the 32-bit $form server" w32_watch "$tag-watch" "$prog" "$form" \
      "$file" "$build/sim/comda/comda-sim.exe" "$build/sim/comda/comda-sim-inproc.dll"
    [ "$form" = local ] && cli_fresh_server
    check "$tag live data" cli_live "$tag-live" "$prog"
    [ -f "$cli_out/$tag-live.live" ] && echo "  $(cat "$cli_out/$tag-live.live")"
  done
}

cli_exe="$w32_cli" cli_view=32
# The 64-bit in-process form stays registered in its view.
check "32-bit: register the in-process server" w32_register inproc
w32_run_tests win32-inproc "$w32_build"
w32_checks_on inproc InprocServer32 "$w32_inproc"

check "unregister the 64-bit forms" wine "$(winepath -w "$server")" /UnregServer
check "32-bit: register the local server" w32_register local
w32_run_tests win32-local "$w32_build"
w32_checks_on local LocalServer32 "$w32_server"

# A 64-bit client, a 32-bit server: the DA 1.0 stream arrives with 16-byte VARIANTs.
cli_exe="$build/cli/tagscope-cli.exe" cli_view=64
# w32_only_in_32bit_view PROGID: the class has a 32-bit local server and no entry in the 64-bit
# view.
w32_only_in_32bit_view() {
  cli_view=32 cli_registered "$1" LocalServer32 && ! cli_registered "$1" LocalServer32 &&
    ! cli_registered "$1" InprocServer32
}
check "Velqor.SimDA10.1 served only in the 32-bit view" w32_only_in_32bit_view Velqor.SimDA10.1
check "win64-client DA 1.0 watch, served by the 32-bit local server" \
  w32_watch win64-local-Velqor.SimDA10.1-watch Velqor.SimDA10.1 local "$w32_server" \
  "$build/sim/comda/comda-sim.exe" "$build/sim/comda/comda-sim-inproc.dll"
cli_fresh_server
check "win64-client DA 1.0 live data from the 32-bit local server" \
  cli_live win64-local-Velqor.SimDA10.1-live Velqor.SimDA10.1
[ -f "$cli_out/win64-local-Velqor.SimDA10.1-live.live" ] &&
  echo "  $(cat "$cli_out/win64-local-Velqor.SimDA10.1-live.live")"
# The browse tests stay out: their server list tests register classes in the client's
# registry view, which the 32-bit server list does not see.
w32_run_tests win64-client-win32-local "$build" tests/comgroup/velqor_comgroup_tests.exe \
  tests/comconn/velqor_comconn_tests.exe

check "32-bit: unregister the simulated servers" wine "$(winepath -w "$w32_server")" /UnregServer
wineserver -k 2>/dev/null || true
# w32_none_left: no server entry of the 32-bit view names a simulated server.
w32_none_left() {
  ! grep -A2 -F '[Software\\Classes\\Wow6432Node\\CLSID\\' "$prefix/system.reg" |
    grep -qi 'comda-sim'
}
check "32-bit: no simulated server left in the 32-bit view" w32_none_left
