#!/bin/sh
# Runs the DA 1.0 stream fuzz target of a build for a fixed, small number of runs over its seeds.
# Usage: fuzz/comstream/smoke.sh <build dir> [runs]   (the target must be built already)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../smoke-lib.sh"
fuzz_run comstream data_stream 4096 "$here/corpus/data_stream"
exit $status
