"""A scripted TN3270 host for tests: it listens on loopback, negotiates
TN3270 with the client that connects (terminal type, END-OF-RECORD and BINARY
both ways), sends 3270 records built from the data stream's documented
commands and orders, and records the records the client sends back.

Scripts (*.3270) are lines of words; '#' starts a comment:
    model N                     the 3278 model the client is started as (2..5)
    record TOKENS...            a record to the client; a token is hex bytes
                                ("F5C3", "11 4040"), "text" in EBCDIC, or @N,
                                buffer address N as two bytes
    keys ACTIONS...             keys the client types: "text", Enter, Tab,
                                BackTab, Home, Newline, Up, Down, Left, Right,
                                PF(n), PA(n), Clear, Insert, EraseEOF, Delete,
                                FieldMark, Dup, Reset
    read                        the host waits for the client's next record
    check                       the host sends Read Buffer and keeps the reply;
                                the screens of both clients are compared here
s3270 takes its first command only once the cursor stands in an input field,
so the first record of a script puts it there (Insert Cursor).
"""
import re
import select
import socket
import time

IAC, SB, SE, WILL, WONT, DO, DONT, EOR = 255, 250, 240, 251, 252, 253, 254, 239
TTYPE, OPT_EOR, BINARY = 24, 25, 0

# ASCII to EBCDIC, code page 1047, for printable characters.
_CP1047 = bytes.fromhex(
    "405A7F7B5B6C507D4D5D5C4E6B604B61"
    "F0F1F2F3F4F5F6F7F8F97A5E4C7E6E6F"
    "7CC1C2C3C4C5C6C7C8C9D1D2D3D4D5D6"
    "D7D8D9E2E3E4E5E6E7E8E9ADE0BD5F6D"
    "79818283848586878889919293949596"
    "979899A2A3A4A5A6A7A8A9C04FD0A1")


def ebcdic(text):
    return bytes(_CP1047[ord(c) - 0x20] for c in text)


# The codes of a 6-bit value in a buffer address.
ADDRESS_CODE = bytes.fromhex(
    "40C1C2C3C4C5C6C7C8C94A4B4C4D4E4F50D1D2D3D4D5D6D7D8D95A5B5C5D5E5F"
    "6061E2E3E4E5E6E7E8E96A6B6C6D6E6FF0F1F2F3F4F5F6F7F8F97A7B7C7D7E7F")


def address(n):
    return bytes([ADDRESS_CODE[(n >> 6) & 63], ADDRESS_CODE[n & 63]])


def parse_tokens(words):
    out = b""
    for w in words:
        if w.startswith('"'):
            out += ebcdic(w[1:-1])
        elif w.startswith("@"):
            out += address(int(w[1:]))
        else:
            out += bytes.fromhex(w)
    return out


def split_words(line):
    words = []
    for w in re.findall(r'"[^"]*"|\S+', line):
        if w.startswith("#"):
            break
        words.append(w)
    return words


def load_script(path):
    steps = []
    model = 2
    for raw in open(path):
        words = split_words(raw.rstrip("\n"))
        if not words:
            continue
        verb, rest = words[0], words[1:]
        if verb == "model":
            model = int(rest[0])
        elif verb == "record":
            steps.append(("record", parse_tokens(rest)))
        elif verb == "keys":
            steps.append(("keys", rest))
        elif verb in ("read", "check"):
            steps.append((verb, None))
        else:
            raise ValueError("%s: unknown step %r" % (path, verb))
    return model, steps


class Tn3270Host:
    def __init__(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.conn = None
        self.pending = b""  # received bytes not yet taken apart
        self.terminal_types = []

    def accept(self, timeout=15):
        self.listener.settimeout(timeout)
        self.conn, _ = self.listener.accept()
        self.conn.settimeout(timeout)

    def close(self):
        for s in (self.conn, self.listener):
            if s:
                s.close()

    def _fill(self, deadline):
        left = deadline - time.time()
        if left <= 0:
            raise TimeoutError("the client sent nothing more; got %r" % self.pending)
        ready, _, _ = select.select([self.conn], [], [], left)
        if not ready:
            raise TimeoutError("the client sent nothing more; got %r" % self.pending)
        data = self.conn.recv(65536)
        if not data:
            raise EOFError("the client closed the connection")
        self.pending += data

    def _expect(self, want, timeout=10):
        """Waits until the bytes want were received (negotiation answers)."""
        deadline = time.time() + timeout
        while want not in self.pending:
            self._fill(deadline)
        i = self.pending.index(want)
        self.pending = self.pending[:i] + self.pending[i + len(want):]

    def _subnegotiation(self, option, timeout=10):
        deadline = time.time() + timeout
        start = bytes([IAC, SB, option])
        while True:
            i = self.pending.find(start)
            j = self.pending.find(bytes([IAC, SE]), i + 3) if i >= 0 else -1
            if i >= 0 and j >= 0:
                body = self.pending[i + 3:j]
                self.pending = self.pending[:i] + self.pending[j + 2:]
                return body
            self._fill(deadline)

    def negotiate(self):
        """Terminal type (asked until an IBM-327x name comes), then EOR and BINARY."""
        c = self.conn
        c.sendall(bytes([IAC, DO, TTYPE]))
        self._expect(bytes([IAC, WILL, TTYPE]))
        for _ in range(3):
            c.sendall(bytes([IAC, SB, TTYPE, 1, IAC, SE]))
            name = self._subnegotiation(TTYPE)[1:].decode("latin-1")
            self.terminal_types.append(name)
            if name.upper().startswith("IBM-327"):
                break
        c.sendall(bytes([IAC, DO, OPT_EOR, IAC, WILL, OPT_EOR, IAC, DO, BINARY, IAC, WILL, BINARY]))
        for want in ([IAC, WILL, OPT_EOR], [IAC, DO, OPT_EOR], [IAC, WILL, BINARY], [IAC, DO, BINARY]):
            self._expect(bytes(want))

    def send_record(self, record):
        self.conn.sendall(record.replace(b"\xff", b"\xff\xff") + bytes([IAC, EOR]))

    def read_record(self, timeout=10):
        """The client's next record, IAC IAC undoubled; other commands skipped."""
        deadline = time.time() + timeout
        while True:
            record, i, data = b"", 0, self.pending
            while i < len(data):
                b = data[i]
                if b != IAC:
                    record += bytes([b])
                    i += 1
                    continue
                if i + 1 >= len(data):
                    break
                cmd = data[i + 1]
                if cmd == IAC:
                    record += b"\xff"
                elif cmd == EOR:
                    self.pending = data[i + 2:]
                    return record
                elif cmd in (WILL, WONT, DO, DONT):
                    i += 1  # the option byte
                i += 2
            self._fill(deadline)

    def assert_quiet(self, seconds=0.3):
        """Nothing more arrives (keys that should have sent nothing)."""
        ready, _, _ = select.select([self.conn], [], [], seconds)
        if ready:
            self.pending += self.conn.recv(65536)
        return self.pending
