#!/usr/bin/env bash
# Builds the Debian package as a user would install it, unpacks it into a scratch folder
# and checks what it holds: the programs run from there, the licence is the GNU GPL 3 or
# later, the desktop entry and the AppStream metainfo validate, and lintian has nothing to say above information level
# (what it does say is explained in packaging/lintian-overrides).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${ZARVIK_PACKAGE_BUILD:-build-package}
# Debian's own hardening flags, as dpkg-buildpackage would pass them.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARVIK_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build"
rm -f "$build"/zarvik_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/zarvik_*.deb)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
status=0
check() {
  local what=$1; shift
  if "$@" >"$root/.out" 2>&1; then echo "package: $what: ok"; else echo "package: $what: FAILED"; cat "$root/.out"; status=1; fi
}
version=$(sed -n 's/.*ZARVIK_VERSION "\(.*\)"/\1/p' "$build/generated/zarvik_version.h")
check "zarvik-cli --version" bash -c "[ \"\$('$root/usr/bin/zarvik-cli' --version)\" = 'zarvik-cli $version' ]"
check "zarvik-cli --help" bash -c "'$root/usr/bin/zarvik-cli' --help | grep -q 'configure FOSC_MHZ TIMEOUT_S'"
check "zarvik-sim --version" bash -c "[ \"\$('$root/usr/bin/zarvik-sim' --version)\" = 'zarvik-sim $version' ]"
check "zarvik --version" bash -c "[ \"\$('$root/usr/bin/zarvik' --version)\" = 'zarvik $version' ]"
check "man page" bash -c "zcat '$root/usr/share/man/man1/zarvik-cli.1.gz' | grep -q 'configure'"
check "depends on Qt's libraries" bash -c "dpkg-deb -f '$deb' Depends | grep -q libqt6serialport6"
check "the licence: GPL-3+, pointing to the system's copy" bash -c "grep -q '^License: GPL-3+' '$root/usr/share/doc/zarvik/copyright' && grep -q '/usr/share/common-licenses/GPL-3' '$root/usr/share/doc/zarvik/copyright' && grep -q 'GPL-3.0-or-later' '$root'/usr/share/metainfo/*.metainfo.xml"
check "desktop-file-validate" desktop-file-validate "$root"/usr/share/applications/*.desktop
check "appstreamcli validate" appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
check "lintian" lintian --fail-on error,warning --tag-display-limit 0 "$deb"
exit $status
