#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that the build, the tests and the scripts use,
# when missing. Every program, library and file that a test or script uses
# comes from a package listed here: the test run (scripts/test.sh) runs in a
# root that holds Debian's base system and these packages only
# (scripts/fresh-root.sh), where anything else is missing.
# Usage: scripts/install-deps.sh [GROUP...]          the base group and the named ones
#        scripts/install-deps.sh --list [GROUP...]   prints their packages instead
# GROUP: sanitize, format, windows, browser, or all.
set -euo pipefail
declare -A groups
groups[base]="cmake g++ make pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev ccache git
    libcli11-dev nlohmann-json3-dev libfmt-dev libboost-dev
    python3-pytest python3-smbus2 python3-setuptools python3-bme280
    libfuse3-dev fuse3 i2c-tools g++-multilib
    libhidapi-dev zsh fish
    qemu-system-x86 busybox-static cpio kmod usbip hwdata iproute2 procps
    build-essential debhelper dh-python lintian man-db udev systemd"
# cmake, g++ ... git: the build and the format check's file list.
# CLI11, nlohmann-json and fmt: the corvane tool; Boost (Beast): its web interface.
# pytest, smbus2, setuptools: the Python package's tests (python/tests, run by the shared build);
# bme280: a driver written for smbus2, run unchanged over corvane.SMBus (python/examples).
# libfuse3 for corvane-i2cdev; fuse3 and i2c-tools for its tests, g++-multilib for
# their 32-bit i2c-dev client.
# hidapi: the exchange benchmark against hidapi (bench/vm).
# zsh and fish: the tool's completion scripts are tried in them (tests/tool).
# The VM tests (tests/e2e): qemu, busybox-static and cpio for the VM and its
# initramfs, kmod for the kernel's modules (depmod, modprobe), usbip and
# hwdata for USB/IP, iproute2 for the loopback, procps for pgrep.
# build-essential, debhelper, dh-python, lintian: the Debian packages
# (scripts/package-debian.sh; dpkg-buildpackage wants build-essential);
# man-db: the installed manual pages; udev and systemd: the udev rules and the
# systemd unit (udevd and udevadm in the VM, systemd-analyze verify, systemd-escape).
groups[sanitize]="clang libclang-rt-14-dev"
groups[format]="clang-format"
groups[windows]="g++-mingw-w64-x86-64-posix wine wine64 zip unzip"
# The web interface in a real browser (scripts/test-browser.sh): Debian's
# chromium, driven by playwright-core from the npm registry under Node.js (whose
# package brings npm).
groups[browser]="chromium nodejs"

list=0
[[ ${1-} == --list ]] && list=1 && shift
packages=(${groups[base]})
for name in "$@"; do
    if [[ $name == all ]]; then
        for group in "${!groups[@]}"; do packages+=(${groups[$group]}); done
    elif [[ -v groups[$name] ]]; then
        packages+=(${groups[$name]})
    else
        echo "install-deps.sh: $name is no group (groups: ${!groups[*]} all): packages go into a group here, so that the test run's root (scripts/fresh-root.sh) has them" >&2
        exit 2
    fi
done
if ((list)); then
    printf '%s\n' "${packages[@]}" | sort -u
    exit 0
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0
if [[ -e /etc/corvane-fresh-root ]]; then
    # The test run's root was made with every group: a package missing here
    # is one that was left out of the lists above.
    echo "install-deps.sh: not in the test run's root: ${missing[*]} (a group of scripts/install-deps.sh that scripts/test.sh does not install?)" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
