#!/usr/bin/env bash
# A program whose standard output cannot take its answer must fail and say so, not exit 0 as if
# a script had got what it asked for: once with standard output on /dev/full (every write fails
# with ENOSPC), once with it closed (EBADF, and nothing the program opens may take its place).
#
#   unwritable_output.sh PROGRAM ARG...
#
# Exit status 0 when both runs exit with 1 and a message on standard error.
set -uo pipefail

err=$(mktemp)
trap 'rm -f "$err"' EXIT
failed=0
check() {
  local how=$1 status=$2
  shift 2
  if [[ $status -ne 1 ]] || ! grep -q "cannot write to standard output" "$err"; then
    echo "$* with standard output $how: exit status $status, expected 1 and a message;" \
      "standard error:" >&2
    cat "$err" >&2
    failed=1
  fi
}

timeout 60 "$@" >/dev/full 2>"$err"
check "on /dev/full" $? "$@"
timeout 60 "$@" >&- 2>"$err"
check "closed" $? "$@"
exit $failed
