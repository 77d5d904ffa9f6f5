# tagscope-cli.exe against the simulated servers registered in the Wine prefix. Sourced by
# scripts/test-wine.sh once the servers are registered; uses its $build, $WINEPREFIX and check.
# Each run's output goes to files in $build/cli-checks: a local server started by a client
# inherits that client's standard output, so a pipe would stay open while the server lingers.
# Wine's console writes CRLF line ends; they are removed before anything is compared. Every
# wait is bounded.
cli_exe="$build/cli/tagscope-cli.exe"
cli_view=64 # the registry view (64 or 32) cli_registered looks in: the client's bitness
cli_out="$build/cli-checks"
cli_limit="${CLI_TIMEOUT:-120}"
rm -rf "$cli_out"
mkdir -p "$cli_out"

# cli_run NAME ARGS...: one run of the client; NAME.out, NAME.err and NAME.rc in $cli_out.
cli_run() {
  local name="$1"
  shift
  timeout -k 10 "$cli_limit" wine "$cli_exe" "$@" >"$cli_out/$name.out" 2>"$cli_out/$name.err" </dev/null
  echo $? >"$cli_out/$name.rc"
  sed -i 's/\r$//' "$cli_out/$name.out" "$cli_out/$name.err"
}
# cli_expect NAME EXIT TEXT ARGS...: the run ends with EXIT, and TEXT is in its standard output
# (EXIT 0) or its error output (otherwise).
cli_expect() {
  local name="$1" code="$2" text="$3" stream=out
  shift 3
  cli_run "$name" "$@"
  [ "$code" -ne 0 ] && stream=err
  if [ "$(cat "$cli_out/$name.rc")" != "$code" ] || ! grep -qF -- "$text" "$cli_out/$name.$stream"; then
    echo "$name: expected exit $code and \"$text\" in std$stream; got exit $(cat "$cli_out/$name.rc")"
    cat "$cli_out/$name.out" "$cli_out/$name.err"
    return 1
  fi
}
# cli_lines NAME N TEXT: at least N lines of NAME's output contain TEXT.
cli_lines() {
  [ "$(grep -cF -- "$3" "$cli_out/$1.out")" -ge "$2" ]
}

# cli_console: on a console (a terminal given by script) a rejected argument beyond the ANSI
# code page is echoed as typed; no server is needed.
cli_console() {
  LC_ALL=C.UTF-8 timeout -k 10 "$cli_limit" script -qec \
    "wine '$cli_exe' status X --auth-level 名字/值" "$cli_out/console.log" </dev/null >/dev/null
  grep -qF '"名字/值" (known: none' "$cli_out/console.log"
}

# cli_registered PROGID SERVERKEY: the class of PROGID is registered with that server key
# (LocalServer32 or InprocServer32). The registry is asked through Wine: its files are written
# later.
cli_registered() {
  local clsid
  clsid=$(wine reg query "HKCR\\$1\\CLSID" /ve 2>/dev/null | tr -d '\r' | grep -o '{[0-9A-Fa-f-]*}')
  [ -n "$clsid" ] && wine reg query "HKCR\\CLSID\\$clsid\\$2" /ve "/reg:$cli_view" >/dev/null 2>&1
}
# The processes of the local server in this prefix (not another prefix's).
cli_server_pids() {
  local p
  for p in $(pgrep -f 'comda-sim\.exe'); do
    { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$p"
  done
}
# cli_hold NAME PROGID: a client in the background that watches PROGID for 20 s; returns once
# it has its first value.
cli_hold() {
  (cli_run "$1" watch "$2" Static/Int --seconds 20) &
  timeout 60 bash -c "until grep -q Static/Int '$cli_out/$1.out' 2>/dev/null; do sleep 0.2; done"
}
# cli_fresh_server: no local server of this prefix is running, so the next client starts one
# with its own environment (the fault switches, the report file). The server ends by itself a
# few seconds after its last client; one that was killed stays registered with the platform
# for a while, and activations meanwhile fail ("The RPC server is unavailable").
cli_fresh_server() {
  local i
  for i in $(seq 100); do
    [ -z "$(cli_server_pids)" ] && return 0
    sleep 0.2
  done
  kill -KILL $(cli_server_pids) 2>/dev/null
  sleep 5
}
# cli_live NAME PROGID: live data as a user sees it: a watch of 100 items at 100 ms for 10 s
# receives at least 95 % of the values the server reports having sent, and the median delay
# from a value's server timestamp to its printed line is under the update rate. The figures go
# to NAME.live (and the stage's output).
cli_live() {
  local name="$1" prog="$2" report="$cli_out/$1.report" i ids=()
  for i in $(seq -w 0 99); do ids+=("Load/Item000$i"); done
  rm -f "$report"
  VELQOR_COMSIM_REPORT="$(winepath -w "$report")" cli_run "$name" watch "$prog" "${ids[@]}" \
    --rate 100 --seconds 10 --format csv
  # A server of its own writes its report when the group ends, just after the client has gone.
  timeout 20 bash -c "until [ -s '$report' ]; do sleep 0.2; done"
  python3 scripts/live-data-check.py "$cli_out/$name.out" "$report" 100 >"$cli_out/$name.live"
}
# cli_bounded TAG PROGID: every call of the server takes 15 s: a read ends at --timeout with the
# reason (exit 1), and Ctrl-C ends one (exit 130) within 3 s: Wine itself takes one to two
# seconds to hand a SIGINT to the program's console handler and end it. The times go to
# TAG.bounds.
cli_bounded() {
  local tag="$1" prog="$2" start ms pid rc
  start=$(date +%s%N)
  VELQOR_COMSIM_FAULTS=slow=15000 cli_run "$tag-timeout" read "$prog" Static/Int --timeout 2
  ms=$((($(date +%s%N) - start) / 1000000))
  echo "read with --timeout 2: ended after $ms ms (with the program's start)" >"$cli_out/$tag.bounds"
  [ "$(cat "$cli_out/$tag-timeout.rc")" = 1 ] &&
    grep -qF "error: The server did not answer within 2000 ms" "$cli_out/$tag-timeout.err" || return 1
  [ "$kind" = local ] && { cli_fresh_server || return 1; }
  (VELQOR_COMSIM_FAULTS=slow=15000 cli_run "$tag-interrupt" read "$prog" Static/Int --timeout 600) &
  sleep 4 # inside the connect's first call by now
  pid=$(pgrep -f '^Z:.*tagscope-cli\.exe read .*--timeout 600' | head -1)
  [ -n "$pid" ] || { echo "no client to interrupt"; return 1; }
  start=$(date +%s%N)
  kill -INT "$pid"
  while kill -0 "$pid" 2>/dev/null; do sleep 0.01; done
  ms=$((($(date +%s%N) - start) / 1000000))
  wait
  rc=$(cat "$cli_out/$tag-interrupt.rc")
  echo "read interrupted: ended $ms ms after Ctrl-C, exit $rc" >>"$cli_out/$tag.bounds"
  [ "$rc" = 130 ] && [ "$ms" -lt 3000 ]
}
# cli_recovers NAME PROGID: a watch whose server asks it to shut down (and, as a local server,
# ends and is started again by the next activation) says so, connects again and goes on. The
# server must have the shutdown connection point (DA 2.0 and later).
cli_recovers() {
  VELQOR_COMSIM_FAULTS=shutdown-after=1500 cli_run "$1" watch "$2" Dynamic/Int --rate 100 --seconds 8
  [ "$(cat "$cli_out/$1.rc")" = 0 ] &&
    grep -qF "subscription lost: the server shut down; subscribing again" "$cli_out/$1.err" &&
    grep -qF "subscription recovered" "$cli_out/$1.err" &&
    [ "$(grep -c Dynamic/Int "$cli_out/$1.out")" -ge 8 ]
}
# cli_watch_outlives_server PROGID: a watch that is not to subscribe again reports the end of its
# server's process and ends non-zero on its own.
cli_watch_outlives_server() {
  local name="watch-server-ended" pid rc
  (cli_run "$name" watch "$1" Dynamic/Int --rate 200 --no-resubscribe) &
  pid=$!
  timeout 60 bash -c "until grep -q Dynamic/Int '$cli_out/$name.out' 2>/dev/null; do sleep 0.2; done" ||
    { echo "no data change before the server was ended"; kill "$pid"; return 1; }
  kill -KILL $(cli_server_pids) || { echo "no local server process"; return 1; }
  timeout 90 bash -c "while kill -0 $pid 2>/dev/null; do sleep 0.2; done" ||
    { echo "the watch did not end"; return 1; }
  wait "$pid"
  rc=$(cat "$cli_out/$name.rc")
  cat "$cli_out/$name.err"
  [ "$rc" != 0 ] && [ "$rc" != 124 ] && [ "$rc" != 137 ] && grep -q '^error: ' "$cli_out/$name.err"
}

# cli_checks_on FORM SERVERKEY: every command against each simulated server, registered now in
# that form (local or inproc, server key LocalServer32 or InprocServer32).
cli_checks_on() {
  local kind="$1" key="$2" prog tag da tab=$'\t'
  # The server enumerator of the same module lists the servers (no required categories: an
  # empty array, never NULL).
  check "$kind servers" cli_expect "$kind-servers" 0 \
    "Velqor.SimDA30.1${tab}Velqor Simulated OPC DA 3.0 Server${tab}{40A1578C-1A37-462A-8444-791ABA675002}${tab}da3" \
    servers
  for prog in Velqor.SimDA10.1 Velqor.SimDA20.1 Velqor.SimDA20Flat.1 Velqor.SimDA30.1; do
    tag="$kind-$prog"
    check "$tag registered ($key)" cli_registered "$prog" "$key"
    case "$prog" in
      *SimDA10*) da=1 ;;
      *SimDA30*) da=3 ;;
      *) da=2 ;;
    esac
    check "$tag status" cli_expect "$tag-status" 0 "State:        running" status "$prog"
    check "$tag browse --flat" cli_expect "$tag-flat" 0 "${tab}Plant/Area2/Pump1/Mode" \
      browse --flat "$prog" --filter 'Plant/Area2/*'
    case "$prog" in
      *Flat*) ;;
      *) check "$tag browse" cli_expect "$tag-browse" 0 \
           "item${tab}Level${tab}Plant/Area1/Tank1/Level" browse "$prog" Plant/Area1/Tank1 ;;
    esac
    [ "$da" != 1 ] && check "$tag props" cli_expect "$tag-props" 0 \
      "  102${tab}High EU${tab}R8${tab}10" props "$prog" Plant/Area1/Tank1/Level --values
    check "$tag read (device)" cli_expect "$tag-read" 0 "${tab}good 0xC0${tab}" \
      read "$prog" Static/Int
    check "$tag read (cache)" cli_expect "$tag-read-cache" 0 "${tab}good 0xC0${tab}" \
      read --cache "$prog" Static/Int
    if [ "$kind" = local ]; then
      # One server process for every client: a value one client writes, the next one reads,
      # while a third keeps the process from ending in between.
      check "$tag another client holds the server" cli_hold "$tag-holder" "$prog"
      check "$tag write" cli_expect "$tag-write" 0 "Writable/Int${tab}ok" \
        write "$prog" Writable/Int=-12
      check "$tag read back" cli_expect "$tag-read-back" 0 "Writable/Int${tab}-12${tab}" \
        read "$prog" Writable/Int
      # A value beyond the ANSI code page, from the command line to the server and back.
      [ "$prog" = Velqor.SimDA20.1 ] &&
        check "$tag write héllo" cli_expect "$tag-write-utf8" 0 "Writable/String${tab}ok" \
          write "$prog" Writable/String=héllo &&
        check "$tag read back héllo" cli_expect "$tag-read-utf8" 0 \
          "Writable/String${tab}héllo${tab}" read "$prog" Writable/String
      wait
    else
      check "$tag write" cli_expect "$tag-write" 0 "Writable/Int${tab}ok" \
        write "$prog" Writable/Int=-12
    fi
    check "$tag unknown item: the server's error text" cli_expect "$tag-unknown" 3 \
      "No/Such/Item: The item is no longer available in the server address space." \
      read "$prog" No/Such/Item
    # DA 1.0 servers send data changes through IDataObject streams, the others through
    # connection points.
    check "$tag watch" cli_expect "$tag-watch" 0 "Dynamic/Int" \
      watch "$prog" Dynamic/Int --rate 100 --count 3
    check "$tag watch: three changes" cli_lines "$tag-watch" 3 "Dynamic/Int"
    case "$prog" in
      *Flat*) ;;
      *)
        [ "$kind" = local ] && cli_fresh_server
        check "$tag live data" cli_live "$tag-live" "$prog"
        [ -f "$cli_out/$tag-live.live" ] && echo "  $(cat "$cli_out/$tag-live.live")"
        ;;
    esac
  done
  # An ID the server does not have comes back in its error line exactly as it was typed.
  check "$kind item ID in Chinese" cli_expect "$kind-utf8-id" 3 \
    "名字/值: The item is no longer available in the server address space." \
    read Velqor.SimDA20.1 名字/值
  check "$kind read with --auth-level none" cli_expect "$kind-auth-none" 0 \
    "Static/Int${tab}" read Velqor.SimDA20.1 Static/Int --auth-level none
  if [ "$kind" = local ]; then
    check "non-ASCII text shown on a console" cli_console
  fi
  # Calls that the server does not answer, and a server that restarts (each with a server
  # process of its own where there is one, which takes the switches from its first client).
  [ "$kind" = local ] && cli_fresh_server
  check "$kind calls bounded by --timeout and Ctrl-C" cli_bounded "$kind-bounded" Velqor.SimDA20.1
  [ -f "$cli_out/$kind-bounded.bounds" ] && sed 's/^/  /' "$cli_out/$kind-bounded.bounds"
  [ "$kind" = local ] && cli_fresh_server
  check "$kind watch outlives a server restart" cli_recovers "$kind-recovers" Velqor.SimDA20.1
  [ "$kind" = local ] && cli_fresh_server
  return 0
}

check "build tagscope-cli.exe and the simulated servers" \
  cmake --build "$build" -j2 --target tagscope-cli comda-sim comda-sim-inproc
# The local server first (one process for every client), then the in-process form; each
# registration replaces the other's.
check "register the local server" register_form local
cli_checks_on local LocalServer32
check "the local server ended under a running watch" \
  cli_watch_outlives_server Velqor.SimDA20.1
check "register the in-process server" register_form inproc
cli_checks_on inproc InprocServer32
