#!/usr/bin/env bash
# Installs the Debian packages that the build and every make target need and
# a fresh machine may lack; make demo and make test run it first. It names
# every package it installs (as root, or through sudo) and says nothing when
# all are in place.
set -euo pipefail

packages=(
    # make build, make test, make demo
    make cmake ninja-build g++ libgtest-dev libgmock-dev libsystemd-dev nlohmann-json3-dev curl
    python3
    # make bench
    libbenchmark-dev
    # make fuzz: clang with its fuzzer and sanitizer runtimes
    clang libclang-rt-dev
    # make package, and the packaging tests: dpkg-deb, dpkg-shlibdeps, file,
    # strip, objcopy and readelf, gzip, systemd-analyze, logrotate, groff for
    # the manual pages, dpkg-buildflags for the hardening flags,
    # hardening-check (devscripts) and lintian for the package
    dpkg-dev file binutils gzip systemd logrotate groff-base devscripts lintian
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "install-deps: installing from Debian: ${missing[*]}"
    if [ "$(id -u)" -eq 0 ]; then
        sudo=""
    elif command -v sudo >/dev/null; then
        sudo="sudo"
    else
        echo "install-deps: run scripts/install-deps.sh as root to install them" >&2
        exit 1
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
