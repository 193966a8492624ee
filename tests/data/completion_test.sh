#!/usr/bin/env bash
# Sources the bash completion and checks what it offers for a table of
# command lines, in a scratch folder of patches, vaults and reports.
#
#   completion_test.sh SOURCE_DIR
set -uo pipefail
source "$1/data/completion/torquelin"
cd "$(mktemp -d)" || exit 1
trap 'rm -rf "$PWD"' EXIT
mkdir site
touch a.dov B.DOV c.zov r.xml notes.txt

failed=0
# expect WORDS... -- EXPECTED: completes the last word of the command line.
expect() {
  local words=() expected
  while [ "$1" != "--" ]; do words+=("$1"); shift; done
  shift
  expected="$*"
  COMP_WORDS=("${words[@]}")
  COMP_CWORD=$((${#words[@]} - 1))
  COMPREPLY=()
  _torquelin 2>/dev/null
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
  expected=$(printf '%s\n' $expected | sort | xargs)
  if [ "$got" != "$expected" ]; then
    echo "torquelin ${words[*]:1}: offered '$got', expected '$expected'"
    failed=1
  fi
}

expect torquelin "" -- fingerprint create-patch create-vault create-patch-vault query apply verify
expect torquelin create-p -- create-patch create-patch-vault
expect torquelin - -- -q --quiet -v --verbose -h --help --version
expect torquelin fingerprint "" -- site
expect torquelin -q create-patch site site "" -- site a.dov B.DOV
expect torquelin create-vault site "" -- site c.zov
expect torquelin verify site "" -- site c.zov
expect torquelin query a.dov "" -- site r.xml
expect torquelin query a.dov r.xml "" --
expect torquelin apply site a.dov --report "" -- site r.xml
expect torquelin apply site a.dov --report = "" -- site r.xml
# An option's value is not an argument: after it comes the patch.
expect torquelin apply --report r.xml site "" -- site a.dov B.DOV
expect torquelin fingerprint --filter "" --
expect torquelin apply site a.dov --i -- --ignore-fingerprint --in-place
expect torquelin create-patch-vault n c.zov p.dov --u -- --update-vault
expect torquelin create-patch site site a.dov --c -- --compact
# --level takes a number, not a file, and the patch still follows it.
expect torquelin create-patch --compact --level 1 -- 1 11 12 15 19
expect torquelin create-patch --level 19 site site "" -- site a.dov B.DOV
# No file of the expected kind: every file is offered.
rm c.zov
expect torquelin create-vault site n -- notes.txt
exit $failed
