#!/usr/bin/python3
"""A real SMTP server with TLS and login for the mail tests: aiosmtpd on 127.0.0.1.

Usage: tls_server.py OUTDIR CERT KEY MODE ACCOUNT PASSWORD
MODE is "starttls" (plain connection; STARTTLS required before anything else, then a login)
or "implicit" (TLS from the first byte, then a login). The login is refused unless it is
ACCOUNT with PASSWORD.

Prints the port on the first line of standard output once the server listens. Mail is kept as
smtp_server.py keeps it (OUTDIR/mailN.eml and mailN.json). Everything the server reads from a
client is appended to OUTDIR/server.log, one line per piece: "plain " or "tls " (how it came)
and the bytes as a Python literal; every login attempt adds "login <account> ok|refused".
Runs until it is sent SIGTERM.
"""
import logging
import os
import signal
import ssl
import sys
import threading
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult

from smtp_server import Keeper, free_port


class Log:
    def __init__(self, path):
        self.lock = threading.Lock()
        self.path = path

    def write(self, line):
        with self.lock, open(self.path, "a") as f:
            f.write(line + "\n")


class LoggingSMTP(SMTP):
    """Writes down every byte it is given, and whether TLS was up when it came."""

    def __init__(self, *args, log=None, implicit=False, **kwargs):
        super().__init__(*args, **kwargs)
        self.log = log
        self.implicit = implicit

    def data_received(self, data):
        tls = self.implicit or self._tls_protocol is not None
        self.log.write(("tls " if tls else "plain ") + repr(data))
        super().data_received(data)


class LoggingController(Controller):
    def __init__(self, handler, log, implicit, **kwargs):
        super().__init__(handler, **kwargs)
        self.log = log
        self.implicit = implicit

    def factory(self):
        return LoggingSMTP(self.handler, log=self.log, implicit=self.implicit,
                           **self.SMTP_kwargs)


def main():
    # The server's own notices (a refused handshake, an implicit-TLS login) are expected here.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    outdir, cert, key, mode, account, password = sys.argv[1:7]
    log = Log(os.path.join(outdir, "server.log"))
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)

    def authenticator(server, session, envelope, mechanism, data):
        login = data.login.decode(errors="replace")
        ok = login == account and data.password.decode(errors="replace") == password
        log.write("login %s %s" % (login, "ok" if ok else "refused"))
        return AuthResult(success=ok, handled=False)

    kwargs = dict(hostname="127.0.0.1", authenticator=authenticator, auth_required=True)
    implicit = mode == "implicit"
    if implicit:
        # The server cannot tell that the connection is TLS from the start; it is.
        kwargs.update(ssl_context=context, auth_require_tls=False)
    else:
        kwargs.update(tls_context=context, require_starttls=True)
    for attempt in range(5):
        kwargs["port"] = free_port()
        controller = LoggingController(Keeper(outdir), log, implicit, **kwargs)
        try:
            controller.start()
            break
        except OSError:
            continue
    else:
        sys.exit("no free port")
    print(kwargs["port"], flush=True)
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    done.wait(600)  # never outlives a stuck test by much
    controller.stop()


if __name__ == "__main__":
    main()
