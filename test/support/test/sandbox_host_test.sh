#!/bin/bash
# shellcheck disable=SC2016 # the single-quoted commands expand inside
# Host-side checks of sim/sandbox: nothing a test does reaches the host or
# outlives the run, and sandbox-only tests refuse to run outside it and run
# inside it.  Usage: sandbox_host_test.sh SANDBOX SANDBOX_GTEST
set -u
sandbox=$1 gtest=$2 passed=0 failed=0
ident() { stat -L -c %F:%d:%i:%s "$1" 2>/dev/null || echo none; }
check() { if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1" >&2; fi; }

# A missing tool must fail the run, not pass a check on empty output.
for tool in basename cat dbus-send dd dirname grep head ls mkdir mktemp od \
    pgrep readlink rm sed sleep stat tail touch wc /usr/bin/python3; do
    check "$tool is installed" command -v "$tool"
done >/dev/null

# Below /tmp, which the sandbox mounts privately; run directories go to
# $TMPDIR, so what a run leaves behind can be counted.
scratch=$(mktemp -d /tmp/kestrel-sandbox-test.XXXXXX) || exit 1
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch/tmpdir && mkdir "$TMPDIR"
probe=kestrel-probe-$$-$RANDOM

# A failure inside must never read as a success outside.
err=$("$sandbox" -- sh -c 'exit 3' 2>&1 >/dev/null)
check "status 3 passes through" test $? -eq 3
rm -rf "$(sed -n 's/^sandbox: run directory kept: //p' <<<"$err")"

# System paths are private.
"$sandbox" -- sh -c "touch /usr/share/$probe /tmp/$probe /run/$probe /var/lib/$probe"
check "system paths are writable inside" test $? -eq 0
for dir in /usr/share /tmp /run /var/lib; do
    check "$dir/$probe is not on the host" test ! -e "$dir/$probe"
done
(cd /tmp && "$sandbox" -- sh -c "touch ./$probe")
check "a command started in /tmp writes to the private /tmp" test ! -e "/tmp/$probe"
# The board's state (/var/lib, the EEPROM) persists across runs; --fresh
# starts from an erased board.
state=$scratch/state
"$sandbox" --state "$state" -- sh -c \
    'echo first >/var/lib/probe && printf "\022" |
     dd of=/sys/bus/i2c/devices/7-0050/eeprom bs=1 seek=5 conv=notrunc status=none'
out=$("$sandbox" --state "$state" -- sh -c \
    'cat /var/lib/probe; od -An -tx1 -j4 -N3 /sys/bus/i2c/devices/7-0050/eeprom')
check "a second run sees the first run's state" test "$out" = "first
 ff 12 ff"
"$sandbox" --state "$state" --fresh -- sh -c \
    'test ! -e /var/lib/probe && test "$(od -An -tx1 -j5 -N1 /sys/bus/i2c/devices/7-0050/eeprom)" = " ff"'
check "--fresh starts from an erased board" test $? -eq 0
mkdir "$scratch/precious" && touch "$scratch/precious/file"
"$sandbox" --state "$scratch/precious" --fresh -- true 2>/dev/null
check "--fresh refuses a directory it did not make" test $? -eq 2 -a -e "$scratch/precious/file"

# A write to /dev/mem in the sandbox lands in its private file.
host_mem=$(ident /dev/mem)
out=$("$sandbox" -- sh -c \
    'printf "\\252" | dd of=/dev/mem bs=1 seek=$((0x1E6E203C)) conv=notrunc status=none &&
     od -An -tx1 -j $((0x1E6E203C)) -N2 /dev/mem && test -c /dev/null')
check "/dev/mem in the sandbox is writable memory" test "$out" = " aa 00"
check "the host's /dev/mem is as it was" test "$(ident /dev/mem)" = "$host_mem"

# Commands that act on the machine are recorded, not run, by name or by path.
host_systemctl=$(ident "$(command -v systemctl)")
out=$("$sandbox" -- sh -c \
    'shutdown; systemctl restart systemd-networkd &&
     for p in /usr/bin/systemctl /usr/sbin/shutdown; do [ -e "$p" ] && "$p" --version; done
     echo 5 >"$SB_RUN/stand-in-status/reboot"; reboot; echo "rc=$?"; cat "$SB_RUN/commands.log"')
check "a stand-in answers the status asked for" test "$(head -n1 <<<"$out")" = "rc=5"
check "stand-ins record each call by name" \
    test "$(sed -n '2,3p;$p' <<<"$out")" = "shutdown
systemctl restart systemd-networkd
reboot"
by_path=0
for p in /usr/bin/systemctl /usr/sbin/shutdown; do [ -e "$p" ] && by_path=$((by_path + 1)); done
check "and by path" test "$(grep -cxE '(systemctl|shutdown) --version' <<<"$out")" -eq "$by_path"
check "the host's systemctl is untouched" \
    test "$(ident "$(command -v systemctl)")" = "$host_systemctl"

# What the command leaves running dies with the sandbox (pgrep: 1 is none).
"$sandbox" -- sh -c 'sleep 987654 & exit 0'
pgrep -f '^sleep 987654$' >/dev/null
check "no process outlives the sandbox" test $? -eq 1

# The guard: sandbox-only tests skip (77) outside it, even with a forged
# token, and run inside it (a guard that always refused would pass as skips).
"$sandbox" -- "$gtest" >/dev/null 2>&1
check "inside, the sandbox tests run and pass" test $? -eq 0
out=$("$gtest" 2>&1)
check "outside, the sandbox tests exit 77" test $? -eq 77
check "and say why" grep -q 'refusing to run outside the board sandbox (use sim/sandbox)' <<<"$out"
KESTREL_SANDBOX_TOKEN=forged "$gtest" >/dev/null 2>&1
check "a forged token is refused" test $? -eq 77
# The binary is env's argument here, so its directory is named for /tmp.
err=$("$sandbox" --host-path "$(dirname "$gtest")" -- env KESTREL_SANDBOX_TOKEN=forged "$gtest" 2>&1 >/dev/null)
check "a wrong token inside is refused" test $? -eq 77
rm -rf "$(sed -n 's/^sandbox: run directory kept: //p' <<<"$err")"

# The private system bus: no services unless asked for, never the host's;
# its mocks die with the sandbox and refuse the host's bus.
host_bus=$(ident /run/dbus/system_bus_socket)
out=$("$sandbox" -- dbus-send --system --print-reply --dest=org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus.ListNames)
check "the sandbox has a system bus without --mocks" test $? -eq 0
check "with no service on it" test "$(grep -c 'string "[^:]' <<<"$out")" -eq 1
check "the host's bus socket is untouched" \
    test "$(ident /run/dbus/system_bus_socket)" = "$host_bus"
pidns=$("$sandbox" --mocks "led state_host" -- readlink /proc/self/ns/pid)
check "a run with mocks succeeds" test $? -eq 0 -a -n "$pidns"
# Other sandboxes may run mocks at the same time: look for this one's.
left=$(for p in /proc/[0-9]*; do readlink "$p/ns/pid" 2>/dev/null; done | grep -cxF "$pidns")
check "no mock outlives the sandbox" test "$left" -eq 0
SB_RUN=$scratch KESTREL_SANDBOX_TOKEN=forged bash -c \
    '. "$1/lib/sandbox-lib.sh" && sb_start_mock led' _ "$(dirname "$sandbox")" 2>/dev/null
check "outside, sb_start_mock refuses" test $? -ne 0 -a ! -e "$scratch/led.pid"
/usr/bin/python3 -B "$(dirname "$sandbox")/lib/bus-wait.py" --gone org.freedesktop.DBus 2>/dev/null
check "outside, the bus waiter refuses" test $? -eq 2

# Successful and skipped runs (and kept directories removed above) leave
# nothing.
check "no run or state directory left behind" test -z "$(ls -A "$TMPDIR")"
echo "$passed passed, $failed failed"
((failed == 0))
