#!/usr/bin/env bash
# Fails when engine code reaches past the platform layer: a system header,
# errno or its codes, or the bits of a mode word tested by hand. Only code
# counts: what follows // on a line is left out.
#
#   system_seam_test.sh ENGINE_DIR
set -euo pipefail
cd "$1"
pattern='#include <(fcntl|unistd|dirent|errno|cerrno|signal|csignal|pwd|grp|termios|windows)(\.h)?>'
pattern+='|#include <(sys|linux|asm|bits)/'
pattern+='|\berrno\b'
pattern+='|\bE(NOENT|EXIST|ISDIR|NOTDIR|LOOP|IO|ACCES|PERM|FBIG|NOSPC|AGAIN|WOULDBLOCK|NOTEMPTY|INVAL|NXIO|BADF|STALE|NOSYS|NAMETOOLONG)\b'
pattern+='|\bS_IS[A-Z]+\b|\bS_I[RWX](USR|GRP|OTH)\b|\bS_IF[A-Z]+\b'
pattern+='|\b0(170000|140000|120000|100000|060000|040000|020000|010000|7777|6000|4000|2000|1000)[uU]?\b'
status=0
while IFS= read -r -d '' file; do
  hits=$(sed -E 's#//.*$##' "$file" | grep -nE "$pattern" || true)
  if [ -n "$hits" ]; then
    echo "$file reaches past platform/ (use a platform/*.h question instead):"
    echo "$hits" | sed 's/^/  line /'
    status=1
  fi
done < <(find . \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
exit $status
