#!/usr/bin/python3
"""SMTP test peer for the mail tests.

Listens on 127.0.0.1 with two servers: a plain one that offers STARTTLS and one that
speaks TLS from the first byte. The certificates (a test CA and a server certificate for
127.0.0.1 and localhost) are made at start with the openssl command. AUTH offers LOGIN and
PLAIN (aiosmtpd's own) plus CRAM-MD5 and DIGEST-MD5, whose answers are checked against
RFC 2195 and RFC 2831. Every accepted message and every connection's transcript is saved
in the folder given with --dir; ready.json there names the ports once both servers listen.
The server ends when its standard input closes or on SIGTERM.
"""

import argparse
import asyncio
import hashlib
import hmac
import json
import os
import re
import secrets
import signal
import ssl
import subprocess
import sys
import logging
import threading

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

ALL_MECHANISMS = ["LOGIN", "PLAIN", "CRAM-MD5", "DIGEST-MD5"]


def write_atomic(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def make_certificates(folder):
    """A test CA and a server certificate signed by it (SAN 127.0.0.1, localhost)."""
    os.makedirs(folder, exist_ok=True)
    ca_key = os.path.join(folder, "ca.key")
    ca_pem = os.path.join(folder, "ca.pem")
    key = os.path.join(folder, "server.key")
    csr = os.path.join(folder, "server.csr")
    pem = os.path.join(folder, "server.pem")
    ext = os.path.join(folder, "server.ext")

    def run(*args):
        subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca_pem,
        "-days", "2", "-subj", "/CN=Zunaro Test CA")
    run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=localhost")
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial",
        "-out", pem, "-days", "2", "-extfile", ext)
    return ca_pem, pem, key


def md5(data):
    return hashlib.md5(data).digest()


def md5_hex(data):
    return hashlib.md5(data).hexdigest().encode()


def parse_directives(text):
    """RFC 2831 directives: name=value or name="value", separated by commas."""
    result = {}
    for m in re.finditer(rb'([A-Za-z-]+)=("([^"]*)"|[^,]*)', text):
        result[m.group(1).decode()] = m.group(3) if m.group(3) is not None else m.group(2)
    return result


class Recorder:
    """Numbers connections and messages and writes them to the output folder."""

    def __init__(self, folder):
        self.folder = folder
        self.lock = threading.Lock()
        self.connections = 0
        self.messages = 0
        os.makedirs(os.path.join(folder, "messages"), exist_ok=True)
        os.makedirs(os.path.join(folder, "transcripts"), exist_ok=True)

    def next_connection(self):
        with self.lock:
            self.connections += 1
            return self.connections

    def save_message(self, record):
        with self.lock:
            self.messages += 1
            n = self.messages
        write_atomic(os.path.join(self.folder, "messages", "%04d.json" % n),
                     json.dumps(record).encode())

    def save_transcript(self, number, lines):
        write_atomic(os.path.join(self.folder, "transcripts", "%04d.txt" % number), b"".join(lines))


class Handler:
    def __init__(self, options, recorder):
        self.options = options
        self.recorder = recorder

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        if not self.options.mechanisms:
            responses = [r for r in responses if not r.startswith("250-AUTH")]
        return responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.options.refuse:
            return "550 5.1.1 Recipient refused"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        content = envelope.original_content or b""
        self.recorder.save_message({
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "content": content.decode("latin-1"),
            "login": getattr(session.auth_data, "login", b"").decode("latin-1"),
            "mechanism": getattr(server, "auth_mechanism_used", ""),
            "tls": server.is_tls(),
        })
        return "250 Message accepted for delivery"

    async def auth_CRAM__MD5(self, server, args):
        server.auth_mechanism_used = "CRAM-MD5"
        challenge = ("<%s.%d@zunaro.test>" % (secrets.token_hex(8), os.getpid())).encode()
        answer = await server.challenge_auth(challenge)
        if not isinstance(answer, bytes) or b" " not in answer:
            return AuthResult(success=False, handled=False)
        login, digest = answer.rsplit(b" ", 1)
        expected = hmac.new(self.options.password.encode(), challenge, hashlib.md5).hexdigest().encode()
        ok = login == self.options.user.encode() and hmac.compare_digest(digest, expected)
        return AuthResult(success=ok, handled=False,
                          auth_data=LoginPassword(login, b"") if ok else None)

    async def auth_DIGEST__MD5(self, server, args):
        server.auth_mechanism_used = "DIGEST-MD5"
        realm = self.options.realm.encode()
        nonce = secrets.token_hex(12).encode()
        parts = []
        if realm:
            parts.append(b'realm="' + realm + b'"')
        parts.append(b'nonce="' + nonce + b'"')
        parts.append(b'qop="auth",charset=utf-8,algorithm=md5-sess')
        answer = await server.challenge_auth(b",".join(parts))
        if not isinstance(answer, bytes):
            return AuthResult(success=False, handled=False)
        d = parse_directives(answer)
        user = self.options.user.encode()
        password = self.options.password.encode()
        uri = d.get("digest-uri", b"")
        cnonce = d.get("cnonce", b"")
        nc = d.get("nc", b"")
        if (d.get("username") != user or d.get("nonce") != nonce or d.get("realm", b"") != realm
                or d.get("qop") != b"auth" or nc != b"00000001" or not uri.startswith(b"smtp/")
                or not cnonce):
            return AuthResult(success=False, handled=False)
        a1 = md5(user + b":" + realm + b":" + password) + b":" + nonce + b":" + cnonce
        ha1 = md5_hex(a1)

        def response(a2):
            return md5_hex(ha1 + b":" + nonce + b":" + nc + b":" + cnonce + b":auth:" + md5_hex(a2))

        if not hmac.compare_digest(d.get("response", b""), response(b"AUTHENTICATE:" + uri)):
            return AuthResult(success=False, handled=False)
        final = await server.challenge_auth(b"rspauth=" + response(b":" + uri))
        if final != b"":
            return AuthResult(success=False, handled=False)
        return AuthResult(success=True, handled=False, auth_data=LoginPassword(user, b""))


class RecordingSMTP(SMTP):
    """aiosmtpd's server, keeping what each connection said in both directions."""

    def __init__(self, *args, recorder=None, implicit_tls=False, **kwargs):
        super().__init__(*args, **kwargs)
        self.recorder = recorder
        self.implicit_tls = implicit_tls
        self.number = recorder.next_connection()
        self.transcript = []
        self.client_bytes = b""
        self.auth_mechanism_used = ""

    def is_tls(self):
        return self.implicit_tls or self._tls_protocol is not None

    def data_received(self, data):
        self.client_bytes += data
        super().data_received(data)

    def flush_client(self):
        if self.client_bytes:
            for line in self.client_bytes.split(b"\r\n")[:-1]:
                self.transcript.append(b"C: " + line + b"\r\n")
            self.client_bytes = self.client_bytes.split(b"\r\n")[-1]

    async def push(self, status):
        self.flush_client()
        text = status.encode() if isinstance(status, str) else status
        self.transcript.append(b"S: " + text + b"\r\n")
        await super().push(status)

    async def smtp_AUTH(self, arg):
        if arg and arg.split()[0].upper() in ("LOGIN", "PLAIN"):
            self.auth_mechanism_used = arg.split()[0].upper()
        await super().smtp_AUTH(arg)

    def connection_lost(self, error):
        self.client_bytes += b"\r\n" if self.client_bytes else b""
        self.flush_client()
        self.recorder.save_transcript(self.number, self.transcript)
        super().connection_lost(error)


def main():
    # aiosmtpd itself still fills the deprecated Session.login_data on every login and
    # logs a warning for it each time.
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--user", default="alarm@zunaro.test")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--mechanisms", default=",".join(ALL_MECHANISMS),
                        help="AUTH mechanisms offered; empty offers no AUTH")
    parser.add_argument("--realm", default="zunaro.test")
    parser.add_argument("--refuse", action="append", default=[], help="recipient to refuse")
    options = parser.parse_args()

    os.makedirs(options.dir, exist_ok=True)
    ca_pem, pem, key = make_certificates(os.path.join(options.dir, "certs"))
    recorder = Recorder(options.dir)
    handler = Handler(options, recorder)

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (auth_data.login == options.user.encode()
              and auth_data.password == options.password.encode())
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    offered = [m for m in options.mechanisms.split(",") if m]
    excluded = [m for m in ALL_MECHANISMS if m not in offered]

    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(pem, key)

    def factory(implicit):
        def make():
            kwargs = dict(authenticator=authenticator, auth_require_tls=False,
                          auth_exclude_mechanism=excluded, recorder=recorder, implicit_tls=implicit,
                          hostname="zunaro.test")
            if not implicit:
                kwargs["tls_context"] = context
            return RecordingSMTP(handler, **kwargs)
        return make

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    # Clients that refuse the certificate are part of the tests: one line, not a traceback.
    loop.set_exception_handler(
        lambda _, context: print("smtp_server:", context.get("message"), context.get("exception"),
                                 file=sys.stderr))
    plain = loop.run_until_complete(loop.create_server(factory(False), "127.0.0.1", 0))
    tls = loop.run_until_complete(loop.create_server(factory(True), "127.0.0.1", 0, ssl=context))
    write_atomic(os.path.join(options.dir, "ready.json"), json.dumps({
        "plain_port": plain.sockets[0].getsockname()[1],
        "tls_port": tls.sockets[0].getsockname()[1],
        "ca_file": ca_pem,
    }).encode())

    def stop(*_):
        loop.call_soon_threadsafe(loop.stop)

    signal.signal(signal.SIGTERM, stop)

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(1):
                pass
        finally:
            stop()

    threading.Thread(target=watch_stdin, daemon=True).start()
    try:
        loop.run_forever()
    finally:
        plain.close()
        tls.close()


if __name__ == "__main__":
    main()
