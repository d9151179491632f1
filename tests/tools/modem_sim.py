#!/usr/bin/python3
"""GSM modem simulator (SMS in PDU mode) on a pty pair whose slave is published at --link.

Every byte received goes to --transcript. --rule COMMAND=ACTION[*COUNT] changes the answer
to the first COUNT (else all) commands starting with COMMAND ("PDU": text ending in Ctrl-Z):
ok, error, silent, late:MS, garbage (random bytes), split:MS (7-byte pieces MS ms apart),
flood:N (N hex digits), hangup (close the pty). --inbox INDEX:PDU fills the inbox (CMGL lists
and marks read, CMGD deletes). ESC drops a PDU. Ends when standard input closes.
"""

import argparse
import os
import random
import select
import time
import tty

class Modem:
    def __init__(self, args):
        self.args, self.echo, self.pdu_mode, self.sent, self.alive = args, True, False, 0, True
        self.rules = [[c, a.partition("*")[0], int(a.partition("*")[2] or -1)]
                      for c, _, a in (r.partition("=") for r in args.rule)]  # -1: no limit
        self.inbox = [[int(i), pdu, False] for i, _, pdu in (e.partition(":") for e in args.inbox)]
        self.transcript = open(args.transcript, "ab", buffering=0)
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.pending = bytearray()

    def unpublish(self):
        if self.alive and os.path.islink(self.args.link):
            os.unlink(self.args.link)

    def write(self, data):
        view = memoryview(data.encode("latin-1") if isinstance(data, str) else data)
        while view and self.alive:
            try:
                view = view[os.write(self.master, view):]
            except BlockingIOError:  # the other side reads slowly or not at all
                select.select([], [self.master], [], 0.05)
            except OSError:
                return

    def answer(self, line, normal):
        rule = next((r for r in self.rules if line.startswith(r[0]) and r[2] != 0), None)
        if rule and rule[2] > 0:
            rule[2] -= 1
        kind, _, arg = (rule[1] if rule else "ok").partition(":")
        time.sleep(int(arg) / 1000.0 if kind == "late" else 0)
        if self.echo and kind not in ("silent", "hangup"):  # a silent modem echoes nothing
            self.write(line + "\r")
        if kind in ("ok", "late", "error"):
            self.write("\r\nERROR\r\n" if kind == "error" else normal)
        elif kind == "garbage":
            self.write(bytes(random.getrandbits(8) for _ in range(300)).replace(b"OK", b"ok"))
        elif kind == "split":
            for i in range(0, len(normal), 7):
                self.write(normal[i:i + 7])
                time.sleep(int(arg) / 1000.0)
        elif kind == "flood":
            self.write(("0123456789ABCDEF" * (int(arg) // 16 + 1))[:int(arg)])
        elif kind == "hangup":
            self.unpublish()
            os.close(self.master)
            os.close(self.slave)
            self.alive = False
        return kind in ("ok", "late", "split")  # the command took effect

    def command(self, up):
        if up in ("AT", "ATE0") or up.startswith("AT+CMGF="):
            self.answer(up, "\r\nOK\r\n")
            self.echo = self.echo and up != "ATE0"
        elif up == "AT+CSCA?":
            smsc = self.args.smsc
            self.answer(up, '\r\n+CSCA: "%s",145\r\n\r\nOK\r\n' % smsc if smsc else "\r\nERROR\r\n")
        elif up.startswith("AT+CMGS="):
            self.pdu_mode = self.answer(up, "\r\n> ")
        elif up.startswith("AT+CMGL="):
            unread = [e for e in self.inbox if not e[2]]
            body = "".join("\r\n+CMGL: %d,0,,%d\r\n%s" % (e[0], len(e[1]) // 2 - 8, e[1])
                           for e in unread)
            if self.answer(up, body + "\r\n\r\nOK\r\n"):
                for e in unread:
                    e[2] = True  # listed messages count as read, as on a real modem
        elif up.startswith("AT+CMGD="):
            if self.answer(up, "\r\nOK\r\n"):
                self.inbox = [e for e in self.inbox if str(e[0]) != up[8:]]
        elif up:
            self.write("\r\nERROR\r\n")

    def feed(self, data):
        self.pending += data
        while self.alive:
            ends = [self.pending.find(c) for c in (b"\x1a\x1b" if self.pdu_mode else b"\r")]
            end = min([e for e in ends if e >= 0], default=-1)
            if end < 0:
                return
            stop, line = self.pending[end], bytes(self.pending[:end]).decode("latin-1")
            del self.pending[:end + 1]
            if not self.pdu_mode:
                self.command(line.replace("\x1b", "").strip().upper())
            elif stop == 0x1A:
                self.sent += 1
                self.answer("PDU", "\r\n+CMGS: %d\r\n\r\nOK\r\n" % self.sent)
            self.pdu_mode = self.pdu_mode and stop not in (0x1A, 0x1B)

    def run(self):
        os.set_blocking(self.master, False)
        os.symlink(os.ttyname(self.slave), self.args.link + ".tmp")
        os.replace(self.args.link + ".tmp", self.args.link)
        while True:
            ready = select.select([0] + ([self.master] if self.alive else []), [], [], 0.2)[0]
            if 0 in ready and not os.read(0, 64):
                break
            if self.master in ready:
                try:
                    data = os.read(self.master, 4096)
                except OSError:
                    time.sleep(0.01)  # no reader on the slave side right now
                    continue
                self.transcript.write(data)
                self.feed(data)
        self.unpublish()

def main():
    p = argparse.ArgumentParser()
    p.add_argument("--link", required=True)
    p.add_argument("--transcript", default=os.devnull)
    p.add_argument("--smsc", default="+8613800000500")
    p.add_argument("--inbox", action="append", default=[])
    p.add_argument("--rule", action="append", default=[])
    Modem(p.parse_args()).run()

if __name__ == "__main__":
    main()
