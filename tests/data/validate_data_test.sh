#!/usr/bin/env bash
# Runs the validators of the installed data files; any complaint fails.
# Exits 77 (skipped) when the validator is not installed (scripts/setup.sh
# installs them).
#
#   validate_data_test.sh desktop|metainfo|man SOURCE_DIR
set -euo pipefail
what=$1 data=$2/data
id=org.torquelin.Torquelin

need() { command -v "$1" >/dev/null || { echo "$1 is not installed"; exit 77; }; }
case $what in
  desktop)
    need desktop-file-validate
    out=$(desktop-file-validate "$data/$id.desktop" 2>&1)
    ;;
  metainfo)
    need appstreamcli
    # --strict fails on errors, warnings and infos alike; pedantic notes
    # (such as the upper-case letters of a reverse-DNS id) pass.
    appstreamcli validate --no-net --strict --no-color "$data/$id.metainfo.xml"
    exit
    ;;
  man)
    need groff
    out=$(for page in "$data"/man/*.1; do groff -man -ww -z "$page" 2>&1; done)
    ;;
esac
if [ -n "$out" ]; then
  echo "$out"
  exit 1
fi
