#!/usr/bin/env bash
# The installed layout and the Debian package, checked in a temporary
# directory: nothing is installed into the running system and no maintainer
# script is run.
#
# Usage: packaging_test.sh install|package BUILD_DIR SOURCE_DIR VERSION
# Exit status 0 passed, 1 failed, 77 skipped (no Debian packaging tools).
#   install  cmake --install into a temporary DESTDIR; the layout, the units
#            (systemd-analyze verify and security), the service user and the
#            log directories made by their own tools under a temporary root;
#            an install with a temporary --prefix and no DESTDIR, which must
#            write nothing outside it
#   package  cpack into a temporary directory; dpkg-deb -I and -c of the
#            package and its debug symbols package; hardening-check of every
#            program and lintian's verdict on the package
set -euo pipefail

mode=$1
build=$(cd "$2" && pwd)
source=$(cd "$3" && pwd)
version=$4

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# expect_line FILE LINE: FILE holds LINE as a whole line.
expect_line() {
    grep -qxF -- "$2" "$1" || fail "$(basename "$1") lacks the line: $2"
}
# expect_stripped FILE: an ELF file without debug information.
expect_stripped() {
    if readelf -S "$1" | grep -q '\.debug_info'; then
        fail "$1 is not stripped"
    fi
}
# A part that cannot be checked on this machine.
skip() {
    echo "not checked: $*"
}

# The build's install script, altered only to keep its list of installed files
# in the temporary directory rather than in the build tree.
installer=$tmp/installer
make_installer() {
    mkdir -p "$installer"
    sed 's|^file(WRITE "[^"]*/\${CMAKE_INSTALL_MANIFEST}"|file(WRITE "'"$installer"'/${CMAKE_INSTALL_MANIFEST}"|' \
        "$build/cmake_install.cmake" >"$installer/cmake_install.cmake"
    if grep -q "^file(WRITE \"$build/" "$installer/cmake_install.cmake" ||
        ! grep -qF "file(WRITE \"$installer/" "$installer/cmake_install.cmake"; then
        echo "FAIL: the install script's list of installed files was not redirected" >&2
        exit 1
    fi
}
# install_into ROOT [--strip]: the build installed under ROOT with prefix /usr.
install_into() {
    local strip=0
    [[ ${2:-} == --strip ]] && strip=1
    DESTDIR=$1 cmake -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_DO_STRIP=$strip \
        -P "$installer/cmake_install.cmake"
}

# Every unit setting that makes up the service, as both units share it.
check_unit() {
    local unit=$1 exec_start=$2
    expect_line "$unit" "ExecStart=$exec_start"
    local setting
    for setting in Type=notify WatchdogSec=30 Restart=on-failure User=pinpad-agent Group=dialout \
        ProtectSystem=strict ProtectHome=yes PrivateTmp=yes NoNewPrivileges=yes \
        DevicePolicy=closed "DeviceAllow=char-ttyS rw" "DeviceAllow=char-ttyUSB rw"; do
        expect_line "$unit" "$setting"
    done
    if grep -q '@[A-Z_]*@' "$unit"; then
        fail "$(basename "$unit") keeps a placeholder: $(grep '@[A-Z_]*@' "$unit")"
    fi
}

# The rotation rule run by logrotate on logs in the temporary directory (as
# root there, since the service user does not exist here): big logs of the
# single agent and of an instance are compressed away, small ones stay, and
# only five old ones are kept.
check_log_rotation() {
    if ! command -v logrotate >/dev/null; then
        skip "logrotate missing: the rotation rule is not run"
        return
    fi
    local logs=$tmp/logs
    mkdir -p "$logs/Trace" "$logs/lane1/Trace"
    sed -e "s|/var/log/pinpad-agent|$logs|g" -e 's|^\(\s*su\) .*|\1 root root|' "$1" >"$tmp/logrotate.conf"
    local round
    for round in 1 2 3 4 5 6 7; do
        truncate -s 11M "$logs/Trace/CommLog9.txt" "$logs/lane1/Trace/CommLog2.txt"
        printf 'small\r\n' >"$logs/Trace/sock0000000004.txt"
        logrotate -s "$tmp/logrotate.state" "$tmp/logrotate.conf" 2>"$tmp/logrotate.log" ||
            { fail "logrotate: $(cat "$tmp/logrotate.log")"; return; }
    done
    local kept
    kept=$(cd "$logs" && echo Trace/* lane1/Trace/*)
    [[ $kept == "Trace/CommLog9.txt.1.gz Trace/CommLog9.txt.2.gz Trace/CommLog9.txt.3.gz Trace/CommLog9.txt.4.gz Trace/CommLog9.txt.5.gz Trace/sock0000000004.txt lane1/Trace/CommLog2.txt.1.gz lane1/Trace/CommLog2.txt.2.gz lane1/Trace/CommLog2.txt.3.gz lane1/Trace/CommLog2.txt.4.gz lane1/Trace/CommLog2.txt.5.gz" ]] ||
        fail "after seven rotations the logs are: $kept"
}

# An install into a prefix of its own, as root and without DESTDIR: every file
# it lists lies below the prefix, the settings and the log rotation in
# PREFIX/etc, the units name the prefix's paths, and no user is made.
check_prefix_install() {
    local prefix=$tmp/prefix user_before
    user_before=$(getent passwd pinpad-agent || true)
    (cd "$installer" && cmake -DCMAKE_INSTALL_PREFIX="$prefix" -P "$installer/cmake_install.cmake") \
        >"$tmp/prefix-install.log" 2>&1 ||
        { cat "$tmp/prefix-install.log" >&2; fail "the install into a prefix failed"; return; }
    local manifest=$installer/install_manifest.txt
    [[ -s $manifest ]] || { fail "the install into a prefix lists no files"; return; }
    local outside
    outside=$(grep -v "^$prefix/" "$manifest" || true)
    [[ -z $outside ]] || fail "the install into $prefix wrote outside it: $outside"
    if grep -q '^-- \(Installing\|Up-to-date\|Keeping\): /\(etc\|var\|usr\)/' "$tmp/prefix-install.log"; then
        fail "the install into a prefix names system paths: $(grep -m1 ': /\(etc\|var\|usr\)/' "$tmp/prefix-install.log")"
    fi
    local file
    for file in etc/pinpad-agent/pinpad.ini etc/pinpad-agent/agent.ini etc/logrotate.d/pinpad-agent \
        bin/pinpad-agent lib/systemd/system/pinpad-agent.service lib/sysusers.d/pinpad-agent.conf \
        lib/tmpfiles.d/pinpad-agent.conf; do
        [[ -e $prefix/$file ]] || fail "the install into a prefix lacks $file"
    done
    expect_line "$prefix/lib/systemd/system/pinpad-agent.service" \
        "ExecStart=$prefix/bin/pinpad-agent --dir $prefix/etc/pinpad-agent --trace $prefix/var/log/pinpad-agent/Trace --metrics $prefix/var/lib/prometheus/node-exporter/pinpad-agent.prom"
    expect_line "$prefix/etc/logrotate.d/pinpad-agent" \
        "$prefix/var/log/pinpad-agent/Trace/*.txt $prefix/var/log/pinpad-agent/*/Trace/*.txt {"
    [[ $(getent passwd pinpad-agent || true) == "$user_before" ]] ||
        fail "the install into a prefix changed the service user"
}

check_install() {
    check_prefix_install
    local root=$tmp/root
    install_into "$root" --strip >"$tmp/install.log" ||
        { cat "$tmp/install.log" >&2; fail "cmake --install failed"; return; }

    local program
    for program in pinpad-agent pinpad-sim commlog-decode; do
        if [[ -x $root/usr/bin/$program ]]; then
            expect_stripped "$root/usr/bin/$program"
        else
            fail "usr/bin/$program is missing"
        fi
    done
    [[ ! -e $root/usr/bin/agent ]] || fail "the agent is installed as usr/bin/agent"

    local settings
    for settings in pinpad.ini agent.ini; do
        cmp -s "$source/packaging/$settings" "$root/etc/pinpad-agent/$settings" ||
            fail "etc/pinpad-agent/$settings differs from the shipped one"
    done
    # An install over edited settings keeps them.
    printf 'ComPort=3\r\n' >"$root/etc/pinpad-agent/pinpad.ini"
    install_into "$root" >"$tmp/install.log"
    [[ $(cat "$root/etc/pinpad-agent/pinpad.ini") == $'ComPort=3\r' ]] ||
        fail "a second install replaced the edited pinpad.ini"

    local units=$root/usr/lib/systemd/system
    local metrics=/var/lib/prometheus/node-exporter
    check_unit "$units/pinpad-agent.service" \
        "/usr/bin/pinpad-agent --dir /etc/pinpad-agent --trace /var/log/pinpad-agent/Trace --metrics $metrics/pinpad-agent.prom"
    expect_line "$units/pinpad-agent.service" "WorkingDirectory=/etc/pinpad-agent"
    expect_line "$units/pinpad-agent.service" "ReadWritePaths=/var/log/pinpad-agent/Trace -$metrics"
    check_unit "$units/pinpad-agent@.service" \
        "/usr/bin/pinpad-agent --dir /etc/pinpad-agent/%i --trace /var/log/pinpad-agent/%i/Trace --metrics $metrics/pinpad-agent-%i.prom --metrics-instance %i"
    expect_line "$units/pinpad-agent@.service" "WorkingDirectory=/etc/pinpad-agent/%i"
    expect_line "$units/pinpad-agent@.service" "ReadWritePaths=/var/log/pinpad-agent -$metrics"

    local doc=$root/usr/share/doc/pinpad-agent
    cmp -s "$doc/examples/pinpad-agent.rules.yml" "$source/packaging/pinpad-agent.rules.yml" ||
        fail "the alert rules are not in usr/share/doc/pinpad-agent/examples"
    [[ -s $doc/copyright ]] || fail "usr/share/doc/pinpad-agent/copyright is missing"
    if gzip -t "$doc/changelog.gz" 2>/dev/null; then
        local top
        top=$(gzip -dc "$doc/changelog.gz" | head -n 1)
        [[ $top == "pinpad-agent ($version) "* ]] ||
            fail "the changelog's latest entry is not version $version: $top"
    else
        fail "usr/share/doc/pinpad-agent/changelog.gz is missing or not gzip"
    fi
    local page
    for page in pinpad-agent pinpad-sim commlog-decode; do
        [[ -e $root/usr/share/man/man1/$page.1.gz ]] || fail "usr/share/man/man1/$page.1.gz is missing"
    done
    for page in "$source"/docs/man/*.1 "$source"/packaging/man/*.1; do
        [[ -e $page ]] || continue
        gzip -dc "$root/usr/share/man/man1/$(basename "$page").gz" 2>/dev/null | cmp -s - "$page" ||
            fail "the manual page $(basename "$page") is not installed compressed"
        if command -v groff >/dev/null; then
            local warnings
            warnings=$(groff -ww -z -man "$page" 2>&1)
            [[ -z $warnings ]] || fail "the manual page $(basename "$page") renders with warnings: $warnings"
        else
            skip "groff missing: $(basename "$page") is not rendered"
        fi
    done
    expect_line "$root/etc/logrotate.d/pinpad-agent" \
        "/var/log/pinpad-agent/Trace/*.txt /var/log/pinpad-agent/*/Trace/*.txt {"

    check_log_rotation "$root/etc/logrotate.d/pinpad-agent"

    # The service user and the log directories, made by systemd's own tools
    # from the installed files, under a root of their own.
    local sysroot=$tmp/sysroot
    mkdir -p "$sysroot/etc"
    printf 'root:x:0:0:root:/root:/bin/sh\n' >"$sysroot/etc/passwd"
    printf 'root:x:0:\nadm:x:4:\ndialout:x:20:\n' >"$sysroot/etc/group"
    if command -v systemd-sysusers >/dev/null && command -v systemd-tmpfiles >/dev/null; then
        systemd-sysusers --root="$sysroot" "$root/usr/lib/sysusers.d/pinpad-agent.conf" \
            >/dev/null 2>&1 ||
            fail "systemd-sysusers rejects the service user"
        systemd-tmpfiles --root="$sysroot" --create "$root/usr/lib/tmpfiles.d/pinpad-agent.conf" ||
            fail "systemd-tmpfiles rejects the log directories"
        local user
        user=$(grep '^pinpad-agent:' "$sysroot/etc/passwd" || true)
        [[ $user =~ ^pinpad-agent:x:[0-9]+:20: ]] || fail "no system user in group dialout: $user"
        local uid=${user#pinpad-agent:x:}
        uid=${uid%%:*}
        local directory
        for directory in var/log/pinpad-agent var/log/pinpad-agent/Trace; do
            local owner
            owner=$(stat -c '%u:%g %a' "$sysroot/$directory" 2>/dev/null || true)
            [[ $owner == "$uid:4 2750" ]] || fail "$directory is '$owner', not $uid:4 2750"
        done
        owner=$(stat -c '%u:%g %a' "$sysroot/$metrics" 2>/dev/null || true)
        [[ $owner == "0:0 755" ]] || fail "${metrics#/} is '$owner', not 0:0 755"
    else
        skip "systemd-sysusers or systemd-tmpfiles missing: the user and directories are not checked"
    fi

    if command -v systemd-analyze >/dev/null; then
        # Verified as installed: the root holds the programs the units name.
        # Verified as installed, under a root that also holds the system's
        # targets and the programs the units run. A template is verified
        # through an instance of it.
        local vroot=$tmp/verify-root
        cp -a "$root" "$vroot"
        cp /lib/systemd/system/*.target "$vroot/usr/lib/systemd/system/"
        mkdir -p "$vroot/bin" && cp /bin/mkdir "$vroot/bin/"
        local vunits=$vroot/usr/lib/systemd/system
        ln -s pinpad-agent@.service "$vunits/pinpad-agent@lane1.service"
        local unit
        for unit in pinpad-agent.service pinpad-agent@lane1.service; do
            if ! systemd-analyze verify --man=no --root="$vroot" "$vunits/$unit" \
                >"$tmp/verify.log" 2>&1 || [[ -s $tmp/verify.log ]]; then
                fail "systemd-analyze verify $unit: $(cat "$tmp/verify.log")"
            fi
        done
        for unit in pinpad-agent.service pinpad-agent@.service; do
            local rating
            if systemd-analyze security --offline=true --threshold=40 --root="$root" \
                "$units/$unit" >"$tmp/security.log" 2>&1; then
                rating=$(grep -o 'Overall exposure level.*' "$tmp/security.log" || true)
                echo "$unit: $rating"
            else
                fail "systemd-analyze security rates $unit above 4.0: $(tail -n 3 "$tmp/security.log")"
            fi
        done
    else
        skip "systemd-analyze missing: the units are not verified"
    fi
}

check_package() {
    if ! command -v dpkg-deb >/dev/null || ! command -v cpack >/dev/null; then
        echo "SKIP: dpkg-deb or cpack missing"
        exit 77
    fi
    # The build's own package settings, run through the altered install script.
    cat >"$tmp/CPackConfig.cmake" <<EOF
include("$build/CPackConfig.cmake")
list(REMOVE_AT CPACK_INSTALL_CMAKE_PROJECTS 0)
list(INSERT CPACK_INSTALL_CMAKE_PROJECTS 0 "$installer")
EOF
    (cd "$tmp" && cpack --config "$tmp/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1) ||
        { cat "$tmp/cpack.log" >&2; fail "cpack failed"; return; }
    local deb dbgsym
    deb=$(ls "$tmp"/out/pinpad-agent_"$version"_*.deb 2>/dev/null || true)
    dbgsym=$(ls "$tmp"/out/pinpad-agent-dbgsym_"$version"_*.ddeb 2>/dev/null || true)
    [[ -n $deb ]] || { fail "no package pinpad-agent_${version}_*.deb: $(ls "$tmp/out")"; return; }

    dpkg-deb -I "$deb" >"$tmp/info"
    local field
    for field in " Package: pinpad-agent" " Version: $version" " Section: net" \
        " Maintainer: PIN pad agent maintainers <maintainers@users.noreply.c-seed-0c2241cc.example>" \
        " Description: network agent for a PIN pad on a serial port"; do
        expect_line "$tmp/info" "$field"
    done
    grep -q '^ Depends:.*libsystemd0.*systemd | systemd-standalone-sysusers' "$tmp/info" ||
        grep -q '^ Depends:.*systemd | systemd-standalone-sysusers.*libsystemd0' "$tmp/info" ||
        fail "Depends lacks libsystemd0 or the sysusers tool: $(grep Depends "$tmp/info")"
    [[ $(grep -c '^  [^ ]' "$tmp/info") -ge 5 ]] || fail "the description has no extended text"
    dpkg-deb --ctrl-tarfile "$deb" | tar -tv >"$tmp/control"
    local script
    for script in postinst prerm postrm; do
        grep -qE "^-rwxr-xr-x .* \./$script\$" "$tmp/control" ||
            fail "the package has no executable $script"
    done
    dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles >"$tmp/conffiles"
    for field in /etc/pinpad-agent/pinpad.ini /etc/pinpad-agent/agent.ini /etc/logrotate.d/pinpad-agent; do
        expect_line "$tmp/conffiles" "$field"
    done

    dpkg-deb -c "$deb" | awk '{print $6}' >"$tmp/contents"
    for field in ./usr/bin/pinpad-agent ./usr/bin/pinpad-sim ./usr/bin/commlog-decode \
        ./etc/pinpad-agent/pinpad.ini ./etc/pinpad-agent/agent.ini ./etc/logrotate.d/pinpad-agent \
        ./usr/lib/systemd/system/pinpad-agent.service ./usr/lib/systemd/system/pinpad-agent@.service \
        ./usr/lib/sysusers.d/pinpad-agent.conf ./usr/lib/tmpfiles.d/pinpad-agent.conf \
        ./usr/share/doc/pinpad-agent/copyright ./usr/share/doc/pinpad-agent/changelog.gz \
        ./usr/share/man/man1/pinpad-agent.1.gz ./usr/share/man/man1/pinpad-sim.1.gz \
        ./usr/share/man/man1/commlog-decode.1.gz ./usr/share/doc/pinpad-agent/examples/pinpad-agent.rules.yml \
        ./usr/share/pinpad-agent/wireshark/pinpad.lua; do
        expect_line "$tmp/contents" "$field"
    done
    if grep -q '^\./usr/lib/debug/' "$tmp/contents"; then
        fail "debug symbols are in the main package"
    fi
    # Each program stripped, its symbols in the debug package under its
    # build id, where debuggers look for them.
    dpkg-deb -x "$deb" "$tmp/unpacked"
    if [[ -n $dbgsym ]]; then
        dpkg-deb -c "$dbgsym" | awk '{print $6}' >"$tmp/dbgsym-contents"
    else
        fail "no debug symbols package: $(ls "$tmp/out")"
        : >"$tmp/dbgsym-contents"
    fi
    # Both packages' md5sums name their own files, as dpkg --verify reads them.
    local each
    for each in "$deb" "$dbgsym"; do
        [[ -n $each ]] || continue
        dpkg-deb --ctrl-tarfile "$each" | tar -xO ./md5sums | awk '{print "./" $2}' >"$tmp/sums"
        dpkg-deb -c "$each" | awk '{print $6}' >"$tmp/files"
        [[ -z $(sort "$tmp/sums" | comm -23 - <(sort "$tmp/files")) ]] ||
            fail "$(basename "$each") lists files it lacks in md5sums: $(head -n 2 "$tmp/sums")"
    done
    local program id
    for program in pinpad-agent pinpad-sim commlog-decode; do
        expect_stripped "$tmp/unpacked/usr/bin/$program"
        id=$(readelf -n "$tmp/unpacked/usr/bin/$program" | awk '/Build ID:/ {print $3}')
        [[ -n $id ]] || { fail "$program has no build id"; continue; }
        expect_line "$tmp/dbgsym-contents" "./usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug"
    done
    # Every program built with Debian's hardening, when the build asked for it;
    # lintian finds no error or warning, and no hardening tag among its notes.
    local hardened=0 lintian_bad='^(E|W): '
    grep -q '^PINPAD_HARDENED:INTERNAL=ON' "$build/CMakeCache.txt" && hardened=1
    ((hardened)) && lintian_bad='^(E|W): |hardening'
    if ((!hardened)); then
        skip "built without hardening (HARDENING=OFF, a debug or sanitizer build): not checked"
    elif command -v hardening-check >/dev/null; then
        # Control-flow protection is not asked of the programs: Debian 12's
        # hardening=+all has none, and its runtime objects lack the property.
        for program in pinpad-agent pinpad-sim commlog-decode; do
            hardening-check --quiet --nocfprotection "$tmp/unpacked/usr/bin/$program" \
                >"$tmp/hardening.log" 2>&1 ||
                fail "hardening-check $program: $(cat "$tmp/hardening.log")"
        done
    else
        skip "hardening-check (devscripts) missing: the programs' hardening is not checked"
    fi
    if command -v lintian >/dev/null; then
        lintian -I --tag-display-limit 0 "$deb" >"$tmp/lintian.log" 2>&1 || true
        if grep -E "$lintian_bad" "$tmp/lintian.log" >"$tmp/lintian-bad.log"; then
            fail "lintian: $(cat "$tmp/lintian-bad.log")"
        fi
    else
        skip "lintian missing: the package is not checked by it"
    fi
    echo "package: $(basename "$deb") $(stat -c %s "$deb") bytes," \
        "$(grep -o 'Installed-Size: [0-9]*' "$tmp/info") KiB installed;" \
        "debug symbols: $(stat -c %s "$dbgsym") bytes"
}

make_installer
case $mode in
    install) check_install ;;
    package) check_package ;;
    *) echo "usage: $0 install|package BUILD_DIR SOURCE_DIR VERSION" >&2; exit 2 ;;
esac
if ((failures)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all checks passed"
