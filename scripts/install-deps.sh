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
    # the capture tests read the agent's captures with Wireshark's dissectors
    tshark
    # make bench
    libbenchmark-dev
    # make fuzz: clang with its fuzzer and sanitizer runtimes
    clang libclang-rt-dev
    # make package, and the packaging tests: dpkg-deb, dpkg-shlibdeps, file,
    # strip, objcopy and readelf, gzip, systemd-analyze, logrotate, groff for
    # the manual pages, dpkg-buildflags for the hardening flags,
    # hardening-check (devscripts) and lintian for the package
    dpkg-dev file binutils gzip systemd logrotate groff-base devscripts lintian
    # the metrics tests: Debian's node exporter, and promtool (in prometheus)
    prometheus-node-exporter prometheus
)
# Packages that bring a daemon: the tests start their own on 127.0.0.1, so
# when this script installs one, it is neither started by the install nor
# enabled for the next boot, and nothing is left listening on the network.
daemons=(prometheus-node-exporter prometheus)
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
    # policy-rc.d answering 101 keeps every package's daemon from starting
    # during the install; one already in place (as in containers) is kept.
    policy=/usr/sbin/policy-rc.d
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\n# Written by install-deps.sh during an install: no daemon starts.\nexit 101\n' |
            $sudo tee "$policy" >/dev/null
        $sudo chmod 755 "$policy"
        trap '$sudo rm -f "$policy"' EXIT
    fi
    # tshark's package asks whether users may capture; the tests need no capturing rights.
    echo "wireshark-common wireshark-common/install-setuid boolean false" |
        $sudo debconf-set-selections
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    for p in "${daemons[@]}"; do
        if [[ " ${missing[*]} " == *" $p "* ]] && command -v deb-systemd-helper >/dev/null; then
            echo "not enabling the service $p: the tests run their own"
            $sudo deb-systemd-helper disable "$p.service" >/dev/null
        fi
    done
fi
