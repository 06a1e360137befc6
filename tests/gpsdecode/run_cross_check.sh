#!/usr/bin/env bash
# Fetches gpsdecode into the cache (or finds it there) and runs the cross-check. Exit status 77
# when it cannot be had here; with CI set that is a failure: CI's set-up fetches it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
python=$1
shift
if ! gpsdecode=$("$here/../../tools/fetch-package" gpsd-clients usr/bin/gpsdecode 2>/dev/null); then
  if [[ -n ${CI:-} ]]; then
    echo "gpsdecode cross-check: cannot fetch gpsdecode (CI must have it: see tools/setup)" >&2
    exit 1
  fi
  exit 77
fi
exec "$python" "$1" "$2" "$gpsdecode"
