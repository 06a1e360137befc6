#!/usr/bin/env bash
# The three programs' command lines in one table: the same GNU forms, the same refusals in the
# same two lines, the same exit statuses. Arguments: the programs to run.
set -euo pipefail

declare -A path
for program in "$@"; do
  path[$(basename "$program")]=$program
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# PROGRAM (* for each one) | exit status | what its standard output (status 0) or standard error
# (otherwise) matches, an extended regular expression in which %P is the program and \n a line
# break | the arguments, split at spaces, %T the scratch folder.
table='
*|0|^Usage: %P |-h
*|0|^Usage: %P |--help
*|0|^%P [0-9]|--version
*|0|^%P [0-9]|--version --
*|2|^%P: unknown option .--frobnicate.\nTry .%P --help. for more information.\n$|--frobnicate
*|2|^%P: option .--version. takes no value\nTry .%P --help. for more information.\n$|--version=2
qvr7130|2|^%P: unexpected argument .x.\nTry .%P --help. for more information.\n$|--simulate -- x
qvr7130|2|^%P: option .--screenshot. needs a value\nTry .%P --help.|--screenshot
qvr7130|2|^%P: unexpected argument .3.\n|--simulate 3
qvr7130|0|^$|--simulate=0 --ticks=0 --screenshot=%T/equals.png
qvr7130|0|^$|--simulate=0 --ticks 0 --screenshot %T/space.png
qvr7130|2|^%P: .x. is not a tick count|--screenshot=%T/x.png --ticks x
qvr7130ctl|0|^Usage: %P status |status -h
qvr7130ctl|2|^%P: unexpected argument .x.\nTry .%P status --help. for more information.\n$|status -- x
qvr7130ctl|2|^%P: option .--timeout. needs a value\nTry .%P status --help. for more|status --timeout
qvr7130ctl|2|^%P: option .--simulate. does not go with .list.\nTry .%P list --help.|list --simulate
qvr7130ctl|2|^%P: unknown command .x.\nTry .%P --help.|x
qvr7130ctl|0|Serial number +QVR000001|--simulate status --timeout=0
qvr7130ctl|0|Serial number +QVR000001|--timeout 0 status --simulate
qvr7130ctl|3|^%P: 2 devices are attached|--simulate=2 status
qvr7130ctl|0|^sent out1=5 |--simulate set -- out1=5
qvr7130_exporter|2|^%P: unexpected argument .x.\nTry .%P --help. for more information.\n$|-- x
qvr7130_exporter|2|^%P: option .--log.level. needs a value\nTry .%P --help.|--log.level
qvr7130_exporter|2|^%P: .--log.level trace.: expected debug|--log.level=trace
qvr7130_exporter|2|^%P: .--log.level trace.: expected debug|--log.level trace
qvr7130_exporter|2|^%P: .--simulate=100.: the number of devices must be 0 to 99|--simulate=100
'

failures=0
while IFS='|' read -r who status expected words; do
  [[ -n $who ]] || continue
  for program in "${!path[@]}"; do
    [[ $who == "*" || $who == "$program" ]] || continue
    printf -v pattern '%b' "${expected//%P/$program}"
    read -ra args <<<"${words//%T/$scratch}"
    code=0
    # Captured through files so that a trailing line break is kept.
    timeout 30 "${path[$program]}" "${args[@]}" >"$scratch/out" 2>"$scratch/err" || code=$?
    stream=$scratch/out
    ((status == 0)) || stream=$scratch/err
    answer=$(cat "$stream"; printf .)
    answer=${answer%.}
    if [[ $code != "$status" || ! $answer =~ $pattern ]]; then
      echo "FAIL: $program ${args[*]}: exit $code (expected $status)" >&2
      sed 's/^/  | /' "$scratch/out" "$scratch/err" >&2
      failures=$((failures + 1))
    fi
  done
done <<<"$table"
((failures == 0))
