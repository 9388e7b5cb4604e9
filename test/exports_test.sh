#!/bin/bash
# The library's dynamic symbol table is exactly the checked-in list: nothing
# missing, nothing else (no Boost, standard library or internal symbol).
# Usage: exports_test.sh LIBRARY LIST
set -u
lib=$1 list=$2 passed=0 failed=0
check() { if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1" >&2; fi; }

# Without its tools the comparison would be between two empty lists.
for tool in nm c++filt; do
    check "$tool is installed" command -v "$tool" >/dev/null
done

expected=$(grep -v '^#' "$list" | sed '/^[[:space:]]*$/d' | sort)
check "the list names symbols" test -n "$expected"
check "the list names each symbol once" test -z "$(uniq -d <<<"$expected")"
table=$(nm -D --defined-only --format=posix "$lib") && actual=$(awk '{print $1}' <<<"$table" | sort) || actual=
check "nm reads the library" test -n "$actual"

missing=$(comm -23 <(echo "$expected") <(echo "$actual"))
extra=$(comm -13 <(echo "$expected") <(echo "$actual"))
check "every listed symbol is exported" test -z "$missing"
check "nothing else is exported" test -z "$extra"
[[ -n $missing ]] && c++filt <<<"$missing" | sed 's/^/missing: /' >&2
[[ -n $extra ]] && c++filt <<<"$extra" | sed 's/^/extra: /' >&2

echo "$passed passed, $failed failed"
((failed == 0))
