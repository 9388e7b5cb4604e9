#!/usr/bin/python3
"""Faults injected on the simulated board, one table row each: an IPMI
request's answer ("CC DATA...") or a daemon's behaviour under a peer mock
absent, answering an error, stopped (the call times out after
SYSTEMD_BUS_TIMEOUT) or a wrong type; a state file missing, read-only or on
a full tmpfs (no temporary left behind); iptables failing; the journal
socket gone.  After every row the host answers the next request and ipmid,
watchkeeper and portwarden still run; no answer within the bus timeout and
a margin is a hang.

    fault_test.py [--all] [--table FILE]    (inside sim/board-inside only)

Without --all (or FAULT_ALL=1) one row per distinct call path runs;
--table writes the observed table in markdown.
"""
import contextlib
import os
import re
import signal
import subprocess
import sys

from sandbox_guard import require_sandbox
import time

BUS_TIMEOUT = float(os.environ.get("SYSTEMD_BUS_TIMEOUT", "25").rstrip("s"))
LIMIT = BUS_TIMEOUT + 8
LIB = f"{os.environ.get('SB_DIR', '')}/lib/sandbox-lib.sh"
EEPROM = "/sys/bus/i2c/devices/7-0050"
KEYSHELF = "/var/lib/keyshelf"
REVSTORE = "/var/lib/revstore"
SIDEBAND = "/var/lib/sidebandcfg"
ETH = "/xyz/openbmc_project/network"
LED = "/xyz/openbmc_project/led/groups"
UNIT = "/org/freedesktop/systemd1/unit/"
FAN_UNIT = UNIT + "phosphor_2dpid_2dcontrol_2eservice"
INTR_UNIT = UNIT + "xyz_2eopenbmc_5fproject_2eintrusionsensor_2eservice"
PSU_UNIT = UNIT + "xyz_2eopenbmc_5fproject_2epsusensor_2eservice"
PROPS = "org.freedesktop.DBus.Properties"
MOCKS = {  # key: (bus name, main object)
    "systemd": ("org.freedesktop.systemd1", "/org/freedesktop/systemd1"),
    "led": ("xyz.openbmc_project.LED.GroupManager", LED),
    "network": ("xyz.openbmc_project.Network", ETH),
    "state_host": ("xyz.openbmc_project.State.Host", "/xyz/openbmc_project/state/host0"),
    "state_bmc": ("xyz.openbmc_project.State.BMC", "/xyz/openbmc_project/state/bmc0"),
    "state_chassis": ("xyz.openbmc_project.State.Chassis",
                      "/xyz/openbmc_project/state/chassis0"),
    "software": ("xyz.openbmc_project.Software.BMC.Updater", "/xyz/openbmc_project/software"),
    "fan_sensor": ("xyz.openbmc_project.FanSensor", "/xyz/openbmc_project/sensors"),
}
DAEMONS = ("ipmid", "watchkeeper", "portwarden")
# The request after every row: the boot flash's JEDEC ID, no peer involved.
PROBE = ("0x3a", "0xe3", "0x43", "0x00")


def sh(command, check=True):
    r = subprocess.run(["bash", "-c", f". {LIB} && {command}"], stdin=subprocess.DEVNULL,
                       capture_output=True, text=True, timeout=60)
    if check and r.returncode:
        raise RuntimeError(f"{command}: {r.stderr.strip()}")
    return r.stdout


def ipmi(*request):
    """The answer to REQUEST as "CC DATA...", "hang" or "no answer: ..."."""
    r = subprocess.run(["timeout", str(LIMIT), "ipmitool", "-I", "dummy", "raw", *request],
                       stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if r.returncode == 124:
        return "hang"
    m = re.search(r"rsp=0x([0-9a-f]{2})", r.stderr)
    if m:
        return m.group(1)
    if r.returncode:
        return "no answer: " + r.stderr.strip()
    return " ".join(["00"] + r.stdout.split())


def mock_call(key, method, sig, *args):
    name, obj = MOCKS[key]
    sh(" ".join(["busctl", "call", name, obj, "org.freedesktop.DBus.Mock", method, sig] +
                [f"'{a}'" for a in args]))


def mock_pid(key):
    return sh(f"sb_mock_pid {key} p && echo $p").strip()


def daemons():
    """Running (not zombie) PID of each board daemon, by name."""
    found = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        name, state = stat[stat.index("(") + 1:stat.rindex(")")], stat[stat.rindex(")") + 2]
        if name in DAEMONS and state not in "ZX":
            found[name] = pid
    return found


# --- Faults: context managers, set up on entry, undone on exit. -------------

@contextlib.contextmanager
def fault(setup, undo):
    """Runs SETUP, the block, then UNDO; SETUP's result goes to UNDO."""
    state = setup()
    try:
        yield
    finally:
        undo(state)


def absent(key):
    return fault(lambda: sh(f"sb_stop_mock {key}"),
                 lambda _: sh(f"sb_start_mock {key} && sb_wait_mock {key}"))


def mocked(key, method, sig, *args):
    """The mock answers differently (METHOD of its Mock interface) until reset."""
    return fault(lambda: mock_call(key, method, sig, *args), lambda _: mock_call(key, "Reset", ""))


def erring(key, path, iface, method, in_sig, out_sig):
    return mocked(key, "FailMethod", "sssssss", path, iface, method, in_sig, out_sig,
                  "org.freedesktop.DBus.Error.Failed", "injected fault")


def erring_set(key, path, prop):
    return mocked(key, "FailSet", "ssss", path, prop, "org.freedesktop.DBus.Error.Failed",
                  "injected fault")


def wrong_type(key, path, iface, prop, sig, text):
    return mocked(key, "UpdatePropertyText", "sssss", path, iface, prop, sig, text)


def stopped(key):
    return fault(lambda: (pid := int(mock_pid(key)), os.kill(pid, signal.SIGSTOP))[0],
                 lambda pid: os.kill(pid, signal.SIGCONT))


def missing(path):
    """PATH moved away; whatever took its place is dropped afterwards."""
    def undo(_):
        if os.path.exists(path):
            os.unlink(path)
        os.rename(path + ".away", path)
    return fault(lambda: os.rename(path, path + ".away"), undo)


def read_only(directory):
    return fault(lambda: sh(f"mount --bind {directory} {directory}"
                            f" && mount -o remount,bind,ro {directory}"),
                 lambda _: sh(f"umount {directory}"))


@contextlib.contextmanager
def full(directory):
    """DIRECTORY's files on a tmpfs with no space left; the files the fault
    saw are dropped again afterwards."""
    sh(f"d=$(mktemp -d) && cp -a {directory}/. $d && mount -t tmpfs -o size=64k fault {directory}"
       f" && cp -a $d/. {directory} && rm -rf $d"
       f" && {{ dd if=/dev/zero of={directory}/.fill bs=1k 2>/dev/null; true; }}")
    files = sorted(os.listdir(directory))
    try:
        yield
        left = sorted(set(os.listdir(directory)) - set(files))
        if left:
            raise RuntimeError(f"left behind in {directory}: {left}")
    finally:
        sh(f"umount {directory}")


def iptables_failing():
    """Every iptables command exits 4 (a stand-in bound over the program)."""
    def setup():
        real = sh("readlink -f \"$(command -v iptables)\"").strip()
        sh(f"printf '#!/bin/sh\\nexit 4\\n' >/tmp/iptables-fail && chmod 755 /tmp/iptables-fail"
           f" && mount --bind /tmp/iptables-fail {real}")
        return real
    return fault(setup, lambda real: sh(f"umount {real}"))


def journal_gone():
    return missing("/run/systemd/journal/socket")


@contextlib.contextmanager
def both(*makes):
    with contextlib.ExitStack() as stack:
        for make in makes:
            stack.enter_context(make())
        yield


# --- Daemon checks: each returns the observed behaviour as text. ------------

def ssh_rule(name):
    # The copy made before any fault: iptables itself may be the fault.
    rules = sh("/tmp/fault-xtables/iptables -S INPUT")
    return f"-A INPUT -i {name} -p tcp -m tcp --dport 22 -j REJECT" in rules


def stored_ssh(name):
    try:
        with open(f"{KEYSHELF}/settings.ini") as f:
            m = re.search(rf"\[SshControl\][^\[]*?^{name}=(\d+)", f.read(), re.M)
    except OSError:
        return "-"
    return m.group(1) if m else "-"


def wait_until(predicate):
    deadline = time.monotonic() + LIMIT
    while not predicate() and time.monotonic() < deadline:
        time.sleep(0.05)


def portwarden_block(name, number):
    """Blocks SSH on NAME through the host and reports rule and store once
    portwarden has acted: stored the new value or said it could not."""
    def not_stored():
        return count(f"SSH control of {name} not stored", "portwarden.log")

    def wait_for(value, before):
        wait_until(lambda: stored_ssh(name) == value or not_stored() > before)

    before = not_stored()
    answer = ipmi("0x3a", "0x22", number, "0x00")
    wait_for("0", before)
    result = f"{answer}; rule {'added' if ssh_rule(name) else 'absent'}; stored {stored_ssh(name)}"
    before = not_stored()
    ipmi("0x3a", "0x22", number, "0x01")
    wait_for("1", before)
    return result


def count(text, log="journal.jsonl"):
    """How often TEXT is in the sandbox's LOG so far."""
    with open(os.path.join(os.environ["SB_RUN"], log)) as f:
        return f.read().count(text)


def watchkeeper_fan_fault(journal=True):
    """Fails Fan1 and reports watchkeeper's LED write and journal entries;
    without a JOURNAL, done once the LED manager has seen the write."""
    failed = "Failed to set LED state"
    before = count(failed)
    if not journal:
        mock_call("led", "ClearAllCalls", "")
    led, _ = MOCKS["led"]
    written = lambda: "fan_fault" in sh(f"busctl call {led} {LED} org.freedesktop.DBus.Mock"
                                        " GetAllCallsText")
    fan1 = ("busctl set-property xyz.openbmc_project.FanSensor"
            " /xyz/openbmc_project/sensors/fan_tach/Fan1"
            " xyz.openbmc_project.State.Decorator.OperationalStatus Functional b ")
    sh(fan1 + "false")
    logged = lambda: count(failed) - before
    wait_until(lambda: logged() or led_asserted("fan_fault") == "true"
               or not journal and written())
    result = f"LED {led_asserted('fan_fault')}; '{failed}' x{logged()}"
    sh(fan1 + "true")
    return result


def led_asserted(group):
    r = subprocess.run(["timeout", str(LIMIT), "busctl", "get-property",
                        "xyz.openbmc_project.LED.GroupManager", f"{LED}/{group}",
                        "xyz.openbmc_project.Led.Group", "Asserted"],
                       capture_output=True, text=True)
    return r.stdout.split()[-1] if r.returncode == 0 else "unreadable"


def watchkeeper_wrong_signal():
    """Functional of Fan1 changed to a string: read as false, so Fan1 counts
    as failed and its LED group is asserted."""
    malformed = "Malformed PropertiesChanged signal"
    before = count(malformed)
    mock_call("fan_sensor", "EmitPropertiesChangedText", "sssss",
              "/xyz/openbmc_project/sensors/fan_tach/Fan1",
              "xyz.openbmc_project.State.Decorator.OperationalStatus", "Functional", "s", "true")
    wait_until(lambda: led_asserted("fan_fault") == "true")
    return f"LED {led_asserted('fan_fault')}; '{malformed}' x{count(malformed) - before}"


def portwarden_wrong_signal():
    """SSH of eth1 changed to a string, then a real block of eth1."""
    failed = "Failed to handle SSH change of eth1"
    before = count(failed, "portwarden.log")
    mock_call("network", "EmitPropertiesChangedText", "sssss", f"{ETH}/eth1",
              "xyz.openbmc_project.Network.EthernetInterface", "SSH", "s", "false")
    after = portwarden_block("eth1", "0x02")
    return (f"'Failed to handle SSH change' x{count(failed, 'portwarden.log') - before},"
            f" then {after}")


def portwarden_announce(name):
    """The network service announces NAME again; reports what portwarden
    made of it, then that SSH control of eth1 still works."""
    failed = "Failed to handle new EthernetInterface: "
    before = count(failed, "portwarden.log")
    mock_call("network", "AnnounceInterfaces", "as", "1", name)
    wait_until(lambda: count(failed, "portwarden.log") > before)
    return (f"'{failed.strip(': ')}' x{count(failed, 'portwarden.log') - before},"
            f" then {portwarden_block('eth1', '0x02')}")


def boardpilot():
    with contextlib.suppress(FileNotFoundError):
        os.unlink("/run/platform-control/selected")
    r = subprocess.run(["timeout", str(LIMIT), "boardpilot"], capture_output=True, text=True)
    try:
        with open("/run/platform-control/selected") as f:
            selected = f.read().strip()
    except OSError:
        selected = "-"
    return f"exit {r.returncode}; selected {selected}"


def then(*requests):
    """Runs REQUESTS in order; the answers joined by " / "."""
    def run():
        return " / ".join(ipmi(*r.split()) for r in requests)
    return run


# --- The table. --------------------------------------------------------------
# (target, fault name, fault, action, expected, representative row)

SET_ID = then("0x3a 0xaa 0x4b 0x53 0x54 0x32", "0x3a 0xab")
ROWS = []


def row(target, fault_name, make, action, expected, core=False):
    ROWS.append((target, fault_name, make, action, expected, core))


def dbus_rows(target, request, key, path, iface, method, in_sig, out_sig, expected,
              wrong=None, core_faults=()):
    """The four peer faults for one request; EXPECTED maps fault -> answer."""
    action = then(request) if isinstance(request, str) else request
    faults = {
        "peer absent": lambda: absent(key),
        "error reply": lambda: (erring_set(key, path, method) if iface == "Set"
                                else erring(key, path, iface, method, in_sig, out_sig)),
        "no reply (stopped)": lambda: stopped(key),
    }
    if wrong:
        faults["wrong type"] = lambda: wrong_type(key, *wrong)
    for name, make in faults.items():
        row(target, name, make, action, expected[name] if isinstance(expected, dict) else expected,
            core=name in core_faults)


ALL4 = ("peer absent", "error reply", "no reply (stopped)", "wrong type")
# Legacy handlers: a D-Bus failure leaves the handler, ipmid answers 0xFF.
dbus_rows("0x01 Set Smart Fan (manual)", "0x3a 0x01 0x32", "systemd", FAN_UNIT,
          "org.freedesktop.systemd1.Unit", "Stop", "s", "o", "ff", core_faults=ALL4)
dbus_rows("0x01 Set Smart Fan (auto)", "0x3a 0x01 0x00", "systemd", FAN_UNIT,
          "org.freedesktop.systemd1.Unit", "Start", "s", "o", "ff")
dbus_rows("0x88 Set Chassis Intrusion", "0x3a 0x88 0x01", "systemd", INTR_UNIT,
          "org.freedesktop.systemd1.Unit", "Start", "s", "o", "ff")
dbus_rows("0xE6 Set PSU Monitor", "0x3a 0xe6 0x00 0x00", "systemd", PSU_UNIT,
          "org.freedesktop.systemd1.Unit", "Stop", "s", "o", "ff")
dbus_rows("0x89 Get Chassis Intrusion", "0x3a 0x89", "systemd", INTR_UNIT, PROPS, "Get", "ss",
          "v", "ff", wrong=(INTR_UNIT, "org.freedesktop.systemd1.Unit", "ActiveState", "b",
                            "true"), core_faults=ALL4)
dbus_rows("0xE7 Get PSU Monitor", "0x3a 0xe7 0x00", "systemd", PSU_UNIT, PROPS, "Get", "ss",
          "v", "ff", wrong=(PSU_UNIT, "org.freedesktop.systemd1.Unit", "ActiveState", "b",
                            "true"))
dbus_rows("0x67 Get Boot Complete", "0x3a 0x67", "led", f"{LED}/bmc_booted", PROPS, "Get",
          "ss", "v", "ff", wrong=(f"{LED}/bmc_booted", "xyz.openbmc_project.Led.Group",
                                  "Asserted", "s", "true"), core_faults=ALL4)
dbus_rows("0x10 Set GPIO 0x33 (system-fault LED)", "0x3a 0x10 0x33 0x02 0x01", "led",
          f"{LED}/system_fault", "Set", "Asserted", "", "", "ff", core_faults=("error reply",))
dbus_rows("0xBD Set BIOS POST Status / 0xBE Get", then("0x3a 0xbd 0x04", "0x3a 0xbe"),
          "state_host", "/xyz/openbmc_project/state/host0", "Set", "BootProgress", "", "",
          "ff / 00 04",
          core_faults=("error reply", "no reply (stopped)"))
dbus_rows("0x86 Set Firmware Version (BIOS)",
          then("0x3a 0x86 0x00 0x01 0x07 0x00 0x00 0x03", "0x3a 0x87 0x00"), "software",
          "/xyz/openbmc_project/software/bios_active", "Set", "Version", "", "",
          "ff / 00 " + " ".join(["00"] * 16))
dbus_rows("0xB2 Set BIOS Firmware Info", "0x3a 0xb2 0x00 0x03 0x05 0x62", "software",
          "/xyz/openbmc_project/software/bios_active", "Set", "Version", "", "", "ff")
dbus_rows("0x71 Set Network Interface (factory reset)", "0x3a 0x71 0x01", "network", ETH,
          "xyz.openbmc_project.Common.FactoryReset", "Reset", "", "", "ff",
          core_faults=("peer absent", "error reply"))
dbus_rows("0x71 Set Network Interface (delete eth0)", "0x3a 0x71 0x02 0x02", "network",
          f"{ETH}/eth0", "xyz.openbmc_project.Collection.DeleteAll", "DeleteAll", "", "", "ff")
dbus_rows("0x71 Set Network Interface (restart networkd)", "0x3a 0x71 0x00", "systemd",
          UNIT + "systemd_2dnetworkd_2eservice", "org.freedesktop.systemd1.Unit", "Restart",
          "s", "o", "ff")
# Typed handlers: SSH read failures answer 0xCC, a failed write is not reported.
dbus_rows("0x23 Get SSH Control", "0x3a 0x23 0x01", "network", f"{ETH}/eth0", PROPS, "Get",
          "ss", "v", "cc", wrong=(f"{ETH}/eth0", "xyz.openbmc_project.Network.EthernetInterface",
                                  "SSH", "s", "false"), core_faults=ALL4)
dbus_rows("0x22 Set SSH Control (read fails)", "0x3a 0x22 0x01 0x01", "network", f"{ETH}/eth0",
          PROPS, "Get", "ss", "v", "cc")
row("0x22 Set SSH Control (write fails)", "error reply",
    lambda: erring_set("network", f"{ETH}/eth0", "SSH"), then("0x3a 0x22 0x01 0x00", "0x3a 0x23 0x01"),
    "ff / 00 01", core=True)
# Restore default: every action runs; a failed factory reset, reboot or
# power-off request answers 0xFF, the LED write's result is not looked at.
for key, obj, iface, method, option, answer in (
        ("software", "/xyz/openbmc_project/software", "xyz.openbmc_project.Common.FactoryReset",
         "Reset", "0x01", "ff"),
        ("state_bmc", "/xyz/openbmc_project/state/bmc0", "Set", "RequestedBMCTransition", "0x01",
         "ff"),
        ("led", f"{LED}/bmc_booted", "Set", "Asserted", "0x01", "00"),
        ("state_chassis", "/xyz/openbmc_project/state/chassis0", "Set",
         "RequestedPowerTransition", "0x04", "ff")):
    dbus_rows(f"0x66 Restore Default {option} ({key})", f"0x3a 0x66 {option}", key, obj, iface,
              method, "", "", answer,
              core_faults=("no reply (stopped)",) if key == "software" else ())



def file_faults(path):
    """The three faults of the file PATH and its directory."""
    directory = os.path.dirname(path)
    return (("missing", lambda: missing(path)), ("unwritable", lambda: read_only(directory)),
            ("full file system", lambda: full(directory)))


# Files: a failed EEPROM write answers 0xC1 (chassis ID, MAC) or 0xFF (fan
# initial duty); reads are not checked; the earlier record stays.
for name, make in file_faults(f"{EEPROM}/eeprom"):
    row("0xAA Set Chassis ID / 0xAB Get", f"EEPROM {name}", make, SET_ID,
        {"missing": "c1 / 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff"
                    " ff ff ff ff ff ff ff ff ff",
         "unwritable": "c1 / 00 4b 53 54 31 00", "full file system": "c1 / 00 4b 53 54 31 00"}[name],
        core=True)
    row("0x0C Set Fan Initial Duty / 0x0D Get", f"EEPROM {name}", make,
        then("0x3a 0x0c 0x1e 0x32 0x64", "0x3a 0x0d"),
        {"missing": "ff / ff"}.get(name, "ff / 00 14 32 64 00 00 00 00 00"))
    row("0xA0 Set MAC Address / 0xA1 Get", f"EEPROM {name}", make,
        then("0x3a 0xa0 0x02 0x02 0x11 0x22 0x33 0x44 0x66 0x02 0x11 0x22 0x33 0x44 0x67",
             "0x3a 0xa1 0x02"),
        {"missing": "c1 / 00 " + " ".join(["00"] * 12)}.get(
            name, "c1 / 00 02 11 22 33 44 55 02 11 22 33 44 56"))
    row("boardpilot", f"EEPROM {name}", make, boardpilot,
        "exit 0; selected " + ("VRKL" if name == "missing" else "KST1"), core=name == "missing")
# Stores: failures are not detected (0x00) and the earlier value is kept.
for name, make in file_faults(f"{KEYSHELF}/settings.ini"):
    row("0xE3 Misc Wake-on-LAN set / get", f"key/value store {name}", make,
        then("0x3a 0xe3 0xb0 0x00 0x00", "0x3a 0xe3 0xb0 0x01"),
        {"missing": "00 / 00 00"}.get(name, "00 / 00 01"), core=name != "missing")
    row("portwarden: block SSH on eth1", f"key/value store {name}", make,
        lambda: portwarden_block("eth1", "0x02"),
        "00; rule added; stored " + ("0" if name == "missing" else "1"), core=name == "full file system")
for name, make in file_faults(f"{REVSTORE}/records.bin"):
    row("0x86 Set Firmware Version (record 2) / 0x87 Get", f"version records {name}", make,
        then("0x3a 0x86 0x02 0x02 0x00 0x00 0x00 0x01", "0x3a 0x87 0x02"),
        "00 00 / 00 " + ("02 00 00 00 01" if name == "missing" else "01 00 00 00 09")
        + " 00" * 11, core=name == "unwritable")
for name, make in file_faults(f"{SIDEBAND}/port"):
    row("0x20 Set NC-SI Select / 0x21 Get", f"sideband port {name}", make,
        then("0x3a 0x20 0x00", "0x3a 0x21"),
        "00 / 00 00" if name == "missing" else "ff / 00 01", core=name == "full file system")
row("portwarden: block SSH on eth1", "iptables failing", iptables_failing,
    lambda: portwarden_block("eth1", "0x02"), "00; rule absent; stored 0", core=True)
row("0x20 Set NC-SI Select / 0x21 Get", "systemctl failing",
    lambda: status_file("systemctl", 1), then("0x3a 0x20 0x01", "0x3a 0x21"), "00 / 00 01")
row("watchkeeper: Fan1 fails", "LED manager absent", lambda: absent("led"),
    watchkeeper_fan_fault, "LED unreadable; 'Failed to set LED state' x2")
row("watchkeeper: Fan1 fails", "LED write error reply",
    lambda: erring_set("led", f"{LED}/fan_fault", "Asserted"), watchkeeper_fan_fault,
    "LED false; 'Failed to set LED state' x1", core=True)
row("watchkeeper: Fan1 fails", "LED manager stopped", lambda: stopped("led"),
    watchkeeper_fan_fault, "LED unreadable; 'Failed to set LED state' x2")
row("watchkeeper: Fan1 Functional", "wrong type in signal", contextlib.nullcontext,
    watchkeeper_wrong_signal,
    "LED true; 'Malformed PropertiesChanged signal' x0",
    core=True)
row("portwarden: SSH of eth1", "wrong type in signal", contextlib.nullcontext,
    portwarden_wrong_signal, "'Failed to handle SSH change' x1, then 00; rule added; stored 0",
    core=True)
HWMON = "/sys/bus/platform/drivers/aspeed_pwm_tacho/1e786000.pwm-tacho-controller/hwmon"
row("0x01 Set Smart Fan (manual) / 0x02 Get", "PWM files missing", lambda: missing(HWMON),
    then("0x3a 0x01 0x32", "0x3a 0x02"), "00 / ff", core=True)
row("0xE3 Misc JEDEC ID", "jedec_id missing",
    lambda: missing("/sys/bus/spi/devices/spi0.0/spi-nor/jedec_id"), then("0x3a 0xe3 0x43 0x00"),
    "ff")
row("boardpilot", "configuration missing",
    lambda: missing("/usr/share/platform-control/config.json"), boardpilot,
    "exit 1; selected -", core=True)
row("portwarden: eth2 announced", "InterfaceName error reply",
    lambda: erring("network", f"{ETH}/eth2", PROPS, "Get", "ss", "v"),
    lambda: portwarden_announce("eth2"),
    "'Failed to handle new EthernetInterface' x1, then 00; rule added; stored 0", core=True)
row("portwarden: eth2 announced", "InterfaceName wrong type",
    lambda: wrong_type("network", f"{ETH}/eth2", "xyz.openbmc_project.Network.EthernetInterface",
                       "InterfaceName", "u", "7"),
    lambda: portwarden_announce("eth2"),
    "'Failed to handle new EthernetInterface' x1, then 00; rule added; stored 0")
GONE = "journal socket gone"
row("0x67 Get Boot Complete, LED manager absent", GONE,
    lambda: both(journal_gone, lambda: absent("led")), then("0x3a 0x67"), "ff", core=True)
row("watchkeeper: Fan1 fails, LED write error reply", GONE,
    lambda: both(journal_gone, lambda: erring_set("led", f"{LED}/fan_fault", "Asserted")),
    lambda: watchkeeper_fan_fault(journal=False), "LED false; 'Failed to set LED state' x0")
row("boardpilot", GONE, journal_gone, boardpilot, "exit 0; selected KST1", core=True)


def status_file(name, status):
    """The recording stand-in NAME exits with STATUS."""
    path = os.path.join(os.environ["SB_RUN"], "stand-in-status", name)
    def setup():
        with open(path, "w") as f:
            f.write(f"{status}\n")
    return fault(setup, lambda _: os.unlink(path))


def main(args):
    require_sandbox("fault_test")
    every = "--all" in args or os.environ.get("FAULT_ALL") == "1"
    table = args[args.index("--table") + 1] if "--table" in args else None
    # The earlier settings every row must keep: chassis ID KST1, MAC slots,
    # fan initial duties, Wake-on-LAN on, SSH of eth1 allowed and stored,
    # version record 2, NC-SI port 1.
    for request in ("0x3a 0xaa 0x4b 0x53 0x54 0x31",
                    "0x3a 0xa0 0x02 0x02 0x11 0x22 0x33 0x44 0x55 0x02 0x11 0x22 0x33 0x44 0x56",
                    "0x3a 0x0c 0x14 0x32 0x64", "0x3a 0xe3 0xb0 0x00 0x01",
                    "0x3a 0x22 0x02 0x00", "0x3a 0x22 0x02 0x01",
                    "0x3a 0x86 0x02 0x01 0x00 0x00 0x00 0x09", "0x3a 0x20 0x01"):
        answer = ipmi(*request.split())
        if not answer.startswith("00"):
            print(f"fault_test: set-up request {request} answered {answer}", file=sys.stderr)
            return 1
    # xtables binaries act as the tool they are named after.
    sh("mkdir -p /tmp/fault-xtables && cp \"$(readlink -f \"$(command -v iptables)\")\""
       " /tmp/fault-xtables/iptables")
    boardpilot()
    probe = ipmi(*PROBE)
    start = daemons()
    if sorted(start) != sorted(DAEMONS):
        print(f"fault_test: board daemons not all running: {start}", file=sys.stderr)
        return 1
    lines = ["| Command / daemon | Fault | Expected | Observed | Next request | Daemons |",
             "|---|---|---|---|---|---|"]
    problems = 0
    for target, fault_name, make, action, expected, core in ROWS:
        if not (core or every):
            continue
        if target.startswith("watchkeeper"):
            mock_call("led", "Reset", "")  # every LED group off
        begin = time.monotonic()
        try:
            with make():
                got = action()
        except Exception as e:  # a fault that could not be set up or undone
            got = f"test error: {e}"
        took = time.monotonic() - begin
        nxt = ipmi(*PROBE)
        alive = daemons()
        ok_next = nxt == probe
        ok_daemons = alive == start
        ok = got == expected and ok_next and ok_daemons
        problems += not ok
        lines.append(f"| {target} | {fault_name} | {expected} | {got} ({took:.1f} s) |"
                     f" {'answered' if ok_next else nxt} |"
                     f" {'running' if ok_daemons else f'{start} -> {alive}'} |")
        if not ok:
            print(f"FAIL {target} / {fault_name}: expected {expected!r}, got {got!r},"
                  f" next {nxt!r}, daemons {alive}", file=sys.stderr)
    print("\n".join(lines))
    if table:
        with open(table, "w") as f:
            f.write("\n".join(lines) + "\n")
    print(f"fault_test: {len(lines) - 2} rows, {problems} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
