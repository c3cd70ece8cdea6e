#!/usr/bin/env python3
"""A scripted POP3/POP2 server for what no real server does on demand.

pop_peer.py MESSAGE_DIR LOG_FILE [options]

Listens on a free loopback port, prints it on the first line of stdout, and
serves one session after another until it is killed. The messages are the
files of MESSAGE_DIR in name order (bytes sent as they are, CR LF expected).
Every command received is appended to LOG_FILE, one a line.

Options:
  --pop2            speak POP2 (HELO, READ, RETR, ACKS, ACKD, QUIT)
  --last N|refuse   the answer to LAST (default 0)
  --no-uidl         refuse UIDL
  --claim N         answer STAT with N messages whatever the directory holds
  --uidl-order O    the UIDL list in number order (plain, the default),
                    last number first (reverse), or each number twice, first
                    with another identifier (twice)
  --uidl-one A      answer "UIDL n" with the identifier (ok, the default),
                    -ERR (refuse) or the next number's line (wrong)
  --uidl-names      list each message's file name as its identifier (default
                    "uid-" and its number), so that a message keeps its
                    identifier when others leave the directory
  --split           send every message byte by byte (the terminator split at
                    every byte boundary)
  --drop K          close the connection in the middle of message K's body
  --bare-status     answer USER with a bare line feed
  --long-status N   answer USER with a status line of N bytes
  --port N          listen on port N (a test's own network namespace) instead
                    of a free one
"""
import os
import socket
import sys
import threading
import time


def parse(argv):
    opts = {"pop2": False, "last": "0", "uidl": True, "split": False, "drop": 0, "bare": False, "long": 0,
            "port": 0, "uidl_names": False, "names": [],
            "claim": None, "uidl_order": "plain", "uidl_one": "ok"}
    i = 3
    while i < len(argv):
        a = argv[i]
        if a == "--pop2":
            opts["pop2"] = True
        elif a == "--last":
            i += 1
            opts["last"] = argv[i]
        elif a == "--no-uidl":
            opts["uidl"] = False
        elif a == "--claim":
            i += 1
            opts["claim"] = int(argv[i])
        elif a == "--uidl-order":
            i += 1
            opts["uidl_order"] = argv[i]
        elif a == "--uidl-one":
            i += 1
            opts["uidl_one"] = argv[i]
        elif a == "--uidl-names":
            opts["uidl_names"] = True
        elif a == "--split":
            opts["split"] = True
        elif a == "--drop":
            i += 1
            opts["drop"] = int(argv[i])
        elif a == "--bare-status":
            opts["bare"] = True
        elif a == "--long-status":
            i += 1
            opts["long"] = int(argv[i])
        elif a == "--port":
            i += 1
            opts["port"] = int(argv[i])
        i += 1
    return opts


def stuffed(data):
    out = []
    for line in data.split(b"\r\n"):
        out.append(b"." + line if line.startswith(b".") else line)
    body = b"\r\n".join(out)
    if not body.endswith(b"\r\n"):
        body += b"\r\n"
    return body + b".\r\n"


class Session:
    def __init__(self, conn, messages, opts, log):
        self.conn = conn
        self.messages = messages
        self.opts = opts
        self.log = log
        self.buf = b""
        self.deleted = set()

    def send(self, data, split=False):
        if split:
            for i in range(len(data)):
                self.conn.sendall(data[i:i + 1])
                time.sleep(0.0005)
        else:
            self.conn.sendall(data)

    def line(self):
        while b"\n" not in self.buf:
            more = self.conn.recv(4096)
            if not more:
                return None
            self.buf += more
        text, self.buf = self.buf.split(b"\n", 1)
        text = text.rstrip(b"\r").decode("latin-1")
        with open(self.log, "a") as f:
            f.write(text + "\n")
        return text

    def pop3(self):
        self.send(b"+OK scripted POP3 server ready\r\n")
        while True:
            cmd = self.line()
            if cmd is None:
                return
            word, _, arg = cmd.partition(" ")
            word = word.upper()
            if word == "USER":
                if self.opts["bare"]:
                    self.send(b"\n")
                elif self.opts["long"]:
                    self.send(b"+OK " + b"x" * self.opts["long"] + b"\r\n")
                else:
                    self.send(b"+OK\r\n")
            elif word == "PASS":
                self.send(b"+OK logged in\r\n" if arg != "wrong" else b"-ERR [AUTH] Authentication failed.\r\n")
            elif word == "STAT":
                size = sum(len(m) for m in self.messages)
                count = len(self.messages) if self.opts["claim"] is None else self.opts["claim"]
                self.send(b"+OK %d %d\r\n" % (count, size))
            elif word == "LAST":
                if self.opts["last"] == "refuse":
                    self.send(b"-ERR Unknown command: LAST\r\n")
                else:
                    self.send(b"+OK %s\r\n" % self.opts["last"].encode())
            elif word == "UIDL" and self.opts["uidl"]:
                uid = lambda i: self.opts["names"][i] if self.opts["uidl_names"] else "uid-%d" % (i + 1)
                if arg:
                    n = int(arg)
                    if n < 1 or n > len(self.messages) or self.opts["uidl_one"] == "refuse":
                        self.send(b"-ERR no such message\r\n")
                    elif self.opts["uidl_one"] == "wrong":
                        self.send(b"+OK %d %s\r\n" % (n + 1, uid(n - 1).encode()))
                    else:
                        self.send(b"+OK %d %s\r\n" % (n, uid(n - 1).encode()))
                    continue
                numbers = list(range(len(self.messages)))
                if self.opts["uidl_order"] == "reverse":
                    numbers.reverse()
                listing = b"+OK\r\n"
                for i in numbers:
                    if self.opts["uidl_order"] == "twice":
                        listing += b"%d other-%d\r\n" % (i + 1, i + 1)
                    listing += b"%d %s\r\n" % (i + 1, uid(i).encode())
                self.send(listing + b".\r\n")
            elif word == "RETR":
                n = int(arg)
                if n < 1 or n > len(self.messages):
                    self.send(b"-ERR no such message\r\n")
                    continue
                body = stuffed(self.messages[n - 1])
                if self.opts["drop"] == n:
                    self.send(b"+OK\r\n" + body[: len(body) // 2])
                    self.conn.shutdown(socket.SHUT_RDWR)
                    return
                self.send(b"+OK message follows\r\n")
                self.send(body, self.opts["split"])
            elif word == "DELE":
                self.deleted.add(int(arg))
                self.send(b"+OK deleted\r\n")
            elif word == "QUIT":
                self.send(b"+OK bye\r\n")
                return
            else:
                self.send(b"-ERR Unknown command\r\n")

    def pop2(self):
        self.send(b"+ POP2 scripted server\r\n")
        current = 0
        while True:
            cmd = self.line()
            if cmd is None:
                return
            word = cmd.split(" ")[0].upper()
            if word == "HELO":
                self.send(b"#%d messages\r\n" % len(self.messages))
            elif word == "READ":
                current = 1
                self.send(b"=%d\r\n" % (len(self.messages[0]) if self.messages else 0))
            elif word == "RETR":
                self.send(self.messages[current - 1], self.opts["split"])
            elif word in ("ACKS", "ACKD"):
                current += 1
                size = len(self.messages[current - 1]) if current <= len(self.messages) else 0
                self.send(b"=%d\r\n" % size)
            elif word == "QUIT":
                self.send(b"+ bye\r\n")
                return
            else:
                self.send(b"- unknown\r\n")


def end_with_parent():
    """Ends this server when the test that started it is gone."""
    parent = os.getppid()
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


def main():
    directory, log = sys.argv[1], sys.argv[2]
    threading.Thread(target=end_with_parent, daemon=True).start()
    opts = parse(sys.argv)
    names = sorted(os.listdir(directory))
    opts["names"] = names
    messages = [open(os.path.join(directory, n), "rb").read() for n in names]
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", opts["port"]))
    server.listen(4)
    print(server.getsockname()[1], flush=True)
    while True:
        conn, _ = server.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        session = Session(conn, messages, opts, log)
        try:
            session.pop2() if opts["pop2"] else session.pop3()
        except (BrokenPipeError, ConnectionResetError):
            pass
        conn.close()


if __name__ == "__main__":
    main()
