#!/usr/bin/env python3
"""The LPD daemon through portwarden on its real port (515), inside a network
and mount namespace of the test's own (lpd_peer_test.sh makes it).

LPRng's lpr and lpq (unpacked beside the system, its configuration bound over
/etc/lprng here) send jobs and ask for the queue; the jobs land in a file
printer of the layer's spooler, whose output is compared byte for byte.
Scripted clients send what lpr never does: broken transfers, bad counts,
overlong lines, paths as printer names, silence.

Usage: lpd_peer_test.py BUILD_DIR LPRNG_ROOT. Prints "ok: ..." or
"FAILED: ..." per check and exits 1 when any failed."""
import glob
import os
import socket
import subprocess
import sys
import tempfile
import time

from peertest import check, finish, processes_named, start_portwarden, wait_until

BIN = os.path.join(os.path.abspath(sys.argv[1]), "bin")
LPRNG = sys.argv[2]




def lprng(program, *args):
    path = os.path.join(LPRNG, "usr/bin", program)
    return subprocess.run([path] + list(args), capture_output=True, timeout=30)



class Printer:
    """The file printer "testq": each scheduled job is one file in its folder."""

    def __init__(self, folder, spool):
        self.folder = folder
        self.spool = spool

    def clear(self):
        for name in os.listdir(self.folder):
            os.remove(os.path.join(self.folder, name))

    def jobs(self):
        out = []
        for path in sorted(glob.glob(os.path.join(self.folder, "*"))):
            with open(path, "rb") as f:
                out.append(f.read())
        return out

    def leftovers(self):
        """Spool files of jobs that were never scheduled or dropped."""
        return [n for n in os.listdir(self.spool) if n.upper().endswith((".SPL", ".SHD"))] \
            if os.path.isdir(self.spool) else []


def session(lines, data=b"", read_acks=True, wait=10.0):
    """A scripted client: sends each line (bytes) and reads one reply byte after
    each; returns the bytes the daemon sent."""
    s = socket.create_connection(("127.0.0.1", 515), timeout=wait)
    replies = b""
    try:
        for line in lines:
            s.sendall(line)
            if read_acks:
                replies += s.recv(1)
                if replies[-1:] != b"\0":
                    break
        if data:
            s.sendall(data)
    except OSError:
        pass
    s.close()
    return replies


def receive_all(s):
    out = b""
    while True:
        try:
            chunk = s.recv(65536)
        except (socket.timeout, ConnectionResetError):
            break
        if not chunk:
            break
        out += chunk
    return out


def lpr_jobs(printer, scratch):
    # (queue name, data sent, what the printer gets)
    cases = [
        ("UNIXFF-testq", b"one\ntwo\n", b"one\r\ntwo\r\n\f"),
        ("UNIXFF-testq", b"page\n\f", b"page\r\n\f"),
        ("testq", b"one\ntwo\n", b"one\ntwo\n\f"),
        ("DOS-testq", b"one\r\ntwo\r\n", b"one\r\ntwo\r\n"),
        ("u_testq", b"x\ny\n", b"x\r\ny\r\n"),
        ("df-testq", b"x\n", b"x\n\f"),
        ("UF-testq", b"\n" * 5000, b"\r\n" * 5000 + b"\f"),
    ]
    source = os.path.join(scratch, "job.txt")
    for queue, data, want in cases:
        printer.clear()
        with open(source, "wb") as f:
            f.write(data)
        done = lprng("lpr", "-P", queue + "@127.0.0.1%515", source)
        jobs = wait_until(printer.jobs, 10)
        check("lpr to %s: %d bytes arrive as the prefix says" % (queue, len(data)),
              done.returncode == 0 and jobs == [want],
              "lpr %d %r; jobs %r" % (done.returncode, done.stderr[-200:], [j[:40] for j in jobs]))
    check("no spool file left behind by the jobs", not printer.leftovers(), str(printer.leftovers()))


def refusals(printer):
    printer.clear()
    done = lprng("lpr", "-P", "nosuch@127.0.0.1%515", "/etc/hostname")
    check("lpr to an unknown printer fails", done.returncode != 0, done.stderr.decode(errors="replace")[-200:])
    # Printer names that are paths, or nothing at all: refused before anything else.
    for queue in (b"../testq", b"/etc/passwd", b"UNIX-..", b"", b"testq/x"):
        replies = session([b"\x02" + queue + b"\n"])
        check("queue %r refused" % queue, replies == b"\x01", repr(replies))
    # Counts that are not plain decimal numbers of a sane size.
    for line in (b"-5 dfA001host", b"abc dfA001host", b"99999999999 dfA001host", b"12", b" 12 dfA001host"):
        replies = session([b"\x02testq\n", b"\x03" + line + b"\n"])
        check("data file line %r refused" % line, replies == b"\x00\x01", repr(replies))
    replies = session([b"\x02" + b"q" * 5000 + b"\n"])
    check("a 5,000-byte queue line refused", replies == b"\x01", repr(replies))
    check("nothing printed by the refusals", not printer.jobs() and not printer.leftovers(),
          "%r %r" % (printer.jobs(), printer.leftovers()))


def broken_transfer(printer):
    printer.clear()
    replies = session([b"\x02testq\n", b"\x03" + b"1000 dfA001host\n"], data=b"0123456789")
    check("a data file of 1,000 bytes announced is acknowledged", replies == b"\x00\x00", repr(replies))
    wait_until(lambda: not processes_named("printspool"), 10)
    check("closed after 10 bytes: no job and no spool file",
          not printer.jobs() and not printer.leftovers(), "%r %r" % (printer.jobs(), printer.leftovers()))
    # A control file then a data file, each in the order and form RFC 1179 gives.
    s = socket.create_connection(("127.0.0.1", 515), timeout=10)
    control = b"Hhost\nProot\nldfA001host\n"
    replies = b""
    for piece in (b"\x02testq\n", b"\x02%d cfA001host\n" % len(control), control + b"\0",
                  b"\x03" + b"3 dfA001host\n", b"abc\0"):
        s.sendall(piece)
        replies += s.recv(1)
    s.close()
    check("a control file and a data file acknowledged each", replies == b"\0" * 5, repr(replies))
    check("only the data file reaches the printer", wait_until(printer.jobs, 10) == [b"abc\f"], repr(printer.jobs()))


def pdf_printer(folder):
    """The layer's own "Print to PDF" printer: no print server anywhere."""
    s = socket.create_connection(("127.0.0.1", 515), timeout=10)
    text = b"Hello from LPD\nsecond line\n"
    replies = b""
    for piece in (b"\x02UNIX-Print to PDF\n", b"\x03%d dfA002host\n" % len(text), text + b"\0"):
        s.sendall(piece)
        replies += s.recv(1)
    s.close()
    pdfs = wait_until(lambda: glob.glob(os.path.join(folder, "*.pdf")), 15)
    shown = subprocess.run(["pdftotext", pdfs[0], "-"], capture_output=True, text=True).stdout if pdfs else ""
    check("a job for \"Print to PDF\" becomes a PDF with its text",
          replies == b"\0\0\0" and len(pdfs) == 1 and "Hello from LPD" in shown and "second line" in shown,
          "%r %r %r" % (replies, pdfs, shown))


def queue_state():
    for args, what in ((["-P", "testq@127.0.0.1%515"], "lpq"), (["-l", "-P", "testq@127.0.0.1%515"], "lpq -l")):
        done = lprng("lpq", *args)
        out = done.stdout.decode(errors="replace")
        check("%s shows the heading and the queue line" % what,
              "   Job Id      Username      File Size" in out and
              "There are currently 0 jobs enqueued to the print manager" in out, repr(out))
    s = socket.create_connection(("127.0.0.1", 515), timeout=10)
    s.sendall(b"\x03testq\n")
    reply = receive_all(s)
    s.close()
    check("the short queue state byte for byte",
          reply == b"   Job Id      Username      File Size\n========================================\n"
                   b"There are currently 0 jobs enqueued to the print manager\n", repr(reply))


def lpd_window_up():
    records = os.path.join(os.environ["QX_RUNTIME_DIR"], "hwnd")
    for name in os.listdir(records) if os.path.isdir(records) else []:
        try:
            with open(os.path.join(records, name), "rb") as f:
                if b"lpd" in f.read():
                    return True
        except OSError:
            pass
    return False


def queue_state_counts_a_job_in_progress(printer):
    """The spooler tells every window how many jobs it holds: a daemon waiting
    for its query hears of the job another connection has begun."""
    printer.clear()
    wait_until(lambda: not processes_named("printspool"), 10)
    asker = socket.create_connection(("127.0.0.1", 515), timeout=10)
    # Its window is up (the layer's record of it names its class) and waits for the query.
    check("the asking daemon's window is up", wait_until(lpd_window_up, 15))
    sender = socket.create_connection(("127.0.0.1", 515), timeout=10)
    replies = b""
    for piece in (b"\x02testq\n", b"\x03" + b"4 dfA003host\n"):
        sender.sendall(piece)
        replies += sender.recv(1)
    time.sleep(0.5)
    asker.sendall(b"\x04testq\n")
    reply = receive_all(asker)
    asker.close()
    check("while a job arrives, the queue state counts it",
          replies == b"\0\0" and reply.endswith(b"There is currently 1 job enqueued to the print manager\n"),
          "%r %r" % (replies, reply))
    sender.sendall(b"done\0")
    sender.recv(1)
    sender.close()
    check("and the job prints once it is whole", wait_until(printer.jobs, 10) == [b"done\f"], repr(printer.jobs()))


def idle():
    started = time.time()
    s = socket.create_connection(("127.0.0.1", 515), timeout=20)
    s.sendall(b"\x02testq\n")
    first = s.recv(1)
    rest = receive_all(s)  # sends nothing more: the daemon gives up
    took = time.time() - started
    s.close()
    check("a client that goes silent is closed after the idle time", first == b"\0" and rest == b"" and took < 10,
          "%r %r after %.1f s" % (first, rest, took))
    check("and its daemon has ended", wait_until(lambda: not processes_named("printspool"), 5))


def main():
    scratch = tempfile.mkdtemp(prefix="qx-lpd-")
    portwarden = None
    try:
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        # LPRng's clients read only /etc/lprng: send straight to the host named, no local lpd.
        conf = os.path.join(scratch, "lprng")
        os.makedirs(conf)
        with open(os.path.join(conf, "lpd.conf"), "w") as f:
            f.write("force_localhost@\nprintcap_path=%s/printcap\n" % conf)
        open(os.path.join(conf, "printcap"), "w").close()
        subprocess.run(["mount", "--bind", conf, "/etc/lprng"], check=True)
        home = os.path.join(scratch, "home")
        windows = os.path.join(home, "drive_c", "WINDOWS")
        os.makedirs(windows)
        out = os.path.join(scratch, "out")
        os.makedirs(out)
        with open(os.path.join(home, "printers.ini"), "w") as f:
            f.write("[folders]\nPDF=%s/pdf\n[printers]\ntestq=FILE,%s\n" % (scratch, out))
        srv = os.path.join(scratch, "srv")
        os.makedirs(srv)
        os.environ.update(QX_HOME=home, QX_MACHINE_DIR=os.path.join(scratch, "machine"),
                          QX_RUNTIME_DIR=os.path.join(scratch, "run"),
                          QX_EVENTLOG_FILE=os.path.join(scratch, "events.txt"), QX_TEST_PUMP_IDLE_MS="2000",
                          CUPS_SERVER="127.0.0.1:9")  # no CUPS server in here: asked, refused at once
        subprocess.run([os.path.join(BIN, "pwtable"), "enable", "Lpd"], cwd=srv, check=True,
                       stdout=subprocess.DEVNULL)
        portwarden = start_portwarden(os.path.join(BIN, "portwarden"), srv, os.path.join(scratch, "portwarden.out"))

        def listening():
            return ":515 " in subprocess.run(["ss", "-Hlnt"], capture_output=True, text=True).stdout

        check("portwarden listens on 515", wait_until(listening, 10))
        printer = Printer(out, os.path.join(windows, "SYSTEM32", "SPOOL", "PRINTERS"))
        lpr_jobs(printer, scratch)
        refusals(printer)
        broken_transfer(printer)
        pdf_printer(os.path.join(scratch, "pdf"))
        queue_state()
        queue_state_counts_a_job_in_progress(printer)
        idle()
    finally:
        status = finish(portwarden, os.path.join(scratch, "portwarden.out"), scratch, ("printspool",))
    return status


if __name__ == "__main__":
    sys.exit(main())
