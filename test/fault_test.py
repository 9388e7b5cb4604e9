#!/usr/bin/python3
"""Faults injected on the simulated board, one table row each: an IPMI
request's answer ("CC DATA...") or a daemon's behaviour under a peer mock
absent, answering an error, stopped (the call times out after
SYSTEMD_BUS_TIMEOUT) or a wrong type; a state file missing, read-only or on
a full tmpfs (no temporary left behind); iptables failing; the journal
socket gone.  After every row the host answers the next request and ipmid,
watchkeeper and portwarden still run; no answer within the bus timeout and
a margin is a hang.  Inside sim/board-inside only:

    fault_test.py [--all] [--table FILE]

Without --all (or FAULT_ALL=1) one row per distinct call path runs;
--table writes the observed table in markdown.
"""
import contextlib, os, pathlib, re, signal, subprocess, sys, time

from sandbox_guard import require_sandbox

LIMIT = float(os.environ.get("SYSTEMD_BUS_TIMEOUT", "25").rstrip("s")) + 8
LIB = f"{os.environ.get('SB_DIR', '')}/lib/sandbox-lib.sh"
ETH, LED = "/xyz/openbmc_project/network", "/xyz/openbmc_project/led/groups"
UNIT, SD_UNIT = "/org/freedesktop/systemd1/unit/", "org.freedesktop.systemd1.Unit"
GET = "org.freedesktop.DBus.Properties.Get"
ETH_IF = "xyz.openbmc_project.Network.EthernetInterface"
FAN1 = "/xyz/openbmc_project/sensors/fan_tach/Fan1"
OPSTATUS = "xyz.openbmc_project.State.Decorator.OperationalStatus"
IPTABLES = '"$(readlink -f "$(command -v iptables)")"'
MOCKS = {  # key: (bus name, main object)
    "systemd": ("org.freedesktop.systemd1", "/org/freedesktop/systemd1"),
    "led": ("xyz.openbmc_project.LED.GroupManager", LED),
    "network": ("xyz.openbmc_project.Network", ETH),
    "software": ("xyz.openbmc_project.Software.BMC.Updater", "/xyz/openbmc_project/software"),
    "fan_sensor": ("xyz.openbmc_project.FanSensor", "/xyz/openbmc_project/sensors"),
} | {f"state_{s.lower()}": (f"xyz.openbmc_project.State.{s}",
                            f"/xyz/openbmc_project/state/{s.lower()}0")
     for s in ("Host", "BMC", "Chassis")}
DAEMONS = ("ipmid", "watchkeeper", "portwarden")
PROBE = "0x3a 0xe3 0x43 0x00"  # after every row: the boot flash's JEDEC ID, no peer


def sh(command):
    r = subprocess.run(["bash", "-c", f". {LIB} && {command}"], stdin=subprocess.DEVNULL,
                       capture_output=True, text=True, timeout=60)
    if r.returncode:
        raise RuntimeError(f"{command}: {r.stderr.strip()}")
    return r.stdout


def ipmi(request):
    """The answer to REQUEST as "CC DATA...", "hang" or "no answer: ..."."""
    r = subprocess.run(["timeout", str(LIMIT), "ipmitool", "-I", "dummy", "raw",
                        *request.split()], stdin=subprocess.DEVNULL, capture_output=True,
                       text=True)
    m = re.search(r"rsp=0x([0-9a-f]{2})", r.stderr)
    if r.returncode == 124 or m:
        return m.group(1) if r.returncode != 124 else "hang"
    return f"no answer: {r.stderr.strip()}" if r.returncode else " ".join(["00"] + r.stdout.split())


def then(requests):
    """The answers to REQUESTS ("A / B ...", in order) joined by " / "."""
    return lambda: " / ".join(map(ipmi, requests.split(" / ")))


def mock_call(key, method, sig, *args):
    name, obj = MOCKS[key]
    return sh(" ".join(["busctl", "call", name, obj, "org.freedesktop.DBus.Mock", method, sig] +
                       [f"'{a}'" for a in args]))


def daemons():
    ps = subprocess.run(["ps", "-eo", "pid=,stat=,comm="], capture_output=True, text=True).stdout
    return {name: pid for pid, stat, name in map(str.split, ps.splitlines())
            if name in DAEMONS and stat[0] not in "ZX"}


# --- Faults: context managers, set up on entry, undone on exit. -------------

@contextlib.contextmanager
def fault(setup, undo):
    state = setup()
    try:
        yield
    finally:
        undo(state)


def shell_fault(setup, undo):
    return fault(lambda: sh(setup), lambda _: sh(undo))


def absent(key):
    return shell_fault(f"sb_stop_mock {key}", f"sb_start_mock {key} && sb_wait_mock {key}")


def mocked(key, method, sig, *args):
    return fault(lambda: mock_call(key, method, sig, *args), lambda _: mock_call(key, "Reset", ""))


def erring(key, path, call):
    """CALL on PATH ("interface.Method", or "=Property" for a set) answers an error."""
    failed = ("org.freedesktop.DBus.Error.Failed", "injected fault")
    if call.startswith("="):
        return mocked(key, "FailSet", "ssss", path, call[1:], *failed)
    iface, method = call.rsplit(".", 1)
    sigs = ("ss", "v") if method == "Get" else ("s", "o") if iface == SD_UNIT else ("", "")
    return mocked(key, "FailMethod", "sssssss", path, iface, method, *sigs, *failed)


def wrong_type(key, path, prop, sig, text):
    """PATH's PROP ("interface.Name") holds TEXT of type SIG."""
    return mocked(key, "UpdatePropertyText", "sssss", path, *prop.rsplit(".", 1), sig, text)


def stopped(key):
    return fault(lambda: os.kill(pid := int(sh(f"sb_mock_pid {key} p && echo $p")),
                                 signal.SIGSTOP) or pid, lambda pid: os.kill(pid, signal.SIGCONT))


def missing(p):
    """P moved away; whatever took its place is dropped afterwards."""
    return shell_fault(f"mv {p} {p}.away", f"rm -f {p} && mv {p}.away {p}")


def read_only(d):
    return shell_fault(f"mount --bind {d} {d} && mount -o remount,bind,ro {d}", f"umount {d}")


@contextlib.contextmanager
def full(d):
    """D's files on a tmpfs with no space left; those the fault saw are dropped again."""
    sh(f"t=$(mktemp -d) && cp -a {d}/. $t && mount -t tmpfs -o size=64k fault {d} && cp -a $t/."
       f" {d} && rm -rf $t && {{ dd if=/dev/zero of={d}/.fill bs=1k 2>/dev/null; true; }}")
    files = set(os.listdir(d))
    try:
        yield
        if left := sorted(set(os.listdir(d)) - files):
            raise RuntimeError(f"left behind in {d}: {left}")
    finally:
        sh(f"umount {d}")


@contextlib.contextmanager
def both(*makes):
    with contextlib.ExitStack() as stack:
        for make in makes:
            stack.enter_context(make())
        yield


# --- Daemon checks: each returns the observed behaviour as text. ------------

def since(text, log="journal.jsonl"):  # how often TEXT is added to LOG from now on
    seen = lambda: pathlib.Path(os.environ["SB_RUN"], log).read_text().count(text)
    before = seen()
    return lambda: seen() - before


def wait_until(predicate):
    deadline = time.monotonic() + LIMIT
    while not predicate() and time.monotonic() < deadline:
        time.sleep(0.05)


def stored_ssh(name):
    with contextlib.suppress(OSError), open("/var/lib/keyshelf/settings.ini") as f:
        if m := re.search(rf"\[SshControl\][^\[]*?^{name}=(\d+)", f.read(), re.M):
            return m.group(1)
    return "-"


def portwarden_block(name="eth1", number="0x02"):
    """Blocks SSH on NAME through the host and reports rule and store once
    portwarden has acted (stored the new value or said it could not); allows
    it again."""
    def set_ssh(value):
        refused = since(f"SSH control of {name} not stored", "portwarden.log")
        answer = ipmi(f"0x3a 0x22 {number} 0x0{value}")
        wait_until(lambda: stored_ssh(name) == str(value) or refused())
        return answer
    answer = set_ssh(0)
    # The copy made before any fault: iptables itself may be the fault.
    rule = (f"-A INPUT -i {name} -p tcp -m tcp --dport 22 -j REJECT"
            in sh("/tmp/fault-xtables/iptables -S INPUT"))
    result = f"{answer}; rule {'added' if rule else 'absent'}; stored {stored_ssh(name)}"
    set_ssh(1)
    return result


def led_asserted():
    return sh(f"timeout {LIMIT} busctl get-property {MOCKS['led'][0]} {LED}/fan_fault"
              " xyz.openbmc_project.Led.Group Asserted 2>/dev/null || echo unreadable").split()[-1]


def watchkeeper_fan_fault(journal=True):
    """Fails Fan1 and reports watchkeeper's LED write and journal entries;
    without a JOURNAL, done once the LED manager has seen the write."""
    failed = since("Failed to set LED state")
    if not journal:
        mock_call("led", "ClearAllCalls", "")
    fan1 = f"busctl set-property xyz.openbmc_project.FanSensor {FAN1} {OPSTATUS} Functional b "
    sh(fan1 + "false")
    wait_until(lambda: failed() or led_asserted() == "true"
               or not journal and "fan_fault" in mock_call("led", "GetAllCallsText", ""))
    result = f"LED {led_asserted()}; 'Failed to set LED state' x{failed()}"
    sh(fan1 + "true")
    return result


def watchkeeper_wrong_signal():
    """Functional of Fan1 changed to a string: read as false, so Fan1 counts
    as failed and its LED group is asserted."""
    malformed = since("Malformed PropertiesChanged signal")
    mock_call("fan_sensor", "EmitPropertiesChangedText", "sssss", FAN1, OPSTATUS, "Functional",
              "s", "true")
    wait_until(lambda: led_asserted() == "true")
    return f"LED {led_asserted()}; 'Malformed PropertiesChanged signal' x{malformed()}"


def portwarden_wrong_signal():
    """SSH of eth1 changed to a string, then a real block of eth1."""
    failed = since("Failed to handle SSH change of eth1", "portwarden.log")
    mock_call("network", "EmitPropertiesChangedText", "sssss", f"{ETH}/eth1", ETH_IF, "SSH", "s",
              "false")
    after = portwarden_block()
    return f"'Failed to handle SSH change' x{failed()}, then {after}"


def portwarden_announce():
    """The network service announces eth2 again; reports what portwarden
    made of it, then that SSH control of eth1 still works."""
    failed = since("Failed to handle new EthernetInterface: ", "portwarden.log")
    mock_call("network", "AnnounceInterfaces", "as", "1", "eth2")
    wait_until(failed)
    return f"'Failed to handle new EthernetInterface' x{failed()}, then {portwarden_block()}"


def boardpilot():
    sh("rm -f /run/platform-control/selected")
    r = subprocess.run(["timeout", str(LIMIT), "boardpilot"], capture_output=True, text=True)
    selected = sh("cat /run/platform-control/selected 2>/dev/null || echo -").strip()
    return f"exit {r.returncode}; selected {selected}"


# --- The table: (target, fault name, fault, action, expected, core row). ----

ROWS = []
ABSENT, ERROR, STOPPED, WRONG = "peer absent", "error reply", "no reply (stopped)", "wrong type"
ALL4 = (ABSENT, ERROR, STOPPED, WRONG)


def row(target, fault_name, make, action, expected, core=False):
    ROWS.append((target, fault_name, make, action, expected, core))


def dbus(target, requests, key, path, call, expected, wrong=None, core=()):
    """The peer faults of REQUESTS (CALL as erring takes it); WRONG: the
    (property, type, text) of the wrong-type row."""
    faults = {ABSENT: lambda: absent(key), ERROR: lambda: erring(key, path, call),
              STOPPED: lambda: stopped(key)}
    if wrong:
        faults[WRONG] = lambda: wrong_type(key, path, *wrong)
    for name, make in faults.items():
        row(target, name, make, then(requests), expected, core=name in core)


STOP, START = f"{SD_UNIT}.Stop", f"{SD_UNIT}.Start"
FAN_UNIT = UNIT + "phosphor_2dpid_2dcontrol_2eservice"
INTR = UNIT + "xyz_2eopenbmc_5fproject_2eintrusionsensor_2eservice"
PSU = UNIT + "xyz_2eopenbmc_5fproject_2epsusensor_2eservice"
ACTIVE = (f"{SD_UNIT}.ActiveState", "b", "true")
BIOS, RESET = "/xyz/openbmc_project/software/bios_active", "xyz.openbmc_project.Common.FactoryReset"
# Legacy handlers: a D-Bus failure leaves the handler, ipmid answers 0xFF.
dbus("0x01 Set Smart Fan (manual)", "0x3a 0x01 0x32", "systemd", FAN_UNIT, STOP, "ff", core=ALL4)
dbus("0x01 Set Smart Fan (auto)", "0x3a 0x01 0x00", "systemd", FAN_UNIT, START, "ff")
dbus("0x88 Set Chassis Intrusion", "0x3a 0x88 0x01", "systemd", INTR, START, "ff")
dbus("0xE6 Set PSU Monitor", "0x3a 0xe6 0x00 0x00", "systemd", PSU, STOP, "ff")
dbus("0x89 Get Chassis Intrusion", "0x3a 0x89", "systemd", INTR, GET, "ff", ACTIVE, core=ALL4)
dbus("0xE7 Get PSU Monitor", "0x3a 0xe7 0x00", "systemd", PSU, GET, "ff", ACTIVE)
dbus("0x67 Get Boot Complete", "0x3a 0x67", "led", f"{LED}/bmc_booted", GET, "ff",
     ("xyz.openbmc_project.Led.Group.Asserted", "s", "true"), core=ALL4)
dbus("0x10 Set GPIO 0x33 (system-fault LED)", "0x3a 0x10 0x33 0x02 0x01", "led",
     f"{LED}/system_fault", "=Asserted", "ff", core=(ERROR,))
dbus("0xBD Set BIOS POST Status / 0xBE Get", "0x3a 0xbd 0x04 / 0x3a 0xbe", "state_host",
     "/xyz/openbmc_project/state/host0", "=BootProgress", "ff / 00 04", core=(ERROR, STOPPED))
dbus("0x86 Set Firmware Version (BIOS)", "0x3a 0x86 0x00 0x01 0x07 0x00 0x00 0x03 / 0x3a 0x87 0x00",
     "software", BIOS, "=Version", "ff / 00" + " 00" * 16)
dbus("0xB2 Set BIOS Firmware Info", "0x3a 0xb2 0x00 0x03 0x05 0x62", "software", BIOS, "=Version",
     "ff")
dbus("0x71 Set Network Interface (factory reset)", "0x3a 0x71 0x01", "network", ETH,
     f"{RESET}.Reset", "ff", core=(ABSENT, ERROR))
dbus("0x71 Set Network Interface (delete eth0)", "0x3a 0x71 0x02 0x02", "network", f"{ETH}/eth0",
     "xyz.openbmc_project.Collection.DeleteAll.DeleteAll", "ff")
dbus("0x71 Set Network Interface (restart networkd)", "0x3a 0x71 0x00", "systemd",
     UNIT + "systemd_2dnetworkd_2eservice", f"{SD_UNIT}.Restart", "ff")
# Typed handlers: SSH read failures answer 0xCC, a failed write is not reported.
dbus("0x23 Get SSH Control", "0x3a 0x23 0x01", "network", f"{ETH}/eth0", GET, "cc",
     (f"{ETH_IF}.SSH", "s", "false"), core=ALL4)
dbus("0x22 Set SSH Control (read fails)", "0x3a 0x22 0x01 0x01", "network", f"{ETH}/eth0", GET,
     "cc")
row("0x22 Set SSH Control (write fails)", ERROR, lambda: erring("network", f"{ETH}/eth0", "=SSH"),
    then("0x3a 0x22 0x01 0x00 / 0x3a 0x23 0x01"), "ff / 00 01", core=True)
# Restore default: every action runs; a failed factory reset, reboot or
# power-off request answers 0xFF, the LED write's result is not looked at.
for key, obj, call, option, answer in (
        ("software", "/xyz/openbmc_project/software", f"{RESET}.Reset", "0x01", "ff"),
        ("state_bmc", "/xyz/openbmc_project/state/bmc0", "=RequestedBMCTransition", "0x01", "ff"),
        ("led", f"{LED}/bmc_booted", "=Asserted", "0x01", "00"),
        ("state_chassis", "/xyz/openbmc_project/state/chassis0", "=RequestedPowerTransition",
         "0x04", "ff")):
    dbus(f"0x66 Restore Default {option} ({key})", f"0x3a 0x66 {option}", key, obj, call, answer,
         core=(STOPPED,) if key == "software" else ())


def file_faults(path, what):
    """The three faults, named WHAT ..., of the file PATH and its directory."""
    d = os.path.dirname(path)
    return ((f"{what} missing", lambda: missing(path), "missing"),
            (f"{what} unwritable", lambda: read_only(d), "unwritable"),
            (f"{what} full file system", lambda: full(d), "full"))


# Files: a failed EEPROM write answers 0xC1 (chassis ID, MAC) or 0xFF (fan
# initial duty); reads are not checked; the earlier record stays.
for name, make, kind in file_faults("/sys/bus/i2c/devices/7-0050/eeprom", "EEPROM"):
    gone = kind == "missing"
    row("0xAA Set Chassis ID / 0xAB Get", name, make,
        then("0x3a 0xaa 0x4b 0x53 0x54 0x32 / 0x3a 0xab"),
        "c1 / 00" + (" ff" * 31 if gone else " 4b 53 54 31 00"), core=True)
    row("0x0C Set Fan Initial Duty / 0x0D Get", name, make,
        then("0x3a 0x0c 0x1e 0x32 0x64 / 0x3a 0x0d"),
        "ff / ff" if gone else "ff / 00 14 32 64 00 00 00 00 00")
    row("0xA0 Set MAC Address / 0xA1 Get", name, make,
        then("0x3a 0xa0 0x02 0x02 0x11 0x22 0x33 0x44 0x66 0x02 0x11 0x22 0x33 0x44 0x67"
             " / 0x3a 0xa1 0x02"),
        "c1 / 00" + (" 00" * 12 if gone else " 02 11 22 33 44 55 02 11 22 33 44 56"))
    row("boardpilot", name, make, boardpilot, "exit 0; selected " + ("VRKL" if gone else "KST1"),
        core=gone)
# Stores: failures are not detected (0x00) and the earlier value is kept.
for name, make, kind in file_faults("/var/lib/keyshelf/settings.ini", "key/value store"):
    gone = kind == "missing"
    row("0xE3 Misc Wake-on-LAN set / get", name, make,
        then("0x3a 0xe3 0xb0 0x00 0x00 / 0x3a 0xe3 0xb0 0x01"),
        "00 / 00 0" + ("0" if gone else "1"), core=not gone)
    row("portwarden: block SSH on eth1", name, make, portwarden_block,
        "00; rule added; stored " + ("0" if gone else "1"), core=kind == "full")
for name, make, kind in file_faults("/var/lib/revstore/records.bin", "version records"):
    row("0x86 Set Firmware Version (record 2) / 0x87 Get", name, make,
        then("0x3a 0x86 0x02 0x02 0x00 0x00 0x00 0x01 / 0x3a 0x87 0x02"),
        "00 00 / 00 " + ("02 00 00 00 01" if kind == "missing" else "01 00 00 00 09") + " 00" * 11,
        core=kind == "unwritable")
for name, make, kind in file_faults("/var/lib/sidebandcfg/port", "sideband port"):
    row("0x20 Set NC-SI Select / 0x21 Get", name, make, then("0x3a 0x20 0x00 / 0x3a 0x21"),
        "00 / 00 00" if kind == "missing" else "ff / 00 01", core=kind == "full")
row("portwarden: block SSH on eth1", "iptables failing",  # every iptables command exits 4
    lambda: shell_fault("printf '#!/bin/sh\\nexit 4\\n' >/tmp/iptables-fail && chmod 755"
                        f" /tmp/iptables-fail && mount --bind /tmp/iptables-fail {IPTABLES}",
                        f"umount {IPTABLES}"), portwarden_block, "00; rule absent; stored 0",
    core=True)
STATUS = "$SB_RUN/stand-in-status/systemctl"  # the recording stand-in's exit status
row("0x20 Set NC-SI Select / 0x21 Get", "systemctl failing",
    lambda: shell_fault(f"echo 1 >{STATUS}", f"rm {STATUS}"), then("0x3a 0x20 0x01 / 0x3a 0x21"),
    "00 / 00 01")
LED_FAILED = "'Failed to set LED state' x"
FAN_LED = lambda: erring("led", f"{LED}/fan_fault", "=Asserted")
row("watchkeeper: Fan1 fails", "LED manager absent", lambda: absent("led"),
    watchkeeper_fan_fault, "LED unreadable; " + LED_FAILED + "2")
row("watchkeeper: Fan1 fails", "LED write error reply", FAN_LED, watchkeeper_fan_fault,
    "LED false; " + LED_FAILED + "1", core=True)
row("watchkeeper: Fan1 fails", "LED manager stopped", lambda: stopped("led"),
    watchkeeper_fan_fault, "LED unreadable; " + LED_FAILED + "2")
row("watchkeeper: Fan1 Functional", "wrong type in signal", contextlib.nullcontext,
    watchkeeper_wrong_signal, "LED true; 'Malformed PropertiesChanged signal' x0", core=True)
row("portwarden: SSH of eth1", "wrong type in signal", contextlib.nullcontext,
    portwarden_wrong_signal, "'Failed to handle SSH change' x1, then 00; rule added; stored 0",
    core=True)
HWMON = "/sys/bus/platform/drivers/aspeed_pwm_tacho/1e786000.pwm-tacho-controller/hwmon"
row("0x01 Set Smart Fan (manual) / 0x02 Get", "PWM files missing", lambda: missing(HWMON),
    then("0x3a 0x01 0x32 / 0x3a 0x02"), "00 / ff", core=True)
row("boardpilot", "configuration missing",
    lambda: missing("/usr/share/platform-control/config.json"), boardpilot, "exit 1; selected -",
    core=True)
ANNOUNCED = "'Failed to handle new EthernetInterface' x1, then 00; rule added; stored 0"
row("portwarden: eth2 announced", "InterfaceName error reply",
    lambda: erring("network", f"{ETH}/eth2", GET), portwarden_announce, ANNOUNCED, core=True)
row("portwarden: eth2 announced", "InterfaceName wrong type",
    lambda: wrong_type("network", f"{ETH}/eth2", f"{ETH_IF}.InterfaceName", "u", "7"),
    portwarden_announce, ANNOUNCED)
GONE, JOURNAL = "journal socket gone", lambda: missing("/run/systemd/journal/socket")
row("0x67 Get Boot Complete, LED manager absent", GONE,
    lambda: both(JOURNAL, lambda: absent("led")), then("0x3a 0x67"), "ff", core=True)
row("watchkeeper: Fan1 fails, LED write error reply", GONE, lambda: both(JOURNAL, FAN_LED),
    lambda: watchkeeper_fan_fault(journal=False), "LED false; " + LED_FAILED + "0")
row("boardpilot", GONE, JOURNAL, boardpilot, "exit 0; selected KST1", core=True)


def main(args):
    require_sandbox("fault_test")
    every = "--all" in args or os.environ.get("FAULT_ALL") == "1"
    table = args[args.index("--table") + 1] if "--table" in args else None
    # The earlier settings every row must keep: chassis ID KST1, MAC slots,
    # fan initial duties, Wake-on-LAN on, SSH of eth1 allowed and stored,
    # version record 2, NC-SI port 1.
    for request in ("0x3a 0xaa 0x4b 0x53 0x54 0x31",
                    "0x3a 0xa0 0x02 0x02 0x11 0x22 0x33 0x44 0x55 0x02 0x11 0x22 0x33 0x44 0x56",
                    "0x3a 0x0c 0x14 0x32 0x64", "0x3a 0xe3 0xb0 0x00 0x01", "0x3a 0x22 0x02 0x00",
                    "0x3a 0x22 0x02 0x01", "0x3a 0x86 0x02 0x01 0x00 0x00 0x00 0x09",
                    "0x3a 0x20 0x01"):
        if not (answer := ipmi(request)).startswith("00"):
            sys.exit(f"fault_test: set-up request {request} answered {answer}")
    # xtables binaries act as the tool they are named after.
    sh(f"mkdir -p /tmp/fault-xtables && cp {IPTABLES} /tmp/fault-xtables/iptables")
    boardpilot()
    probe, start = ipmi(PROBE), daemons()
    if sorted(start) != sorted(DAEMONS):
        sys.exit(f"fault_test: board daemons not all running: {start}")
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
        nxt, alive = ipmi(PROBE), daemons()
        ok_next, ok_daemons = nxt == probe, alive == start
        problems += not (ok := got == expected and ok_next and ok_daemons)
        lines.append(f"| {target} | {fault_name} | {expected} | {got} ({took:.1f} s) |"
                     f" {'answered' if ok_next else nxt} |"
                     f" {'running' if ok_daemons else f'{start} -> {alive}'} |")
        if not ok:
            print(f"FAIL {target} / {fault_name}: expected {expected!r}, got {got!r},"
                  f" next {nxt!r}, daemons {alive}", file=sys.stderr)
    print("\n".join(lines))
    if table:
        pathlib.Path(table).write_text("\n".join(lines) + "\n")
    print(f"fault_test: {len(lines) - 2} rows, {problems} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
