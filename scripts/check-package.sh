#!/usr/bin/env bash
# Builds the Debian package from build/, unpacks it as dpkg would and checks what it installs:
# its files and fields, the desktop entry, the AppStream metadata and the manual page, and
# lintian's verdict. Prints one line per check; fails on the first that does not hold.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(scripts/package.sh | tail -1)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

checks=0
check() { # DESCRIPTION COMMAND...
    local what="$1"
    shift
    if ! "$@"; then
        echo "package: FAILED: $what" >&2
        exit 1
    fi
    checks=$((checks + 1))
}
field() { dpkg-deb -f "$deb" "$1"; }

id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "$root"/usr/share/metainfo/*.metainfo.xml)
check "one application id everywhere" \
    test -n "$id" -a -f "$root/usr/share/metainfo/$id.metainfo.xml" \
    -a -f "$root/usr/share/applications/$id.desktop" \
    -a -f "$root/usr/share/icons/hicolor/32x32/apps/$id.png" \
    -a -f "$root/usr/share/icons/hicolor/16x16/apps/$id.png"
check "the desktop entry names the icon by the id" \
    grep -qx "Icon=$id" "$root/usr/share/applications/$id.desktop"
check "the metainfo launches the desktop entry" \
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
    "$root/usr/share/metainfo/$id.metainfo.xml"
check "the program, its manual page and its copyright" \
    test -x "$root/usr/bin/device-info" -a -f "$root/usr/share/man/man1/device-info.1.gz" \
    -a -f "$root/usr/share/doc/device-info/copyright"
check "the manual page names the environment it reads" \
    sh -c "zcat '$root/usr/share/man/man1/device-info.1.gz' | grep -q ANDROID_SERIAL && zcat '$root/usr/share/man/man1/device-info.1.gz' | grep -q USBMUXD_SOCKET_ADDRESS"
check "--help and --version answer without a display, a wrong option exits 2" \
    sh -c "env -u DISPLAY -u WAYLAND_DISPLAY '$root/usr/bin/device-info' --help | grep -q -- --serial && env -u DISPLAY '$root/usr/bin/device-info' --version | grep -q '^device-info ' && { env -u DISPLAY '$root/usr/bin/device-info' --frobnicate 2>/dev/null; test \$? -eq 2; }"
check "the manual page formats without warnings" \
    sh -c "! man --warnings -l '$root/usr/share/man/man1/device-info.1.gz' 2>&1 >/dev/null | grep -q ."
check "no simulator in the installed program" \
    sh -c "! grep -q 'Current Battery Service state' '$root/usr/bin/device-info'"
check "the package's name, version and architecture" \
    test "$(field Package) $(field Version) $(field Architecture)" = \
    "device-info $(sed -n 's/^project(DeviceInfo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt) amd64"
check "dependencies computed from the binary" \
    sh -c "dpkg-deb -f '$deb' Depends | grep -q 'libqt6widgets6' && dpkg-deb -f '$deb' Depends | grep -q 'libimobiledevice6' && dpkg-deb -f '$deb' Depends | grep -q 'libc6'"
check "Wayland's platform plugin, which Qt loads at run time" \
    sh -c "dpkg-deb -f '$deb' Depends | grep -q 'qt6-wayland'"
check "the recommended packages" \
    test "$(field Recommends)" = "adb, android-sdk-platform-tools-common, usbmuxd, fonts-crosextra-carlito"
unit="$root/lib/systemd/system/device-info-exporter.service"
check "the exporter's unit, its settings as a conffile, and the alerting rules" \
    sh -c "test -f '$unit' -a -f '$root/usr/share/doc/device-info/examples/device-info.rules.yml' && dpkg-deb --ctrl-tarfile '$deb' | tar -xO ./conffiles | grep -qx /etc/default/device-info-exporter"
examples="$root/usr/share/doc/device-info/examples"
check "the example web configurations and the drop-in that hands them to the service" \
    test -f "$examples/web-config-passwords.yml" -a -f "$examples/web-config-client-certificates.yml" \
    -a -f "$examples/web-config.conf"
check "systemd takes the unit with the drop-in, and its credentials" \
    sh -c "d=\$(mktemp -d) && sed 's|/usr/bin/device-info|$root/usr/bin/device-info|' '$unit' >\$d/device-info-exporter.service && mkdir \$d/device-info-exporter.service.d && cp '$examples/web-config.conf' \$d/device-info-exporter.service.d/ && systemd-analyze verify --man=no \$d/device-info-exporter.service"
check "systemd takes the socket unit beside the service, and Alertmanager its route" \
    sh -c "d=\$(mktemp -d) && sed 's|/usr/bin/device-info|$root/usr/bin/device-info|' '$unit' >\$d/device-info-exporter.service && cp '$root/lib/systemd/system/device-info-exporter.socket' \$d/ && systemd-analyze verify --man=no \$d/device-info-exporter.socket && amtool check-config '$examples/alertmanager.yml' >/dev/null"
check "the unit is not enabled by the package: it has no maintainer scripts" \
    sh -c "! dpkg-deb --ctrl-tarfile '$deb' | tar -t | grep -q inst"
check "systemd takes the unit, and rates it well hardened" \
    sh -c "d=\$(mktemp -d) && sed 's|/usr/bin/device-info|$root/usr/bin/device-info|' '$unit' >\$d/device-info-exporter.service && systemd-analyze verify --man=no \$d/device-info-exporter.service && systemd-analyze security --offline=yes --threshold=30 \$d/device-info-exporter.service >/dev/null"
care="$root/usr/lib/systemd/user/device-info-care.service"
check "a user's systemd takes the battery care unit, hardened as far as its window allows" \
    sh -c "d=\$(mktemp -d) && sed 's|/usr/bin/device-info|$root/usr/bin/device-info|' '$care' >\$d/device-info-care.service && XDG_RUNTIME_DIR=\$d systemd-analyze verify --user --man=no \$d/device-info-care.service && XDG_RUNTIME_DIR=\$d systemd-analyze security --user --offline=yes --threshold=60 \$d/device-info-care.service >/dev/null"
check "desktop-file-validate" desktop-file-validate "$root/usr/share/applications/$id.desktop"
check "appstreamcli validate" \
    appstreamcli validate --no-net --no-color "$root/usr/share/metainfo/$id.metainfo.xml"
check "lintian finds no error or warning" lintian --fail-on error,warning "$deb"
echo "package: $deb, $checks checks passed"
