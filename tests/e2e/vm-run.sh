#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs one command inside a qemu VM that boots Debian's kernel, with the host's
# own file system as the VM's root: every program of the host and of the build
# tree runs there unchanged, next to real kernel drivers (uhid, hidraw, USB
# gadgets, dummy_hcd, USB/IP, CUSE...) that a test cannot load on the host.
#
#   vm-run.sh [--modules "mod1 mod2 ..."] [--timeout SECONDS] [--cwd DIR] -- COMMAND [ARGS...]
#
# The VM mounts the host's / read-only over virtio-9p, lays a tmpfs-backed
# overlay over it (writes stay in the VM), binds its own /proc, /sys and /dev
# into it and chroots there. The modules (with their dependencies) come from the
# kernel package's module tree; COMMAND runs in DIR (default: the current
# directory) as root. Its stdout and stderr are this script's; the exit status
# is COMMAND's, 124 when the VM did not finish within the time-out (default
# 600 s), 125 when the VM cannot run here (qemu, a tool or the kernel cannot
# be had: the reason is printed) or broke down, and 77 (skipped) only when the
# person running asked for it with CORVANE_SKIP_VM=1.
#
# The kernel package is downloaded once into $CORVANE_VM_CACHE (the build
# tree's e2e-cache when CTest runs it; default: build/vm-cache in the source
# tree) and kept, so later runs need no network.
set -uo pipefail

usage() {
    echo "usage: $0 [--modules \"mod ...\"] [--timeout SECONDS] [--cwd DIR] -- COMMAND [ARGS...]" >&2
    exit 2
}
modules="" timeout_s=600 cwd=$PWD
while (($#)); do
    case $1 in
        --modules) modules=${2-} && shift 2 || usage ;;
        --timeout) timeout_s=${2-} && shift 2 || usage ;;
        --cwd) cwd=${2-} && shift 2 || usage ;;
        --) shift && break ;;
        *) usage ;;
    esac
done
(($#)) || usage
[[ $timeout_s =~ ^[0-9]+$ ]] || usage

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache=${CORVANE_VM_CACHE:-$here/../../build/vm-cache}
broken() { echo "vm-run: $*" >&2; exit 125; }
# Something the VM needs cannot be had: a failure like any other, since a
# skip would pass where the test never ran.
unavailable() { broken "cannot run the VM: $* (CORVANE_SKIP_VM=1 skips the VM tests)"; }
if [[ ${CORVANE_SKIP_VM:-0} == 1 ]]; then
    echo "vm-run: skipped: CORVANE_SKIP_VM=1" >&2
    exit 77
fi

# Each tool with its Debian package (scripts/install-deps.sh installs them).
for tool in qemu-system-x86_64:qemu-system-x86 cpio:cpio gzip:gzip dpkg-deb:dpkg apt-get:apt apt-cache:apt \
    depmod:kmod modprobe:kmod; do
    command -v "${tool%:*}" >/dev/null || unavailable "${tool%:*} not found (Debian package ${tool#*:})"
done
mkdir -p "$cache" && cache=$(cd "$cache" && pwd) || broken "cannot create the cache $cache"

# Downloads a Debian package into the cache and unpacks it (no install).
unpack() {
    local package=$1 into=$2
    [[ -e "$into/.unpacked" ]] && return 0
    rm -rf "$into" "$cache/$package"_*.deb
    if ! (cd "$cache" && apt-get download -q "$package" >/dev/null 2>&1); then
        # A fresh machine may lack package lists.
        [[ $(id -u) == 0 ]] && apt-get update -qq >/dev/null 2>&1
        (cd "$cache" && apt-get download -q "$package" >/dev/null 2>&1) || return 1
    fi
    dpkg-deb -x "$cache/$package"_*.deb "$into" && rm -f "$cache/$package"_*.deb
}

# ---- kernel, its module tree and the boot initramfs (made once, kept) -------
# A changed init or script makes a new initramfs.
initrd=$cache/initrd-$(cat "$here/vm-init" "$0" | sha1sum | cut -c1-12).gz
(
    flock 9
    kernel=$cache/kernel
    if [[ ! -e $kernel/.unpacked ]]; then
        depends() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}'; }
        package=$(depends)
        if [[ -z $package && $(id -u) == 0 ]]; then
            apt-get update -qq >/dev/null 2>&1
            package=$(depends)
        fi
        [[ -n $package ]] || { echo "Debian's linux-image-amd64 is not known to apt here" >&2; exit 77; }
        unpack "$package" "$kernel" || { echo "cannot download $package" >&2; exit 77; }
        version=$(ls "$kernel/lib/modules")
        depmod -b "$kernel" "$version" && touch "$kernel/.unpacked"
    fi
    version=$(ls "$kernel/lib/modules")
    # A tree unpacked by an older script may lack the module index.
    [[ -e $kernel/lib/modules/$version/modules.dep ]] || depmod -b "$kernel" "$version"
    [[ -e $initrd ]] && exit 0
    busybox=/bin/busybox
    if [[ ! -x $busybox || $(ldd "$busybox" 2>&1) != *"not a dynamic"* ]]; then
        unpack busybox-static "$cache/busybox" || { echo "no static busybox (Debian package busybox-static)" >&2; exit 77; }
        busybox=$cache/busybox/bin/busybox
    fi
    root=$cache/initramfs
    rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,host,rw,newroot,modules}
    cp "$busybox" "$root/bin/busybox"
    # What the 9p root and the overlay need, in load order.
    modprobe -d "$kernel" -S "$version" --show-depends -a virtio_pci virtio_console 9pnet_virtio 9p overlay |
        awk '$1 == "insmod" && !seen[$2]++ {print $2}' >"$cache/boot-modules"
    while read -r ko; do
        cp "$ko" "$root/modules/" && echo "/modules/${ko##*/}" >>"$root/modules/order"
    done <"$cache/boot-modules"
    cp "$here/vm-init" "$root/init" && chmod +x "$root/init"
    rm -f "$cache"/initrd-*.gz
    (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd.new" && mv "$initrd.new" "$initrd"
) 9>"$cache/.lock"
status=$?
((status == 77)) && unavailable "the kernel or busybox cannot be had here (see above)"
((status == 0)) || broken "cannot prepare the kernel in $cache"
kernel=$cache/kernel
version=$(ls "$kernel/lib/modules")
vmlinuz=$kernel/boot/vmlinuz-$version
[[ -e $vmlinuz ]] || broken "no kernel image in $kernel"

# ---- the job: a script the VM's init runs inside the chroot -----------------
work=$(mktemp -d "${TMPDIR:-/tmp}/vm-run.XXXXXX") || broken "cannot make a work folder"
trap 'rm -rf "$work"' EXIT
{
    echo "#!/bin/bash"
    echo "export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TERM=dumb"
    read -ra names <<<"$modules"
    ((${#names[@]})) && printf 'modprobe -a %s || { echo "vm-run: cannot load the modules" >&2; exit 125; }\n' "$(printf '%q ' "${names[@]}")"
    printf 'cd %q || exit 126\n' "$cwd"
    printf 'exec %s\n' "$(printf '%q ' "$@")"
} >"$work/command"
chmod +x "$work/command"

# Plain emulation: nested KVM, where a machine offers it at all, has hung VMs.
accel=${CORVANE_VM_ACCEL:-tcg}
console=$work/console
# The command's output passes through pipes, so that it goes on where this
# script's stdout and stderr stand, whatever they are.
mkfifo "$work/stdout" "$work/stderr" || broken "cannot make pipes in $work"
cat "$work/stdout" &
readers=$!
cat "$work/stderr" >&2 &
readers+=" $!"
# Held open here too, so that the readers end only once the VM is gone.
exec 3<>"$work/stdout" 4<>"$work/stderr"
started_us=${EPOCHREALTIME/./}
timeout --kill-after=5 "$timeout_s" qemu-system-x86_64 -machine "q35,accel=$accel" -m 512 -smp 1 \
    -nodefaults -display none -no-reboot \
    -chardev "file,id=console,path=$console" -serial chardev:console \
    -device virtio-serial-pci \
    -chardev "file,id=out,path=$work/stdout" -device virtserialport,chardev=out,name=stdout \
    -chardev "file,id=err,path=$work/stderr" -device virtserialport,chardev=err,name=stderr \
    -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap" \
    -kernel "$vmlinuz" -initrd "$initrd" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 vmrun_job=$work/command vmrun_modules=$kernel/lib/modules/$version" \
    </dev/null >"$work/qemu.err" 2>&1 3>&- 4>&-
qemu_status=$?
exec 3>&- 4>&-
wait $readers
elapsed_ms=$(((${EPOCHREALTIME/./} - started_us) / 1000))

status=$(tr -d '\r' <"$console" 2>/dev/null | sed -n 's/^vm-run: status \([0-9]*\)$/\1/p' | tail -n1)
booted=$(tr -d '\r' <"$console" 2>/dev/null | sed -n 's/^vm-run: booted \(.*\)$/\1/p' | tail -n1)
if [[ -n ${CORVANE_VM_VERBOSE-} ]]; then
    tr -d '\r' <"$console" >&2
    echo "vm-run: $accel, ${elapsed_ms} ms in the VM, command started ${booted}s after boot" >&2
fi
if [[ -n $status ]]; then
    exit "$status"
fi
{
    ((qemu_status == 124 || qemu_status == 137)) && echo "vm-run: the VM did not finish within $timeout_s s"
    echo "vm-run: no exit status from the VM (qemu exit $qemu_status, ${elapsed_ms} ms); console:"
    tr -d '\r' <"$console" | tail -n 40
    cat "$work/qemu.err"
} >&2
((qemu_status == 124 || qemu_status == 137)) && exit 124
exit 125
