#!/usr/bin/env bash
# Runs a checker on a file of the package, or skips when the checker is not installed.
#
#   run_checker.sh DEBIAN_PACKAGE COMMAND ARGS...
#
# Exit status that of the checker (for man-db's man, 1 when groff warns), or 77 when it is missing; with CI set, a missing checker
# is a failure instead: CI's set-up installs it.
set -euo pipefail

package=$1
shift
if ! command -v "$1" >/dev/null 2>&1; then
  if [[ -n ${CI:-} ]]; then
    echo "package tests: cannot run: $1 is not installed (CI must have $package: see tools/setup)" >&2
    exit 1
  fi
  echo "package tests: SKIPPED: $1 is not installed (package $package)" >&2
  exit 77
fi
if [[ $package == man-db ]]; then
  # groff only warns, on standard error, with exit status 0; the page itself is not wanted.
  warnings=$("$@" 2>&1 >/dev/null)
  [[ -z $warnings ]] || {
    echo "$warnings" >&2
    exit 1
  }
  exit 0
fi
exec "$@"
