"""Mock of the temperature sensors (xyz.openbmc_project.HwmonTempSensor).

An ObjectManager at /xyz/openbmc_project/sensors, and one object per sensor,
/xyz/openbmc_project/sensors/temperature/NAME, with
  * xyz.openbmc_project.Sensor.Value: Value (d, degrees Celsius);
  * xyz.openbmc_project.Sensor.Threshold.Critical: CriticalHigh (d) and
    CriticalAlarmHigh (b).
A Set that changes a property emits PropertiesChanged, so
`busctl set-property ... CriticalAlarmHigh b true` raises the alarm.

Parameters: {"sensors": [NAME...] (default CPU0_Temp, CPU1_Temp,
Inlet_Temp), "alarmed": [NAME...] (CriticalAlarmHigh true)}.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mockcommon as mc  # noqa: E402 pylint: disable=wrong-import-position

BUS_NAME = 'xyz.openbmc_project.HwmonTempSensor'
MAIN_OBJ = '/xyz/openbmc_project/sensors'
IS_OBJECT_MANAGER = True
SYSTEM_BUS = True

VALUE_IFACE = 'xyz.openbmc_project.Sensor.Value'
CRITICAL_IFACE = 'xyz.openbmc_project.Sensor.Threshold.Critical'
DEFAULT_SENSORS = ['CPU0_Temp', 'CPU1_Temp', 'Inlet_Temp']


def load(mock, parameters):
    mc.setup(mock)
    alarmed = set(mc.param(parameters, 'alarmed', []))
    for name in mc.param(parameters, 'sensors', DEFAULT_SENSORS):
        obj = mc.add_object(mock, f'{MAIN_OBJ}/temperature/{name}', VALUE_IFACE, {
            'Value': mc.Prop('d', 101.0 if name in alarmed else 45.0),
        })
        mc.add_properties(obj, CRITICAL_IFACE, {
            'CriticalHigh': mc.Prop('d', 100.0),
            'CriticalAlarmHigh': mc.Prop('b', name in alarmed),
        })
