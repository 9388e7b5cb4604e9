"""Mock of the fan tachometer sensors (xyz.openbmc_project.FanSensor).

An ObjectManager at /xyz/openbmc_project/sensors, and one object per fan,
/xyz/openbmc_project/sensors/fan_tach/NAME, with
  * xyz.openbmc_project.Sensor.Value: Value (d, RPM);
  * xyz.openbmc_project.State.Decorator.OperationalStatus: Functional (b).
A Set that changes a property emits PropertiesChanged, so
`busctl set-property ... Functional b false` reports a fan as failed.

Parameters: {"fans": [NAME...] (default Fan0 to Fan3), "failed": [NAME...]
(Functional false; the others true)}.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mockcommon as mc  # noqa: E402 pylint: disable=wrong-import-position

BUS_NAME = 'xyz.openbmc_project.FanSensor'
MAIN_OBJ = '/xyz/openbmc_project/sensors'
IS_OBJECT_MANAGER = True
SYSTEM_BUS = True

VALUE_IFACE = 'xyz.openbmc_project.Sensor.Value'
STATUS_IFACE = 'xyz.openbmc_project.State.Decorator.OperationalStatus'
DEFAULT_FANS = ['Fan0', 'Fan1', 'Fan2', 'Fan3']


def load(mock, parameters):
    mc.setup(mock)
    failed = set(mc.param(parameters, 'failed', []))
    for name in mc.param(parameters, 'fans', DEFAULT_FANS):
        obj = mc.add_object(mock, f'{MAIN_OBJ}/fan_tach/{name}', VALUE_IFACE, {
            'Value': mc.Prop('d', 0.0 if name in failed else 5200.0),
        })
        mc.add_properties(obj, STATUS_IFACE, {
            'Functional': mc.Prop('b', name not in failed),
        })
