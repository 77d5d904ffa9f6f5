#!/bin/sh
# Runs the HTTP fuzz target of a build for a fixed, small number of runs over its seed corpus.
# Usage: fuzz/http/smoke.sh <build dir> [runs]   (the target must be built already)
set -eu
build=${1:?usage: smoke.sh <build dir> [runs]}
runs=${2:-2000}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for name in http_response; do
    bin="$build/fuzz/http/fuzz_$name"
    if [ ! -x "$bin" ]; then
        echo "missing $bin" >&2
        status=1
        continue
    fi
    mkdir -p "$work/$name"
    echo "== fuzz_$name: $runs runs"
    # New inputs go to the scratch folder (the first one); the seeds stay untouched.
    if ! "$bin" -runs="$runs" -max_len=65536 -timeout=10 "$work/$name" "$here/corpus/$name" \
        > "$work/$name.log" 2>&1; then
        tail -n 40 "$work/$name.log" >&2
        status=1
    else
        tail -n 1 "$work/$name.log"
    fi
done
exit $status
