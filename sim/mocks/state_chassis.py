"""Mock of the chassis state manager (xyz.openbmc_project.State.Chassis).

/xyz/openbmc_project/state/chassis0 with xyz.openbmc_project.State.Chassis:
CurrentPowerState and RequestedPowerTransition, strings holding full
enumeration names, which Set insists on.  A requested transition changes
nothing by itself.

Parameters: either property name with a value.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mockcommon as mc  # noqa: E402 pylint: disable=wrong-import-position

BUS_NAME = 'xyz.openbmc_project.State.Chassis'
MAIN_OBJ = '/xyz/openbmc_project/state/chassis0'
MAIN_IFACE = 'xyz.openbmc_project.State.Chassis'
SYSTEM_BUS = True

POWER_STATE = MAIN_IFACE + '.PowerState'
TRANSITION = MAIN_IFACE + '.Transition'


def load(mock, parameters):
    mc.setup(mock)
    mc.add_properties(mock, MAIN_IFACE, {
        'CurrentPowerState': mc.Prop('s', mc.param(parameters, 'CurrentPowerState', POWER_STATE + '.On'),
                                     enum=POWER_STATE),
        'RequestedPowerTransition': mc.Prop('s', mc.param(parameters, 'RequestedPowerTransition',
                                                          TRANSITION + '.On'), enum=TRANSITION),
    })
