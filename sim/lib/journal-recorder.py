#!/usr/bin/python3
"""Stand-in for journald's native socket inside the board sandbox.

Binds the native protocol socket, decodes every datagram the way journald
does and appends each entry as one JSON object per line, all values strings.
Tests read that file to assert log entries and their fields.

What is kept from journald, because code that passes here must also log
correctly on a board:
  * a field name must be A-Z, 0-9 and '_', not start with a digit and be at
    most 64 characters; other fields are dropped;
  * names starting with '_' are reserved for trusted fields, so a client
    cannot set them; the recorder adds _PID, _UID, _GID (from the socket
    credentials) and _COMM itself;
  * a datagram either carries the entry itself or is empty and carries one
    file descriptor (a memfd) holding it; that is how sd-journal sends
    entries too large for one datagram;
  * a trailing field without its terminating newline is ignored.
A field given more than once keeps its last value (journalctl would show an
array; the tests want plain strings).
"""

import argparse
import array
import fcntl
import json
import os
import re
import select
import signal
import socket
import struct
import sys
import termios

FIELD_NAME = re.compile(rb"[A-Z_][A-Z0-9_]{0,63}\Z")
SCM_CREDS_LEN = struct.calcsize("iII")
MAX_ENTRY = 768 * 1024 * 1024  # journald's limit for a memfd entry


def log(msg):
    print(f"journal-recorder: {msg}", file=sys.stderr, flush=True)


def parse_native(data):
    """Decode one native-protocol payload into an ordered list of (name, value)."""
    fields = []
    pos = 0
    end = len(data)
    while pos < end:
        nl = data.find(b"\n", pos)
        if nl < 0:
            break  # trailing noise, as journald treats it
        line = data[pos:nl]
        eq = line.find(b"=")
        if eq >= 0:
            fields.append((line[:eq], line[eq + 1 :]))
            pos = nl + 1
            continue
        # Binary form: NAME '\n' u64le length, value, '\n'.
        if nl + 1 + 8 > end:
            break
        (length,) = struct.unpack_from("<Q", data, nl + 1)
        vstart = nl + 1 + 8
        vend = vstart + length
        if vend + 1 > end or data[vend : vend + 1] != b"\n":
            log(f"malformed binary field {line!r}, rest of entry ignored")
            break
        fields.append((line, data[vstart:vend]))
        pos = vend + 1
    return fields


def comm_of(pid):
    try:
        with open(f"/proc/{pid}/comm", "rb") as f:
            return f.read().rstrip(b"\n").decode("utf-8", "replace")
    except OSError:
        return None


def build_entry(fields, creds):
    entry = {}
    for name, value in fields:
        if not FIELD_NAME.match(name) or name.startswith(b"_"):
            log(f"dropped field {name[:80]!r}")
            continue
        entry[name.decode("ascii")] = value.decode("utf-8", "replace")
    if creds is not None:
        pid, uid, gid = creds
        entry["_PID"] = str(pid)
        entry["_UID"] = str(uid)
        entry["_GID"] = str(gid)
        comm = comm_of(pid)
        if comm is not None:
            entry["_COMM"] = comm
    return entry


def read_fd_payload(fd):
    size = os.fstat(fd).st_size
    if size > MAX_ENTRY:
        raise ValueError(f"entry in file descriptor too large ({size} bytes)")
    chunks = []
    offset = 0
    while offset < size:
        chunk = os.pread(fd, size - offset, offset)
        if not chunk:
            break
        chunks.append(chunk)
        offset += len(chunk)
    return b"".join(chunks)


class Recorder:
    def __init__(self, sock, out):
        self.sock = sock
        self.out = out
        self.buf = bytearray(256 * 1024)

    def pending_size(self):
        # For a datagram socket this is the size of the next datagram.
        raw = fcntl.ioctl(self.sock.fileno(), termios.FIONREAD, b"\0\0\0\0")
        return struct.unpack("i", raw)[0]

    def receive_one(self):
        """Handle one datagram; returns False when none is queued."""
        size = self.pending_size()
        if size + 1 > len(self.buf):
            self.buf = bytearray(size + 1)
        anc_space = socket.CMSG_SPACE(SCM_CREDS_LEN) + socket.CMSG_SPACE(
            16 * array.array("i").itemsize
        )
        try:
            n, ancdata, flags, _ = self.sock.recvmsg_into(
                [self.buf], anc_space, socket.MSG_DONTWAIT | socket.MSG_CMSG_CLOEXEC
            )
        except BlockingIOError:
            return False
        fds = []
        creds = None
        for level, kind, data in ancdata:
            if level != socket.SOL_SOCKET:
                continue
            if kind == socket.SCM_RIGHTS:
                usable = len(data) - len(data) % array.array("i").itemsize
                fds.extend(array.array("i", data[:usable]))
            elif kind == socket.SCM_CREDENTIALS and len(data) >= SCM_CREDS_LEN:
                creds = struct.unpack_from("iII", data)
        try:
            if flags & (socket.MSG_TRUNC | socket.MSG_CTRUNC):
                log("truncated datagram ignored")
            elif n > 0 and not fds:
                self.write(parse_native(bytes(self.buf[:n])), creds)
            elif n == 0 and len(fds) == 1:
                self.write(parse_native(read_fd_payload(fds[0])), creds)
            elif fds:
                log(f"datagram with {n} bytes and {len(fds)} descriptors ignored")
        except (OSError, ValueError) as err:
            log(f"entry ignored: {err}")
        finally:
            for fd in fds:
                os.close(fd)
        return True

    def write(self, fields, creds):
        if not fields:
            return
        entry = build_entry(fields, creds)
        self.out.write(json.dumps(entry, ensure_ascii=False) + "\n")
        self.out.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--socket", default="/run/systemd/journal/socket")
    parser.add_argument("--output", required=True)
    parser.add_argument(
        "--ready-fd", type=int, help="write one line to this fd once listening"
    )
    args = parser.parse_args()

    # SIGTERM only wakes the loop, which then drains what is already queued:
    # entries sent before the sandbox stopped the recorder are never lost.
    wake_r, wake_w = os.pipe2(os.O_NONBLOCK | os.O_CLOEXEC)
    signal.set_wakeup_fd(wake_w)
    signal.signal(signal.SIGTERM, lambda *_: None)
    # A Ctrl-C meant for the command in the sandbox must not end the recording.
    signal.signal(signal.SIGINT, signal.SIG_IGN)

    try:
        os.unlink(args.socket)
    except FileNotFoundError:
        pass
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM | socket.SOCK_CLOEXEC)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_PASSCRED, 1)
    sock.bind(args.socket)
    # Every uid in the sandbox may log, as on a board.
    os.chmod(args.socket, 0o666)

    out = open(args.output, "a", encoding="utf-8", errors="replace")
    recorder = Recorder(sock, out)

    if args.ready_fd is not None:
        os.write(args.ready_fd, b"ready\n")
        os.close(args.ready_fd)

    stopping = False
    while not stopping:
        readable, _, _ = select.select([sock, wake_r], [], [])
        if wake_r in readable:
            stopping = True
        while recorder.receive_one():
            pass
    out.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
