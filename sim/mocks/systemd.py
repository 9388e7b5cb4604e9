"""Mock of systemd's manager and unit objects (org.freedesktop.systemd1).

Behaves like systemd wherever a client's mistake would show:
  * a unit that does not exist gets org.freedesktop.systemd1.NoSuchUnit, and a
    job mode systemd does not know gets InvalidArgs ("Job mode X invalid"),
    in that order (systemd resolves the unit first);
  * unit objects live at systemd's escaped paths
    (phosphor-pid-control.service -> .../unit/phosphor_2dpid_2dcontrol_2eservice);
  * a job changes the unit's ActiveState/SubState before the method returns
    (with PropertiesChanged), so a Get right after the call sees the new
    state; JobNew and JobRemoved follow from an idle callback, after the
    reply, with result "done" or what Mock.SetJobResult chose.
Unit properties are read-only, as on systemd.

Parameters: {"units": {"NAME": "active" | "inactive" | "failed" | null}},
merged over the default units (null removes one).

Test control (org.freedesktop.DBus.Mock on /org/freedesktop/systemd1, not
recorded): AddMockUnit(ss) name, state; SetJobResult(ss) name, result (the
result of the unit's later jobs, "done" to go back to normal).
"""

import os
import sys

import dbus
from gi.repository import GLib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mockcommon as mc  # noqa: E402 pylint: disable=wrong-import-position

BUS_NAME = 'org.freedesktop.systemd1'
MAIN_OBJ = '/org/freedesktop/systemd1'
MAIN_IFACE = 'org.freedesktop.systemd1.Manager'
SYSTEM_BUS = True

UNIT_IFACE = 'org.freedesktop.systemd1.Unit'
UNIT_PREFIX = '/org/freedesktop/systemd1/unit/'
JOB_PREFIX = '/org/freedesktop/systemd1/job/'
NO_SUCH_UNIT = 'org.freedesktop.systemd1.NoSuchUnit'

# The units the board layer starts, stops or restarts.
DEFAULT_UNITS = {
    'xyz.openbmc_project.intrusionsensor.service': 'active',
    'xyz.openbmc_project.psusensor.service': 'active',
    'phosphor-pid-control.service': 'active',
    'systemd-networkd.service': 'active',
    'phosphor-virtual-sensor.service': 'active',
}

# systemd 252's job modes.
JOB_MODES = {'fail', 'replace', 'replace-irreversibly', 'isolate', 'flush',
             'ignore-dependencies', 'ignore-requirements', 'triggering'}
JOB_RESULTS = {'done', 'canceled', 'timeout', 'failed', 'dependency', 'skipped',
               'invalid', 'assert', 'unsupported', 'collected', 'once'}
SUB_STATES = {'active': 'running', 'inactive': 'dead', 'failed': 'failed'}


def escape_label(name):
    """systemd's object-path escaping: every byte that is not an ASCII letter
    or digit (or is a digit in first place) becomes _ and two lower-case hex
    digits."""
    if not name:
        return '_'
    out = []
    for i, byte in enumerate(name.encode('utf-8')):
        ch = chr(byte)
        if (ch.isascii() and ch.isalpha()) or (i > 0 and ch.isascii() and ch.isdigit()):
            out.append(ch)
        else:
            out.append(f'_{byte:02x}')
    return ''.join(out)


def unit_path(name):
    return UNIT_PREFIX + escape_label(name)


def _state(mock):
    return mock.__dict__['_systemd']


def _unit(mock, name):
    unit = _state(mock)['units'].get(str(name))
    if unit is None:
        raise mc.error(NO_SUCH_UNIT, f'Unit {name} not found.')
    return unit


def _check_mode(mode):
    if str(mode) not in JOB_MODES:
        raise mc.error(mc.INVALID_ARGS, f'Job mode {mode} invalid')


def _run_job(mock, unit, kind, mode):
    """Queue a job on UNIT (a unit object): the state changes now, the job
    signals follow once the reply is out."""
    _check_mode(mode)
    state = _state(mock)
    state['next_job'] += 1
    job_id = state['next_job']
    job = dbus.ObjectPath(f'{JOB_PREFIX}{job_id}')
    name = unit.__dict__['_unit_name']
    result = state['results'].get(name, 'done')

    active = str(unit.props[UNIT_IFACE]['ActiveState'])
    if kind == 'stop':
        active = 'inactive'
    elif result != 'done':
        active = 'failed'
    elif kind in ('start', 'restart'):
        active = 'active'
    # A reload keeps the state.
    mc.set_property(unit, UNIT_IFACE, 'ActiveState', active)
    mc.set_property(unit, UNIT_IFACE, 'SubState', SUB_STATES[active])

    def signal_job():
        mock.EmitSignal(MAIN_IFACE, 'JobNew', 'uos', [dbus.UInt32(job_id), job, name])
        mock.EmitSignal(MAIN_IFACE, 'JobRemoved', 'uoss', [dbus.UInt32(job_id), job, name, result])
        return False

    GLib.idle_add(signal_job)
    return job


def _manager_job(kind):
    def job(self, name, mode):
        return _run_job(self, _unit(self, name), kind, mode)
    return job


def _unit_job(mock, kind):
    def job(self, mode):
        return _run_job(mock, self, kind, mode)
    return job


def _get_unit(self, name):
    unit = _state(self)['units'].get(str(name))
    if unit is None:
        raise mc.error(NO_SUCH_UNIT, f'Unit {name} not loaded.')
    return dbus.ObjectPath(unit.path)


def _nothing(_self, *_args):
    return None


def _add_unit(mock, name, active):
    name = str(name)
    active = str(active)
    if active not in SUB_STATES:
        raise mc.error(mc.INVALID_ARGS, f'unit state {active} is not one of {sorted(SUB_STATES)}')
    units = _state(mock)['units']
    if name in units:
        raise mc.error(mc.INVALID_ARGS, f'Unit {name} already exists')
    unit = mc.add_object(mock, unit_path(name), UNIT_IFACE, {
        'Id': mc.Prop('s', name, readonly=True),
        'Names': mc.Prop('as', [name], readonly=True),
        'LoadState': mc.Prop('s', 'loaded', readonly=True),
        'ActiveState': mc.Prop('s', active, readonly=True),
        'SubState': mc.Prop('s', SUB_STATES[active], readonly=True),
    })
    unit.__dict__['_unit_name'] = name
    for method, kind in (('Start', 'start'), ('Stop', 'stop'), ('Restart', 'restart')):
        mc.add_method(unit, UNIT_IFACE, method, 's', 'o', _unit_job(mock, kind))
    units[name] = unit


def _add_mock_unit(self, name, active):
    _add_unit(self, name, active)


def _set_job_result(self, name, result):
    _unit(self, name)
    if str(result) not in JOB_RESULTS:
        raise mc.error(mc.INVALID_ARGS, f'job result {result} is not one of {sorted(JOB_RESULTS)}')
    _state(self)['results'][str(name)] = str(result)


def load(mock, parameters):
    mc.setup(mock)
    mock.__dict__['_systemd'] = {'units': {}, 'results': {}, 'next_job': 0}

    for kind in ('Start', 'Stop', 'Restart', 'Reload'):
        mc.add_method(mock, MAIN_IFACE, kind + 'Unit', 'ss', 'o', _manager_job(kind.lower()))
    mc.add_method(mock, MAIN_IFACE, 'GetUnit', 's', 'o', _get_unit)
    for method in ('Reload', 'Subscribe', 'Unsubscribe'):
        mc.add_method(mock, MAIN_IFACE, method, '', '', _nothing)
    mc.add_method(mock, mc.MOCK_IFACE, 'AddMockUnit', 'ss', '', _add_mock_unit, recorded=False)
    mc.add_method(mock, mc.MOCK_IFACE, 'SetJobResult', 'ss', '', _set_job_result, recorded=False)

    units = dict(DEFAULT_UNITS)
    for name, active in mc.param(parameters, 'units', {}).items():
        if active is None:
            units.pop(name, None)
        else:
            units[name] = active
    for name, active in units.items():
        _add_unit(mock, name, active)
