#!/usr/bin/env bash
# Fetches real upgrades, two versions of one package each, and unpacks every
# version into DIR/NAME/older and DIR/NAME/newer (default DIR: bench/trees/
# upgrades, which git ignores). Nothing fetched is ever committed. The data
# sets differ in shape:
#
#   typescript   a few large JavaScript files (a compiler's patch release)
#   typescript-minor  the same compiler's minor upgrade: most files changed
#   angular-minor     a minor upgrade of the package with source maps
#   date-fns     thousands of small files
#   esbuild      one large native binary
#   angular      a large package with source maps
#   libssl3      a Debian package's files (a security update)
#   tzdata       a Debian package of many small binary files
#
# npm packages come from the registry through `npm pack`, Debian packages
# through `apt-get download`; a data set that is already unpacked is kept.
# A Debian version that the archive no longer offers is skipped with a note.
#
#   bench/fetch_upgrades.sh [DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
# npm may come with a Node.js of its own rather than Debian's package.
command -v npm >/dev/null || bash scripts/install_packages.sh npm
bash scripts/install_packages.sh dpkg-dev
dir=${1:-bench/trees/upgrades}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

# name, package, older version, newer version
npm_sets=(
  "typescript typescript 5.4.4 5.4.5"
  "date-fns date-fns 2.29.3 2.30.0"
  "esbuild @esbuild/linux-x64 0.20.1 0.20.2"
  "angular @angular/core 17.3.0 17.3.1"
  "typescript-minor typescript 5.4.5 5.5.4"
  "angular-minor @angular/core 17.2.4 17.3.0"
)
deb_sets=(
  "libssl3 libssl3 3.0.20-1~deb12u2 3.0.22-1~deb12u2"
  "tzdata tzdata 2026b-0+deb12u1 2026f-0+deb12u1"
)

# Unpacks one npm version into $1 (the tarball's package/ folder).
npm_version() {
  local target=$1 package=$2 work
  work=$(mktemp -d "$dir/.fetch.XXXXXX")
  (cd "$work" && npm pack --silent "$package" >/dev/null)
  mkdir -p "$target"
  tar -xzf "$work"/*.tgz -C "$target" --strip-components=1
  rm -rf "$work"
}

# Unpacks one Debian version into $1 (the package's files, not its scripts).
deb_version() {
  local target=$1 package=$2 work
  work=$(mktemp -d "$dir/.fetch.XXXXXX")
  if ! (cd "$work" && apt-get download -qq "$package" 2>/dev/null); then
    echo "skipped $package: not offered by the configured archives" >&2
    rm -rf "$work"
    return 1
  fi
  mkdir -p "$target"
  dpkg-deb -x "$work"/*.deb "$target"
  rm -rf "$work"
}

for set in "${npm_sets[@]}"; do
  read -r name package older newer <<<"$set"
  [ -d "$dir/$name/newer" ] && continue
  rm -rf "$dir/$name"
  npm_version "$dir/$name/older" "$package@$older"
  npm_version "$dir/$name/newer" "$package@$newer"
  echo "$name: $package $older -> $newer"
done
for set in "${deb_sets[@]}"; do
  read -r name package older newer <<<"$set"
  [ -d "$dir/$name/newer" ] && continue
  rm -rf "$dir/$name"
  if deb_version "$dir/$name/older" "$package=$older" &&
    deb_version "$dir/$name/newer" "$package=$newer"; then
    echo "$name: $package $older -> $newer"
  else
    rm -rf "$dir/${name:?}"
  fi
done
