#!/usr/bin/python3
"""A scripted OSCAR service for tests and demos, on 127.0.0.1.

Written from the public protocol notes (FLAP framing, SNAC headers, TLV chains, the ICQ
server's little-endian request blocks), not from any client: a login server on --port that
checks the roasted password and hands over a cookie, a session server on a port of its own
that walks the client through families, rates and the BOS rights, and relays messages between
the clients signed on to it. It writes one JSON line per event to --log.

Faults and answers are chosen on the command line:
  --login ok|rate-limited|no-cookie|bad-address|truncated|wrong-channel|close|silent
  --sms accept|undeliverable|refuse|silent      how SMS requests are answered
  --sms-reply TEXT                              after an accepted SMS, the phone answers
  --offline FROM:TEXT                           a stored message for whoever asks (repeatable)
  --pending FROM:TEXT                           an online message, held until client-ready
  --unknown-snac                                the session server starts with a SNAC nobody knows
  --register ok|refuse|close                    how the login server answers a new-UIN registration
  --new-uin N                                   the UIN a registration gets
  --ssi-result N                                the code each server-side list edit is answered with
  --pending-plugin FROM:KIND                    a channel-2 plug-in message (contacts, contacts-request,
                                                url, file) under the plug-in's Russian name, held
                                                until client-ready
"""
import argparse
import json
import socket
import struct
import sys
import threading
import time

ROAST = bytes([0xF3, 0x26, 0x81, 0xC4, 0x39, 0x86, 0xDB, 0x92,
               0x71, 0xA3, 0xB9, 0xE6, 0x53, 0x7A, 0x95, 0x7C])

LOCK = threading.Lock()
LOG = None
ARGS = None
COOKIES = {}    # cookie bytes -> uin
SESSIONS = {}   # uin -> Session (on the session server; .ready after client-ready)
OFFLINE = []    # (from uin, text) stored messages for anyone


def log(event, **fields):
    fields["event"] = event
    with LOCK:
        LOG.write(json.dumps(fields) + "\n")
        LOG.flush()


def tlv(t, value):
    return struct.pack(">HH", t, len(value)) + value


def parse_tlvs(data):
    out = []
    i = 0
    while i + 4 <= len(data):
        t, n = struct.unpack_from(">HH", data, i)
        out.append((t, data[i + 4:i + 4 + n]))
        i += 4 + n
    return out


def lnts(text):
    raw = text.encode("utf-8") + b"\0"
    return struct.pack("<H", len(raw)) + raw


class Conn:
    def __init__(self, sock):
        self.sock = sock
        self.seq = 0x1234
        self.buf = b""
        self.wlock = threading.Lock()

    def send(self, channel, data):
        with self.wlock:
            pkt = struct.pack(">BBHH", 0x2A, channel, self.seq, len(data)) + data
            self.seq = (self.seq + 1) & 0xFFFF
            try:
                self.sock.sendall(pkt)
            except OSError:
                pass

    def snac(self, family, subtype, data=b"", reqid=0):
        self.send(2, struct.pack(">HHHI", family, subtype, 0, reqid) + data)

    def read_flap(self):
        while True:
            if len(self.buf) >= 6:
                _, ch, _, n = struct.unpack_from(">BBHH", self.buf, 0)
                if len(self.buf) >= 6 + n:
                    data = self.buf[6:6 + n]
                    self.buf = self.buf[6 + n:]
                    return ch, data
            try:
                chunk = self.sock.recv(65536)
            except OSError:
                return None
            if not chunk:
                return None
            self.buf += chunk


# --- login server -------------------------------------------------------------------------

def serve_login(sock, bos_port):
    c = Conn(sock)
    if ARGS.login == "silent":
        log("login_silent")
        while c.read_flap() is not None:
            pass
        return
    c.send(1, struct.pack(">I", 1))
    flap = c.read_flap()
    if flap is None or flap[0] != 1:
        return
    if len(flap[1]) == 4:
        # A bare hello: the client asks for a new UIN instead of signing on.
        serve_registration(c)
        return
    tlvs = dict(parse_tlvs(flap[1][4:]))
    uin = tlvs.get(1, b"").decode("ascii", "replace")
    roasted = tlvs.get(2, b"")
    password = bytes(b ^ ROAST[i % 16] for i, b in enumerate(roasted)).decode("utf-8", "replace")
    log("ident", uin=uin, password_ok=password == ARGS.password)
    mode = ARGS.login
    if mode == "close":
        sock.close()
        return
    if password != ARGS.password:
        # Failed logins: the UIN, an error URL and the error code (5: wrong password).
        c.send(4, tlv(1, uin.encode()) + tlv(4, b"http://www.example.net/badpw") + tlv(8, struct.pack(">H", 5)))
    elif mode == "rate-limited":
        c.send(4, tlv(1, uin.encode()) + tlv(4, b"http://www.example.net/rate") + tlv(8, struct.pack(">H", 0x18)))
    elif mode == "no-cookie":
        c.send(4, tlv(1, uin.encode()) + tlv(5, b"127.0.0.1:%d" % bos_port))
    elif mode == "bad-address":
        c.send(4, tlv(1, uin.encode()) + tlv(5, b"127.0.0.1") + tlv(6, b"C" * 256))
    elif mode == "truncated":
        # The address TLV claims more bytes than the packet holds.
        body = tlv(1, uin.encode()) + struct.pack(">HH", 5, 200) + b"127.0.0.1:1"
        c.send(4, body)
    elif mode == "wrong-channel":
        c.send(3, tlv(1, uin.encode()))
    else:
        cookie = ("%08d" % int(time.time() * 1000 % 1e8)).encode() + uin.encode() + b"x" * 200
        with LOCK:
            COOKIES[cookie] = uin
        c.send(4, tlv(1, uin.encode()) + tlv(5, b"127.0.0.1:%d" % bos_port) + tlv(6, cookie))
    # The login server leaves once it answered; the client closes too.
    time.sleep(0.2)
    sock.close()


def serve_registration(c):
    flap = c.read_flap()
    if flap is None or flap[0] != 2 or len(flap[1]) < 10:
        log("register_odd")
        return
    family, subtype, _, reqid = struct.unpack_from(">HHHI", flap[1], 0)
    block = dict(parse_tlvs(flap[1][10:])).get(1, b"")
    # The request block: 4 zero bytes, command 0x28 and sequence, 8 zero bytes, the cookie
    # twice, 16 zero bytes, then the password (LNTS).
    password = ""
    if len(block) >= 42:
        n = struct.unpack_from("<H", block, 40)[0]
        password = block[42:42 + n].rstrip(b"\0").decode("utf-8", "replace")
    cookie = block[16:20] if len(block) >= 20 else b"\0" * 4
    log("register", family=family, subtype=subtype, password=password)
    mode = ARGS.register
    if mode == "close":
        c.send(4, b"")
    elif mode == "refuse":
        c.snac(0x17, 0x01, b"", reqid)
        c.send(4, b"")
    else:
        # The answer block, little-endian: length, 4 zero bytes, command 0x2D, sequence, port,
        # address, a word 4, the cookie, 16 zero bytes, the new UIN, the cookie again.
        body = (struct.pack("<IHHII", 0, 0x2D, 3, 0, 0x0100007F) + struct.pack(">I", 4) + cookie + b"\0" * 16 +
                struct.pack("<I", ARGS.new_uin) + cookie)
        c.snac(0x17, 0x05, tlv(1, struct.pack("<H", len(body)) + body), reqid)
        c.send(4, b"")
    time.sleep(0.2)
    c.sock.close()


# --- session server -----------------------------------------------------------------------

class Session:
    def __init__(self, conn, uin, addr):
        self.c = conn
        self.uin = uin
        self.addr = addr
        self.ready = False
        self.status = 0
        self.dc = b""
        self.contacts = set()
        self.pending = []  # SNAC bodies held until client-ready
        self.ssi = []      # server-side list items: (name, group id, item id, type)


def user_online_body(s):
    tl = [tlv(1, struct.pack(">H", 0x0050))]
    if s.dc:
        tl.append(tlv(0x0C, s.dc))
    tl.append(tlv(0x0A, socket.inet_aton(s.addr)))
    tl.append(tlv(6, struct.pack(">I", s.status)))
    tl.append(tlv(3, struct.pack(">I", int(time.time()))))
    u = s.uin.encode()
    return bytes([len(u)]) + u + struct.pack(">HH", 0, len(tl)) + b"".join(tl)


def recvmsg_body(from_uin, text):
    inner = tlv(0x0501, b"\x01") + tlv(0x0101, struct.pack(">HH", 0, 0) + text.encode("cp1252", "replace"))
    u = from_uin.encode()
    return (b"\0" * 8 + struct.pack(">H", 1) + bytes([len(u)]) + u + struct.pack(">HH", 0, 0) + tlv(2, inner))


# Plug-in names of Russian-language clients (Windows-1251) and what each carries.
RUSSIAN_PLUGINS = {
    "contacts": ("Контакты", "467D0E2A767611D4BCE60004AC961EA6", b"2\xfe3003\xfecarol\xfe4004\xfedave\xfe"),
    "contacts-request": ("Запрос контактов", "467D0E2A767611D4BCE60004AC961EA6", b"please"),
    "url": ("Адрес веб-страницы (URL)", "00000000000000000000000000000000",
            b"example page\xfehttp://www.example.net/"),
    "file": ("Файл", "D9122DF0913011D38DD700104B06462E", None),
}


def plugin_msg_body(from_uin, kind):
    """A channel-2 message carrying a plug-in block (message type 0x1A, empty text)."""
    name, guid, data = RUSSIAN_PLUGINS[kind]
    name = name.encode("cp1251")
    guid = bytes.fromhex(guid)
    head = guid + struct.pack("<HI", 0, len(name)) + name + b"\0\0\x01" + b"\0" * 12
    if data is None:
        # The file data: description, port, file name, size.
        desc, fname = b"holiday", b"pictures.bin"
        data = (struct.pack("<H", len(desc) + 1) + desc + b"\0" + struct.pack(">HH", 0, 0) +
                struct.pack("<H", len(fname) + 1) + fname + b"\0" + struct.pack("<II", 5000, 0))
    block = struct.pack("<H", len(head)) + head + struct.pack("<II", len(data) + 4, len(data)) + data
    seq = 7
    msg = (struct.pack("<HH", 0x1B, 8) + b"\0" * 16 + struct.pack("<HIBH", 0, 3, 0, seq) +
           struct.pack("<HH", 0x0E, seq) + b"\0" * 12 + struct.pack("<BBHH", 0x1A, 0, 0, 0) +
           struct.pack("<H", 1) + b"\0" + block)
    cap = bytes.fromhex("094613494C7F11D18222444553540000")
    tlv5 = struct.pack(">H", 0) + b"\0" * 8 + cap + tlv(0x0A, struct.pack(">H", 1)) + tlv(0x0F, b"") + tlv(0x2711, msg)
    u = from_uin.encode()
    return b"\0" * 8 + struct.pack(">H", 2) + bytes([len(u)]) + u + struct.pack(">HH", 0, 0) + tlv(5, tlv5)


def srv_reply(uin, command, seq, data):
    block = struct.pack("<IHH", int(uin), command, seq) + data
    return tlv(1, struct.pack("<H", len(block)) + block)


def meta(s, seq, subtype, result, data=b"", reqid=0):
    s.c.snac(0x15, 0x03, srv_reply(s.uin, 0x07DA, seq, struct.pack("<HB", subtype, result) + data), reqid)


def notify_watchers(s, online=True):
    for other in list(SESSIONS.values()):
        if other is s or not other.ready or s.uin not in other.contacts:
            continue
        if online:
            other.c.snac(3, 0x0B, user_online_body(s))
        else:
            u = s.uin.encode()
            other.c.snac(3, 0x0C, bytes([len(u)]) + u + struct.pack(">HH", 0, 0))


def handle_icqsrv(s, data, reqid):
    tlvs = dict(parse_tlvs(data))
    block = tlvs.get(1, b"")
    if len(block) < 10:
        log("bad_icqsrv")
        return
    _, _, command, seq = struct.unpack_from("<HIHH", block, 0)
    body = block[10:]
    if command == 60:
        log("offline_request", uin=s.uin)
        for frm, text in OFFLINE:
            t = time.gmtime()
            msg = struct.pack("<IHBBBBBB", int(frm), t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, 1, 0)
            s.c.snac(0x15, 0x03, srv_reply(s.uin, 0x41, seq, msg + lnts(text)), reqid)
        s.c.snac(0x15, 0x03, srv_reply(s.uin, 0x42, seq, b"\0"), reqid)
    elif command == 62:
        log("offline_ack", uin=s.uin, seq=seq)
    elif command == 2000 and len(body) >= 2:
        subtype = struct.unpack_from("<H", body, 0)[0]
        handle_meta(s, seq, subtype, body[2:], reqid)
    else:
        log("icqsrv", command=command)


def xml_entry(xml, name):
    a = xml.find("<%s>" % name)
    b = xml.find("</%s>" % name)
    return xml[a + len(name) + 2:b] if a >= 0 and b > a else ""


def handle_meta(s, seq, subtype, data, reqid):
    if subtype == 0x1482:
        # 00 01 00 16, 16 zero bytes, then a TLV holding the XML and a final zero.
        inner = parse_tlvs(data[20:])
        xml = inner[0][1].rstrip(b"\0").decode("utf-8", "replace") if inner else ""
        dest = xml_entry(xml, "destination")
        log("sms", uin=s.uin, destination=dest, text=xml_entry(xml, "text"), xml=xml)
        mode = ARGS.sms
        if mode == "silent":
            return
        if mode == "refuse":
            meta(s, seq, 0x0001, 0x32, b"", reqid)
            return
        deliverable = "Yes" if mode == "accept" else "No"
        answer = ("<sms_response><source>sms.example.net</source><deliverable>%s</deliverable>"
                  "<network>Example Mobile</network><message_id>%s-%d</message_id>"
                  "<messages_left>0</messages_left></sms_response>" % (deliverable, dest, seq)).encode()
        meta(s, seq, 0x0096, 0x0A, struct.pack(">HHHHHH", 1, 0x96, 0, 0, 0, 0) +
             struct.pack(">H", len(answer)) + answer, reqid)
        if mode == "accept" and ARGS.sms_reply:
            reply = ("<sms_message><source>sms.example.net</source><destination_UIN>%s</destination_UIN>"
                     "<sender>%s</sender><senders_network>Example Mobile</senders_network>"
                     "<text>%s</text><time>Fri, 11 Dec 2026 06:00:00 GMT</time></sms_message>"
                     % (s.uin, dest, ARGS.sms_reply)).encode()
            name = b"ICQSMS"
            plugin = (struct.pack("<H", 0x1B) + b"\0" * 16 + struct.pack("<HI", 0, len(name)) + name +
                      b"\0" * 15 + struct.pack("<II", len(reply) + 4, len(reply)) + reply)
            block = struct.pack("<IBB", 1002, 0x1A, 0) + struct.pack("<H", 1) + b"\0" + plugin
            frm = b"1002"
            s.c.snac(4, 7, b"\0" * 8 + struct.pack(">H", 4) + bytes([len(frm)]) + frm + struct.pack(">HH", 0, 0) +
                     tlv(5, block))
    elif subtype in (0x04B2, 0x04BA):
        (uin,) = struct.unpack_from("<I", data, 0)
        log("info_request", uin=uin, short=subtype == 0x04BA)
        names = [b"nick%d" % uin, b"First", b"Last", b"user%d@example.net" % uin]
        fields = b"".join(struct.pack("<H", len(n) + 1) + n + b"\0" for n in names)
        if subtype == 0x04BA:
            meta(s, seq, 0x0104, 0x0A, fields + b"\x01", reqid)
        else:
            rest = b"".join(struct.pack("<H", 1) + b"\0" for _ in range(7))
            meta(s, seq, 0x00C8, 0x0A, fields + rest + struct.pack("<HBB", 49, 0, 1), reqid)
            about = b"about %d" % uin
            meta(s, seq, 0x00E6, 0x0A, struct.pack("<H", len(about) + 1) + about + b"\0", reqid)
    elif subtype in (0x03EA, 0x03FD, 0x0406, 0x042E, 0x0424):
        ack = {0x03EA: 0x0064, 0x03FD: 0x0078, 0x0406: 0x0082, 0x042E: 0x00AA, 0x0424: 0x00A0}[subtype]
        log("meta_set", uin=s.uin, subtype=subtype)
        meta(s, seq, ack, 0x0A, b"", reqid)
    else:
        log("meta", subtype=subtype)


def handle_sendmsg(s, data, reqid):
    cookie = data[:8]
    channel = struct.unpack_from(">H", data, 8)[0]
    n = data[10]
    to = data[11:11 + n].decode("ascii", "replace")
    tlvs = parse_tlvs(data[11 + n:])
    text = ""
    if channel == 1:
        for t, v in tlvs:
            if t == 2:
                for t2, v2 in parse_tlvs(v):
                    if t2 == 0x0101:
                        text = v2[4:].decode("cp1252", "replace")
    elif channel == 4:
        for t, v in tlvs:
            if t == 5 and len(v) >= 8:
                text = v[8:8 + struct.unpack_from("<H", v, 6)[0]].rstrip(b"\0").decode("cp1252", "replace")
    log("message", uin=s.uin, to=to, channel=channel, text=text)
    target = SESSIONS.get(to)
    if target is not None and channel == 1:
        # A session that has not said client-ready yet gets it once it has.
        with LOCK:
            if not target.ready:
                target.pending.append(recvmsg_body(s.uin, text))
                target = None
        if target is not None:
            target.c.snac(4, 7, recvmsg_body(s.uin, text))
    if any(t == 3 for t, _ in tlvs):
        s.c.snac(4, 0x0C, cookie + struct.pack(">H", channel) + bytes([n]) + to.encode(), reqid)


def serve_bos(sock, addr):
    c = Conn(sock)
    c.send(1, struct.pack(">I", 1))
    flap = c.read_flap()
    if flap is None or flap[0] != 1:
        return
    cookie = dict(parse_tlvs(flap[1][4:])).get(6, b"")
    with LOCK:
        uin = COOKIES.pop(cookie, None)
    if uin is None:
        log("bad_cookie")
        c.send(4, b"")
        sock.close()
        return
    s = Session(c, uin, addr)
    s.pending = [recvmsg_body(frm, text) for frm, text in ARGS.pending_msgs]
    s.pending += [plugin_msg_body(frm, kind) for frm, kind in ARGS.pending_plugins]
    with LOCK:
        SESSIONS[uin] = s
    log("session", uin=uin)
    if ARGS.unknown_snac:
        c.snac(0x77, 0x01, b"\x01\x02\x03")
    families = [1, 2, 3, 4, 6, 8, 9, 0x0A, 0x0B, 0x13, 0x15]
    c.snac(1, 3, b"".join(struct.pack(">H", f) for f in families))
    try:
        bos_loop(s)
    finally:
        with LOCK:
            if SESSIONS.get(uin) is s:
                del SESSIONS[uin]
        notify_watchers(s, online=False)
        log("closed", uin=uin)


def bos_loop(s):
    c = s.c
    while True:
        flap = c.read_flap()
        if flap is None:
            return
        ch, data = flap
        if ch == 4:
            log("goodbye", uin=s.uin)
            return
        if ch == 5:
            log("keepalive", uin=s.uin)
            continue
        if ch != 2 or len(data) < 10:
            log("odd_flap", uin=s.uin, channel=ch)
            continue
        family, subtype, _, reqid = struct.unpack_from(">HHHI", data, 0)
        body = data[10:]
        key = (family, subtype)
        if key == (1, 0x17):
            c.snac(1, 0x18, body, reqid)
            c.snac(1, 0x13, struct.pack(">H", 4) + tlv(0x0B, b"Welcome"))
        elif key == (1, 6):
            rates = struct.pack(">H", 1) + struct.pack(">HIIIIIIIIB", 1, 80, 2500, 2000, 1500, 800, 3000, 6000, 0, 0)
            rates += struct.pack(">HH", 1, 0)
            c.snac(1, 7, rates, reqid)
        elif key == (1, 0x0E):
            u = s.uin.encode()
            c.snac(1, 0x0F, bytes([len(u)]) + u + struct.pack(">HH", 0, 0), reqid)
        elif key == (2, 2):
            c.snac(2, 3, tlv(1, struct.pack(">H", 0x400)), reqid)
        elif key == (3, 2):
            c.snac(3, 3, tlv(1, struct.pack(">H", 600)), reqid)
        elif key == (4, 4):
            c.snac(4, 5, struct.pack(">HIHHHHH", 2, 3, 512, 999, 999, 0, 1000), reqid)
        elif key == (9, 2):
            c.snac(9, 3, tlv(1, struct.pack(">H", 500)) + tlv(2, struct.pack(">H", 500)), reqid)
        elif key == (1, 0x1E):
            for t, v in parse_tlvs(body):
                if t == 6 and len(v) == 4:
                    s.status = struct.unpack(">I", v)[0]
                elif t == 0x0C:
                    s.dc = v
            log("status", uin=s.uin, status=s.status, dc_port=struct.unpack_from(">I", s.dc, 4)[0] if len(s.dc) >= 8 else 0)
            if s.ready:
                notify_watchers(s)
        elif key == (1, 2):
            with LOCK:
                s.ready = True
                held, s.pending = s.pending, []
            log("ready", uin=s.uin)
            for body_ in held:
                c.snac(4, 7, body_)
            for other in list(SESSIONS.values()):
                if other is not s and other.ready and other.uin in s.contacts:
                    c.snac(3, 0x0B, user_online_body(other))
            notify_watchers(s)
        elif key == (3, 4):
            i = 0
            while i < len(body):
                n = body[i]
                u = body[i + 1:i + 1 + n].decode("ascii", "replace")
                i += 1 + n
                s.contacts.add(u)
                other = SESSIONS.get(u)
                if s.ready and other is not None and other.ready:
                    c.snac(3, 0x0B, user_online_body(other))
            log("contacts", uin=s.uin, contacts=sorted(s.contacts))
        elif family == 0x13:
            handle_ssi(s, subtype, body, reqid)
        elif key == (4, 6):
            handle_sendmsg(s, body, reqid)
        elif key == (0x15, 2):
            handle_icqsrv(s, body, reqid)
        elif key in ((1, 8), (4, 2), (2, 4), (9, 5), (9, 7), (1, 0x11)):
            pass
        else:
            log("snac", uin=s.uin, family=family, subtype=subtype)


def handle_ssi(s, subtype, body, reqid):
    c = s.c
    if subtype in (0x11, 0x12):
        log("ssi_start" if subtype == 0x11 else "ssi_end", uin=s.uin)
    elif subtype in (8, 9, 0x0A):
        # One or more items: name (u16 length), group id, item id, type, TLV block (u16 length).
        codes = b""
        i = 0
        while i + 2 <= len(body):
            n = struct.unpack_from(">H", body, i)[0]
            name = body[i + 2:i + 2 + n].decode("utf-8", "replace")
            i += 2 + n
            if i + 8 > len(body):
                break
            group, item, kind, tl = struct.unpack_from(">HHHH", body, i)
            tlvs = body[i + 8:i + 8 + tl]
            i += 8 + tl
            op = {8: "add", 9: "update", 0x0A: "delete"}[subtype]
            log("ssi_edit", uin=s.uin, op=op, name=name, group=group, item=item, type=kind, tlvs=tlvs.hex())
            if ARGS.ssi_result == 0:
                key = (name, group, item, kind)
                at = next((j for j, x in enumerate(s.ssi) if x[:4] == key), None)
                if op == "delete":
                    if at is not None:
                        del s.ssi[at]
                elif at is not None:
                    s.ssi[at] = key + (tlvs,)
                else:
                    s.ssi.append(key + (tlvs,))
            codes += struct.pack(">H", ARGS.ssi_result)
        c.snac(0x13, 0x0E, codes, reqid)
    elif subtype == 4:
        items = b"".join(struct.pack(">H", len(n.encode())) + n.encode() + struct.pack(">HHHH", g, it, k, len(t)) + t
                         for n, g, it, k, t in s.ssi)
        c.snac(0x13, 6, b"\0" + struct.pack(">H", len(s.ssi)) + items + struct.pack(">I", int(time.time())), reqid)
        log("ssi_roster", uin=s.uin, items=len(s.ssi))
    else:
        log("snac", uin=s.uin, family=0x13, subtype=subtype)


def accept_loop(listener, serve):
    while True:
        try:
            sock, addr = listener.accept()
        except OSError:
            return
        threading.Thread(target=serve, args=(sock,) + addr, daemon=True).start()


def main():
    global LOG, ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--log", required=True)
    p.add_argument("--password", default="secret")
    p.add_argument("--login", default="ok")
    p.add_argument("--sms", default="accept")
    p.add_argument("--sms-reply", default="")
    p.add_argument("--offline", action="append", default=[])
    p.add_argument("--pending", action="append", default=[])
    p.add_argument("--unknown-snac", action="store_true")
    p.add_argument("--register", default="ok")
    p.add_argument("--new-uin", type=int, default=7654321)
    p.add_argument("--ssi-result", type=lambda v: int(v, 0), default=0)
    p.add_argument("--pending-plugin", action="append", default=[])
    ARGS = p.parse_args()
    ARGS.pending_msgs = [tuple(x.split(":", 1)) for x in ARGS.pending]
    ARGS.pending_plugins = [tuple(x.split(":", 1)) for x in ARGS.pending_plugin]
    OFFLINE.extend(tuple(x.split(":", 1)) for x in ARGS.offline)
    LOG = open(ARGS.log, "a", encoding="utf-8")

    bos = socket.socket()
    bos.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    bos.bind(("127.0.0.1", 0))
    bos.listen(16)
    bos_port = bos.getsockname()[1]
    login = socket.socket()
    login.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    login.bind(("127.0.0.1", ARGS.port))
    login.listen(16)
    log("started", port=ARGS.port, bos_port=bos_port)
    threading.Thread(target=accept_loop, args=(bos, lambda s, host, _port: serve_bos(s, host)), daemon=True).start()
    accept_loop(login, lambda s, _host, _port: serve_login(s, bos_port))


if __name__ == "__main__":
    sys.exit(main())
