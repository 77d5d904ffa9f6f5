#!/usr/bin/env bash
# run.sh: set up, build and start Tagscope on the built-in simulation service.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
dir=${TAGSCOPE_BUILD_DIR:-build}
scripts/build.sh "$dir"
if [ ! -x "$dir/app/tagscope" ]; then
  echo "Nothing to start yet: the desktop program is not built." >&2
  exit 1
fi

# The simulation service on a free loopback port, for as long as Tagscope runs; its address
# goes into the server box. Without it the server box starts empty.
export TAGSCOPE_SERVER=""
sim_pid=""
sim_log=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  if [ -n "$sim_log" ]; then rm -f "$sim_log"; fi
}
trap cleanup EXIT
if [ -x "$dir/sim/xmlda/xmlda-sim" ]; then
  sim_log=$(mktemp)
  "$dir/sim/xmlda/xmlda-sim" --bind 127.0.0.1 --port 0 >"$sim_log" 2>&1 &
  sim_pid=$!
  url=""
  for _ in $(seq 1 100); do
    url=$(sed -n 's/^xmlda-sim listening:.* url \(http[^ ]*\).*$/\1/p' "$sim_log" | head -n 1)
    [ -n "$url" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -n "$url" ]; then
    export TAGSCOPE_SERVER="$url"
  else
    echo "xmlda-sim did not start; Tagscope starts without it." >&2
    cat "$sim_log" >&2 || true
  fi
fi
"$dir/app/tagscope" "$@"
