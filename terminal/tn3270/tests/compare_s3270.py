#!/usr/bin/python3
"""Our 3270 engine against Debian's s3270, driven by the same scripted host.

For every script of scripts/*.3270 the host (tn3270_host.py) serves one
client at a time on loopback: first s3270, then tn3270_client (the engine
with vtconsole's telnet layer and record buffer). At every "check" the host
asks for Read Buffer, whose reply holds the whole buffer (characters, field
attributes, cursor), and the client's screen text and cursor are taken; every
record the client sends after its keys is kept. Both clients must give the
same snapshots and the same records. A script's .explained file, when there
is one, lists the differences that are expected, one a line, with the reason;
an explanation that matches no difference fails the script too.

    compare_s3270.py CLIENT SCRIPT_DIR [SCRIPT...]
"""
import os
import queue
import shutil
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tn3270_host import Tn3270Host, load_script  # noqa: E402

OUR_KEYS = {
    "Enter": "\r", "Tab": "\t", "BackTab": "\x1b\t", "Home": "\x08", "Newline": "\n",
    "Up": "\x1bOA", "Down": "\x1bOB", "Right": "\x1bOC", "Left": "\x1bOD", "Clear": "\x1bOM",
    "EraseEOF": "\x1b\x7f", "Delete": "\x7f", "FieldMark": "\x1e", "Dup": "\x1c", "Reset": "\x14",
    "Insert": "\x1bOn", "PA(1)": "\x1bOS", "PA(2)": "\x1bOm", "PA(3)": "\x1bOl",
}
PF_KEYS = "1234567890-=qwertyuiop[]"  # ESC and this character: PF1 .. PF24
S3270_ACTIONS = {"Insert": "ToggleInsert"}
AID_KEYS = ("Enter", "Clear")


def fail(text):
    print("FAIL: " + text, file=sys.stderr)
    sys.exit(1)


def our_key(action):
    if action.startswith('"'):
        return action[1:-1]
    if action.startswith("PF("):
        return "\x1b" + PF_KEYS[int(action[3:-1]) - 1]
    return OUR_KEYS[action]


class Client:
    """A client process taking one command a line; commands run in order on a
    worker thread, since a key of s3270 may wait for the host's answer."""

    def __init__(self, argv):
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
        self.jobs = queue.Queue()
        self.results = queue.Queue()
        self.worker = threading.Thread(target=self._work, daemon=True)
        self.worker.start()
        self.pending = 0

    def _work(self):
        while True:
            command = self.jobs.get()
            if command is None:
                return
            self.proc.stdin.write((command + "\n").encode("latin-1"))
            self.proc.stdin.flush()
            lines = []
            while True:
                line = self.proc.stdout.readline().decode("latin-1")
                if not line:
                    self.results.put((command, lines, "closed"))
                    return
                line = line.rstrip("\n")
                if line in ("ok", "error"):
                    self.results.put((command, lines, line))
                    break
                lines.append(line)

    def submit(self, command):
        self.jobs.put(command)
        self.pending += 1

    def wait(self, timeout=15):
        """Waits for every submitted command; the output of the last."""
        last = None
        while self.pending:
            try:
                last = self.results.get(timeout=timeout)
            except queue.Empty:
                fail("%s did not finish its commands" % self.name)
            self.pending -= 1
        return last

    def close(self):
        self.jobs.put(None)
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class S3270(Client):
    name = "s3270"

    def __init__(self, port, model):
        super().__init__(["s3270", "-model", "3278-%d" % model, "-tn", "IBM-3278-%d" % model,
                          "N:127.0.0.1:%d" % port])

    def key(self, action):
        if action.startswith('"'):
            self.submit('String(%s)' % action)
        else:
            name = S3270_ACTIONS.get(action, action)
            self.submit(name if "(" in name else name + "()")

    def screen(self):
        self.wait()
        self.submit("Ascii()")
        _, lines, _ = self.wait()
        text = [l[6:] if l.startswith("data: ") else l[5:] for l in lines if l.startswith("data:")]
        self.submit("Query(Cursor)")
        _, lines, _ = self.wait()
        row, col = lines[0][6:].split()
        return text + ["cursor %s %s" % (row, col)]


class Ours(Client):
    name = "tn3270_client"

    def __init__(self, binary, port, model):
        super().__init__([binary, str(port), str(model)])

    def key(self, action):
        self.submit("keys " + our_key(action).encode("latin-1").hex())

    def screen(self):
        self.wait()
        self.submit("screen")
        _, lines, _ = self.wait()
        return [l[4:] for l in lines if l.startswith("row ")] + [l for l in lines if l.startswith("cursor ")]


def unlocks(record):
    """A write with the keyboard-restore bit, or Erase All Unprotected."""
    writes = (0x01, 0xF1, 0x05, 0xF5, 0x0D, 0x7E)
    return record[:1] in (b"\x0f", b"\x6f") or (len(record) > 1 and record[0] in writes and record[1] & 2)


def run_script(make_client, model, steps):
    """Snapshots ("check") and the client's records, in order."""
    host = Tn3270Host()
    client = None
    out = []
    try:
        client = make_client(host.port, model)
        host.accept()
        host.negotiate()
        out.append("terminal type " + host.terminal_types[-1])
        aid_sent = False  # s3270 holds a key that sent an AID until the host unlocks
        for verb, arg in steps:
            if verb == "record":
                if not aid_sent:
                    client.wait()  # the keys before it are in
                host.send_record(arg)
                if unlocks(arg):
                    aid_sent = False
            elif verb == "keys":
                for action in arg:
                    client.key(action)
                aid_sent = any(a in AID_KEYS or a.startswith(("PF(", "PA(")) for a in arg)
            elif verb == "read":
                out.append("record " + host.read_record().hex())
            elif verb == "check":
                client.wait()
                host.send_record(b"\x02")
                out.append("read buffer " + host.read_record().hex())
                out.extend("screen " + line.rstrip() for line in client.screen())
        client.wait()
    finally:
        if client:
            client.close()
        host.close()
    return out


def main():
    if len(sys.argv) < 3:
        fail("usage: compare_s3270.py CLIENT SCRIPT_DIR [SCRIPT...]")
    binary, script_dir = sys.argv[1], sys.argv[2]
    if not shutil.which("s3270"):
        fail("s3270 is missing; install the packages of .ci/packages.d/terminal.txt (bash scripts/setup.sh)")
    names = sys.argv[3:] or sorted(n[:-5] for n in os.listdir(script_dir) if n.endswith(".3270"))
    failed = []
    for name in names:
        model, steps = load_script(os.path.join(script_dir, name + ".3270"))
        theirs = run_script(lambda port, m: S3270(port, m), model, steps)
        ours = run_script(lambda port, m: Ours(binary, port, m), model, steps)
        explained_path = os.path.join(script_dir, name + ".explained")
        explained = set()
        if os.path.exists(explained_path):
            explained = {l.split("#")[0].strip() for l in open(explained_path) if l.split("#")[0].strip()}
        differences = []
        for i in range(max(len(theirs), len(ours))):
            a = theirs[i] if i < len(theirs) else "(nothing)"
            b = ours[i] if i < len(ours) else "(nothing)"
            if a != b:
                differences.append("line %d: s3270 %r, ours %r" % (i, a, b))
        unexplained = [d for d in differences if not any(e in d for e in explained)]
        # An explanation that no longer matches a difference is stale.
        unexplained += ["explained but no longer different: " + e for e in sorted(explained)
                        if not any(e in d for d in differences)]
        if unexplained and os.environ.get("QX_SHOW_ALL"):
            for a, b in zip(theirs, ours):
                print(("  " if a == b else "! ") + a + ("" if a == b else "\n  ours: " + b))
        if unexplained:
            failed.append(name)
            print("%s: %d difference(s)" % (name, len(unexplained)))
            for d in unexplained[:12]:
                print("  " + d)
        else:
            print("%s: same as s3270 (%d lines, %d explained)" % (name, len(ours), len(differences)))
    if failed:
        fail("differences from s3270 in " + ", ".join(failed))
    print("PASS: %d scripts" % len(names))


if __name__ == "__main__":
    main()
