"""Mock of the LED group manager (xyz.openbmc_project.LED.GroupManager).

An ObjectManager at /xyz/openbmc_project/led/groups, and one object per group
below it with xyz.openbmc_project.Led.Group.Asserted (b).

Parameters: {"groups": [NAME...], "asserted": [NAME...]}; the default groups
are system_fault, bmc_booted, enclosure_identify and fan_fault, none
asserted.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mockcommon as mc  # noqa: E402 pylint: disable=wrong-import-position

BUS_NAME = 'xyz.openbmc_project.LED.GroupManager'
MAIN_OBJ = '/xyz/openbmc_project/led/groups'
IS_OBJECT_MANAGER = True
SYSTEM_BUS = True

GROUP_IFACE = 'xyz.openbmc_project.Led.Group'
DEFAULT_GROUPS = ['system_fault', 'bmc_booted', 'enclosure_identify', 'fan_fault']


def load(mock, parameters):
    mc.setup(mock)
    asserted = set(mc.param(parameters, 'asserted', []))
    for group in mc.param(parameters, 'groups', DEFAULT_GROUPS):
        mc.add_object(mock, f'{MAIN_OBJ}/{group}', GROUP_IFACE, {
            'Asserted': mc.Prop('b', group in asserted),
        })
