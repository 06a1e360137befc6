#!/usr/bin/env bash
# Fetches gpsd for the CPU comparison (benchmarks/cpu-vs-gpsd): Debian's package and the
# libraries it needs that this machine lacks, unpacked into a cache folder, never installed.
#
#   benchmarks/fetch_gpsd.sh [--check] [CACHE]
#
# CACHE defaults to $QVR_GPSD_CACHE, else ~/.cache/qvr7130/gpsd; gpsd is then
# CACHE/root/usr/sbin/gpsd, its libraries under CACHE/root/usr/lib. --check only says (by its
# exit status) whether the cache is complete. Nothing is fetched when it is.
set -euo pipefail

check=false
if [[ ${1:-} == --check ]]; then
  check=true
  shift
fi
cache=${1:-${QVR_GPSD_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qvr7130/gpsd}}

if [[ -x $cache/root/usr/sbin/gpsd && -s $cache/packages ]]; then
  exit 0
fi
if $check; then
  exit 1
fi

for tool in apt-cache apt-get dpkg-deb dpkg-query; do
  if ! command -v "$tool" >/dev/null; then
    echo "fetch_gpsd: $tool is missing" >&2
    exit 1
  fi
done

# gpsd and every library it depends on that is not installed here (its own libgps among them);
# the C library and the rest of the system are this machine's.
packages() {
  echo gpsd
  apt-cache depends gpsd 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^lib/ && $2 != "libc6" { print $2 }' |
    while read -r library; do
      if ! dpkg-query -W -f='${Status}' "$library" 2>/dev/null | grep -q 'install ok installed'; then
        echo "$library"
      fi
    done
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# apt-get drops its privileges to _apt for downloads, which needs a folder _apt may write.
chmod 755 "$work"
mkdir "$work/deb"
chmod 777 "$work/deb"

download() {
  mapfile -t names < <(packages)
  (cd "$work/deb" && apt-get download -q "${names[@]}" >/dev/null 2>&1)
}
if ! download; then
  # The package lists may be missing or out of date.
  if [[ $(id -u) -eq 0 ]]; then
    apt-get update -q >/dev/null
    download
  else
    echo "fetch_gpsd: cannot download gpsd; run 'apt-get update' as root and try again" >&2
    exit 1
  fi
fi

rm -rf "$cache/root"
mkdir -p "$cache/root"
for deb in "$work"/deb/*.deb; do
  dpkg-deb -x "$deb" "$cache/root"
done
printf '%s\n' "${names[@]}" >"$cache/packages"
