#!/bin/sh
# Runs every SOAP fuzz target of a build for a fixed, small number of runs over its seed corpus.
# Usage: fuzz/soap/smoke.sh <build dir> [runs]   (the targets must be built already)
set -eu
build=${1:?usage: smoke.sh <build dir> [runs]}
runs=${2:-2000}
here=$(cd "$(dirname "$0")" && pwd)
captures="$here/../../../shared/testdata/xmlda-captures/responses"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for name in xsd_datetime xsd_duration xsd_number base64 soap_reply stream_reply xml_guard; do
    bin="$build/fuzz/soap/fuzz_$name"
    if [ ! -x "$bin" ]; then
        echo "missing $bin" >&2
        status=1
        continue
    fi
    mkdir -p "$work/$name"
    seeds="$here/corpus/$name"
    # The differential target starts from the replies the reply fuzzer starts from.
    if [ "$name" = stream_reply ]; then seeds="$here/corpus/soap_reply"; fi
    extra=""
    if [ "$name" = soap_reply ] || [ "$name" = stream_reply ]; then
        if [ -d "$captures" ]; then extra="$captures"; fi
    fi
    echo "== fuzz_$name: $runs runs"
    # New inputs go to the scratch folder (the first one); the seeds stay untouched.
    if ! "$bin" -runs="$runs" -max_len=65536 -timeout=10 "$work/$name" "$seeds" $extra \
        > "$work/$name.log" 2>&1; then
        tail -n 40 "$work/$name.log" >&2
        status=1
    else
        tail -n 1 "$work/$name.log"
    fi
done
exit $status
