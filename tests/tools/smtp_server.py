#!/usr/bin/python3
"""SMTP test peer: aiosmtpd on 127.0.0.1, one plain server offering STARTTLS and one speaking
TLS from the first byte, with a certificate made by openssl at start.
AUTH offers the --mechanisms given (LOGIN and PLAIN are aiosmtpd's own; CRAM-MD5 and
DIGEST-MD5 are checked here against RFC 2195 and RFC 2831). Accepted messages go to
--dir/messages; ready.json there names the ports. Runs until SIGTERM."""

import argparse
import asyncio
import hashlib
import hmac
import json
import logging
import os
import re
import secrets
import ssl
import subprocess

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

ALL_MECHANISMS = ["LOGIN", "PLAIN", "CRAM-MD5", "DIGEST-MD5"]
USER, PASSWORD, REALM = b"alarm@zunaro.test", b"secret", b"zunaro.test"
FAILED = AuthResult(success=False, handled=False)


def write_atomic(path, data):
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)


def make_certificate(folder):
    """A self-signed certificate for 127.0.0.1 and localhost: the tests' own trust anchor."""
    key, pem = os.path.join(folder, "server.key"), os.path.join(folder, "server.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", pem, "-days", "2", "-subj", "/CN=localhost", "-addext",
                    "subjectAltName=IP:127.0.0.1,DNS:localhost"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return pem, key


def md5_hex(data):
    return hashlib.md5(data).hexdigest().encode()


class Handler:
    def __init__(self, folder, mechanisms, implicit_tls):
        self.folder, self.mechanisms, self.implicit_tls = folder, mechanisms, implicit_tls

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        return [r for r in responses if self.mechanisms or not r.startswith("250-AUTH")]

    async def handle_DATA(self, server, session, envelope):
        number = len(os.listdir(self.folder)) + 1  # every handler runs on the one loop thread
        write_atomic(os.path.join(self.folder, "%04d.json" % number), json.dumps({
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "content": (envelope.original_content or b"").decode("latin-1"),
            "login": getattr(session.auth_data, "login", b"").decode("latin-1"),
            "tls": self.implicit_tls or server._tls_protocol is not None,
        }).encode())
        return "250 Message accepted for delivery"

    def ok(self, login):
        return AuthResult(success=True, handled=False, auth_data=LoginPassword(login, b""))

    async def auth_CRAM__MD5(self, server, args):
        challenge = ("<%s.%d@zunaro.test>" % (secrets.token_hex(8), os.getpid())).encode()
        answer = await server.challenge_auth(challenge)
        if not isinstance(answer, bytes) or b" " not in answer:
            return FAILED
        login, digest = answer.rsplit(b" ", 1)
        expected = hmac.new(PASSWORD, challenge, hashlib.md5).hexdigest().encode()
        if login == USER and hmac.compare_digest(digest, expected):
            return self.ok(login)
        return FAILED

    async def auth_DIGEST__MD5(self, server, args):
        nonce = secrets.token_hex(12).encode()
        answer = await server.challenge_auth(b'realm="' + REALM + b'",nonce="' + nonce +
                                             b'",qop="auth",charset=utf-8,algorithm=md5-sess')
        if not isinstance(answer, bytes):
            return FAILED
        d = {m.group(1).decode(): m.group(3) if m.group(3) is not None else m.group(2)
             for m in re.finditer(rb'([A-Za-z-]+)=("([^"]*)"|[^,]*)', answer)}
        uri, cnonce, nc = d.get("digest-uri", b""), d.get("cnonce", b""), d.get("nc", b"")
        if (d.get("username") != USER or d.get("nonce") != nonce or d.get("realm") != REALM
                or d.get("qop") != b"auth" or nc != b"00000001" or not uri.startswith(b"smtp/")
                or not cnonce):
            return FAILED
        secret = hashlib.md5(USER + b":" + REALM + b":" + PASSWORD).digest()
        ha1 = md5_hex(secret + b":" + nonce + b":" + cnonce)

        def response(a2):
            return md5_hex(ha1 + b":" + nonce + b":" + nc + b":" + cnonce + b":auth:" + md5_hex(a2))

        if not hmac.compare_digest(d.get("response", b""), response(b"AUTHENTICATE:" + uri)):
            return FAILED
        if await server.challenge_auth(b"rspauth=" + response(b":" + uri)) != b"":
            return FAILED
        return self.ok(USER)


def main():
    # aiosmtpd warns on every login (its own use of login_data) and logs a traceback for every
    # client that refuses the certificate, which the tests do on purpose.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--mechanisms", default=",".join(ALL_MECHANISMS),
                        help="AUTH mechanisms offered; empty offers no AUTH")
    options = parser.parse_args()
    os.makedirs(os.path.join(options.dir, "messages"))
    pem, key = make_certificate(options.dir)

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (auth_data.login, auth_data.password) == (USER, PASSWORD)
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    excluded = [m for m in ALL_MECHANISMS if m not in options.mechanisms.split(",")]
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(pem, key)

    def factory(implicit):
        handler = Handler(os.path.join(options.dir, "messages"), options.mechanisms, implicit)
        return lambda: SMTP(handler, authenticator=authenticator, auth_require_tls=False,
                            auth_exclude_mechanism=excluded, hostname="zunaro.test",
                            tls_context=None if implicit else context)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    plain = loop.run_until_complete(loop.create_server(factory(False), "127.0.0.1", 0))
    tls = loop.run_until_complete(loop.create_server(factory(True), "127.0.0.1", 0, ssl=context))
    ports = [server.sockets[0].getsockname()[1] for server in (plain, tls)]
    write_atomic(os.path.join(options.dir, "ready.json"), json.dumps(
        {"plain_port": ports[0], "tls_port": ports[1], "ca_file": pem}).encode())
    loop.run_forever()


if __name__ == "__main__":
    main()
