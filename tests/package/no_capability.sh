#!/bin/sh
# Fails when any FILE carries a file capability. The window must never hold a privilege: a GUI
# toolkit loads plugins and styles named by its user's environment into the process, so any
# local user could run their own code with that privilege. It asks systemd's time service
# instead.
#
#   tests/package/no_capability.sh FILE...
set -eu
if [ $# -eq 0 ]; then
  echo "usage: $0 FILE..." >&2
  exit 2
fi
PATH=$PATH:/usr/sbin:/sbin
if ! command -v getcap >/dev/null 2>&1; then
  echo "getcap (libcap2-bin) is missing: cannot tell" >&2
  exit 2
fi
status=0
for file in "$@"; do
  if [ ! -f "$file" ]; then
    echo "$file: no such file" >&2
    status=1
    continue
  fi
  capabilities=$(getcap "$file")
  if [ -n "$capabilities" ]; then
    echo "$file carries a file capability, which it must never have: $capabilities" >&2
    status=1
  fi
done
exit $status
