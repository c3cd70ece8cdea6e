#!/usr/bin/env python3
"""Scripted clients for daemons_peer_test.sh: what Debian's clients never do.

finger: a lower-case "/w", a client that sends nothing, one that never reads.
tftp READ_ROOT WRITE_ROOT: bad opcodes, truncated requests, DATA from nobody,
    duplicate and out-of-order DATA, a lost ACK, reads of several peers at
    once with a newcomer and a peer that goes away among them.
gopher: selectors that try to leave the root, a 5,000-byte selector, one
    split across two segments.
Prints one line per failed check and exits 1 when any failed."""
import os
import socket
import struct
import sys
import time

failed = []


def expect(what, condition):
    if not condition:
        failed.append(what)
        print("  failed: " + what)


def tcp(port, send=b"", shut=True, timeout=10.0):
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    if send:
        s.sendall(send)
    if shut:
        s.shutdown(socket.SHUT_WR)
    data = b""
    while True:
        try:
            chunk = s.recv(65536)
        except ConnectionResetError:
            failed.append("connection reset after %d bytes" % len(data))
            print("  failed: connection reset after %d bytes" % len(data))
            break
        if not chunk:
            break
        data += chunk
    s.close()
    return data


def daemons(name):
    found = []
    for pid in os.listdir("/proc"):
        try:
            with open("/proc/%s/comm" % pid) as f:
                if f.read().strip() == name:
                    found.append(pid)
        except OSError:
            pass
    return found


def wait_until(condition, seconds):
    """Whether condition() came true within the given seconds (checked every 50 ms)."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def finger():
    out = tcp(79, b"/w alice\r\n")
    expect("a report for /w", b"Windows UpTime is" in out)
    expect("no plan for a lower-case /w", b"Project:" not in out)
    out = tcp(79)
    expect("a report for a client that sends nothing", b"Console User: daemon\r\n" in out)
    # Connected, sending nothing and not closing: the report, then the end
    # after the query's wait.
    started = time.time()
    out = tcp(79, shut=False, timeout=30)
    expect("a silent client gets the report and the end", b"Windows UpTime" in out and time.time() - started < 20)
    # A client that asks for the plan and never reads it (a plan of 8 MiB).
    plan = os.path.join(os.getcwd(), "PLAN.QX")
    saved = open(plan, "rb").read()
    with open(plan, "wb") as f:
        f.write(b"x" * (8 << 20))
    expect("the daemons of the earlier queries have ended", wait_until(lambda: not daemons("whoanswer"), 10))
    s = socket.create_connection(("127.0.0.1", 79))
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.sendall(b"/W alice\r\n")
    # Its daemon runs for at least the idle time (1.5 s here) before it gives
    # up on the stalled reader and ends: seen running, then seen gone.
    expect("a daemon answers the stalled reader", wait_until(lambda: daemons("whoanswer"), 10))
    expect("the daemon of a stalled reader has ended", wait_until(lambda: not daemons("whoanswer"), 30))
    out = tcp(79)
    expect("finger still answers while a reader stalls", b"Windows UpTime" in out)
    s.close()
    with open(plan, "wb") as f:
        f.write(saved)


def udp(timeout=3.0):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(timeout)
    return s


def exchange(s, packet):
    s.sendto(packet, ("127.0.0.1", 69))
    try:
        data, peer = s.recvfrom(2048)
        return data
    except socket.timeout:
        return None


def error_code(reply):
    if reply and len(reply) >= 4 and reply[1] == 5:
        return struct.unpack("!H", reply[2:4])[0]
    return None


def tftp(read_root, write_root):
    cases = [
        (b"\x00\x00f0\x00octet\x00", 4, "opcode 0"),
        (b"\x00\x09f0\x00octet\x00", 4, "opcode 9"),
        (b"\x00\x01", 4, "a request of two bytes"),
        (b"\x00\x01f0", 4, "a name without its NUL"),
        (b"\x00\x01f0\x00octet", 4, "a mode without its NUL"),
        (b"\x00\x03\x00\x01data", 5, "DATA from no transfer"),
        (b"\x00\x01/../secret\x00octet\x00", 2, "an absolute name with .."),
        (b"\x00\x01c:\\x\x00octet\x00", 2, "a drive letter"),
        (b"\x00\x02../x\x00octet\x00", 2, "a write with .."),
    ]
    for packet, code, what in cases:
        s = udp()
        expect("%s answered with error %d" % (what, code), error_code(exchange(s, packet)) == code)
        s.close()

    # A write: duplicate DATA re-acknowledged and not written twice, a gap not written.
    s = udp()
    ack = lambda n: struct.pack("!HH", 4, n)
    data = lambda n, b: struct.pack("!HH", 3, n) + b
    expect("WRQ acknowledged with block 0", exchange(s, b"\x00\x02dup.bin\x00octet\x00") == ack(0))
    expect("DATA 1 acknowledged", exchange(s, data(1, b"a" * 512)) == ack(1))
    expect("duplicate DATA 1 acknowledged again", exchange(s, data(1, b"a" * 512)) == ack(1))
    expect("DATA 3 past a gap: the current block acknowledged", exchange(s, data(3, b"c" * 10)) == ack(1))
    expect("DATA 2 acknowledged", exchange(s, data(2, b"b" * 100)) == ack(2))
    expect("a late DATA 2 acknowledged again", exchange(s, data(2, b"b" * 100)) == ack(2))
    s.close()
    with open(os.path.join(write_root, "dup.bin"), "rb") as f:
        expect("the written file holds each block once and no gap", f.read() == b"a" * 512 + b"b" * 100)

    # A read whose ACK is lost: the block comes again after the resend time.
    s = udp(timeout=12)
    first = exchange(s, b"\x00\x01f1024\x00octet\x00")
    expect("DATA 1 of a read", first is not None and first[:4] == struct.pack("!HH", 3, 1))
    started = time.time()
    try:
        again, _ = s.recvfrom(2048)
    except socket.timeout:
        again = None
    expect("DATA 1 sent again when its ACK is lost", again == first and time.time() - started >= 4)
    expect("the read goes on", exchange(s, ack(1))[:4] == struct.pack("!HH", 3, 2))
    expect("an ACK of the last block ends it", exchange(s, ack(2))[:4] == struct.pack("!HH", 3, 3))
    s.sendto(ack(3), ("127.0.0.1", 69))
    s.close()
    tftp_side_by_side(read_root)


def reply_from(s):
    """The next datagram and where it came from; (None, None) on a time-out."""
    try:
        return s.recvfrom(2048)
    except socket.timeout:
        return None, None


def tftp_side_by_side(read_root):
    """Reads of several peers at once, their ACKs interleaved, each answered
    from port 69; requests of new peers and a peer that goes away midway
    change nothing for the others."""
    server = ("127.0.0.1", 69)
    ack = lambda n: struct.pack("!HH", 4, n)
    with open(os.path.join(read_root, "f1024"), "rb") as f:
        content = f.read()
    peers = [udp(timeout=5) for _ in range(3)]
    got = [b"" for _ in peers]
    block = [1 for _ in peers]
    for k, s in enumerate(peers):
        s.sendto(b"\x00\x01f1024\x00octet\x00", server)
    done = [False for _ in peers]
    for round_ in range(6):
        # A newcomer's bad request and a vanished peer in the middle of the reads.
        if round_ == 1:
            stray = udp()
            reply, source = reply_from_after(stray, b"\x00\x09x\x00octet\x00", server)
            expect("a bad request during other reads: error 4 from port 69",
                   error_code(reply) == 4 and source == server)
            stray.close()
            gone = udp()
            reply, source = reply_from_after(gone, b"\x00\x01f1024\x00octet\x00", server)
            expect("a read that starts during others: DATA 1 from port 69",
                   reply is not None and reply[:4] == struct.pack("!HH", 3, 1) and source == server)
            port = gone.getsockname()[1]
            gone.sendto(ack(1), server)  # then it goes: DATA 2 finds its port closed
            gone.close()
            time.sleep(0.2)
            back = udp()
            back.bind(("127.0.0.1", port))
            reply, source = reply_from_after(back, b"\x00\x01f1024\x00octet\x00", server)
            expect("a peer back on its port after the network said it was gone: DATA 2 again",
                   reply is not None and reply[:4] == struct.pack("!HH", 3, 2) and source == server)
            back.sendto(ack(2), server)
            reply, source = reply_from(back)
            expect("and its read goes on to the end", reply == struct.pack("!HH", 3, 3) and source == server)
            back.sendto(ack(3), server)
            back.close()
        for k, s in enumerate(peers):
            if done[k]:
                continue
            reply, source = reply_from(s)
            expect("peer %d: DATA %d from port 69" % (k, block[k]),
                   reply is not None and source == server and reply[:4] == struct.pack("!HH", 3, block[k]))
            if reply is None:
                done[k] = True
                continue
            got[k] += reply[4:]
            s.sendto(ack(block[k]), server)
            if len(reply) < 516:
                done[k] = True
            block[k] += 1
    for k, s in enumerate(peers):
        expect("peer %d: the whole file, once" % k, got[k] == content)
        s.close()
    late = udp()
    reply, source = reply_from_after(late, b"\x00\x01f0\x00octet\x00", server)
    expect("a read after the others: an empty DATA 1 from port 69",
           reply == struct.pack("!HH", 3, 1) and source == server)
    late.sendto(ack(1), server)
    late.close()


def reply_from_after(s, packet, server):
    s.sendto(packet, server)
    return reply_from(s)


def gopher():
    for selector in [b"0../secret", b"0/etc/passwd", b"0c:\\x", b"0..\\x", b"0docs/../../secret", b"0docs/link"]:
        out = tcp(70, selector + b"\r\n")
        expect("%r answered Bad Key" % selector, out.startswith(b"3Bad Key sent - \"" + selector))
        expect("%r reads nothing outside the root" % selector, b"outside" not in out)
    out = tcp(70, b"0" + b"x" * 4999 + b"\r\n")
    expect("a 5,000-byte selector answered Bad Key, quoted in part", out.startswith(b"3Bad Key") and len(out) < 400)
    s = socket.create_connection(("127.0.0.1", 70), timeout=10)
    s.sendall(b"0docs/rea")
    time.sleep(0.3)
    s.sendall(b"dme.txt\t+\r\n")
    data = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
    s.close()
    expect("a selector split across two segments, cut at its TAB", data == b"line one\r\nline two\r\n.\r\n")
    out = tcp(70, b"", shut=True)
    expect("a client that sends nothing gets the read error", out.startswith(b"3Gopher Server error reading"))


def main():
    what = sys.argv[1]
    if what == "finger":
        finger()
    elif what == "tftp":
        tftp(sys.argv[2], sys.argv[3])
    elif what == "gopher":
        gopher()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
