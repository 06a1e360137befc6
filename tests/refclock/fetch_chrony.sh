#!/usr/bin/env bash
# Fetches the chronyd and chronyc that the refclock test runs: Debian's chrony package,
# unpacked into a cache folder, never installed (an installed chronyd would start and take the
# machine's clock over). Keeps the two programs; the libraries they load are ordinary ones that
# tools/setup installs.
#
#   tests/refclock/fetch_chrony.sh [--check] [CACHE]
#
# CACHE defaults to $QVR_CHRONY_CACHE, else ~/.cache/qvr7130/chrony. --check only says (by its
# exit status) whether the cache is complete. Nothing is fetched when it is.
set -euo pipefail

check=false
if [[ ${1:-} == --check ]]; then
  check=true
  shift
fi
cache=${1:-${QVR_CHRONY_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qvr7130/chrony}}
files=(chronyd chronyc)

complete() {
  local f
  for f in "${files[@]}"; do
    [[ -x $cache/$f ]] || return 1
  done
}

if complete; then
  exit 0
fi
if $check; then
  exit 1
fi

for tool in apt-get dpkg-deb tar; do
  if ! command -v "$tool" >/dev/null; then
    echo "fetch_chrony: $tool is missing" >&2
    exit 1
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# apt-get drops its privileges to _apt for downloads, which needs a folder _apt may write.
chmod 755 "$work"
mkdir "$work/deb"
chmod 777 "$work/deb"

if ! (cd "$work/deb" && apt-get download -q chrony >/dev/null 2>&1); then
  # The package lists may be missing or out of date (a security update replaced the version).
  if [[ $(id -u) -eq 0 ]]; then
    apt-get update -q >/dev/null
    (cd "$work/deb" && apt-get download -q chrony >/dev/null)
  else
    echo "fetch_chrony: cannot download chrony; run 'apt-get update' as root and try again" >&2
    exit 1
  fi
fi

mkdir "$work/root"
dpkg-deb --fsys-tarfile "$work"/deb/*.deb | tar -x -C "$work/root" ./usr/sbin/chronyd ./usr/bin/chronyc

mkdir -p "$cache"
cp "$work/root/usr/sbin/chronyd" "$cache/chronyd.new"
cp "$work/root/usr/bin/chronyc" "$cache/chronyc.new"
for f in "${files[@]}"; do
  mv "$cache/$f.new" "$cache/$f"
done
basename "$work"/deb/*.deb .deb >"$cache/package"
echo "fetch_chrony: $(cat "$cache/package") unpacked into $cache"
