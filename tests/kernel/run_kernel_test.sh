#!/usr/bin/env bash
# Boots Debian's cloud kernel under qemu with an initramfs made here (busybox, the HID
# modules, the UHID responder, the kernel test, the programs it runs and the libraries they
# link) and reads the test's verdict from the serial console.
#
#   run_kernel_test.sh --responder FILE --test FILE --ctl FILE --exporter FILE --work DIR
#                      [--cache DIR]
#
# Exit status: the kernel test's, or 77 when qemu, busybox or the kernel cannot be had here.
# With CI set, that is a failure instead: CI's set-up provides all of them.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=
while (($# > 0)); do
  case $1 in
    --responder) responder=$2 ;;
    --test) test_program=$2 ;;
    --ctl) ctl_program=$2 ;;
    --exporter) exporter_program=$2 ;;
    --work) work=$2 ;;
    --cache) cache=$2 ;;
    *)
      echo "run_kernel_test: unknown argument '$1'" >&2
      exit 2
      ;;
  esac
  shift 2
done

# The guest's whole life, boot included; about a fifth of it is used on a quiet machine.
guest_timeout=180
skip_status=77

skip() {
  if [[ -n ${CI:-} ]]; then
    echo "kernel test: cannot run: $1 (CI must have it: see tools/setup)" >&2
    exit 1
  fi
  echo "kernel test: SKIPPED: $1" >&2
  exit "$skip_status"
}

start=$(date +%s.%N)
seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }

qemu=$(command -v qemu-system-x86_64) || skip "qemu-system-x86_64 is not installed (package qemu-system-x86)"
busybox=/bin/busybox
applets=$("$busybox" --list 2>/dev/null || true)
if ! grep -qx insmod <<<"$applets" || ldd "$busybox" >/dev/null 2>&1; then
  skip "no static busybox at $busybox (package busybox-static)"
fi
command -v cpio >/dev/null || skip "cpio is not installed (package cpio)"
fetch=("$here/fetch_kernel.sh")
if [[ -n $cache ]]; then
  fetch+=("$cache")
fi
"${fetch[@]}" >&2 || skip "Debian's cloud kernel could not be fetched"
kernel_dir=${cache:-${QVR_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qvr7130/guest-kernel}}

# The initramfs: busybox as everything, the modules, our three programs and the libraries that
# they load (Debian ships no static libudev, which hidapi needs).
root=$work/root
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,lib/modules}
cp "$busybox" "$root/bin/busybox"
cp "$kernel_dir"/{hid,hid-generic,uhid}.ko "$root/lib/modules/"
strip_copy() { objcopy --strip-debug "$1" "$2" 2>/dev/null || cp "$1" "$2"; }
strip_copy "$responder" "$root/bin/qvr-uhid-responder"
strip_copy "$test_program" "$root/bin/qvr-kernel-test"
strip_copy "$ctl_program" "$root/bin/qvr7130ctl"
strip_copy "$exporter_program" "$root/bin/qvr7130_exporter"
for library in $(ldd "$responder" "$test_program" "$ctl_program" "$exporter_program" | awk '/=> \// { print $3 } /^\t\// { print $1 }' | sort -u); do
  mkdir -p "$root$(dirname "$library")"
  strip_copy "$library" "$root$library"
done

cat >"$root/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
# The exporter serves on the loopback interface, which nothing else brings up here.
ip link set lo up
# hid-generic binds the device, without which no hidraw node appears.
for module in hid hid-generic uhid; do
  insmod /lib/modules/$module.ko || echo "QVR-KERNEL-TEST-MODULE-FAILED $module"
done
# The firmware leaves terminal escapes on the console's current line: start a fresh one.
echo
echo "QVR-KERNEL-TEST-BEGIN $(cut -d ' ' -f 1 /proc/uptime)"
/bin/qvr-kernel-test /bin/qvr-uhid-responder /bin/qvr7130ctl /bin/qvr7130_exporter --gtest_color=no
status=$?
echo "QVR-KERNEL-TEST-END $status $(cut -d ' ' -f 1 /proc/uptime)"
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"
prepared=$(seconds_since "$start")

# KVM cannot boot this kernel on these machines, and asking for kvm with a fallback to tcg
# leaves the guest hanging rather than falling back: always emulate.
console=$work/console.log
boot_start=$(date +%s.%N)
timeout --kill-after=10 "$guest_timeout" "$qemu" -accel tcg -m 512 -smp 1 -nographic \
  -no-reboot -kernel "$kernel_dir/vmlinuz" -initrd "$work/initramfs.gz" \
  -append "console=ttyS0 panic=-1 quiet" </dev/null >"$console" 2>&1 || true
guest=$(seconds_since "$boot_start")

tr -d '\r' <"$console" >"$console.txt"
sed -n '/^QVR-KERNEL-TEST-BEGIN/,/^QVR-KERNEL-TEST-END/p' "$console.txt"
grep '^QVR-KERNEL-TEST-MODULE-FAILED' "$console.txt" >&2 || true
end_line=$(grep '^QVR-KERNEL-TEST-END ' "$console.txt" | tail -n 1 || true)
begin_line=$(grep '^QVR-KERNEL-TEST-BEGIN ' "$console.txt" | tail -n 1 || true)
if [[ -z $end_line || -z $begin_line ]]; then
  echo "kernel test: the guest gave no verdict (it may have hung: qemu is stopped after" \
    "${guest_timeout}s); the end of its console:" >&2
  tail -n 60 "$console.txt" >&2
  exit 1
fi
read -r _ status test_end <<<"$end_line"
read -r _ test_begin <<<"$begin_line"
echo "kernel test timing: initramfs ${prepared}s, qemu ${guest}s" \
  "(kernel boot to test $(awk -v b="$test_begin" 'BEGIN { printf "%.1f", b }')s," \
  "test $(awk -v a="$test_begin" -v b="$test_end" 'BEGIN { printf "%.1f", b - a }')s)," \
  "total $(seconds_since "$start")s"
exit "$status"
