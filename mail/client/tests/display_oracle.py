#!/usr/bin/env python3
"""Decodes the text parts of a message with Python's email package.

display_oracle.py MESSAGE

Writes the decoded bytes of every text/* leaf part, in order, to stdout:
what a reader of the message sees of its text, without the headers.
"""
import email
import email.policy
import sys

with open(sys.argv[1], "rb") as f:
    message = email.message_from_binary_file(f, policy=email.policy.compat32)

out = sys.stdout.buffer
for part in message.walk():
    if part.is_multipart():
        continue
    if part.get_content_maintype() != "text":
        continue
    payload = part.get_payload(decode=True)
    if payload is not None:
        out.write(payload)
