#!/usr/bin/env python3
"""Registers (or, with "unset", removes) a program with the portmapper on
127.0.0.1:111 over UDP from a reserved port, as a local server would.

Usage: pmap_set.py PROGRAM VERSION PROTOCOL PORT [unset]
Exits 0 when the portmapper answered TRUE."""
import random
import socket
import struct
import sys


def main():
    prog, vers, prot, port = (int(a) for a in sys.argv[1:5])
    proc = 3 if len(sys.argv) > 5 and sys.argv[5] == "unset" else 1  # PMAPPROC_UNSET, PMAPPROC_SET
    xid = random.getrandbits(32)
    call = struct.pack(">10I", xid, 0, 2, 100000, 2, proc, 0, 0, 0, 0) + struct.pack(">4I", prog, vers, prot, port)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    for local in range(600, 1000):
        try:
            s.bind(("127.0.0.1", local))
            break
        except OSError:
            continue
    s.settimeout(3)
    s.sendto(call, ("127.0.0.1", 111))
    reply = s.recv(1024)
    words = struct.unpack(">%dI" % (len(reply) // 4), reply[: len(reply) // 4 * 4])
    sys.exit(0 if words[0] == xid and words[-1] == 1 else 1)


if __name__ == "__main__":
    main()
