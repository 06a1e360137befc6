#!/bin/sh
# no_capability.sh must fail on a file that has a capability and pass on its copy without one.
# Giving one needs root and a file system with extended attributes: skipped (77) without them.
set -eu
check=$1
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
PATH=$PATH:/usr/sbin:/sbin
cp "$0" "$folder/plain"
cp "$folder/plain" "$folder/privileged"
"$check" "$folder/plain"
setcap cap_sys_time+ep "$folder/privileged" 2>/dev/null || exit 77
if "$check" "$folder/privileged" 2>/dev/null; then
  echo "no_capability.sh passed a file with cap_sys_time" >&2
  exit 1
fi
