#!/bin/sh
# Runs the DA 1.0 stream fuzz target of a build for a fixed, small number of runs over its seeds.
# Usage: fuzz/comstream/smoke.sh <build dir> [runs]   (the target must be built already)
set -eu
build=${1:?usage: smoke.sh <build dir> [runs]}
runs=${2:-2000}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin="$build/fuzz/comstream/fuzz_data_stream"
if [ ! -x "$bin" ]; then
    echo "missing $bin" >&2
    exit 1
fi
echo "== fuzz_data_stream: $runs runs"
# New inputs go to the scratch folder (the first one); the seeds stay untouched.
if ! "$bin" -runs="$runs" -max_len=4096 -timeout=10 "$work" "$here/corpus/data_stream" \
    > "$work.log" 2>&1; then
    tail -n 40 "$work.log" >&2
    rm -f "$work.log"
    exit 1
fi
tail -n 1 "$work.log"
rm -f "$work.log"
