#!/usr/bin/env python3
"""Reads one received message with Python's email package and prints what it
holds, one fact a line, so that a test can compare it with what was composed:

  header NAME VALUE        (To, Cc, Bcc, Subject, MIME-Version, Content-Type's type)
  part TYPE FILENAME SHA256 SIZE   (each leaf part, its payload decoded)
  text <the first text part's decoded text, line ends as \\n escaped>
  defects N                (parser defects found in the whole message)

compose_oracle.py MESSAGE.eml
"""
import email
import email.policy
import hashlib
import sys

raw = open(sys.argv[1], "rb").read()
msg = email.message_from_bytes(raw, policy=email.policy.default)
for name in ("To", "Cc", "Bcc", "Subject", "MIME-Version"):
    value = msg.get(name)
    if value is not None:
        print("header %s %s" % (name, str(value)))
print("header Content-Type %s" % msg.get_content_type())
defects = len(msg.defects)
text_done = False
for part in msg.walk():
    defects += len(part.defects)
    if part.is_multipart():
        continue
    payload = part.get_payload(decode=True) or b""
    print("part %s %s %s %d" % (part.get_content_type(), part.get_filename() or "-",
                                hashlib.sha256(payload).hexdigest(), len(payload)))
    if not text_done and part.get_content_maintype() == "text" and not part.get_filename():
        print("text " + payload.decode("latin-1").replace("\r\n", "\n").replace("\n", "\\n"))
        text_done = True
print("defects %d" % defects)
