#!/usr/bin/python3
"""A real SMTP server for the mail tests: aiosmtpd on 127.0.0.1, on a free port.

Usage: smtp_server.py OUTDIR
Prints the port on the first line of standard output once the server listens. Every mail it
accepts is written as OUTDIR/mailN.eml (the data as received, dot-stuffing undone) and
OUTDIR/mailN.json (envelope sender, recipients, HELO name) before the server answers 250.
A recipient whose address begins with "refuse" is refused with 550.
Runs until it is sent SIGTERM.
"""
import json
import os
import signal
import socket
import sys
import threading

from aiosmtpd.controller import Controller


class Keeper:
    def __init__(self, outdir):
        self.outdir = outdir
        self.count = 0
        self.lock = threading.Lock()

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower().startswith("refuse"):
            return "550 5.1.1 Recipient refused"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            base = os.path.join(self.outdir, "mail%d" % self.count)
        with open(base + ".eml", "wb") as f:
            f.write(envelope.content)
        with open(base + ".json", "w") as f:
            json.dump({"from": envelope.mail_from, "rcpt": envelope.rcpt_tos,
                       "helo": session.host_name}, f)
        return "250 Message accepted for delivery"


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    outdir = sys.argv[1]
    for attempt in range(5):
        port = free_port()
        controller = Controller(Keeper(outdir), hostname="127.0.0.1", port=port)
        try:
            controller.start()
            break
        except OSError:
            continue
    else:
        sys.exit("no free port")
    print(port, flush=True)
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    done.wait(600)  # never outlives a stuck test by much
    controller.stop()


if __name__ == "__main__":
    main()
