#!/usr/bin/env bash
# The configuration checker on the samples (status 0, no output) and on
# broken ones (status 1 and exactly the problems given, one line each joined
# by " ; "; "*" matches any text).  usage: check_test.sh CHECKER SAMPLE_DIR
set -uo pipefail
checker=$1 samples=$2 tmp=$(mktemp -d) failed=0
trap 'rm -rf "$tmp"' EXIT

# check NAME DAEMON JSON EXPECTED_STATUS EXPECTED_OUTPUT
check() {
  printf '%s' "$3" >"$tmp/config.json"
  "$checker" "$2" "$tmp/config.json" >"$tmp/out" 2>&1
  local status=$? out
  out=$(sed -z 's/\n$//; s/\n/ ; /g' "$tmp/out")
  # shellcheck disable=SC2053 # $5 is a pattern
  if [[ $status != "$4" || $out != $5 ]]; then
    echo "FAIL $1: status $status, output: $out"
    echo "     expected status $4, output: $5"
    failed=1
  fi
}

check sample-watchkeeper watchkeeper "$(cat "$samples/property-monitor.json")" 0 ''
check sample-boardpilot boardpilot "$(cat "$samples/platform-control.json")" 0 ''

# Condition entries of one property "F", as the list at $E's parent.
E=/monitors/0/interfaces/0/properties/0/F/0
entry() {
  check "$1" watchkeeper "{\"monitors\": [{\"path\": \"/p\", \"interfaces\":
    [{\"name\": \"a.B\", \"properties\": [{\"F\": [$2]}]}]}]}" 1 "$3"
}

entry value-missing '{"actions": []}' "$E: \"value\" is missing"
entry value-type '{"value": "0", "actions": []}' "$E/value: must be a number, not string"
entry value-never '{"value": 2, "actions": 5}' \
  "$E/value: 2 never matches: only 0 and 1 do ; $E/actions: must be an object, not number"
entry run-beside-fault '{"value": 0, "actions": [{"FanFail": ["assert", 1], "run": ["x"]}]}' \
  "$E/actions/0/run: \"run\" cannot stand beside a fault member"
entry bit-range '{"value": 0, "actions": [{"FanFail": ["assert", 1], "ThermalHot": ["assert", 8]}]}' \
  "$E/actions/0/ThermalHot/1: bit number 8 is outside 0 to 7: the update changes no mask"
entry unknown-member '{"value": 0, "actions": [{"Led": ["/l", 1]}]}' \
  "$E/actions/0/Led: unknown action member \"Led\""
entry short-array '{"value": 0, "actions": [{"led": ["/l"]}, {"run": "x"}]}' \
  "$E/actions/0/led: needs 2 elements, has 1 ; $E/actions/1/run: must be an array, not string"
entry condition-type '{"value": 1, "actions": [{"condition": ["hoststate", "1"]}]}' \
  "$E/actions/0/condition/1: must be a number, not string"

check condition-in-hoststate watchkeeper \
  '{"hoststate": [{"value": 1, "actions": [{"condition": ["x"], "run": ["y"]}]}]}' 1 \
  '/hoststate/0/actions/0/condition: has no effect in a host-state entry'
check load-errors-all-reported watchkeeper \
  '{"monitors": [{"interfaces": [{"name": "a.B"}]}, {"path": "/q", "interfaces": {"x/y": {"name": 5}}}]}' 1 \
  '/monitors/0: "path" is missing or empty ; /monitors/1/interfaces/x~1y/name: must be a string, not number'
check property-table watchkeeper \
  '{"monitors": [{"path": "/p", "interfaces": [{"name": "a.B", "properties": [5]}]}]}' 1 \
  '/monitors/0/interfaces/0/properties/0: must be an object, not number'
check top-level watchkeeper '[]' 1 '/: must be an object, not array'
check parse-error watchkeeper '{' 1 '/: *parse error*'

check run-type boardpilot '{"platforms": [{"chassisid": "A", "run": 5}]}' 1 \
  '/platforms/0/run: must be a string, not number'
check entries boardpilot '{"platforms": [{"run": "x"}, "s", {"chassisid": 1, "run": "x"}]}' 1 \
  '/platforms/0: "chassisid" is missing or empty: the entry applies to no board ; /platforms/1: must be an object, not string ; /platforms/2/chassisid: must be a string, not number'
check long-id boardpilot "{\"platforms\": {\"a\": {\"chassisid\": \"$(printf 'A%.0s' {1..32})\", \"run\": \"x\"}}}" 1 \
  '/platforms/a/chassisid: longer than 31 characters: no chassis ID matches it'
check bp-top-level boardpilot '5' 1 '/: must be an object, not number'
check usage nowhere '{}' 2 'usage: *'

exit $failed
