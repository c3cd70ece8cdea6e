#!/usr/bin/env python3
"""An SMTP server on aiosmtpd that keeps what it receives.

smtp_peer.py OUT_DIR [PORT]

Listens on PORT of loopback (a test's own network namespace), else on a free
loopback port, and prints it on the first line of stdout.
Each accepted message is written to OUT_DIR as msg-N.eml (the bytes as
received, dots unstuffed) and msg-N.env (HELO name, MAIL FROM and RCPT TO,
one a line). Recipients starting with "bad@" are refused with 550, those
starting with "busy@" with 421.
"""
import asyncio
import os
import sys
import threading
import time

from aiosmtpd.smtp import SMTP

OUT = sys.argv[1]


class Keeper:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("bad@"):
            return "550 5.1.1 No such user here"
        if address.startswith("busy@"):
            return "421 4.3.2 Service shutting down"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        n = len([f for f in os.listdir(OUT) if f.endswith(".eml")]) + 1
        with open(os.path.join(OUT, "msg-%d.env" % n), "w") as f:
            f.write("%s\n%s\n%s\n" % (session.host_name, envelope.mail_from, " ".join(envelope.rcpt_tos)))
        with open(os.path.join(OUT, "msg-%d.eml" % n), "wb") as f:
            f.write(envelope.original_content)
        return "250 Message accepted for delivery"


def end_with_parent():
    """Ends this server when the test that started it is gone."""
    parent = os.getppid()
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


async def main():
    loop = asyncio.get_running_loop()
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    server = await loop.create_server(lambda: SMTP(Keeper(), decode_data=False), "127.0.0.1", port)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


threading.Thread(target=end_with_parent, daemon=True).start()
asyncio.run(main())
