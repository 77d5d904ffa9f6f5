#!/bin/sh
# Runs the HTTP fuzz target of a build for a fixed, small number of runs over its seed corpus.
# Usage: fuzz/http/smoke.sh <build dir> [runs]   (the target must be built already)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../smoke-lib.sh"
fuzz_run http http_response 65536 "$here/corpus/http_response"
exit $status
