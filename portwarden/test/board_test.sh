#!/bin/bash
# The simulated board as a newcomer uses it: SSH blocked on eth0 through
# ipmitool shows as a reject rule, and after a restart of the board on the
# same state the rule is back, once, and Get SSH control answers 00.
#   board_test.sh SANDBOX BOARD_INSIDE BUILD_DIR
# shellcheck disable=SC2016 # the commands expand inside the board
set -u
state=$(mktemp -d /tmp/kestrel-portwarden-board.XXXXXX) || exit 1
trap 'rm -rf "$state"' EXIT
board() { "$1" --state "$state" --mocks all -- "$2" "$3" bash -c "$4"; }
rule='-A INPUT -i eth0 -p tcp -m tcp --dport 22 -j REJECT --reject-with icmp-port-unreachable'
first=$(board "$@" 'ipmitool -I dummy raw 0x3a 0x22 0x01 0x00 >/dev/null && for _ in $(seq 100); do
    grep -qx eth0=0 /var/lib/keyshelf/settings.ini && break; sleep 0.05; done && iptables -S | grep REJECT')
again=$(board "$@" 'iptables -S | grep REJECT; ipmitool -I dummy raw 0x3a 0x23 0x01')
[[ $first == "$rule" && $again == "$rule"$'\n'" 00" ]] && echo "1 passed, 0 failed" && exit 0
printf 'FAIL: first run %q, after the restart %q\n0 passed, 1 failed\n' "$first" "$again" && exit 1
