// The D-Bus services, objects and interfaces the command groups talk to.
#pragma once

namespace kestrel::dbus
{

inline constexpr auto propertiesInterface = "org.freedesktop.DBus.Properties";

// systemd.
inline constexpr auto systemdService = "org.freedesktop.systemd1";
inline constexpr auto systemdObject = "/org/freedesktop/systemd1";
inline constexpr auto systemdManager = "org.freedesktop.systemd1.Manager";
inline constexpr auto systemdUnit = "org.freedesktop.systemd1.Unit";
inline constexpr auto jobMode = "replace";

// Unit objects, in systemd's escaped form.
inline constexpr auto unitIntrusionSensor =
    "/org/freedesktop/systemd1/unit/"
    "xyz_2eopenbmc_5fproject_2eintrusionsensor_2eservice";
inline constexpr auto unitPsuSensor =
    "/org/freedesktop/systemd1/unit/"
    "xyz_2eopenbmc_5fproject_2epsusensor_2eservice";
inline constexpr auto unitFanControl =
    "/org/freedesktop/systemd1/unit/phosphor_2dpid_2dcontrol_2eservice";
inline constexpr auto unitNetworkd =
    "/org/freedesktop/systemd1/unit/systemd_2dnetworkd_2eservice";
// Unit names, for the manager's methods.
inline constexpr auto virtualSensorUnit = "phosphor-virtual-sensor.service";

// LED groups.
inline constexpr auto ledService = "xyz.openbmc_project.LED.GroupManager";
inline constexpr auto ledInterface = "xyz.openbmc_project.Led.Group";
inline constexpr auto ledBmcBooted =
    "/xyz/openbmc_project/led/groups/bmc_booted";
inline constexpr auto ledSystemFault =
    "/xyz/openbmc_project/led/groups/system_fault";

// Host, BMC and chassis state.
inline constexpr auto hostService = "xyz.openbmc_project.State.Host";
inline constexpr auto hostObject = "/xyz/openbmc_project/state/host0";
inline constexpr auto bootProgressInterface =
    "xyz.openbmc_project.State.Boot.Progress";
inline constexpr auto bmcStateService = "xyz.openbmc_project.State.BMC";
inline constexpr auto bmcStateObject = "/xyz/openbmc_project/state/bmc0";
inline constexpr auto bmcStateInterface = "xyz.openbmc_project.State.BMC";
inline constexpr auto bmcReboot =
    "xyz.openbmc_project.State.BMC.Transition.Reboot";
inline constexpr auto chassisStateService = "xyz.openbmc_project.State.Chassis";
inline constexpr auto chassisStateObject =
    "/xyz/openbmc_project/state/chassis0";
inline constexpr auto chassisStateInterface =
    "xyz.openbmc_project.State.Chassis";
inline constexpr auto chassisOff =
    "xyz.openbmc_project.State.Chassis.Transition.Off";

// The software updater.
inline constexpr auto updaterService =
    "xyz.openbmc_project.Software.BMC.Updater";
inline constexpr auto softwareObject = "/xyz/openbmc_project/software";
inline constexpr auto biosActiveObject =
    "/xyz/openbmc_project/software/bios_active";
inline constexpr auto versionInterface = "xyz.openbmc_project.Software.Version";

// The network service.
inline constexpr auto networkService = "xyz.openbmc_project.Network";
inline constexpr auto networkObject = "/xyz/openbmc_project/network";
inline constexpr auto networkRoot = "/xyz/openbmc_project/network/";
inline constexpr auto ethernetInterface =
    "xyz.openbmc_project.Network.EthernetInterface";
inline constexpr auto deleteAllInterface =
    "xyz.openbmc_project.Collection.DeleteAll";

inline constexpr auto factoryResetInterface =
    "xyz.openbmc_project.Common.FactoryReset";

} // namespace kestrel::dbus
