#!/usr/bin/env bash
# The README's guided tour on a new simulated board: every "$ CMD" line in
# a fence between the tour markers runs from the checkout and must print the
# lines below it, blank lines aside ("..." stands for any lines).  The
# daemons act a moment after the command that caused them, so a command is
# asked again (at most 10 s) until it matches.  Also: `sim/board --help`
# names every option and subcommand of sim/board.
#   sim/sandbox --mocks all -- sim/board-inside BUILD_DIR board_tour.sh
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=sim/lib/sandbox-lib.sh
. "$top/sim/lib/sandbox-lib.sh"
sb_require_sandbox || exit 2
cd "$top" || exit 2
passed=0 failed=0
fail() { printf 'FAIL: %s\n' "$1"; shift; printf '%s\n' "$@"; failed=$((failed + 1)); }

check() {
  # shellcheck disable=SC2034 # wrapped is read by the eval below
  local command=$1 want=$2 pattern='' line got wrapped deadline=$((SECONDS + 10))
  while IFS= read -r line; do
    [[ -z ${line// /} ]] && continue
    if [[ $line == ... ]]; then pattern+='*'; else pattern+=$(printf '%q' $'\n'"$line"$'\n'); fi
  done <<<"$want"
  [[ -n $pattern ]] || pattern="''"
  while :; do
    got=$(bash -c "$command" 2>&1)
    local rc=$?
    # The non-blank lines as "\nLINE\n" each, so a glob matches whole lines.
    wrapped=$(awk '/[^ ]/ { printf "\n%s\n", $0 }' <<<"$got"; echo .) wrapped=${wrapped%.}
    eval "[[ \$wrapped == $pattern ]]" && ((rc == 0)) && break
    if [[ -z $want ]] || ((SECONDS > deadline)); then
      fail "$command (status $rc)" "wanted:" "$want" "got:" "$got"
      return
    fi
    sleep 0.05
  done
  passed=$((passed + 1))
}

# A line ending in a backslash continues on the next one.
command='' want='' fence=0 in_tour=0 cont=0
while IFS= read -r line; do
  case $line in
    '<!-- tour'*) in_tour=1; continue ;;
    '<!-- /tour'*) in_tour=0; continue ;;
  esac
  ((in_tour)) || continue
  if [[ $line == '```'* ]]; then
    ((fence)) && [[ -n $command ]] && check "$command" "$want"
    command='' want='' fence=$((!fence))
    continue
  fi
  ((fence)) || continue
  if ((cont)); then
    command+=$'\n'"$line"
  elif [[ $line == '$ '* ]]; then
    [[ -n $command ]] && check "$command" "$want"
    command=${line#'$ '} want=''
  else
    want+="$line"$'\n'
    continue
  fi
  [[ $line == *\\ ]] && cont=1 || cont=0
done <README.md
((passed + failed >= 8)) || fail "the README's tour has $((passed + failed)) commands"

# Each option of sim/board's argument loop has a help line of its own
# ("  --state DIR  ...", "  -h, --help ...").
help=$(sim/board --help)
for opt in $(sed -n 's/^ *\([-a-z|]*\)) .*/\1/p' sim/board | tr '|' ' '); do
  [[ $opt == -- ]] && continue
  grep -qE -e "^  (-[a-z], )?$opt( |\$)" -e "^  $opt, " <<<"$help" && passed=$((passed + 1)) ||
    fail "sim/board --help does not describe $opt"
done

echo "$passed passed, $failed failed"
((failed == 0))
