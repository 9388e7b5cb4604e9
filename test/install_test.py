#!/usr/bin/python3
"""`meson install` lays out what an image needs and nothing else; the units
pass `systemd-analyze verify` and start installed programs; the layer recipe,
configured as bitbake would, packages exactly the files meson installs.
Inside the board sandbox:  install_test.py BUILD_DIR SOURCE_DIR"""
import fnmatch
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from sandbox_guard import require_sandbox

require_sandbox("install_test")

build, source = map(Path, sys.argv[1:3])
failures = []
check = lambda ok, what: ok or failures.append(what)  # noqa: E731


def run(*cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def exec_starts(unit):
    return [line.split("=", 1)[1].split()[0].lstrip("-@")
            for line in unit.read_text().splitlines() if line.startswith("ExecStart=")]


# The build's own configuration, installed.
opt = {o["name"]: o["value"] for o in json.loads(run("meson", "introspect", str(build), "--buildoptions"))}
at = lambda name: Path(opt["prefix"], opt[name])  # noqa: E731
unit_dir = opt["systemd_unit_dir"] or run("pkg-config", "--variable=systemdsystemunitdir", "systemd").strip()
progs = {"watchkeeper": at("sbindir"), "portwarden": at("sbindir"), "boardpilot": at("bindir")}
expected = {Path(opt["providers_dir"], "libkestrelipmi.so" + v) for v in ("", ".0")}
for lib in ("romcell", "smbridge", "regpeek", "revstore", "keyshelf", "sidebandcfg"):
    expected |= {at("libdir") / f"lib{lib}.so{v}" for v in ("", ".0", ".0.0.0")}
samples = {"watchkeeper": ("monitor_config", "property-monitor.json"),
           "boardpilot": ("platform_config", "platform-control.json")}
for prog, where in progs.items():
    if opt[prog]:
        expected |= {where / prog, Path(unit_dir, prog + ".service")}
        if prog in samples and opt["sample_configs"]:
            expected.add(Path(opt[samples[prog][0]]))
if opt["portwarden"] and (build / "portwarden/portwarden-epoll").exists():
    expected.add(at("libexecdir") / "portwarden-epoll")

dest = Path(tempfile.mkdtemp())
run("meson", "install", "-C", str(build), "--no-rebuild", "--quiet", "--destdir", str(dest))
inst = lambda p: dest / str(p).lstrip("/")  # noqa: E731
installed = {"/" / p.relative_to(dest) for p in dest.rglob("*") if p.is_file() or p.is_symlink()}
check(installed == {Path(p) for p in expected},
      f"installed files: extra {sorted(map(str, installed - expected))}, missing {sorted(map(str, expected - installed))}")
provider = inst(Path(opt["providers_dir"], "libkestrelipmi.so.0"))
check(provider.is_file() and not provider.is_symlink(), f"{provider} is not a file")
for p in sorted(expected):
    if p.name.endswith(".so.0.0.0"):
        soname = re.search(r"SONAME\)\s+Library soname: \[(.*)\]", run("readelf", "-d", str(inst(p))))
        check(soname and soname[1] == p.name[:-4], f"{p}: soname {soname and soname[1]}")
    if p.suffix == ".json":
        sample = samples["watchkeeper" if "property-monitor" in str(p) else "boardpilot"][1]
        check(inst(p).read_bytes() == (source / "sim/config" / sample).read_bytes(), f"{p} is not the sample")
units = sorted(inst(unit_dir).glob("*.service"))
for unit in units:
    for exe in exec_starts(unit):
        check(os.access(inst(exe), os.X_OK), f"{unit.name}: ExecStart {exe} is not an installed program")

# systemd-analyze verify on the installed tree, with systemd's own units
# (sysinit.target and the like) beside it.
analyze = shutil.which("systemd-analyze")
check(analyze, "systemd-analyze is missing (scripts/setup-deps installs it)")
if analyze and units:
    overlay = dest / "etc/systemd/system"
    overlay.mkdir(parents=True)
    run("mount", "--bind", "-o", "ro", "/usr/lib/systemd/system", str(overlay))
    try:
        r = subprocess.run([analyze, "verify", f"--root={dest}", *map(str, units)], capture_output=True, text=True)
    finally:
        run("umount", str(overlay))
    check(r.returncode == 0 and not (r.stdout + r.stderr).strip(), f"systemd-analyze verify: {r.stdout}{r.stderr}")

# The layer recipe: bitbake's directories on an OpenBMC image, and the
# recipe's own variables.
bb = {"PN": "kestrel", "prefix": "/usr", "bindir": "/usr/bin", "sbindir": "/usr/sbin",
      "libdir": "/usr/lib", "libexecdir": "/usr/libexec", "datadir": "/usr/share",
      "systemd_system_unitdir": "/usr/lib/systemd/system"}
text = (source / "meta-kestrel/recipes-phosphor/kestrel/kestrel_git.bb").read_text().replace("\\\n", " ")
assigned = re.findall(r'^(\S+)\s*(\?\?=|\+=|=)\s*"(.*)"\s*$', text, re.M)


def expand(s):
    while (m := re.search(r"\$\{(\w+)\}", s)):
        s = s[:m.start()] + bb[m[1]] + s[m.end():]
    return s


for name, op, value in assigned:
    if re.fullmatch(r"[A-Z_]+", name) and "${@" not in value:
        bb[name] = (bb.get(name, "") + " " if op == "+=" else "") + value
config = [f"-D{d}={expand('${' + d + '}')}" for d in ("prefix", "bindir", "sbindir", "libdir", "libexecdir", "datadir")]
config += expand(bb["EXTRA_OEMESON"]).split()
for name, op, value in assigned:
    if name.startswith("PACKAGECONFIG["):  # every feature on
        config += expand(value).split(",")[0].split()
cfg = Path(tempfile.mkdtemp()) / "cfg"
run("meson", "setup", *config, str(cfg), str(source))
plan = set(json.loads(run("meson", "introspect", str(cfg), "--installed")).values())
files, services = [], []
for name, op, value in assigned:
    if name.startswith("FILES:"):
        files += expand(value).split()
    if name.startswith("SYSTEMD_SERVICE:"):
        services += [bb["systemd_system_unitdir"] + "/" + u for u in value.split()]
for f in files:
    check(any(fnmatch.fnmatch(p, f) for p in plan), f"recipe FILES {f}: nothing installed there")
for s in services:
    check(s in plan, f"recipe SYSTEMD_SERVICE {s} is not installed")
    for exe in exec_starts(cfg / "systemd" / Path(s).name):
        check(exe in plan, f"{s}: ExecStart {exe} is not installed")
# What no package takes fails bitbake's installed-vs-shipped check; the
# libraries' unversioned links go to the -dev package by default.
for p in sorted(plan):
    check(p in services or any(fnmatch.fnmatch(p, f) for f in files + [bb["libdir"] + "/lib*.so"]),
          f"{p} is installed but in no package of the recipe")

print("\n".join(f"FAIL: {f}" for f in failures) or f"install layout, {len(units)} units and the recipe: ok")
sys.exit(1 if failures else 0)
