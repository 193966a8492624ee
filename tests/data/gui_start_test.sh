#!/usr/bin/env bash
# The desktop program without a display: --help and --version answer and exit
# 0; otherwise it says in one line that it cannot open its window and exits 1,
# whether no display is named or the one named does not answer.
#
#   gui_start_test.sh PROGRAM VERSION
set -uo pipefail
program=$1 version=$2
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
# A display number nobody serves: the X socket of :65534 does not exist.
dead_display=(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:65534)
failed=0
# run NAME STATUS STDOUT_PATTERN STDERR_PATTERN COMMAND...: STDERR_PATTERN
# must match stderr as one whole line (empty: stderr must be empty).
run() {
  local name=$1 want_status=$2 want_out=$3 want_err=$4
  shift 4
  local out err status
  out=$("$@" 2>"$tmp") && status=0 || status=$?
  err=$(cat "$tmp")
  if [ "$status" != "$want_status" ]; then
    echo "$name: exit status $status, expected $want_status"; failed=1
  fi
  if ! grep -q -- "$want_out" <<<"$out"; then
    echo "$name: stdout lacks '$want_out':"; echo "$out"; failed=1
  fi
  if [ -z "$want_err" ]; then
    [ -z "$err" ] || { echo "$name: unexpected stderr:"; echo "$err"; failed=1; }
  elif [ "$(wc -l <<<"$err")" != 1 ] || ! grep -qx -- "$want_err" <<<"$err"; then
    echo "$name: stderr is not the one line '$want_err':"; echo "$err"; failed=1
  fi
}
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT

run "--help" 0 '^Usage: torquelin-gui ' '' "${no_display[@]}" "$program" --help
run "-h after a Qt option" 0 '^Usage: torquelin-gui ' '' "${no_display[@]}" "$program" -style fusion -h
run "--version" 0 "^torquelin-gui $version\$" '' "${no_display[@]}" "$program" --version
run "no display" 1 '' 'torquelin-gui: no display to open the window on .*' "${no_display[@]}" "$program"
run "a display that does not answer" 1 '' 'torquelin-gui: cannot open the window: .*:65534.*' \
  "${dead_display[@]}" "$program"
exit $failed
