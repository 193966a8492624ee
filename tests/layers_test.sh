#!/usr/bin/env bash
# Proves that the include paths keep the layers: with each library's own
# include directories, an include of a layer above it (or beside it) finds no
# file, while one of a layer below it is found.
#
#   layers_test.sh COMPILER INCLUDE_PATHS_FILE
#
# INCLUDE_PATHS_FILE holds one line per library: its name, then its include
# directories (its own and those of everything it links), separated by blanks.
set -euo pipefail
compiler=$1
paths_file=$2

# library                  header it includes               outcome
table='
torquelin_platform         engine/base/errors.h             refused
torquelin_platform         platform/files.h                 found
torquelin_base             engine/hash/sha1.h               refused
torquelin_base             engine/io/large_file.h           refused
torquelin_base             platform/result.h                found
torquelin_hash             engine/base/errors.h             refused
torquelin_io               engine/tree/snapshot.h           refused
torquelin_io               engine/hash/sha1.h               found
torquelin_tree             engine/jobs/job_runner.h         refused
torquelin_tree             engine/patch/change_set.h        refused
torquelin_tree             engine/io/file_system.h          found
torquelin_patch            engine/xml/xml_document.h        refused
torquelin_patch            engine/tree/snapshot.h           found
torquelin_xml              engine/jobs/job_runner.h         refused
torquelin_xml              engine/patch/change_set.h        found
torquelin_jobs             cli/commands.h                   refused
torquelin_jobs             ui/history_codec.h               refused
torquelin_jobs             engine/xml/vault_file.h          found
torquelin_cli              ui/history_codec.h               refused
torquelin_cli              engine/jobs/job_runner.h         found
torquelin_history_codec    engine/base/errors.h             refused
'

# An empty folder to run in, so that nothing is found beside the input.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

status=0
while read -r library header expected; do
  [ -n "$library" ] || continue
  dirs=$(awk -v name="$library" '$1 == name { $1 = ""; print }' "$paths_file")
  if [ -z "$dirs" ]; then
    echo "no include directories listed for $library"
    status=1
    continue
  fi
  flags=()
  for dir in $dirs; do flags+=("-I$dir"); done
  if printf '#include "%s"\n' "$header" |
    "$compiler" -std=c++20 -x c++ -E -o /dev/null "${flags[@]}" - 2>errors.txt; then
    outcome=found
  elif grep -q "$header: No such file or directory" errors.txt; then
    outcome=refused
  else
    echo "$library including $header failed for another reason:"
    cat errors.txt
    status=1
    continue
  fi
  if [ "$outcome" != "$expected" ]; then
    echo "$library including $header: $outcome, expected $expected"
    status=1
  fi
done <<<"$table"
exit $status
