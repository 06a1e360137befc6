#!/usr/bin/env bash
# Checks the exporter's systemd unit with systemd-analyze, which needs no running systemd.
#
#   check_service.sh verify SYSTEMD_ANALYZE UNIT
#       systemd loads the unit without a word (it only warns of unknown or malformed settings,
#       so any output fails). It insists that ExecStart= exists, so a copy names a stand-in.
#   check_service.sh security SYSTEMD_ANALYZE UNIT
#       the overall exposure is in the OK band or better (under 5.0) and is printed.
#   check_service.sh group SYSTEMD_SYSUSERS UNIT SYSUSERS UDEV_RULES
#       the group the unit joins is the one the sysusers file makes and the udev rule gives
#       the hidraw node read and write access.
#
# Exit status 0 when the check holds, 1 when not, 77 when the tool is missing (package
# systemd). With CI set, a missing tool is a failure instead: CI's set-up installs it.
set -euo pipefail

mode=$1
tool=$2
unit=$3
if [[ ! -x $tool ]]; then
  if [[ -n ${CI:-} ]]; then
    echo "service tests: cannot run: $(basename "$tool") is not installed (CI must have it: see tools/setup)" >&2
    exit 1
  fi
  echo "service tests: SKIPPED: $(basename "$tool") is not installed (package systemd)" >&2
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case $mode in
  verify)
    printf '#!/bin/sh\n' >"$work/qvr7130_exporter"
    chmod +x "$work/qvr7130_exporter"
    mkdir "$work/unit"
    copy=$work/unit/$(basename "$unit")
    sed "s|^ExecStart=/usr/bin/qvr7130_exporter|ExecStart=$work/qvr7130_exporter|" "$unit" >"$copy"
    # Only this unit: a broken unit elsewhere on the machine is not ours to fail on.
    if ! out=$("$tool" verify --recursive-errors=no "$copy" 2>&1) || [[ -n $out ]]; then
      echo "systemd-analyze verify:" >&2
      echo "${out:-(no output, but a failure)}" >&2
      exit 1
    fi
    ;;
  security)
    # 50 and more is MEDIUM, the first band worse than OK; --threshold fails above its value.
    status=0
    out=$("$tool" security --offline=yes --threshold=49 "$unit" 2>&1) || status=$?
    overall=$(grep -o 'Overall exposure level.*' <<<"$out" || true)
    echo "${overall:-no overall exposure level in the output}"
    if ((status != 0)) || ! grep -Eq ': [0-9.]+ (OK|SAFE|PERFECT)' <<<"$overall"; then
      echo "$out" >&2
      exit 1
    fi
    ;;
  group)
    sysusers=$4
    rules=$5
    group=$(sed -n 's/^SupplementaryGroups=//p' "$unit")
    mkdir "$work/etc"
    "$tool" --root="$work" "$sysusers" 2>&1
    if ! grep -q "^$group:" "$work/etc/group" 2>/dev/null; then
      echo "$(basename "$sysusers") does not make the group '$group' that the unit joins" >&2
      exit 1
    fi
    if ! grep -Eq "SUBSYSTEM==\"hidraw\".*GROUP=\"$group\".*MODE=\"0660\"" "$rules"; then
      echo "$(basename "$rules") does not give the hidraw node to group '$group' with mode 0660" >&2
      exit 1
    fi
    ;;
  *)
    echo "check_service: unknown mode '$mode'" >&2
    exit 2
    ;;
esac
