"""Mock of the BMC state manager (xyz.openbmc_project.State.BMC).

/xyz/openbmc_project/state/bmc0 with xyz.openbmc_project.State.BMC:
CurrentBMCState (s), RequestedBMCTransition (s), both full enumeration names
(which Set insists on), and LastRebootTime (t, milliseconds since the epoch).
A requested transition changes nothing by itself.

Parameters: any of the three property names with a value.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mockcommon as mc  # noqa: E402 pylint: disable=wrong-import-position

BUS_NAME = 'xyz.openbmc_project.State.BMC'
MAIN_OBJ = '/xyz/openbmc_project/state/bmc0'
MAIN_IFACE = 'xyz.openbmc_project.State.BMC'
SYSTEM_BUS = True

BMC_STATE = MAIN_IFACE + '.BMCState'
TRANSITION = MAIN_IFACE + '.Transition'


def load(mock, parameters):
    mc.setup(mock)
    mc.add_properties(mock, MAIN_IFACE, {
        'CurrentBMCState': mc.Prop('s', mc.param(parameters, 'CurrentBMCState', BMC_STATE + '.Ready'),
                                   enum=BMC_STATE),
        'RequestedBMCTransition': mc.Prop('s', mc.param(parameters, 'RequestedBMCTransition',
                                                        TRANSITION + '.None'), enum=TRANSITION),
        'LastRebootTime': mc.Prop('t', mc.param(parameters, 'LastRebootTime', 1700000000000)),
    })
