#!/usr/bin/python3
"""Wait until a process listens for signals on the system bus.

    match-wait.py [--timeout SEC] [--rules N] PID
    match-wait.py --count PID

Ready: a bus connection of process PID has at least N match rules (default
1) in the bus daemon, as its Debug.Stats interface counts them.  A daemon
that registers its matches before it enters its event loop is then sure to
see every signal sent from here on: the way to start such a daemon before
the service whose signals it follows.  The bus announces no new match
rule, so this looks every 20 ms until the deadline; a process that exits
first fails the wait at once.

--count prints the number of match rules the process has now instead.

Exit status 0 when ready, 1 otherwise (reason on stderr), 2 outside the
sandbox.
"""

import argparse
import importlib.util
import os
import sys
import time

import dbus

# The sandbox guard of bus-wait.py, beside this file.
_spec = importlib.util.spec_from_file_location(
    'bus_wait', os.path.join(os.path.dirname(os.path.abspath(__file__)), 'bus-wait.py'))
_bus_wait = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_bus_wait)
in_sandbox = _bus_wait.in_sandbox

DBUS = 'org.freedesktop.DBus'


def match_rules(bus, pid):
    """The most match rules any connection of PID has."""
    driver = dbus.Interface(bus.get_object(DBUS, '/org/freedesktop/DBus'), DBUS)
    stats = dbus.Interface(bus.get_object(DBUS, '/org/freedesktop/DBus'),
                           'org.freedesktop.DBus.Debug.Stats')
    most = 0
    for name in driver.ListNames():
        if not name.startswith(':'):
            continue
        try:
            if int(driver.GetConnectionUnixProcessID(name)) != pid:
                continue
            most = max(most, int(stats.GetConnectionStats(name).get('MatchRules', 0)))
        except dbus.exceptions.DBusException:
            continue  # gone meanwhile
    return most


def main():
    parser = argparse.ArgumentParser(description='wait for a process\'s bus matches')
    parser.add_argument('--timeout', type=float, default=30.0)
    parser.add_argument('--rules', type=int, default=1)
    parser.add_argument('--count', action='store_true')
    parser.add_argument('pid', type=int)
    args = parser.parse_args()
    if not in_sandbox():
        print('match-wait: refusing to run outside the board sandbox', file=sys.stderr)
        return 2
    bus = dbus.SystemBus()
    if args.count:
        print(match_rules(bus, args.pid))
        return 0
    deadline = time.monotonic() + args.timeout
    while True:
        if not os.path.exists(f'/proc/{args.pid}'):
            print(f'match-wait: process {args.pid} exited', file=sys.stderr)
            return 1
        if match_rules(bus, args.pid) >= args.rules:
            return 0
        if time.monotonic() > deadline:
            print(f'match-wait: process {args.pid} has no {args.rules} match rules '
                  f'after {args.timeout} s', file=sys.stderr)
            return 1
        time.sleep(0.02)


if __name__ == '__main__':
    sys.exit(main())
