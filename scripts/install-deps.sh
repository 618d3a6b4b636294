#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Usage: scripts/install-deps.sh [extra packages...]
set -euo pipefail
# qemu-system-x86, busybox-static, cpio and kmod: the kernel end-to-end tests (tests/e2e);
# usbip and hwdata: USB/IP inside their VM.
packages=(cmake g++ make pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
    ccache qemu-system-x86 busybox-static cpio
    # CLI11, nlohmann-json and fmt: the corvane tool.
    libcli11-dev nlohmann-json3-dev libfmt-dev
    # The Python package's tests (python/tests, run by the shared build).
    python3-pytest python3-smbus2 python3-setuptools
    # libfuse3 for corvane-i2cdev; fuse3 and i2c-tools for its tests.
    libfuse3-dev fuse3 i2c-tools
    # hidapi: the exchange benchmark against hidapi (bench/vm).
    libhidapi-dev
    # The Debian packages (scripts/package-debian.sh) and the checks of the
    # installed packages (man for their manual pages).
    debhelper dh-python lintian man-db "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
