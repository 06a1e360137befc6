#!/usr/bin/env bash
# Fetches the kernel that the kernel test boots: Debian's cloud kernel (the package that
# linux-image-cloud-amd64 depends on), unpacked into a cache folder, never installed. Keeps
# the kernel image and the three modules the test loads: hid.ko, hid-generic.ko, uhid.ko.
#
#   tests/kernel/fetch_kernel.sh [--check] [CACHE]
#
# CACHE defaults to $QVR_KERNEL_CACHE, else ~/.cache/qvr7130/guest-kernel. --check only says
# (by its exit status) whether the cache is complete. Nothing is fetched when it is.
set -euo pipefail

check=false
if [[ ${1:-} == --check ]]; then
  check=true
  shift
fi
cache=${1:-${QVR_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qvr7130/guest-kernel}}
files=(vmlinuz hid.ko hid-generic.ko uhid.ko)

complete() {
  local f
  for f in "${files[@]}"; do
    [[ -s $cache/$f ]] || return 1
  done
}

if complete; then
  exit 0
fi
if $check; then
  exit 1
fi

for tool in apt-cache apt-get dpkg-deb tar; do
  if ! command -v "$tool" >/dev/null; then
    echo "fetch_kernel: $tool is missing" >&2
    exit 1
  fi
done

package() {
  apt-cache depends linux-image-cloud-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }'
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# apt-get drops its privileges to _apt for downloads, which needs a folder _apt may write.
chmod 755 "$work"
mkdir "$work/deb"
chmod 777 "$work/deb"

name=$(package)
if [[ -z $name ]] || ! (cd "$work/deb" && apt-get download -q "$name" >/dev/null 2>&1); then
  # The package lists may be missing or out of date (a new kernel replaced the old one).
  if [[ $(id -u) -eq 0 ]]; then
    apt-get update -q >/dev/null
    name=$(package)
    (cd "$work/deb" && apt-get download -q "$name" >/dev/null)
  else
    echo "fetch_kernel: cannot download linux-image-cloud-amd64's kernel;" \
      "run 'apt-get update' as root and try again" >&2
    exit 1
  fi
fi

mkdir "$work/root"
dpkg-deb --fsys-tarfile "$work"/deb/*.deb |
  tar -x -C "$work/root" --wildcards './boot/vmlinuz-*' '*/kernel/drivers/hid/hid.ko' \
    '*/kernel/drivers/hid/hid-generic.ko' '*/kernel/drivers/hid/uhid.ko'

mkdir -p "$cache"
cp "$work"/root/boot/vmlinuz-* "$cache/vmlinuz.new"
for module in hid hid-generic uhid; do
  cp "$(find "$work/root" -name "$module.ko" | head -n 1)" "$cache/$module.ko.new"
done
for f in "${files[@]}"; do
  mv "$cache/$f.new" "$cache/$f"
done
echo "$name" >"$cache/package"
echo "fetch_kernel: $name unpacked into $cache"
