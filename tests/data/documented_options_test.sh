#!/usr/bin/env bash
# Every command and option the program accepts is in its manual page and is
# offered by the bash completion, so neither falls behind the program.
#
#   documented_options_test.sh PROGRAM SOURCE_DIR
set -uo pipefail
program=$1 data=$2/data
source "$data/completion/torquelin"
page=$(sed 's/\\-/-/g' "$data/man/torquelin.1")

# Words the completion offers for: torquelin WORDS... CURRENT
offered() {
  COMP_WORDS=(torquelin "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _torquelin 2>/dev/null
  printf ' %s ' "${COMPREPLY[@]}"
}

failed=0
complain() {
  echo "$1"
  failed=1
}
commands=$("$program" --help | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || complain "no command found in '$program --help'"
for command in $commands; do
  grep -q "^\.SS \"$command " <<<"$page" || complain "$command has no section in torquelin.1"
  [[ $(offered "") == *" $command "* ]] || complain "$command is not completed"
  options=$("$program" "$command" --help | sed -n 's/^  \(--[a-z-]*\).*/\1/p')
  for option in $options; do
    # The page's section of the command, up to the next command's.
    section=$(awk -v c=".SS \"$command " 'index($0, c) == 1 { on = 1; next } /^\.SS / { on = 0 } on' <<<"$page")
    grep -qe "$option" <<<"$section" || grep -qe "^\.B $option" <<<"$page" \
      || complain "$command $option is not in torquelin.1"
    [[ $(offered "$command" --) == *" $option "* ]] || complain "$command $option is not completed"
  done
done
exit $failed
