"""Mock of the host state manager (xyz.openbmc_project.State.Host).

/xyz/openbmc_project/state/host0 with
  * xyz.openbmc_project.State.Host: CurrentHostState, RequestedHostTransition;
  * xyz.openbmc_project.State.Boot.Progress: BootProgress;
all strings holding full enumeration names, which Set insists on.  A
requested transition changes nothing by itself: tests drive CurrentHostState
with Mock.UpdateProperties.

Parameters: any of the three property names with a value, e.g.
{"CurrentHostState": "xyz.openbmc_project.State.Host.HostState.Off"}.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mockcommon as mc  # noqa: E402 pylint: disable=wrong-import-position

BUS_NAME = 'xyz.openbmc_project.State.Host'
MAIN_OBJ = '/xyz/openbmc_project/state/host0'
MAIN_IFACE = 'xyz.openbmc_project.State.Host'
SYSTEM_BUS = True

BOOT_PROGRESS_IFACE = 'xyz.openbmc_project.State.Boot.Progress'
HOST_STATE = MAIN_IFACE + '.HostState'
TRANSITION = MAIN_IFACE + '.Transition'
STAGES = BOOT_PROGRESS_IFACE + '.ProgressStages'


def load(mock, parameters):
    mc.setup(mock)
    mc.add_properties(mock, MAIN_IFACE, {
        'CurrentHostState': mc.Prop('s', mc.param(parameters, 'CurrentHostState', HOST_STATE + '.Running'),
                                    enum=HOST_STATE),
        'RequestedHostTransition': mc.Prop('s', mc.param(parameters, 'RequestedHostTransition',
                                                         TRANSITION + '.On'), enum=TRANSITION),
    })
    mc.add_properties(mock, BOOT_PROGRESS_IFACE, {
        'BootProgress': mc.Prop('s', mc.param(parameters, 'BootProgress', STAGES + '.Unspecified'),
                                enum=STAGES),
    })
