#!/usr/bin/env bash
# run.sh: set up, build and start Tagscope on the built-in simulation service.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
scripts/build.sh build
if [ -x build/app/tagscope ]; then
  exec build/app/tagscope "$@"
elif [ -x build/sim/xmlda/xmlda-sim ]; then
  exec build/sim/xmlda/xmlda-sim "$@"
else
  echo "Nothing to start yet: the desktop program is not built." >&2
  exit 1
fi
