#!/usr/bin/env bash
# The README's guided tour, run on a new simulated board: every "$ CMD" line
# between the tour markers runs in the board (from the checkout, as a
# newcomer types it) and must print the lines shown below it, blank lines
# aside; a line "..." stands for any number of lines.  The daemons act on
# D-Bus signals a moment after the command that caused them, so a command
# whose output is shown is asked again (at most 10 s) until it matches.  Also
# checks that `sim/board --help` names every option and subcommand of
# sim/board.
#   sim/sandbox --mocks all -- sim/board-inside BUILD_DIR board_tour.sh
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=sim/lib/sandbox-lib.sh
. "$top/sim/lib/sandbox-lib.sh"
sb_require_sandbox || exit 2
cd "$top" || exit 2
passed=0 failed=0
fail() { printf 'FAIL: %s\n' "$1"; shift; printf '%s\n' "$@"; failed=$((failed + 1)); }

# wrap VAR TEXT: each line of TEXT as "\nLINE\n" in VAR, blank lines
# dropped, so that a glob can only match whole lines.
wrap() {
  local line
  printf -v "$1" '%s' ''
  while IFS= read -r line; do
    [[ -n ${line// /} ]] && printf -v "$1" '%s\n%s\n' "${!1}" "$line"
  done <<<"$2"
}
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
    wrap wrapped "$got"
    eval "[[ \$wrapped == $pattern ]]" && ((rc == 0)) && break
    if [[ -z $want ]] || ((SECONDS > deadline)); then
      fail "$command (status $rc)" "wanted:" "$want" "got:" "$got"
      return
    fi
    sleep 0.05
  done
  passed=$((passed + 1))
}

# The tour: "$ " lines inside code fences between the markers; a line ending
# in a backslash continues on the next one.
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

# Every option and subcommand of sim/board's argument loop has a line of its
# own in the help ("  --state DIR  ...", "  -h, --help ...").
help=$(sim/board --help)
for opt in $(sed -n 's/^ *\([-a-z|]*\)) .*/\1/p' sim/board | tr '|' ' '); do
  [[ $opt == -- ]] && continue
  if grep -qE -e "^  (-[a-z], )?$opt( |\$)" -e "^  $opt, " <<<"$help"; then
    passed=$((passed + 1))
  else
    fail "sim/board --help does not describe $opt"
  fi
done

echo "$passed passed, $failed failed"
((failed == 0))
