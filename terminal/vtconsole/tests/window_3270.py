#!/usr/bin/python3
"""vtconsole as a TN3270 terminal, through automation as a person would use it.

The scripted TN3270 host of the 3270 engine's tests listens on loopback in a
network namespace of the test's own. vtconsole starts with "/I /t=IBM-3278-2"
and model 4 in its INI file: the host sees the terminal type with the model's
digit, the host's form appears in the window (read with Edit > Select All and
Edit > Copy), the Right arrow, text typed into the window and Return reach
the host as the Enter record with the cursor and the modified field, and
Erase/Write Alternate takes the window to the model's 43 rows. Then Setup >
TN3270 Mode > 3278-5 is kept in the INI file, and a second connection in the
same window (File > Connect) negotiates 3270 as IBM-3278-5 and takes 27 x 132.
Each session begins with records no host should send (addresses past the
buffer, an order cut off, a 3.6 kB record, a structured field, an empty
record); the window takes the form after them as usual. In the first session
the 3270 keys of the shipped key map IBM.KEY, pressed as PC keys (PF13, PF5,
PF24, PA1, PA2 with Alt, Clear, Erase EOF, Field Mark, Dup), reach the host as
their records, and two pasted lines arrive as two Enter records, the second
once the host has unlocked the keyboard.

    window_3270.py BIN_DIR      (as root)
"""
import os
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tn3270", "tests"))
from tn3270_host import Tn3270Host, address, ebcdic  # noqa: E402
from window_setup import Window, fail, require, run_in_namespace, wait_for  # noqa: E402

FORM = (b"\xf5\xc3" + b"\x11" + address(0) + b"\x1d\x60" + ebcdic("Log on to the scripted host") +
        b"\x11" + address(80) + b"\x1d\x60" + ebcdic("User:") + b"\x1d\x40" +
        b"\x11" + address(100) + b"\x1d\x60" + b"\x11" + address(87) + b"\x13")


MODELS = {4: (43, 80), 5: (27, 132)}

# One input field from position 1 to the end of row 0 with the cursor in it;
# Erase/Write with the keyboard restored, so every case starts unlocked.
KEY_FORM = b"\xf5\xc3" + b"\x1d\x40" + b"\x11" + address(80) + b"\x1d\x60" + b"\x11" + address(1) + b"\x13"

# PC keys of the shipped IBM.KEY: (scan code, extended, modifiers held).
SHIFT, CTRL, ALT = "42", "29", "56"
F1, F2, F5, F12 = (59, 0), (60, 0), (63, 0), (88, 0)
HOME, INSERT, END, LEFT, PAUSE, RETURN = (71, 1), (82, 1), (79, 1), (75, 1), (69, 0), (28, 0)

# What a person presses on the form (keys, or text typed) and the record the
# host must get for it.
KEY_CASES = [
    ("PF13 (Shift+F1)", [(F1, SHIFT)], b"\xc1" + address(1)),
    ("PF5 (F5, not Set-Up)", [(F5, None)], b"\xf5" + address(1)),
    ("PF24 (Shift+F12)", [(F12, SHIFT)], b"\x4c" + address(1)),
    ("PA1 (Ctrl+F1)", [(F1, CTRL)], b"\x6c"),
    ("PA2 (Alt+Home)", [(HOME, ALT)], b"\x6e"),
    ("Clear (Pause)", [(PAUSE, None)], b"\x6d"),
    ("Erase EOF (End)", ["abcdef", (LEFT, None), (LEFT, None), (LEFT, None), (END, None), (RETURN, None)],
     b"\x7d" + address(4) + b"\x11" + address(1) + ebcdic("abc")),
    ("Field Mark (Shift+Home), Dup (Shift+Insert)", ["ab", (HOME, SHIFT), (INSERT, SHIFT), (RETURN, None)],
     b"\x7d" + address(5) + b"\x11" + address(1) + ebcdic("ab") + b"\x1e\x1c"),
]


def press(window, key, held):
    (scan, extended) = key
    if held:
        window.auto("key", window.hwnd, held, "0", "down")
    window.auto("key", window.hwnd, str(scan), str(extended), "down")
    window.auto("key", window.hwnd, str(scan), str(extended), "up")
    if held:
        window.auto("key", window.hwnd, held, "0", "up")


def keys_and_paste(host, window, work):
    """The 3270 keys of IBM.KEY as a person presses them, then a paste of two lines."""
    for name, actions, want in KEY_CASES:
        host.send_record(KEY_FORM)
        time.sleep(0.3)  # the window takes the form before the keys
        for action in actions:
            if isinstance(action, str):
                window.auto("type", window.hwnd, action)
            else:
                press(window, action[0], action[1])
        try:
            got = host.read_record()
        except TimeoutError:
            fail("%s sent nothing to the host; the window shows %r" % (name, window.screen(25)[:2] + window.screen(25)[24:]))
        if got != want:
            fail("%s sent %s, not %s" % (name, got.hex(), want.hex()))
    # A pasted line end is Enter: the first line goes at once; the second waits
    # in the keyboard's queue until the host's next write unlocks the keyboard.
    host.send_record(KEY_FORM)
    time.sleep(0.3)
    clip = subprocess.run([os.path.join(window.bin, "terminal_clip_text"), "set"], input=b"one\r\ntwo\n",
                          env=window.env, capture_output=True, timeout=20)
    if clip.returncode != 0:
        fail("putting text on the clipboard: " + clip.stderr.decode("latin-1"))
    window.auto("menu", window.hwnd, "101")  # Edit > Paste
    for line in ("one", "two"):
        got = host.read_record()
        want = b"\x7d" + address(4) + b"\x11" + address(1) + ebcdic(line)
        if got != want:
            fail("the pasted line %r sent %s, not %s" % (line, got.hex(), want.hex()))
        host.send_record(KEY_FORM)
    print("IBM.KEY: %d key cases and a two-line paste reach the host as their records" % len(KEY_CASES))


# Records a host must not be trusted with: the window shows the error on its
# operator line and takes the next record as usual.
HOSTILE = [
    b"\xf5\xc3\x11\x7f\x7f" + ebcdic("past the buffer"),  # address 4095
    b"\xf1\xc3\x3c\x7f\x7f\xc1",                          # repeat to 4095
    b"\xf1\xc3\x12\x7f\x7f",                               # erase to 4095
    b"\xf1\xc3\x29\x05\xc0",                               # cut inside its pairs
    b"\xf1\xc3" + b"\x1d\x60\x3c\x40\x40\xc1" * 600,        # 3.6 kB in one record
    b"\xf3\x00\x05\x01\xff\x02",                           # a structured field
    b"",                                                  # IAC EOR alone
]


def session(host, window, model):
    """One session: negotiation, the form, typing, Enter, the model's screen."""
    host.accept()
    host.negotiate()
    if host.terminal_types[-1] != "IBM-3278-%d" % model:
        fail("the terminal named itself %r, not IBM-3278-%d" % (host.terminal_types, model))
    for record in HOSTILE:
        host.send_record(record)
    host.send_record(FORM)
    if not wait_for(10, lambda: b"User:" in b"".join(window.screen(25))):
        fail("the host's form is not in the window: %r" % window.screen(25)[:3])
    rows = window.screen(25)
    if rows[0] != b" Log on to the scripted host" or rows[1] != b" User:":
        fail("the form is drawn wrongly: %r" % rows[:2])
    window.auto("key", window.hwnd, "77", "1", "down")  # the Right arrow moves one position on
    window.auto("key", window.hwnd, "77", "1", "up")
    window.auto("type", window.hwnd, "alice")
    window.press(28)  # Return: Enter
    got = host.read_record()
    want = b"\x7d" + address(93) + b"\x11" + address(87) + ebcdic("alice")
    if got != want:
        fail("Enter sent %s, not %s" % (got.hex(), want.hex()))
    # Erase/Write Alternate: the model's rows and columns.
    rows, columns = MODELS[model]
    text = "bottom right corner of model %d" % model
    host.send_record(b"\x7e\xc3" + b"\x11" + address(rows * columns - len(text) - 1) + b"\x1d\x60" + ebcdic(text) +
                     b"\x11" + address(0) + b"\x1d\x40\x13")
    want_row = b" " * (columns - len(text) - 1) + b" " + text.encode()
    if not wait_for(10, lambda: window.screen(rows)[rows - 1] == want_row):
        fail("Erase/Write Alternate did not give %d x %d: %r" % (rows, columns, window.screen(rows + 1)[rows - 2:]))
    print("model %d: terminal type, form, Right arrow and Enter record, %d x %d screen" % (model, rows, columns))


def run(bin_dir, work, env):
    with open(os.path.join(work, "QXAPPS.INI"), "w") as f:
        f.write("[QX220]\r\nTN3270_MODE=4\r\n")
    host = Tn3270Host()
    window = Window(bin_dir, work, env, args=("/I", "/t=IBM-3278-2", "127.0.0.1", "/p=%d" % host.port),
                    window_class="QX3270")
    try:
        session(host, window, 4)
        keys_and_paste(host, window, work)
        host.conn.close()  # the host ends the session; the window stays
        if not wait_for(10, lambda: any(b"Disconnected from Remote Host" in r for r in window.screen(25))):
            fail("the end of the session was not shown")
        # File > Connect asks for the host in a dialog; a second connection
        # through the recent host (the dialog's default) negotiates 3270 again.
        # Setup > TN3270 Mode > 3278-5, then File > Connect.
        window.auto("menu", window.hwnd, "1005")
        ini = open(os.path.join(work, "QXAPPS.INI")).read()
        if "TN3270_MODE=5" not in ini:
            fail("the model chosen was not kept in QXAPPS.INI: %r" % ini)
        accepted = threading.Thread(target=lambda: session(host, window, 5), daemon=True)
        accepted.start()
        window.auto("menu", window.hwnd, "419")
        dialog = None
        for _ in range(100):
            r = window.auto("find", "#32770", "-", check=False)
            if r.startswith("ok "):
                dialog = r.split()[1]
                break
            threading.Event().wait(0.1)
        if not dialog:
            fail("File > Connect showed no host dialog")
        window.auto("key", dialog, "28", "0", "down")
        window.auto("key", dialog, "28", "0", "up", check=False)  # the dialog may be gone
        accepted.join(40)
        if accepted.is_alive():
            fail("the second connection did not finish its session")
    finally:
        window.close()
        host.close()


def main():
    if len(sys.argv) < 2:
        fail("usage: window_3270.py BIN_DIR")
    bin_dir = sys.argv[1]
    require(["unshare", "ip"])
    run_in_namespace(lambda work, env: run(bin_dir, work, env), 170)
    print("PASS: TN3270 sessions in the window")


if __name__ == "__main__":
    main()
