#!/usr/bin/env bash
# Runs promtool, as CMake found it, with the given arguments.
#
#   run_promtool.sh PROMTOOL ARGUMENT...
#
# Exit status: promtool's, or 77 when it was not found (package prometheus). With CI set, that
# is a failure instead: CI's set-up installs it.
set -euo pipefail

promtool=$1
shift
if [[ ! -x $promtool ]]; then
  if [[ -n ${CI:-} ]]; then
    echo "alert tests: cannot run: promtool is not installed (CI must have it: see tools/setup)" >&2
    exit 1
  fi
  echo "alert tests: SKIPPED: promtool is not installed (package prometheus)" >&2
  exit 77
fi
exec "$promtool" "$@"
