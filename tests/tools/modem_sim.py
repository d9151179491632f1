#!/usr/bin/python3
"""GSM modem simulator on the far side of a pty pair.

The slave side of the pty is published as a symbolic link (--link); the program under test
opens that link as its serial device. The simulator answers the AT commands of an SMS
modem in PDU mode and writes every byte it receives to a transcript file.

Replies can be altered per command with --rule COMMAND=ACTION[*COUNT]. COMMAND is the
start of a command line ("AT+CMGS", "AT+CMGL", "AT+CMGD", "AT+CSCA?", "AT") or "PDU" for
the PDU text that ends with Ctrl-Z. ACTION is one of
  ok          the normal answer
  error       "\r\nERROR\r\n"
  silent      no answer
  late:MS     the normal answer MS milliseconds late
  garbage     a few hundred random bytes, no final result
  split:MS    the normal answer in small pieces MS milliseconds apart
  flood:N     N bytes of hex digits without a final result
  hangup      close the pty at once (the device is unplugged)
COUNT limits the rule to its first COUNT matches; later matches get the next rule for the
same command, or the normal answer.

Inbox: --inbox FILE holds a JSON list of [index, pdu] pairs. "AT+CMGL=0" lists the unread
ones and marks them read; "AT+CMGD=n" deletes n. --garbage-stream sends random bytes
without end and answers nothing. The simulator ends on SIGTERM, removing its link.
"""

import argparse
import json
import os
import random
import select
import signal
import sys
import time
import tty


class Modem:
    def __init__(self, args):
        self.args = args
        self.smsc = args.smsc
        self.echo = True
        self.rules = []  # [command, action, remaining or None]
        for r in args.rule:
            cmd, _, action = r.partition("=")
            count = None
            if "*" in action:
                action, _, n = action.partition("*")
                count = int(n)
            self.rules.append([cmd, action, count])
        self.inbox = []  # [index, pdu, read]
        if args.inbox:
            with open(args.inbox) as f:
                for index, pdu in json.load(f):
                    self.inbox.append([int(index), pdu, False])
        self.transcript = open(args.transcript, "ab", buffering=0) if args.transcript else None
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.pending = bytearray()
        self.pdu_mode = False
        self.sent = 0
        self.alive = True

    def publish(self):
        name = os.ttyname(self.slave)
        tmp = self.args.link + ".tmp"
        try:
            os.unlink(tmp)
        except FileNotFoundError:
            pass
        os.symlink(name, tmp)
        os.replace(tmp, self.args.link)

    def unpublish(self):
        try:
            if os.path.islink(self.args.link) and os.readlink(self.args.link) == os.ttyname(self.slave):
                os.unlink(self.args.link)
        except OSError:
            pass

    def write(self, data):
        if not self.alive:
            return
        if isinstance(data, str):
            data = data.encode("latin-1")
        view = memoryview(data)
        while view:
            try:
                n = os.write(self.master, view)
            except BlockingIOError:
                # The other side reads slowly (or not at all): drain nothing, just wait.
                select.select([], [self.master], [], 0.05)
                continue
            except OSError:
                return
            view = view[n:]

    def action_for(self, line):
        for rule in self.rules:
            cmd, action, count = rule
            if line.startswith(cmd) and (count is None or count > 0):
                if count is not None:
                    rule[2] = count - 1
                return action
        return "ok"

    def answer(self, line, normal):
        action = self.action_for(line)
        if action == "ok":
            self.write(normal)
        elif action == "error":
            self.write("\r\nERROR\r\n")
        elif action == "silent":
            pass
        elif action.startswith("late:"):
            time.sleep(int(action[5:]) / 1000.0)
            self.write(normal)
        elif action == "garbage":
            self.write(bytes(random.getrandbits(8) for _ in range(300)).replace(b"OK", b"ok"))
        elif action.startswith("split:"):
            gap = int(action[6:]) / 1000.0
            data = normal.encode("latin-1")
            for i in range(0, len(data), 7):
                self.write(data[i:i + 7])
                time.sleep(gap)
        elif action.startswith("flood:"):
            n = int(action[6:])
            chunk = b"0123456789ABCDEF" * 64
            while n > 0:
                self.write(chunk[:n])
                n -= len(chunk)
        elif action == "hangup":
            self.hangup()
        return action

    def hangup(self):
        self.unpublish()
        os.close(self.master)
        os.close(self.slave)
        self.alive = False

    def command(self, line):
        if self.echo:
            self.write(line + "\r")
        upper = line.upper()
        if upper == "AT":
            self.answer(upper, "\r\nOK\r\n")
        elif upper == "ATE0":
            self.echo = False
            self.answer(upper, "\r\nOK\r\n")
        elif upper.startswith("AT+CMGF="):
            self.answer(upper, "\r\nOK\r\n")
        elif upper == "AT+CSCA?":
            if self.smsc:
                self.answer(upper, '\r\n+CSCA: "%s",145\r\n\r\nOK\r\n' % self.smsc)
            else:
                self.answer(upper, "\r\nERROR\r\n")
        elif upper.startswith("AT+CMGS="):
            if self.answer(upper, "\r\n> ") == "ok":
                self.pdu_mode = True
        elif upper.startswith("AT+CMGL="):
            unread = [e for e in self.inbox if not e[2]]
            body = "".join("\r\n+CMGL: %d,0,,%d\r\n%s" % (e[0], len(e[1]) // 2 - 8, e[1])
                           for e in unread)
            action = self.answer(upper, body + "\r\n\r\nOK\r\n")
            if action == "ok" or action.startswith(("late", "split")):
                for e in unread:
                    e[2] = True  # listed messages count as read, as on a real modem
        elif upper.startswith("AT+CMGD="):
            index = int(upper[8:]) if upper[8:].isdigit() else -1
            action = self.answer(upper, "\r\nOK\r\n")
            if action == "ok" or action.startswith(("late", "split")):
                self.inbox = [e for e in self.inbox if e[0] != index]
        elif upper:
            self.write("\r\nERROR\r\n")

    def pdu(self):
        self.pdu_mode = False
        self.sent += 1
        self.answer("PDU", "\r\n+CMGS: %d\r\n\r\nOK\r\n" % self.sent)

    def feed(self, data):
        if self.transcript:
            self.transcript.write(data)
        self.pending += data
        while self.alive:
            if self.pdu_mode:
                end = self.pending.find(b"\x1a")
                if end < 0:
                    return
                del self.pending[:end + 1]
                self.pdu()
            else:
                end = self.pending.find(b"\r")
                if end < 0:
                    return
                line = bytes(self.pending[:end]).decode("latin-1").strip()
                del self.pending[:end + 1]
                self.command(line)

    def run(self):
        os.set_blocking(self.master, False)
        self.publish()
        parent = os.getppid()
        while self.alive:
            if os.getppid() != parent:
                break  # the test that started us is gone
            writers = [self.master] if self.args.garbage_stream else []
            r, w, _ = select.select([self.master], writers, [], 0.2)
            if r:
                try:
                    data = os.read(self.master, 4096)
                except BlockingIOError:
                    data = b""
                except OSError:
                    data = b""
                    time.sleep(0.01)  # no reader on the slave side right now
                if data and self.args.garbage_stream:
                    if self.transcript:
                        self.transcript.write(data)  # noise only: no command is answered
                elif data:
                    self.feed(data)
            if w and self.alive:
                try:
                    os.write(self.master, bytes(random.getrandbits(8) for _ in range(64)))
                except OSError:
                    time.sleep(0.01)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--link", required=True)
    p.add_argument("--smsc", default="+8613800000500")
    p.add_argument("--inbox")
    p.add_argument("--transcript")
    p.add_argument("--rule", action="append", default=[])
    p.add_argument("--garbage-stream", action="store_true")
    args = p.parse_args()
    modem = Modem(args)

    def stop(*_):
        if modem.alive:
            modem.unpublish()
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    parent = os.getppid()
    modem.run()
    # After a hang-up the simulator stays until it is told to end (or its parent ends).
    while os.getppid() == parent:
        time.sleep(0.2)
    stop()


if __name__ == "__main__":
    main()
