#!/usr/bin/env python3
"""A hostile ONC RPC server on 127.0.0.1: a portmapper on UDP 111 whose DUMP
lists 300 registrations and whose GETPORT sends MOUNT to UDP 2050, where the
export list holds two exports and then a directory whose length runs past the
datagram, and NIS to UDP 2051, whose MATCH in "hosts.byname" of the domain
"testdom" knows "pc1.nis.test" as 127.0.0.1. Prints "ready" once the sockets
listen; serves until killed."""
import select
import socket
import struct


def reply(xid, body):
    return struct.pack(">6I", xid, 1, 0, 0, 0, 0) + body


def string(s):
    data = s.encode()
    return struct.pack(">I", len(data)) + data + b"\0" * (-len(data) % 4)


def dump():
    body = b""
    for i in range(300):
        body += struct.pack(">5I", 1, 300000 + i, 1, 17, 1000 + i)
    return body + struct.pack(">I", 0)


def exports():
    body = b""
    for d in ("/first", "/second"):
        body += struct.pack(">I", 1) + string(d) + struct.pack(">I", 0)
    return body + struct.pack(">II", 1, 0x7FFFFFF0) + b"/cut"


def xdr_string(data, at):
    (n,) = struct.unpack(">I", data[at:at + 4])
    return data[at + 4:at + 4 + n].decode(errors="replace"), at + 4 + n + (-n % 4)


def match(args):
    domain, at = xdr_string(args, 0)
    mapname, at = xdr_string(args, at)
    key, _ = xdr_string(args, at)
    if (domain, mapname, key) == ("testdom", "hosts.byname", "pc1.nis.test"):
        return struct.pack(">I", 1) + string("127.0.0.1 pc1.nis.test pc1")
    return struct.pack(">I", 0xFFFFFFFD) + string("")  # no such key


def main():
    pmap = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    pmap.bind(("127.0.0.1", 111))
    mount = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    mount.bind(("127.0.0.1", 2050))
    nis = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    nis.bind(("127.0.0.1", 2051))
    print("ready", flush=True)
    while True:
        ready, _, _ = select.select([pmap, mount, nis], [], [])
        for s in ready:
            data, peer = s.recvfrom(65536)
            if len(data) < 24:
                continue
            xid, _, _, prog, _, proc = struct.unpack(">6I", data[:24])
            if s is pmap and proc == 4:
                s.sendto(reply(xid, dump()), peer)
            elif s is pmap and proc == 3:
                (wanted,) = struct.unpack(">I", data[40:44])
                s.sendto(reply(xid, struct.pack(">I", 2051 if wanted == 100004 else 2050)), peer)
            elif s is nis and proc == 3:
                s.sendto(reply(xid, match(data[40:])), peer)
            elif s is mount and proc == 5:
                s.sendto(reply(xid, exports()), peer)


if __name__ == "__main__":
    main()
