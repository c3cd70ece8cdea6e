#!/usr/bin/python3
"""Test partner for attachkit: Python's email package on both sides.

make DIR   writes messages made by the email package (and by uuencode and
           mpack) with one attachment each, the attachment's bytes as the
           email package decodes them, and a manifest:
           "name<TAB>boundary<TAB>expected-file" per message.
check DIR  reads the messages SendMime's parts were put in (sent-*.eml) and
           writes what the email package decodes from each to <name>.decoded,
           with the Filename parameter on the first line of <name>.info.
wave SRC   prints the Sun audio bytes (hex) that the mail sender's wave
           conversion gives for SRC, computed here from the algorithm's own
           description, as an oracle for the C++ conversion.
ulaw FILE  checks that a saved wave file's samples are the G.711 expansion of
           the mu-law bytes in FILE.mulaw (audioop), shifted to unsigned bytes.
"""

import binascii
import email
import email.policy
import os
import random
import subprocess
import sys
import wave
import warnings
from email.mime.application import MIMEApplication
from email.mime.audio import MIMEAudio
from email.mime.base import MIMEBase
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email import encoders, charset

warnings.simplefilter("ignore", DeprecationWarning)
import audioop  # noqa: E402  (deprecated, still in Debian 12's Python)


def payloads():
    rnd = random.Random(19)
    cases = {}
    for n in (0, 1, 2, 3, 53, 54, 55, 57, 58, 1000, 100003):
        data = bytes(rnd.randrange(256) for _ in range(n))
        cases["bin%d" % n] = data
    cases["nuls"] = b"\0" * 300 + b"\xff\0\r\n\0"
    return cases


def texts():
    """Text for quoted-printable: long lines (soft breaks), '=' signs, trailing
    blanks, 8-bit characters and an '=' at the very end."""
    return {
        "short": "plain line\r\nsecond line\r\n",
        "long": ("word " * 40).strip() + "\r\n" + "x" * 200 + "\r\n",
        "equals": "a=b==c\r\nends with =\r\n=",
        "blanks": "trailing blank \r\ntrailing tab\t\r\nend",
        "eight": "caf\u00e9 na\u00efve \u00fcber " * 10 + "\r\n",
    }


def write_message(directory, name, msg, boundary, expected, lf=False):
    data = msg.as_bytes(policy=email.policy.SMTP)
    if lf:
        data = data.replace(b"\r\n", b"\n")
    with open(os.path.join(directory, name + ".eml"), "wb") as f:
        f.write(data)
    # The truth is what the email package decodes from the bytes on disk.
    parsed = email.message_from_bytes(data)
    part = parsed.get_payload()[0]
    decoded = part.get_payload(decode=True)
    if expected is not None:
        assert decoded == expected, name
    with open(os.path.join(directory, name + ".expected"), "wb") as f:
        f.write(decoded)
    return "%s\t%s\t%s.expected\n" % (name, boundary, name)


def container(boundary):
    outer = MIMEMultipart(boundary=boundary)
    outer["From"] = "peer@example.org"
    outer["To"] = "user@example.org"
    outer["Subject"] = "attachment"
    return outer


def make(directory):
    manifest = []
    for key, data in payloads().items():
        for lf in (False, True):
            boundary = "==peer-%s==" % key
            outer = container(boundary)
            part = MIMEApplication(data)  # base64
            part.add_header("Content-Disposition", "attachment", filename=key + ".bin")
            outer.attach(part)
            manifest.append(write_message(directory, "py-b64-%s%s" % (key, "-lf" if lf else ""), outer, boundary,
                                          data, lf))
    for key, text in texts().items():
        boundary = "==qp-%s==" % key
        outer = container(boundary)
        cs = charset.Charset("utf-8")
        cs.body_encoding = charset.QP
        part = MIMEText(text, "plain", cs)
        outer.attach(part)
        manifest.append(write_message(directory, "py-qp-%s" % key, outer, boundary, None))
    for key in ("bin1000", "nuls"):
        data = payloads()[key]
        boundary = "==qpbin-%s==" % key
        outer = container(boundary)
        part = MIMEBase("application", "octet-stream")
        part.set_payload(data)
        encoders.encode_quopri(part)
        outer.attach(part)
        # (Python's encoder makes LF bytes into line breaks, so its own
        # decoding is the truth here, not the input.)
        manifest.append(write_message(directory, "py-qpbin-%s" % key, outer, boundary, None))
    for key in ("short", "long"):
        boundary = "==7bit-%s==" % key
        outer = container(boundary)
        part = MIMEText(texts()[key].replace("\r\n", "\n"), "plain", "us-ascii")
        outer.attach(part)
        manifest.append(write_message(directory, "py-7bit-%s" % key, outer, boundary, None))
    # uuencode, with and without the "end" line.
    for key in ("bin1", "bin54", "bin1000", "nuls"):
        data = payloads()[key]
        lines = [b"begin 644 %s.bin\r\n" % key.encode()]
        for i in range(0, len(data), 45):
            lines.append(binascii.b2a_uu(data[i:i + 45]).replace(b"\n", b"\r\n"))
        for with_end in (True, False):
            body = b"".join(lines) + (b"`\r\nend\r\n" if with_end else b"")
            boundary = "==uu-%s-%d==" % (key, with_end)
            outer = container(boundary)
            part = MIMEBase("application", "octet-stream")
            part.set_payload(body.decode("ascii"))
            part["Content-Transfer-Encoding"] = "x-uuencode"
            outer.attach(part)
            manifest.append(write_message(directory, "py-uu-%s-%s" % (key, "end" if with_end else "noend"), outer,
                                          boundary, data))
    # audio/basic from raw mu-law.
    mulaw = bytes(random.Random(7).randrange(256) for _ in range(4001))
    boundary = "==audio=="
    outer = container(boundary)
    outer.attach(MIMEAudio(mulaw, "basic"))
    manifest.append(write_message(directory, "py-audio", outer, boundary, mulaw))
    with open(os.path.join(directory, "py-audio.mulaw"), "wb") as f:
        f.write(mulaw)
    # mpack: every file as its own message.
    for key in ("bin1", "bin54", "bin55", "bin100003", "nuls"):
        source = os.path.join(directory, "mp-%s.src" % key)
        with open(source, "wb") as f:
            f.write(payloads()[key])
        out = os.path.join(directory, "mp-%s.eml" % key)
        subprocess.run(["mpack", "-s", "mpack " + key, "-o", out, source], check=True)
        manifest.append("mp-%s\t-\tmp-%s.src\n" % (key, key))
    with open(os.path.join(directory, "manifest"), "w") as f:
        f.writelines(manifest)


def check(directory):
    for name in sorted(os.listdir(directory)):
        if not (name.startswith("sent-") and name.endswith(".eml")):
            continue
        with open(os.path.join(directory, name), "rb") as f:
            msg = email.message_from_binary_file(f)
        part = msg.get_payload()[0]
        stem = name[:-4]
        with open(os.path.join(directory, stem + ".info"), "w") as f:
            f.write("%s\n%s\n" % (part.get_filename(), part.get_content_type()))
            for key in ("access-type", "site", "directory", "name", "mode", "server"):
                value = part.get_param(key)
                if value is not None:
                    f.write("%s=%s\n" % (key, value))
        if part.get_content_maintype() != "message":
            with open(os.path.join(directory, stem + ".decoded"), "wb") as f:
                f.write(part.get_payload(decode=True))


# The sender's mu-law table (unsigned 8-bit sample to mu-law byte).
COMPRESS = [
    0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7,
    8, 8, 8, 8, 9, 9, 9, 9, 10, 10, 10, 10, 11, 11, 11, 11, 12, 12, 12, 12, 13, 13, 13, 13, 14, 14, 14, 14,
    15, 15, 15, 15, 16, 16, 17, 17, 18, 18, 19, 19, 20, 20, 21, 21, 22, 22, 23, 23, 24, 24, 25, 25, 26, 26,
    27, 27, 28, 28, 29, 29, 30, 30, 30, 31, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46,
    48, 50, 52, 54, 56, 58, 60, 62, 65, 69, 73, 77, 83, 91, 103, 126, 255, 231, 219, 211, 205, 201, 197, 193,
    190, 188, 186, 184, 182, 180, 178, 176, 174, 173, 172, 171, 170, 169, 168, 167, 166, 165, 164, 163, 162,
    161, 160, 160, 159, 159, 158, 158, 157, 157, 156, 156, 155, 155, 154, 154, 153, 153, 152, 152, 151, 151,
    150, 150, 149, 149, 148, 148, 147, 147, 146, 146, 145, 145, 144, 144, 143, 143, 143, 143, 142, 142, 142,
    142, 141, 141, 141, 141, 140, 140, 140, 140, 139, 139, 139, 139, 138, 138, 138, 138, 137, 137, 137, 137,
    136, 136, 136, 136, 135, 135, 135, 135, 134, 134, 134, 134, 133, 133, 133, 133, 132, 132, 132, 132, 131,
    131, 131, 131, 130, 130, 130, 130, 129, 129, 129, 129, 128, 128, 128, 128,
]
assert len(COMPRESS) == 256


def wave_oracle(path):
    w = wave.open(path)
    channels, width, rate = w.getnchannels(), w.getsampwidth(), w.getframerate()
    frames = w.readframes(w.getnframes())
    align = channels * width
    data_size = len(frames)
    count = data_size * 8000 // (rate * align)

    def sample(at):
        if width == 1:
            return frames[at]
        return ((frames[at] | frames[at + 1] << 8) ^ 0x8000) >> 8

    out, pos, acc = [], 0, 0
    while len(out) < count and pos + align <= data_size:
        s = sample(pos)
        if channels == 2:
            s = (s + sample(pos + width)) >> 1
        out.append(COMPRESS[s])
        pos += align
        acc += rate - 8000
        q = int(acc / 8000)
        if q:
            pos += q * align
            acc -= q * 8000
    header = b".snd" + b"".join(v.to_bytes(4, "big") for v in (28, len(out), 1, 8000, 1)) + b"\0" * 4
    sys.stdout.write((header + bytes(out)).hex())


def ulaw(path):
    with open(path + ".mulaw", "rb") as f:
        mulaw = f.read()
    w = wave.open(path)
    assert (w.getframerate(), w.getnchannels(), w.getsampwidth()) == (8000, 1, 1)
    samples = w.readframes(w.getnframes())
    linear = audioop.ulaw2lin(mulaw, 2)
    expected = bytes(((int.from_bytes(linear[i:i + 2], "little", signed=True) >> 8) + 128)
                     for i in range(0, len(linear), 2))
    if samples != expected:
        sys.exit("samples differ from audioop's expansion")


if __name__ == "__main__":
    {"make": make, "check": check, "wave": wave_oracle, "ulaw": ulaw}[sys.argv[1]](sys.argv[2])
