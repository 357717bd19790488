#!/usr/bin/python3
"""An aiosmtpd server for the SMTP client's tests; every message it accepts lands in a spool.

For message N (1, 2, ...) the spool gets N.eml (the content as received, dot-unstuffed) and
then N.env, one "key value" line each: "from <addr>", "rcpt <addr>" per recipient, for an
authenticated session "auth <user>" and "mech <mechanism>", and last "tls" when the message
came over TLS (STARTTLS or implicit). A test that saw the 250 finds both.

  --tls starttls|implicit   STARTTLS offered (--require-starttls: before anything else), or
                            TLS on the listening socket
  --user NAME:PASSWORD      the one login the server accepts (AUTH PLAIN and LOGIN); AUTH is
                            offered over TLS only, unless --auth-without-tls
  --exclude-auth MECH       a mechanism not offered (repeatable)
  --pipelining              PIPELINING in the EHLO reply (aiosmtpd reads pipelined commands
                            in order but does not announce it)
  --no-ehlo                 EHLO refused with 502, as by a server without extensions
  --refuse ADDR             RCPT TO:<ADDR> gets 550 (repeatable)
"""
import argparse
import os
import signal
import ssl

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Handler:
    def __init__(self, args):
        self.args = args
        self.count = 0

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        if self.args.no_ehlo:
            return ["502 5.5.1 Error: command not implemented"]
        session.host_name = hostname
        if self.args.pipelining:
            responses.insert(len(responses) - 1, "250-PIPELINING")
        return responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.args.refuse:
            return f"550 5.1.1 <{address}>: Recipient address rejected"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.args.spool, str(self.count))
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content)
        lines = [f"from {envelope.mail_from}"]
        lines += [f"rcpt {r}" for r in envelope.rcpt_tos]
        if session.authenticated:
            lines.append(f"auth {session.auth_data.login.decode()}")
            lines.append(f"mech {getattr(session, 'mechanism', '')}")
        # session.ssl covers STARTTLS only; the transport knows about implicit TLS too.
        if session.ssl is not None or server.transport.get_extra_info("ssl_object") is not None:
            lines.append("tls")
        # Written whole and renamed, so a reader never sees half an envelope.
        with open(base + ".tmp", "w") as f:
            f.write("\n".join(lines) + "\n")
        os.rename(base + ".tmp", base + ".env")
        return f"250 OK queued as {self.count}"


def make_authenticator(user):
    name, _, password = user.partition(":")

    def authenticator(server, session, envelope, mechanism, auth_data):
        session.mechanism = mechanism
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == name.encode()
              and auth_data.password == password.encode())
        return AuthResult(success=ok, handled=False, auth_data=auth_data)

    return authenticator


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--spool", required=True)
    p.add_argument("--tls", choices=["starttls", "implicit"])
    p.add_argument("--require-starttls", action="store_true")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--user")
    p.add_argument("--auth-without-tls", action="store_true")
    p.add_argument("--exclude-auth", action="append", default=[])
    p.add_argument("--pipelining", action="store_true")
    p.add_argument("--no-ehlo", action="store_true")
    p.add_argument("--refuse", action="append", default=[])
    args = p.parse_args()

    context = None
    if args.tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    # aiosmtpd counts only STARTTLS as TLS; a session on the TLS socket is one too.
    require_tls = not args.auth_without_tls and args.tls != "implicit"
    kwargs = dict(hostname="127.0.0.1", port=args.port, server_hostname="smtp.test",
                  auth_require_tls=require_tls, auth_exclude_mechanism=args.exclude_auth)
    if args.tls == "implicit":
        kwargs["ssl_context"] = context
    elif args.tls == "starttls":
        kwargs["tls_context"] = context
        kwargs["require_starttls"] = args.require_starttls
    if args.user:
        kwargs["authenticator"] = make_authenticator(args.user)
    controller = Controller(Handler(args), **kwargs)
    controller.start()
    print("ready", flush=True)
    signal.pause()


if __name__ == "__main__":
    main()
