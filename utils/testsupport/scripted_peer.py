#!/usr/bin/env python3
"""A query server (finger, LPD) on 127.0.0.1:PORT that answers each connection
with the next scripted reply, hostile ones among them, and records each query.

Usage: scripted_peer.py PORT RECORD_FILE MODE...
Each connection takes the next MODE; the query line is appended to RECORD_FILE
as Python's repr of the bytes, then the client's port. Prints "ready" once it
listens.
"""
import socket
import struct
import sys
import time

REPLIES = {
    "plain": b"Login: fred\r\nName: Fred Example\r\n",
    "staircase": b"alpha\nbeta\n",
    "specials": b"a\x89b\x8dc\x8ad\x88e",
    "nuls": b"be\x00fore\x00\x00 after\r\n",
    "endless": b"x" * 200000,
    "reset": b"partial\r\n",
    "silent": b"",
    "queue": b"lp is ready and printing\nRank   Owner  Job  Files\nactive fred   7    report.txt\n",
    "lpdbytes": b"one\x8atwo\x8dthree\r\n",
}


def read_query(conn):
    data = b""
    conn.settimeout(5)
    try:
        while not data.endswith(b"\n") and len(data) < 1024:
            chunk = conn.recv(1024)
            if not chunk:
                break
            data += chunk
    except socket.timeout:
        pass
    return data


def main():
    port, record, modes = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", port))
    server.listen(4)
    print("ready", flush=True)
    for mode in modes:
        conn, peer = server.accept()
        query = read_query(conn)
        with open(record, "a") as f:
            f.write("%r %d\n" % (query, peer[1]))
        conn.sendall(REPLIES[mode])
        if mode == "reset":
            time.sleep(0.2)
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        elif mode == "silent":
            time.sleep(6)  # longer than the client's idle limit in the test
        conn.close()


if __name__ == "__main__":
    main()
