"""Mock of the BMC software updater (xyz.openbmc_project.Software.BMC.Updater).

  * /xyz/openbmc_project/software: ObjectManager, and
    xyz.openbmc_project.Common.FactoryReset.Reset() (on a secondary
    interface, see network.py);
  * /xyz/openbmc_project/software/ID for each version, with
    xyz.openbmc_project.Software.Version Version (s) and Purpose (s, a full
    VersionPurpose name, which Set insists on).

Parameters: {"versions": {ID: [VERSION, PURPOSE]}}, PURPOSE either the full
name or its last part ("Host"); default {"bios_active": ["1.00", "Host"]}.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mockcommon as mc  # noqa: E402 pylint: disable=wrong-import-position

BUS_NAME = 'xyz.openbmc_project.Software.BMC.Updater'
MAIN_OBJ = '/xyz/openbmc_project/software'
IS_OBJECT_MANAGER = True
SYSTEM_BUS = True

VERSION_IFACE = 'xyz.openbmc_project.Software.Version'
PURPOSE = VERSION_IFACE + '.VersionPurpose'
FACTORY_RESET_IFACE = 'xyz.openbmc_project.Common.FactoryReset'
DEFAULT_VERSIONS = {'bios_active': ['1.00', 'Host']}


def _nothing(_self, *_args):
    return None


def load(mock, parameters):
    mc.setup(mock)
    mc.add_method(mock, FACTORY_RESET_IFACE, 'Reset', '', '', _nothing)
    for ident, (version, purpose) in mc.param(parameters, 'versions', DEFAULT_VERSIONS).items():
        if '.' not in purpose:
            purpose = f'{PURPOSE}.{purpose}'
        mc.add_object(mock, f'{MAIN_OBJ}/{ident}', VERSION_IFACE, {
            'Version': mc.Prop('s', version),
            'Purpose': mc.Prop('s', purpose, enum=PURPOSE),
        })
