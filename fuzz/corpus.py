#!/usr/bin/env python3
"""Writes each fuzz target's starting inputs into DIR/<target>/: requests and
files of the kinds the tests use, and the sample configurations."""
import pathlib
import struct
import sys

top = pathlib.Path(__file__).resolve().parent.parent
out = pathlib.Path(sys.argv[1])


def raw(netfn, cmd, *data):
    # The ipmi target's "any NetFn and command" form.
    return bytes([0xFF, netfn, cmd, *data])


def record(chassis_id):
    body = chassis_id.encode().ljust(31, b"\0")
    return body + bytes([(-sum(body)) & 0xFF])


def dbus(*fields):
    return bytes(fields)


monitor = (top / "sim/config/property-monitor.json").read_bytes()
platform = (top / "sim/config/platform-control.json").read_bytes()
starting = {
    "ipmi": [
        raw(0x3A, 0xAA, *b"KST1"), raw(0x3A, 0xAB), raw(0x3A, 0xAA),
        raw(0x3A, 0xAA, 0xFF), raw(0x3A, 0xAA, *b"A" * 33),
        raw(0x3A, 0x22, 0x01, 0x00), raw(0x3A, 0x23, 0x00),
        raw(0x3A, 0x20, 0x01), raw(0x3A, 0x21), raw(0x3A, 0x01, 0x00, 0x32),
        raw(0x3A, 0x02, 0x00), raw(0x3A, 0x0C, 0x01, 0x40), raw(0x3A, 0x0D),
        raw(0x3A, 0x10, 0x05, 0x01), raw(0x3A, 0x11, 0x05),
        raw(0x3A, 0x52, 0x07, 0xA0, 0x02, 0x00),
        raw(0x3A, 0x66, 0x05), raw(0x3A, 0x67), raw(0x3A, 0x69, 0x01),
        raw(0x3A, 0x71, 0x01, 0x00), raw(0x3A, 0x86, 0x02, 1, 2, 0x41, 0, 3),
        raw(0x3A, 0x87, 0x02), raw(0x3A, 0x88, 0x01), raw(0x3A, 0x89),
        raw(0x3A, 0xA0, 0x00, 1, 2, 3, 4, 5, 6), raw(0x3A, 0xA1, 0x00),
        raw(0x3A, 0xA2, 0x00, 0x00, 0x00, 0x1E, 1, 0, 0, 0),
        raw(0x3A, 0xA3, 0x00, 0x00, 0x00, 0x1E), raw(0x3A, 0xB2, 1, 2, 3),
        raw(0x3A, 0xB4, 0x01, 0x02), raw(0x3A, 0xBD, 0x01), raw(0x3A, 0xBE),
        raw(0x3A, 0xE2), raw(0x3A, 0xE6, 0x01), raw(0x3A, 0xE7),
        raw(0x32, 0x3D), raw(0x2C, 0x01, 0xDC),
        # The unregistered handlers, after the 34 registered commands.
        bytes([34, 0x01]), bytes([35]), bytes([36, 0x00, 0x01]),
        bytes([37, 0x01, 0x5A]),
    ],
    "misc": [bytes([0x00]), bytes([0x00, 0x01]), bytes([0x01, 0x00, 0x01]),
             bytes([0x01, 0x01]), bytes([0xF0, 0x77])],
    "watchkeeper_config": [monitor, b"{}", b'{"monitors": []}', b"[]"],
    "watchkeeper_signal": [
        # Watch, shape, interface, one property as a boolean, none invalid.
        dbus(0, 0, 0xFF, 1, 1, 0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0),
        dbus(9, 0, 10, 1, 4, 0x09, 6, 0),
    ],
    "portwarden_signal": [
        dbus(0, 0, 8, 1, 0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0),
        dbus(1, 0, 1, 1, 8, 1, 5, 0x09, 11, 0),
    ],
    "boardpilot": [record("KST1") + platform, record("") + platform,
                   bytes([0xFF] * 32) + platform, record("VRKL") + b"{}"],
    "keyshelf": [
        bytes([0, 1]) + struct.pack(">i", 0) + b"[SSH]\neth0=1\neth1=0\n",
        bytes([3, 4]) + struct.pack(">i", 7) +
        b"; settings\n[ A ]\n  x = 12 \r\nbig=2147483648\n[Net]\nmode=4\n",
    ],
    "revstore": [bytes([2] + [0] * 12) + bytes(range(64)),
                 bytes([28] + [0] * 12)],
    "sidebandcfg": [b"\x01" + b"1\n", b"\x00" + b"255", b"\x02" + b" 7 \n"],
}
for target, inputs in starting.items():
    d = out / target
    d.mkdir(parents=True, exist_ok=True)
    for i, data in enumerate(inputs):
        (d / f"start-{i:02d}").write_bytes(data)
