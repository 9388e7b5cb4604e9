"""Inside the running board (scripts/bench): measures, prints the table and
writes it to OUT.

    run.py BUILD OUT [ROUNDS]
"""

import json
import os
import re
import statistics
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD, OUT = sys.argv[1], sys.argv[2]
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 2000
KBENCH = os.path.join(BUILD, "bench", "kbench")
RUN = os.environ["SB_RUN"]
SENSOR_IFACE = "xyz.openbmc_project.Bench.Sensor"


def start(*args):
    """Starts a kbench tool and waits for its "ready"."""
    p = subprocess.Popen([KBENCH, *args], stdout=subprocess.PIPE, text=True)
    if p.stdout.readline().strip() != "ready":
        sys.exit(f"bench: kbench {args[0]} did not start")
    return p


def stop(p):
    p.terminate()
    p.wait()


def sandbox(script):
    """Runs a line of the sandbox's shell library (sim/lib/sandbox-lib.sh)."""
    subprocess.run(["bash", "-c", f'. "$SB_DIR/lib/sandbox-lib.sh"; {script}'], check=True)


def stop_mock(key):
    sandbox(f"sb_stop_mock {key}")


def commands():
    """One typical request per registered command: the first example of
    docs/commands.md that succeeds, else its first example."""
    doc = open(os.path.join(TOP, "docs", "commands.md")).read().splitlines()
    names = {}
    for line in doc:
        m = re.match(r"\| 0x(..) \| 0x(..) \| ([^|]+?) \|", line)
        if m:
            names[(int(m[1], 16), int(m[2], 16))] = m[3]
    first, good = {}, {}
    for i, line in enumerate(doc):
        m = re.match(r"\$ ipmitool -I dummy raw (.*)", line)
        if not m:
            continue
        tokens = m[1].split()
        if not all(re.fullmatch(r"0x[0-9a-fA-F]{1,2}", t) for t in tokens):
            continue
        raw = [int(b, 16) for b in tokens]
        key = (raw[0], raw[1])
        first.setdefault(key, raw)
        ok = i + 1 < len(doc) and not doc[i + 1].startswith("Unable")
        if ok:
            good.setdefault(key, raw)
    out = []
    for key, name in names.items():
        raw = good.get(key) or first.get(key)
        if raw:
            out.append((name, raw))
    return out


def pct(values, q):
    values = sorted(values)
    return values[int(q * (len(values) - 1))]


def rss_kib(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def pid_of(exe):
    for d in os.listdir("/proc"):
        if d.isdigit():
            try:
                if os.readlink(f"/proc/{d}/exe") == exe:
                    return int(d)
            except OSError:
                pass
    return None


lines = []


def emit(text=""):
    print(text, flush=True)
    lines.append(text)


# --- commands through execute --------------------------------------------
floor_server = start("serve", "org.kestrel.Bench")
reqs = commands()
labels = {}
rtt_input = {}  # kbench rtt's input line of each label
for i, (name, raw) in enumerate(reqs):
    label = f"c{i}"
    labels[label] = (name, raw)
    rtt_input[label] = label + " " + " ".join(f"{b:x}" for b in raw) + "\n"
stdin = "".join(rtt_input.values())
rtt = subprocess.run([KBENCH, "rtt", str(ROUNDS)], input=stdin, text=True,
                     capture_output=True, check=True).stdout
rows = [r.split("\t") for r in rtt.splitlines()]
sys_med, sys_p99 = subprocess.run([KBENCH, "system", "200"], capture_output=True,
                                  text=True, check=True).stdout.split()
default_med, default_p99 = subprocess.run([KBENCH, "default", "2000"], capture_output=True,
                                          text=True, check=True).stdout.split()
mock_med, mock_p99 = subprocess.run(
    [KBENCH, "get", "500", "xyz.openbmc_project.LED.GroupManager",
     "/xyz/openbmc_project/led/groups/bmc_booted", "xyz.openbmc_project.Led.Group",
     "Asserted"], capture_output=True, text=True, check=True).stdout.split()
# The one command whose only peer is the LED manager, once more with a C
# LED manager in place of the mock: the host's cost for a blocking call
# against a peer as fast as the floor's.
boot = next(label for label, (name, _) in labels.items() if name == "Get Boot Complete")
stop_mock("led")
c_led = start("serve", "xyz.openbmc_project.LED.GroupManager")
c_row = subprocess.run([KBENCH, "rtt", str(ROUNDS)], input=rtt_input[boot],
                       text=True, capture_output=True, check=True).stdout.split("\t")
stop(c_led)
sandbox("sb_start_mock led && sb_wait_mock led")
stop(floor_server)

emit("## Commands through `execute` (µs)")
emit()
emit("Floor: one Properties.Get to a second C sd-bus process, taken in turn "
     "with the command's own round trips.  One `system(\"true\")`: median "
     f"{float(sys_med):.0f}, p99 {float(sys_p99):.0f}.  Ratio: the median "
     "over (calls + 1) × the floor's median, plus one `system` median per "
     "process started.  Bus-daemon calls are ipmid's calls to "
     "org.freedesktop.DBus.  The peers the handlers call are the board's "
     "Python mocks: one Properties.Get to one of them (the LED manager) "
     f"takes median {float(mock_med):.0f}, p99 {float(mock_p99):.0f}.  "
     "Peer floor: the floor plus the same calls the handler made, sent in "
     "turn from the bench to the same peers; its ratio is the median over "
     "it (plus one `system` median per process started).  A legacy "
     "handler's blocking calls go out on the thread's default bus, taken "
     "with `sd_bus_default()` for the handler: one such call, which reads "
     "the process's cgroups to choose between the user and the system bus, "
     f"takes median {float(default_med):.0f}, p99 {float(default_p99):.0f}.")
emit()
emit("| Command | Request | cc | median | p99 | floor median | floor p99 | "
     "calls | bus-daemon calls | processes | ratio | peer floor | ratio to peer floor |")
emit("|---|---|---|---|---|---|---|---|---|---|---|---|---|")


def budgets(calls, procs, fmed, pmed):
    extra = int(procs) * float(sys_med)
    return (int(calls) + 1) * float(fmed) + extra, float(pmed) + extra


for label, med, p99, calls, daemon, procs, cc, fmed, fp99, pmed in rows:
    name, raw = labels[label]
    med = float(med)
    budget, peer_budget = budgets(calls, procs, fmed, pmed)
    emit(f"| {name} | {' '.join(f'{b:02x}' for b in raw)} | {int(cc):02x} | "
         f"{med:.0f} | {float(p99):.0f} | {float(fmed):.0f} | {float(fp99):.0f} | {calls} | "
         f"{daemon} | {procs} | {med / budget:.2f} | {float(pmed):.0f} | "
         f"{med / peer_budget:.2f} |")
emit()
_, med, p99, calls, _, procs, cc, fmed, _, pmed = c_row
budget, peer_budget = budgets(calls, procs, fmed, pmed)
emit(f"Get Boot Complete with a C LED manager (`kbench serve`) in place of the "
     f"mock: cc {int(cc):02x}, median {float(med):.0f}, p99 {float(p99):.0f}, "
     f"floor {float(fmed):.0f}, {calls} call; ratio to ({calls} + 1) × floor "
     f"{float(med) / budget:.2f}, to the peer floor {float(pmed):.0f}: "
     f"{float(med) / peer_budget:.2f}.")
emit()

# --- dispatch inside the host -------------------------------------------
res = json.loads(subprocess.run(
    [os.path.join(BUILD, "bench", "kbench-dispatch"), "--benchmark_format=json",
     "--benchmark_repetitions=5", "--benchmark_min_time=0.2"],
    capture_output=True, text=True, check=True).stdout)
runs = {}
for b in res["benchmarks"]:
    if b.get("run_type") == "iteration":
        runs.setdefault(b["run_name"], []).append(b["cpu_time"])
emit("## Dispatch inside the host, pure handler (ns, 5 repetitions)")
emit()
emit("| Path | median | worst |")
emit("|---|---|---|")
for name, t in runs.items():
    emit(f"| {name} | {statistics.median(t):.0f} | {max(t):.0f} |")
emit()

# --- watchkeeper ---------------------------------------------------------
stop_mock("led")
led_server = start("serve", "xyz.openbmc_project.LED.GroupManager")
config = "/usr/share/property-monitor/config.json"
board_config = open(config).read()
rule = {"name": SENSOR_IFACE,
        "properties": [{"Alarm": [{"value": 1, "actions": [
            {"led": ["/xyz/openbmc_project/led/groups/bench", 1]}]}]}]}
with open(config, "w") as f:
    json.dump({"monitors": [{"path": "/bench/sensor", "interfaces": [rule]}]}, f)
wk_exe = os.path.join(BUILD, "watchkeeper", "watchkeeper")
state_log = os.path.join(RUN, "state_host.log")


def start_wk():
    """Starts watchkeeper; it is ready once it read the host state, which
    it does after its watches are in place."""
    before = open(state_log).read().count("CurrentHostState")
    p = subprocess.Popen([wk_exe], stdout=subprocess.DEVNULL)
    for _ in range(200):
        if open(state_log).read().count("CurrentHostState") > before:
            break
        time.sleep(0.01)
    return p


SIGNALS = 20000


def rate(waiter):
    w = start(*waiter)
    t0 = float(subprocess.run([KBENCH, "emit", str(SIGNALS)], capture_output=True,
                              text=True, check=True).stdout)
    t1, handled = w.stdout.readline().split()
    w.wait()
    if int(handled) < SIGNALS:
        emit(f"(only {handled} of {SIGNALS} signals handled by kbench {waiter[0]})")
    return int(handled) / (float(t1) - t0)


wk_rates, bare_rates, relay_rates = [], [], []
for _ in range(5):
    # Each runs in its own rounds only: beside the listener, watchkeeper or
    # the relay would take the same signals and load the bus with writes.
    bare_rates.append(rate(["listen", str(SIGNALS)]))
    relay = start("relay", str(SIGNALS))
    relay_rates.append(rate(["sets", str(SIGNALS)]))
    relay.wait()
    wk = start_wk()
    wk_rates.append(rate(["sets", str(SIGNALS)]))
    stop(wk)
stop(led_server)

# Start-up on 1,000 monitors, beside an empty configuration.
stop_mock("state_host")


def start_ms(monitors):
    with open(config, "w") as f:
        json.dump({"monitors": [
            {"path": f"/bench/m{i}", "interfaces": [rule]} for i in range(monitors)]}, f)
    out = subprocess.run([KBENCH, "start", "20", wk_exe], capture_output=True,
                         text=True, check=True).stdout.split()
    return float(out[0]), float(out[1])


start_empty = start_ms(0)
start_1000 = start_ms(1000)
bus_1000 = [float(x) for x in subprocess.run(
    [KBENCH, "matches", "20", "1000"], capture_output=True, text=True,
    check=True).stdout.split()]
with open(config, "w") as f:
    f.write(board_config)

emit("## watchkeeper")
emit()
emit("| Figure | median | worst | floor | ratio |")
emit("|---|---|---|---|---|")
bm = statistics.median(bare_rates)
wm = statistics.median(wk_rates)
rm = statistics.median(relay_rates)
emit(f"| PropertiesChanged → one LED write (signals/s, 5 runs of {SIGNALS}) | "
     f"{wm:.0f} | {min(wk_rates):.0f} | bare listener {bm:.0f} (worst "
     f"{min(bare_rates):.0f}) | {wm / bm:.2f} |")
emit(f"| the same bus work from a bare C client: one LED Set per signal, 64 "
     f"unanswered at most (signals/s) | {rm:.0f} | {min(relay_rates):.0f} | "
     f"watchkeeper over it | {wm / rm:.2f} |")
emit(f"| start-up to watching, 1,000 monitors (ms, 20 starts; p99) | "
     f"{start_1000[0]:.1f} | {start_1000[1]:.1f} | no monitors {start_empty[0]:.1f} | "
     f"{start_1000[0] / start_empty[0]:.2f} |")
emit(f"| the bus alone: 1,000 watch rules added and confirmed by a C client "
     f"(ms, 20 rounds; p99) | {bus_1000[0]:.1f} | {bus_1000[1]:.1f} | | |")
emit()

# --- portwarden -----------------------------------------------------------
IFACE = "eth1"


def iptables_check():
    return subprocess.run(
        ["iptables", "-C", "INPUT", "-i", IFACE, "-p", "tcp", "-m", "tcp",
         "--dport", "22", "-j", "REJECT", "--reject-with", "icmp-port-unreachable"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def set_ssh(on):
    subprocess.run(["busctl", "set-property", "xyz.openbmc_project.Network",
                    f"/xyz/openbmc_project/network/{IFACE}",
                    "xyz.openbmc_project.Network.EthernetInterface", "SSH", "b",
                    "true" if on else "false"], check=True)


one_run, to_rule = [], []
for _ in range(20):
    t0 = time.monotonic()
    iptables_check()
    one_run.append((time.monotonic() - t0) * 1e3)
for _ in range(10):
    t0 = time.monotonic()
    set_ssh(False)
    while not iptables_check():
        pass
    to_rule.append((time.monotonic() - t0) * 1e3)
    set_ssh(True)
    while iptables_check():
        pass
emit("## portwarden")
emit()
emit("| Figure | median | p99 | floor | ratio |")
emit("|---|---|---|---|---|")
emit(f"| SSH set false → reject rule in place (ms, 10 runs; polled with "
     f"`iptables -C`, so up to one run late) | {statistics.median(to_rule):.1f} | "
     f"{pct(to_rule, 0.99):.1f} | one `iptables -C` {statistics.median(one_run):.1f} | "
     f"{statistics.median(to_rule) / statistics.median(one_run):.2f} |")
emit()

# --- footprint ------------------------------------------------------------
emit("## Footprint")
emit()
emit("| Deliverable | stripped size (KiB) | idle RSS (KiB) |")
emit("|---|---|---|")
files = [("libkestrelipmi", "oem/libkestrelipmi.so"),
         ("watchkeeper", "watchkeeper/watchkeeper"),
         ("portwarden", "portwarden/portwarden"),
         ("boardpilot", "boardpilot/boardpilot"),
         ("ipmid (host stand-in)", "platform/ipmid/host/ipmid")]
for lib in sorted(os.listdir(os.path.join(BUILD, "boardlibs"))):
    if re.fullmatch(r"lib\w+\.so", lib):
        files.append((lib, os.path.join("boardlibs", lib)))
idle = start("idle")
rss = {"watchkeeper": pid_of(os.path.join(BUILD, "watchkeeper/watchkeeper")),
       "portwarden": pid_of(os.path.join(BUILD, "portwarden/portwarden")),
       "ipmid (host stand-in)": pid_of(os.path.join(BUILD, "platform/ipmid/host/ipmid"))}
for name, rel in files:
    path = os.path.realpath(os.path.join(BUILD, rel))
    stripped = "/tmp/bench-stripped"
    subprocess.run(["strip", "-o", stripped, path], check=True)
    size = os.path.getsize(stripped) / 1024
    pid = rss.get(name)
    note = f"{rss_kib(pid)}" if pid else ""
    if name == "ipmid (host stand-in)" and pid:
        note += " (libkestrelipmi loaded)"
    emit(f"| {name} | {size:.0f} | {note} |")
emit(f"| bare sd-bus client (kbench idle) | | {rss_kib(idle.pid)} |")
stop(idle)
emit()

with open(OUT, "w") as f:
    f.write("\n".join(lines) + "\n")
