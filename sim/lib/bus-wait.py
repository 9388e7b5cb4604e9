#!/usr/bin/python3
"""Wait, without polling, until services on the system bus are ready or gone.

    bus-wait.py [--timeout SEC] NAME[=PID]...          ready
    bus-wait.py [--timeout SEC] --gone NAME[=PID]...   gone

Ready: each NAME has an owner (with PID, owned by process PID) that answers
org.freedesktop.DBus.Peer.Ping.  Owning the name is not enough: dbusmock
claims its name before it loads its template, and dies afterwards if the
template fails; Ping is only answered once its main loop runs.  A process
PID that exits first fails the wait at once rather than at the timeout.

Gone: no NAME has an owner any more and every PID has exited.

All names are waited for at once.  The NameOwnerChanged match is installed
before the first look at the owners, so no change can slip between the two.
Exit status 0 when all are ready (or gone), 1 otherwise, with the reason on
stderr, 2 for a usage error.
"""

import argparse
import os
import sys

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

DBUS = 'org.freedesktop.DBus'


def fail(msg):
    print(f'bus-wait: {msg}', file=sys.stderr, flush=True)


class Waiter:
    def __init__(self, bus, targets, gone):
        self.bus = bus
        self.gone = gone
        self.loop = GLib.MainLoop()
        self.ok = False
        # name -> {'pid': int or None, 'done': bool, 'owner': unique name being checked}
        self.targets = {name: {'pid': pid, 'done': False, 'exited': False, 'owner': None}
                        for name, pid in targets}
        self.driver = dbus.Interface(bus.get_object(DBUS, '/org/freedesktop/DBus'), DBUS)

    def run(self, timeout):
        self.bus.add_signal_receiver(self.on_owner_changed, signal_name='NameOwnerChanged',
                                     dbus_interface=DBUS, path='/org/freedesktop/DBus',
                                     bus_name=DBUS)
        for name, target in self.targets.items():
            if target['pid'] is not None and not self.watch_pid(name, target):
                return False
        for name in self.targets:
            try:
                owner = str(self.driver.GetNameOwner(name))
            except dbus.exceptions.DBusException:
                owner = ''
            self.on_owner_changed(name, '', owner)
        if self.finished():
            return self.ok
        GLib.timeout_add(int(timeout * 1000), self.on_timeout)
        self.loop.run()
        return self.ok

    def watch_pid(self, name, target):
        pid = target['pid']
        try:
            fd = os.pidfd_open(pid)
        except ProcessLookupError:
            target['exited'] = True
            if not self.gone:
                fail(f'{name}: process {pid} exited before it was ready (not running)')
                return False
            return True
        GLib.io_add_watch(fd, GLib.PRIORITY_DEFAULT, GLib.IO_IN, self.on_exit, name)
        return True

    def on_exit(self, fd, _condition, name):
        os.close(fd)
        target = self.targets[name]
        target['exited'] = True
        if not self.gone and not target['done']:
            fail(f'{name}: process {target["pid"]} exited before it was ready')
            self.stop(False)
        else:
            self.check_gone(name)
        return False

    def on_owner_changed(self, name, _old, new):
        name = str(name)
        target = self.targets.get(name)
        if target is None or target['done']:
            return
        new = str(new)
        if self.gone:
            if not new:
                target['owner'] = ''
                self.check_gone(name)
            else:
                target['owner'] = new
            return
        if not new or target['owner'] == new:
            return
        target['owner'] = new
        if target['pid'] is not None:
            try:
                pid = int(self.driver.GetConnectionUnixProcessID(new))
            except dbus.exceptions.DBusException:
                return  # that owner is already gone again
            if pid != target['pid']:
                return  # an older instance still holds the name
        self.bus.call_async(new, '/', 'org.freedesktop.DBus.Peer', 'Ping', '', (),
                            lambda *_: self.on_pong(name, new),
                            lambda e: self.on_ping_error(name, new, e),
                            timeout=3600)

    def on_pong(self, name, owner):
        target = self.targets[name]
        if target['owner'] != owner or target['done']:
            return
        target['done'] = True
        self.finished()

    def on_ping_error(self, name, owner, exc):
        target = self.targets[name]
        if target['owner'] != owner or target['done']:
            return
        # The owner died while loading (NoReply, ServiceUnknown).  When its
        # PID is watched, its exit says so; otherwise report it here.
        if target['pid'] is None:
            fail(f'{name}: {owner} did not answer Ping: {exc.get_dbus_name()}')
            self.stop(False)

    def check_gone(self, name):
        target = self.targets[name]
        if target['owner'] == '' and (target['pid'] is None or target['exited']):
            target['done'] = True
            self.finished()

    def finished(self):
        if all(t['done'] for t in self.targets.values()):
            self.stop(True)
            return True
        return False

    def on_timeout(self):
        pending = ', '.join(n for n, t in self.targets.items() if not t['done'])
        fail(f'timed out waiting for {pending} to be {"gone" if self.gone else "ready"}')
        self.stop(False)
        return False

    def stop(self, ok):
        self.ok = ok
        if self.loop.is_running():
            self.loop.quit()


def in_sandbox():
    token = os.environ.get('KESTREL_SANDBOX_TOKEN')
    try:
        with open('/run/kestrel-sandbox/token', encoding='ascii') as f:
            return bool(token) and f.read().strip() == token
    except OSError:
        return False


def target(arg):
    name, sep, pid = arg.partition('=')
    if not name or (sep and not pid.isdigit()):
        raise argparse.ArgumentTypeError(f'expected NAME or NAME=PID, got {arg!r}')
    return name, int(pid) if sep else None


def main():
    parser = argparse.ArgumentParser(description='wait for system-bus services')
    parser.add_argument('--timeout', type=float, default=30.0)
    parser.add_argument('--gone', action='store_true')
    parser.add_argument('targets', nargs='+', type=target, metavar='NAME[=PID]')
    args = parser.parse_args()

    if not in_sandbox():
        fail('refusing to run outside the board sandbox: the system bus here is the host\'s')
        return 2

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    try:
        bus = dbus.SystemBus()
    except dbus.exceptions.DBusException as e:
        fail(f'cannot connect to the system bus: {e.get_dbus_message()}')
        return 1
    return 0 if Waiter(bus, args.targets, args.gone).run(args.timeout) else 1


if __name__ == '__main__':
    sys.exit(main())
