"""Mock of the network service (xyz.openbmc_project.Network).

  * /xyz/openbmc_project/network: ObjectManager, and
    xyz.openbmc_project.Common.FactoryReset.Reset() (on a secondary
    interface: a method named Reset on the primary one would break
    Mock.Reset);
  * /xyz/openbmc_project/network/IF for each interface, with
    xyz.openbmc_project.Network.EthernetInterface InterfaceName (s) and
    SSH (b); a Set that changes SSH emits PropertiesChanged;
  * xyz.openbmc_project.Collection.DeleteAll.DeleteAll() on the objects in
    deleteall_paths (an object that is no interface gets only that).

Parameters: {"interfaces": [IF...] (default eth0 eth1 eth2 usb0),
"ssh_disabled": [IF...] (SSH false; the others true), "deleteall_paths":
[PATH...] (default .../eth0 and .../eth1)}.

Test control (org.freedesktop.DBus.Mock on /xyz/openbmc_project/network, not
recorded): AddEthernetInterface(s) NAME adds .../network/NAME with SSH true
and emits InterfacesAdded, as the service does when an interface appears;
AnnounceInterfaces(as) NAMES -> as emits InterfacesAdded again for existing
interfaces (all of them, in the order they were added, when NAMES is
empty), as the service does when it starts after its watchers, and answers
the names announced.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mockcommon as mc  # noqa: E402 pylint: disable=wrong-import-position
import dbus  # noqa: E402 pylint: disable=wrong-import-position
import dbusmock.mockobject as mockobject  # noqa: E402 pylint: disable=wrong-import-position

BUS_NAME = 'xyz.openbmc_project.Network'
MAIN_OBJ = '/xyz/openbmc_project/network'
IS_OBJECT_MANAGER = True
SYSTEM_BUS = True

ETH_IFACE = 'xyz.openbmc_project.Network.EthernetInterface'
FACTORY_RESET_IFACE = 'xyz.openbmc_project.Common.FactoryReset'
DELETE_ALL_IFACE = 'xyz.openbmc_project.Collection.DeleteAll'
DEFAULT_INTERFACES = ['eth0', 'eth1', 'eth2', 'usb0']
DEFAULT_DELETEALL = [f'{MAIN_OBJ}/eth0', f'{MAIN_OBJ}/eth1']


def _nothing(_self, *_args):
    return None


def _add_interface(mock, name, ssh):
    path = f'{MAIN_OBJ}/{name}'
    if path in mockobject.objects:
        raise mc.error(mc.INVALID_ARGS, f'{path} already exists')
    return mc.add_object(mock, path, ETH_IFACE, {
        'InterfaceName': mc.Prop('s', name),
        'SSH': mc.Prop('b', ssh),
    })


def _add_ethernet_interface(self, name):
    _add_interface(self, str(name), True)
    mc.emit_interfaces_added(self, f'{MAIN_OBJ}/{name}')


def _announce_interfaces(self, names):
    names = [str(n) for n in names]
    if not names:
        names = [path[len(MAIN_OBJ) + 1:] for path, obj in mockobject.objects.items()
                 if path.startswith(MAIN_OBJ + '/') and ETH_IFACE in obj.props]
    paths = [f'{MAIN_OBJ}/{name}' for name in names]
    for path in paths:
        if ETH_IFACE not in getattr(mockobject.objects.get(path), 'props', {}):
            raise mc.error(mc.INVALID_ARGS, f'no Ethernet interface at {path}')
    for path in paths:
        mc.emit_interfaces_added(self, path)
    return dbus.Array(names, signature='s')


def load(mock, parameters):
    mc.setup(mock)
    mc.add_method(mock, FACTORY_RESET_IFACE, 'Reset', '', '', _nothing)
    mc.add_method(mock, mc.MOCK_IFACE, 'AddEthernetInterface', 's', '', _add_ethernet_interface,
                  recorded=False)
    mc.add_method(mock, mc.MOCK_IFACE, 'AnnounceInterfaces', 'as', 'as', _announce_interfaces,
                  recorded=False)
    disabled = set(mc.param(parameters, 'ssh_disabled', []))
    for name in mc.param(parameters, 'interfaces', DEFAULT_INTERFACES):
        _add_interface(mock, name, name not in disabled)
    for path in mc.param(parameters, 'deleteall_paths', DEFAULT_DELETEALL):
        obj = mockobject.objects.get(path)
        if obj is None:
            obj = mc.add_object(mock, path, DELETE_ALL_IFACE)
        mc.add_method(obj, DELETE_ALL_IFACE, 'DeleteAll', '', '', _nothing)
        obj.props.setdefault(DELETE_ALL_IFACE, {})
