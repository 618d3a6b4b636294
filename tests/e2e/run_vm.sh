#!/usr/bin/env bash
# Boots Debian's kernel under qemu (plain emulation) with an initramfs holding
# busybox, the hid, uhid and hid-generic modules and the two test programs,
# then reads the results from the serial console.
# Usage: run_vm.sh UHID_SERVER E2E_DRIVER WORK_DIR CACHE_DIR
# Exit 0 passed, 1 failed, 77 skipped (no qemu, or no kernel package to be had).
set -uo pipefail
server=$1 driver=$2 work=$3 cache=$4

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

command -v qemu-system-x86_64 >/dev/null ||
    skip "qemu-system-x86_64 not found (Debian package qemu-system-x86; scripts/install-deps.sh installs it)"
for tool in cpio gzip dpkg-deb apt-get apt-cache; do
    command -v "$tool" >/dev/null || skip "$tool not found"
done
mkdir -p "$cache" "$work"

# Downloads a Debian package into the cache and unpacks it (no install).
# The unpacked tree is kept, so later runs need no network.
unpack() {
    local package=$1 into=$2
    [[ -e "$into/.unpacked" ]] && return 0
    rm -rf "$into" "$cache/$package"_*.deb
    if ! (cd "$cache" && apt-get download -q "$package" >/dev/null 2>&1); then
        # A fresh machine may lack package lists.
        [[ $(id -u) == 0 ]] && apt-get update -qq >/dev/null 2>&1
        (cd "$cache" && apt-get download -q "$package" >/dev/null 2>&1) || return 1
    fi
    dpkg-deb -x "$cache/$package"_*.deb "$into" && touch "$into/.unpacked"
}

kernel_dir="$cache/kernel"
if [[ ! -e "$kernel_dir/.unpacked" ]]; then
    kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}')
    if [[ -z "$kernel_package" ]]; then
        [[ $(id -u) == 0 ]] && apt-get update -qq >/dev/null 2>&1
        kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}')
    fi
    [[ -n "$kernel_package" ]] || skip "Debian's linux-image-amd64 is not known to apt here"
    unpack "$kernel_package" "$kernel_dir" || skip "cannot download $kernel_package"
fi
vmlinuz=$(ls "$kernel_dir"/boot/vmlinuz-* 2>/dev/null | head -n1)
[[ -n "$vmlinuz" ]] || fail "no kernel image in $kernel_dir"

busybox=/bin/busybox
if [[ ! -x $busybox || $(ldd "$busybox" 2>&1) != *"not a dynamic"* ]]; then
    unpack busybox-static "$cache/busybox" || skip "no static busybox (Debian package busybox-static)"
    busybox="$cache/busybox/bin/busybox"
fi

# ---- initramfs ----------------------------------------------------------------
root="$work/root"
rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,tmp,lib/modules}
cp "$busybox" "$root/bin/busybox" && cp "$server" "$root/bin/corvane_uhid_server" &&
    cp "$driver" "$root/bin/corvane_e2e_driver" || fail "cannot copy the programs into the initramfs"
for module in hid uhid hid-generic; do
    found=$(find "$kernel_dir/lib/modules" -name "$module.ko*" | head -n1)
    [[ -n "$found" ]] || fail "module $module not in the kernel package"
    case "$found" in
        *.ko.xz) xz -dc "$found" >"$root/lib/modules/$module.ko" ;;
        *.ko.zst) zstd -qdc "$found" >"$root/lib/modules/$module.ko" ;;
        *) cp "$found" "$root/lib/modules/$module.ko" ;;
    esac
done
cat >"$root/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
echo "E2E BOOTED uptime_s=$(cut -d' ' -f1 /proc/uptime)"
for module in hid uhid hid-generic; do
    insmod /lib/modules/$module.ko || echo "E2E FAIL insmod_$module: insmod failed"
done
if [ -e /dev/uhid ]; then echo "E2E PASS uhid_present"; else echo "E2E FAIL uhid_present: no /dev/uhid"; fi
/bin/corvane_e2e_driver /bin/corvane_uhid_server
echo "E2E EXIT status=$? uptime_s=$(cut -d' ' -f1 /proc/uptime)"
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz" || fail "cannot pack the initramfs"

# ---- boot ---------------------------------------------------------------------
log="$work/console.log"
rm -f "$log"
started_us=${EPOCHREALTIME/./}
timeout 600 qemu-system-x86_64 -accel tcg -m 256 -smp 1 -nodefaults -display none \
    -no-reboot -serial "file:$log" -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1" </dev/null
status=$?
elapsed_ms=$(((${EPOCHREALTIME/./} - started_us) / 1000))
tr -d '\r' <"$log" >"$log.txt" 2>/dev/null || true

grep '^E2E ' "$log.txt"
echo "qemu exit status $status; VM wall time ${elapsed_ms} ms; console log: $log"
((status == 124)) && fail "the VM did not power off within 600 s"
grep -q '^E2E FAIL' "$log.txt" && fail "checks failed"
grep -q '^E2E DONE passed=[1-9][0-9]* failed=0$' "$log.txt" || fail "the test program did not finish (see $log)"
echo "PASSED"
