#!/usr/bin/python3
"""Reads every article of a newsgroup over a plain NNTP connection (GROUP, then ARTICLE for
each number) and prints what a reader sees, parsed by Python's email package, one fact a line:

  article N
  h:NAME VALUE            each header (lower-case name), unfolded
  addr:FIELD NAME|ADDR    mailboxes of from, sender, reply-to
  part PATH TYPE CHARSET FILENAME SIZE SHA256    each leaf part (PATH "m", "m.0", "m.1.0"...)
  multipart PATH TYPE CHILDREN
  text PATH TEXT          decoded text of text/* parts, CR and LF escaped
  defects N

usage: nntp_articles.py PORT GROUP [USER PASSWORD]
"""
import hashlib
import socket
import sys
from email import policy
from email.parser import BytesParser


def main():
    port, group = int(sys.argv[1]), sys.argv[2]
    sock = socket.create_connection(("127.0.0.1", port), timeout=30)
    f = sock.makefile("rwb")

    def command(line):
        if line is not None:
            f.write(line.encode() + b"\r\n")
            f.flush()
        reply = f.readline().decode().rstrip("\r\n")
        return int(reply[:3]), reply

    command(None)
    if len(sys.argv) > 4:
        command("AUTHINFO USER " + sys.argv[3])
        command("AUTHINFO PASS " + sys.argv[4])
    code, reply = command("GROUP " + group)
    if code != 211:
        sys.exit("GROUP: " + reply)
    _, count, first, last = reply.split()[:4]
    for number in range(int(first), int(last) + 1) if int(count) else []:
        code, reply = command("ARTICLE %d" % number)
        if code != 220:
            continue
        data = bytearray()
        while True:
            line = f.readline()
            if line in (b".\r\n", b""):
                break
            if line.startswith(b"."):
                line = line[1:]
            data += line
        show(number, bytes(data))
    command("QUIT")


def show(number, data):
    msg = BytesParser(policy=policy.default).parsebytes(data)
    print("article %d" % number)
    for name, value in msg.items():
        print("h:%s %s" % (name.lower(), " ".join(str(value).split())))
    for field in ("from", "sender", "reply-to"):
        for header in msg.get_all(field) or []:
            for a in header.addresses:
                print("addr:%s %s|%s" % (field, a.display_name, a.addr_spec))
    defects = []

    def walk(part, path):
        defects.extend(part.defects)
        if part.is_multipart():
            children = part.get_payload()
            print("multipart %s %s %d" % (path, part.get_content_type(), len(children)))
            for i, child in enumerate(children):
                walk(child, "%s.%d" % (path, i))
            return
        payload = part.get_payload(decode=True) or b""
        print("part %s %s %s %s %d %s" % (path, part.get_content_type(), part.get_content_charset() or "-",
                                        part.get_filename() or "-", len(payload),
                                        hashlib.sha256(payload).hexdigest()))
        if part.get_content_maintype() == "text":
            text = part.get_content().replace("\r\n", "\n")
            print("text %s %s" % (path, text.replace("\r", "\\r").replace("\n", "\\n")))

    walk(msg, "m")
    print("defects %d" % len(defects))


if __name__ == "__main__":
    main()
