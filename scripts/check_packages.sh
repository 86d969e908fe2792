#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Makes the Debian packages from the built release tree and checks them as a user would meet
# them: lintian without errors, then both unpacked into a throw-away root, where the programs
# run (version, a scan of a sample, the daemon's version), the manual pages render and the
# completion scripts load and complete. Prints the packages' sizes and lintian's warnings.
# Usage: scripts/check_packages.sh [BUILD_DIR]   (default build/release)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
packages="$build/packages"
rm -rf "$packages"
if ! cpack --config "$build/CPackConfig.cmake" >"$build/cpack.log" 2>&1; then
  cat "$build/cpack.log"
  echo "check_packages: cpack failed" >&2
  exit 1
fi
status=0
fail() {
  echo "check_packages: $*" >&2
  status=1
}
ls -l "$packages"/*.deb
for deb in "$packages"/*.deb; do
  echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, installed $(dpkg-deb -f "$deb" Installed-Size) KiB"
done

# lintian: an error, or lintian failing to run, fails the check; the warnings kept are listed in
# the README's packaging part.
lintian_output=$(lintian --fail-on error "$packages"/*.deb 2>&1)
lintian_status=$?
grep -v 'running with root privileges' <<<"$lintian_output"
[ $lintian_status -eq 0 ] || fail "lintian gave status $lintian_status"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
for deb in "$packages"/*.deb; do dpkg-deb -x "$deb" "$root"; done
export HOME="$root/home" XDG_DATA_HOME="$root/home/data" XDG_CONFIG_HOME="$root/home/config"
mkdir -p "$HOME"

# Both packages say the project's licence in the machine-readable form, and the tree's LICENSE
# is its standard text.
for package in quarn-explorer quarn-explorer-gui; do
  grep -qx 'License: Apache-2.0' "$root/usr/share/doc/$package/copyright" ||
    fail "$package's copyright names no Apache-2.0 licence"
done
cmp -s LICENSE /usr/share/common-licenses/Apache-2.0 || fail "LICENSE is not the Apache License 2.0"

version=$("$root/usr/bin/quarnscan" --version) || fail "quarnscan --version failed"
echo "$version"
grep -q "database" <<<"$version" || fail "quarnscan --version names no database: $version"
# A first scan from the unpacked root finds the bundled database beside the program.
"$root/usr/bin/quarnscan" --no-log samples/eicar.com >"$root/scan.out" 2>&1
scan_status=$?
[ $scan_status -eq 1 ] || fail "scanning samples/eicar.com gave exit $scan_status: $(cat "$root/scan.out")"
"$root/usr/sbin/quarnd" --version --config "$root/etc/quarnexp/quarnd.conf" ||
  fail "quarnd --version failed"

# A C program built against the unpacked libquarn-dev, as pkg-config describes it, finds the
# databases from the library's own place and reports what quarnscan reports.
libdir=$(dirname "$(find "$root/usr/lib" -name libquarn.so -print -quit)")
flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" PKG_CONFIG_SYSROOT_DIR="$root" pkg-config --cflags --libs quarn) ||
  fail "pkg-config knows no quarn"
cc -std=c11 -DQUARN_EXPECTED_VERSION="\"$(sed -n 's/^Version: //p' "$libdir/pkgconfig/quarn.pc")\"" \
  tests/library/quarn_events.c $flags -lpthread -o "$root/quarn_events" || fail "a C program does not build on libquarn-dev"
LD_LIBRARY_PATH="$libdir" "$root/quarn_events" - 1 -- samples/eicar.com >"$root/library.out" ||
  fail "libquarn from the package failed: $(cat "$root/library.out")"
grep -q '"event":"detection"' "$root/library.out" || fail "libquarn from the package found nothing in samples/eicar.com"
# The Python module from python3-quarn, on the same library.
PYTHONPATH="$root/usr/lib/python3/dist-packages" LD_LIBRARY_PATH="$libdir" /usr/bin/python3 -c '
import quarn, sys
events = quarn.Engine().scan_path(sys.argv[1], files="all")
sys.exit(0 if any(event["event"] == "detection" for event in events) else 1)' samples/eicar.com ||
  fail "the module quarn from python3-quarn found nothing in samples/eicar.com"

# The unit keeps the daemon to what it needs: systemd's exposure score stays at 3.0 or below
# (2.4 now; 6.7 before SystemCallFilter, PrivateDevices and the Protect* options).
systemd-analyze security --offline=true --threshold=30 --root="$root" quarnd.service ||
  fail "quarnd.service is exposed beyond 3.0"

# The maintainer scripts on the throw-away root (DPKG_ROOT, as dpkg --root runs them): the
# socket an administrator enabled is disabled by a removal, and a purge leaves no socket folder,
# log or record of the units. "abort-upgrade" records the units as "configure" does, without
# making the daemon's user on this machine.
export DPKG_MAINTSCRIPT_PACKAGE=quarn-explorer
control="$root/control"
dpkg-deb -e "$packages"/quarn-explorer_*.deb "$control"
wants="$root/etc/systemd/system/sockets.target.wants"
mkdir -p "$wants" "$root/run/quarnexp" "$root/var/log/quarnexp"
ln -s /usr/lib/systemd/system/quarnd.socket "$wants/quarnd.socket"
DPKG_ROOT="$root" "$control/postinst" abort-upgrade || fail "postinst abort-upgrade failed"
DPKG_ROOT="$root" "$control/prerm" remove || fail "prerm remove failed"
DPKG_ROOT="$root" "$control/postrm" remove || fail "postrm remove failed"
[ -L "$wants/quarnd.socket" ] && fail "a removal leaves quarnd.socket enabled"
DPKG_ROOT="$root" "$control/postrm" purge || fail "postrm purge failed"
for left in run/quarnexp var/log/quarnexp var/lib/systemd/deb-systemd-helper-enabled/quarnd.socket.dsh-also; do
  [ -e "$root/$left" ] && fail "a purge leaves /$left"
done
unset DPKG_MAINTSCRIPT_PACKAGE

for page in "$root"/usr/share/man/man*/*.gz; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  lines=$(MANWIDTH=80 man -l "$page" 2>/dev/null | wc -l)
  [ -z "$warnings" ] && [ "$lines" -gt 10 ] || fail "$(basename "$page") renders badly: $warnings"
done
for program in quarnscan quarndb quarnd quarnexp; do
  ls "$root"/usr/share/man/man*/"$program".*.gz >/dev/null 2>&1 || fail "no manual page for $program"
done

completions="$root/usr/share/bash-completion/completions"
offered=$(bash -c "
  source /usr/share/bash-completion/bash_completion 2>/dev/null
  source '$completions/quarnscan' || exit 1
  function=\$(complete -p quarnscan | sed -n 's/.*-F \\([^ ]*\\) .*/\\1/p')
  COMP_WORDS=(quarnscan --action '')
  COMP_CWORD=2
  COMP_LINE='quarnscan --action '
  COMP_POINT=\${#COMP_LINE}
  \"\$function\" quarnscan '' --action
  printf '%s\n' \"\${COMPREPLY[@]}\"")
grep -qx 'clean-ask' <<<"$offered" || fail "completion offers no --action values: $offered"

[ $status -eq 0 ] && echo "check_packages: the packages build, pass lintian and run from $root"
exit $status
