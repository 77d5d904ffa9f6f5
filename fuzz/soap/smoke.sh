#!/bin/sh
# Runs every SOAP fuzz target of a build for a fixed, small number of runs over its seed corpus.
# Usage: fuzz/soap/smoke.sh <build dir> [runs]   (the targets must be built already)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../smoke-lib.sh"
captures="$here/../../../shared/testdata/xmlda-captures/responses"
for name in xsd_datetime xsd_duration xsd_number base64 soap_reply; do
    extra=""
    if [ "$name" = soap_reply ] && [ -d "$captures" ]; then extra="$captures"; fi
    fuzz_run soap "$name" 65536 "$here/corpus/$name" $extra
done
# The differential target starts from its own findings and the replies the reply fuzzer starts
# from.
extra=""
if [ -d "$captures" ]; then extra="$captures"; fi
fuzz_run soap stream_reply 65536 "$here/corpus/stream_reply" "$here/corpus/soap_reply" $extra
fuzz_run soap xml_guard 65536 "$here/corpus/xml_guard"
exit $status
