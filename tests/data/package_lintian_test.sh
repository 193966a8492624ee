#!/usr/bin/env bash
# Packs the build as a Debian package (the build's own programs, so this takes
# seconds) and runs lintian on it: any error or warning fails. Also checks
# that the changelog's newest entry is the package's version. Exits 77
# (skipped) when lintian or dpkg-shlibdeps is not installed (scripts/setup.sh
# installs both).
#
#   package_lintian_test.sh CPACK BUILD_DIR
set -euo pipefail
cpack=$1 build=$2
for tool in lintian dpkg-shlibdeps; do
  command -v $tool >/dev/null || { echo "$tool is not installed"; exit 77; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
umask 022

"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" \
  || { cat "$out/cpack.log"; exit 1; }
deb=$(echo "$out"/torquelin_*.deb)
[ -f "$deb" ] || { echo "cpack made no package"; cat "$out/cpack.log"; exit 1; }

version=$(dpkg-deb -f "$deb" Version)
newest=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/torquelin/changelog.Debian.gz \
  | gzip -dc | sed -n '1s/^torquelin (\([^)]*\)).*/\1/p')
[ "$newest" = "$version" ] \
  || { echo "the changelog's newest entry is '$newest', the package is $version"; exit 1; }

# Info and pedantic notes are shown but pass; the package's own overrides
# (usr/share/lintian/overrides/torquelin) say why each one is there.
status=0
report=$(lintian --no-cfg --fail-on error,warning --display-info --pedantic "$deb" 2>&1) || status=$?
grep -v '^running with root privileges' <<<"$report" || true
[ $status -eq 0 ] || { echo "lintian found errors or warnings in $(basename "$deb")"; exit 1; }
echo "$(basename "$deb") passes lintian"
