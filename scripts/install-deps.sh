#!/usr/bin/env bash
# Installs the Debian packages that the build and every make target need and
# a fresh machine may lack; run it once before the quick start, as root or
# with sudo. Packages already in place are left alone.
set -euo pipefail

packages=(
    # make build, make test, make demo
    make cmake ninja-build g++ libgtest-dev libgmock-dev libsystemd-dev nlohmann-json3-dev curl
    python3
    # the capture tests read the agent's captures with Wireshark's dissectors
    tshark
    # make bench
    libbenchmark-dev
    # make fuzz: clang with its fuzzer and sanitizer runtimes
    clang libclang-rt-dev
    # make package, and the packaging tests: dpkg-deb, dpkg-shlibdeps, file,
    # strip, objcopy and readelf, gzip, systemd-analyze, logrotate, groff for
    # the manual pages
    dpkg-dev file binutils gzip systemd logrotate groff-base
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
    $sudo apt-get update -qq
    # tshark's package asks whether users may capture; the tests need no capturing rights.
    echo "wireshark-common wireshark-common/install-setuid boolean false" |
        $sudo debconf-set-selections
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
