#!/usr/bin/env bash
# `status --watch` whose reader has gone must end even where SIGPIPE is ignored (a service
# manager, a shell with `trap '' PIPE`): the write fails with EPIPE instead of killing it, and
# the watch used to go on writing into the void forever.
#
#   watch_reader_gone.sh QVR7130CTL
#
# Exit status 0 when the program ends on its own with 1 and says why.
set -uo pipefail

ctl=$1
err=$(mktemp)
trap 'rm -f "$err"' EXIT
# Ignored here, ignored in the program: an ignored signal stays ignored across exec.
trap '' PIPE
# A line every 50 ms after the first; `timeout` ends a watch that would not (status 124).
timeout 30 "$ctl" --simulate status --watch 0.05 2>"$err" | head -n 1 >/dev/null
status=${PIPESTATUS[0]}
if [[ $status -ne 1 ]] || ! grep -q "cannot write to standard output: Broken pipe" "$err"; then
  echo "the watch ended with status $status (124: it did not end), expected 1 and a message;" \
    "standard error:" >&2
  cat "$err" >&2
  exit 1
fi
