#!/usr/bin/env bash
# A newcomer's first command, as the README gives it: `tools/setup run` on a fresh clone of
# this commit, on a machine without a display. It must build only the window and the command
# line, then show a picture of the window with a fix and a simulated status instead of failing.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

git clone -q "$source_dir" "$work/clone"
cd "$work/clone"
start=$(date +%s)
if ! env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 1200 tools/setup run \
  >"$work/out" 2>&1; then
  echo "tools/setup run failed:" >&2
  tail -40 "$work/out" >&2
  exit 1
fi
seconds=$(($(date +%s) - start))
echo "tools/setup run on a fresh clone without a display: ${seconds} s on $(nproc) cores"

fail() {
  echo "$1" >&2
  tail -40 "$work/out" >&2
  exit 1
}
grep -q 'There is no display here' "$work/out" || fail "it does not say why no window opened"
picture=$(grep -A1 'after a minute:$' "$work/out" | tail -1 | sed 's/^ *//')
[[ -f $picture ]] || fail "no picture at '$picture'"
"$source_dir/tests/firstuse/picture_shows_a_fix.py" "$picture" || fail "the picture shows no fix"
grep -q '^Status  *GPS signal OK$' "$work/out" || fail "the status shows no fix"
# Only what it runs was built: no test, benchmark or exporter.
built=$(find build -type f -perm -u+x -newer CMakeLists.txt ! -path '*/CMakeFiles/*' \
  ! -name '*.so*' | sed 's|.*/||' | sort | tr '\n' ' ')
[[ $built == "qvr7130 qvr7130ctl " ]] || fail "it built more than the two programs: $built"
