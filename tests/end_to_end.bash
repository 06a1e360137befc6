# What the end-to-end scripts share, sourced by them: a temporary folder for their files and
# logs, the processes they start (ended, and the folder removed, when the script exits), a
# failure that shows the logs, and bounded waits.

work=$(mktemp -d)
pids=()
finish() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap finish EXIT

# Says what failed, then the end of every log in the folder and whatever the script's own
# `describe`, when it has one, tells of the state things were left in; exit status 1.
fail() {
  echo "FAIL: $*" >&2
  local log
  for log in "$work"/*.log; do
    echo "--- $log" >&2
    tail -n 20 "$log" >&2
  done
  if declare -F describe >/dev/null; then
    describe >&2
  fi
  exit 1
}

# Waits up to $1 seconds for the command after it to succeed.
within() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}
