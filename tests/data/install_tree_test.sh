#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that exactly the
# expected files arrive, that the installed program runs, and that the menu
# entry, icon, metainfo and program agree on the application id.
#
#   install_tree_test.sh CMAKE BUILD_DIR SOURCE_DIR GUI(ON|OFF) VERSION
set -euo pipefail
cmake=$1 build=$2 source=$3 gui=$4 version=$5
id=org.torquelin.Torquelin
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

env -u DESTDIR "$cmake" --install "$build" --prefix "$prefix" >/dev/null

expected=(bin/torquelin share/bash-completion/completions/torquelin share/man/man1/torquelin.1.gz
  share/doc/torquelin/copyright share/doc/torquelin/changelog.Debian.gz
  share/lintian/overrides/torquelin)
if [ "$gui" = ON ]; then
  expected+=(bin/torquelin-gui share/man/man1/torquelin-gui.1.gz
    share/applications/$id.desktop share/metainfo/$id.metainfo.xml
    share/icons/hicolor/scalable/apps/$id.svg)
  for size in 48 128 256; do expected+=(share/icons/hicolor/${size}x$size/apps/$id.png); done
fi
diff -u <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort)

installed=$("$prefix/bin/torquelin" --version)
[ "$installed" = "torquelin $version" ] || { echo "the installed program says '$installed'"; exit 1; }

if [ "$gui" = ON ]; then
  desktop=$prefix/share/applications/$id.desktop
  exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -x "$prefix/bin/$exec_name" ] || { echo "Exec=$exec_name is not installed"; exit 1; }
  grep -qx "Icon=$id" "$desktop" || { echo "the entry's icon is not $id"; exit 1; }
  metainfo=$prefix/share/metainfo/$id.metainfo.xml
  grep -q "<id>$id</id>" "$metainfo" || { echo "the metainfo's id is not $id"; exit 1; }
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
    || { echo "the metainfo does not launch $id.desktop"; exit 1; }
  # The newest release comes first and must be this version.
  newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1 | cut -d'"' -f2)
  [ "$newest" = "$version" ] || { echo "the metainfo's newest release is $newest, not $version"; exit 1; }
  grep -q "setDesktopFileName(QStringLiteral(\"$id\"))" "$source/ui/torquelin_app.cpp" \
    || { echo "the desktop program does not call itself $id"; exit 1; }
fi
echo "installed ${#expected[@]} files as expected"
