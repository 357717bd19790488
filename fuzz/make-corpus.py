#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora under fuzz/corpus/<Target>/.

The seeds are kept in the tree; this script is how they were made and how to make them again
after the project format or a protocol reader changes:

    fuzz/make-corpus.py build/default/apps/quillon/quillon

The runner is asked for its action classes (`quillon actions`) and writes the option stores,
so the project seeds follow what is registered. Every other seed is written out here: replies
and listings as the test servers send them, and the binary exchanges of the proxies, Telnet
and ICQ. Files a target already holds from a fuzzing run (crash reproducers among them) stay.
"""
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")
DICT = os.path.join(ROOT, "fuzz", "dict")


def write(target, name, data):
    if isinstance(data, str):
        data = data.encode()
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def dedupe(target):
    """Drops seeds whose bytes another seed of the target already has."""
    d = os.path.join(CORPUS, target)
    seen = {}
    for name in sorted(os.listdir(d)):
        digest = hashlib.sha1(open(os.path.join(d, name), "rb").read()).hexdigest()
        if digest in seen:
            os.remove(os.path.join(d, name))
        else:
            seen[digest] = name


# ---------------------------------------------------------------------------------------------
# Projects

def parse_actions(text):
    """The action classes, child classes and option objects `quillon actions` lists."""
    actions, children, section, current = {}, {}, "actions", None
    for line in text.splitlines():
        if line.startswith("persisted child classes:"):
            section = "children"
            continue
        if line.startswith("option objects:") or line.startswith("script names:"):
            section = "other"
            continue
        if section == "actions":
            m = re.match(r'^(T\w+)  "', line)
            if m:
                current = actions.setdefault(m.group(1), {"props": [], "scripts": [], "flow": False, "items": []})
                continue
            if current is None or not line.startswith("  "):
                continue
            body = line.strip()
            if body == "child actions in <actions>":
                current["flow"] = True
            elif body.startswith("script "):
                current["scripts"].append(body.split()[1])
            elif body.startswith("child ") and "(any number)" in body:
                current["items"].append(body.split()[1])
            elif " : " in body:
                current["props"].append(body)
        elif section == "children":
            m = re.match(r"^  (T\w+)$", line)
            if m:
                current = children.setdefault(m.group(1), {"props": [], "scripts": [], "flow": False, "items": []})
            elif current is not None and line.startswith("    ") and " : " in line:
                current["props"].append(line.strip())
            elif current is not None and line.strip().startswith("child "):
                current["items"].append(line.split()[1])
    return actions, children


# The address objects and lists of the mail action are told apart by their role tag.
ROLE_OF = {
    "RecipientsList": "recipients",
    "CopyToList": "copyto",
    "BlindCopyToList": "blindcopyto",
    "ReplyToList": "replyto",
    "FromObject": "from",
    "SenderObject": "sender",
    "ReceiptRecipientObject": "ReceiptRecipient",
}


def fixed_key_file(directory):
    """The key the fuzz targets use (fuzz/FuzzKeyFile.h): bytes 0 to 31."""
    path = os.path.join(directory, "key")
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "wb") as f:
        f.write(bytes(range(32)))
    return path


def stored_password(quillon, cls, plain="s3cret"):
    with tempfile.TemporaryDirectory() as tmp:
        return subprocess.run([quillon, "secret", "--for", cls, "--key-file", fixed_key_file(tmp)], check=True,
                              capture_output=True, input=plain + "\n", text=True).stdout.strip()


def esc(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


def property_xml(spec, indent, n, stored=""):
    """One <property> element with a value other than the default, or None."""
    name, rest = spec.split(" : ", 1)
    if "not stored" in rest or "read-only" in rest or rest.startswith("child "):
        return None
    if name in ("AddressType", "ListType"):
        return None  # set by the child that carries the role
    pad = " " * indent
    if rest.startswith("TStrings"):
        items = "".join(f"{pad}  <item>{esc(v)}</item>\n" for v in ("line %d of %s" % (n, name), "", "*.txt"))
        return f'{pad}<property name="{name}">\n{items}{pad}</property>\n'
    if rest.startswith("Boolean"):
        value = "false" if "= true" in rest else "true"
    elif rest.startswith("integer"):
        value = str(7 + n)
    elif "(" in rest:
        value = rest[rest.index("(") + 1:rest.index(")")].split(" | ")[-1]
    elif "Password" in name or "Cookie" in name:
        value = stored
    elif name in ("URL",):
        value = "http://user@127.0.0.1:8080/a%20b?q=1"
    else:
        value = "%" + name.upper() + "% x" if n % 2 else name.lower()
    return f'{pad}<property name="{name}">{esc(value)}</property>\n'


def address_xml(role, indent, address="ann@example.org", name="Ann"):
    pad = " " * indent
    out = f'{pad}<child class="TMxEmailAddress">\n'
    if role:
        out += f'{pad}  <property name="AddressType">{role}</property>\n'
    out += f'{pad}  <property name="Name">{name}</property>\n'
    out += f'{pad}  <property name="Address">{address}</property>\n'
    return out + f"{pad}</child>\n"


def action_xml(cls, info, children, indent=4, inner="", stored=""):
    pad = " " * indent
    out = f'{pad}<action class="{cls}">\n'
    for n, spec in enumerate(info["props"]):
        name, rest = spec.split(" : ", 1)
        if rest.startswith("child "):
            child_cls = rest.split()[1]
            role = ROLE_OF.get(name, "")
            if child_cls == "TMxEmailAddress":
                out += address_xml(role, indent + 2)
            else:
                out += f'{pad}  <child class="{child_cls}">\n'
                out += f'{pad}    <property name="ListType">{role}</property>\n'
                out += address_xml("", indent + 4, "bob@example.org", "Bob")
                out += address_xml("", indent + 4, esc('"Eve, E." <eve@example.org>'), "")
                out += f"{pad}  </child>\n"
            continue
        p = property_xml(spec, indent + 2, n, stored)
        if p:
            out += p
    for item in info["items"]:
        for k in range(2):
            out += f'{pad}  <child class="{item}">\n'
            for n, spec in enumerate(children.get(item, {"props": []})["props"]):
                p = property_xml(spec, indent + 4, n + k)
                if p:
                    out += p
            out += f"{pad}  </child>\n"
    for script in info["scripts"]:
        out += f'{pad}  <script name="{script}" language="lua">Skip = Address == "x@example.org"\nreturn Subject .. "!"</script>\n'
    if info["flow"]:
        out += f"{pad}  <actions>\n{inner}{pad}  </actions>\n"
    return out + f"{pad}</action>\n"


def project(name, body, variables=(("DIR", "reports"),)):
    out = '<?xml version="1.0" encoding="UTF-8"?>\n'
    out += f'<project name="{name}">\n'
    if variables:
        out += "  <variables>\n"
        out += "".join(f'    <variable name="{k}">{esc(v)}</variable>\n' for k, v in variables)
        out += "  </variables>\n"
    return out + f"  <actions>\n{body}  </actions>\n</project>\n"


def projects(quillon):
    target = "ProjectLoadFuzz"
    for name in sorted(os.listdir(os.path.join(ROOT, "examples"))):
        if name.endswith(".xml"):
            write(target, "example-" + name, open(os.path.join(ROOT, "examples", name), "rb").read())
    listing = subprocess.run([quillon, "actions"], check=True, capture_output=True, text=True).stdout
    actions, children = parse_actions(listing)
    for cls, info in actions.items():
        inner = action_xml("TLogMessageAction", actions.get("TLogMessageAction", {"props": [], "scripts": [],
                                                                               "flow": False, "items": []}),
                           children, 8)
        stored = stored_password(quillon, cls)
        write(target, f"class-{cls}.xml", project(cls, action_xml(cls, info, children, inner=inner, stored=stored)))
    # Odd but valid shapes: an empty project, a disabled action, CR in a value, entities, CDATA.
    write(target, "empty.xml", '<project name=""/>')
    write(target, "shapes.xml",
          '<?xml version="1.0"?>\n<project name="a&amp;b">\n<variables><variable name="V">a&#13;\nb</variable>'
          '</variables>\n<actions>\n<action class="TLogMessageAction" enabled="false">'
          '<property name="Message"><![CDATA[<%V%> 100%%]]></property></action>\n'
          '<ACTION CLASS="tlogmessageaction"><Property Name="message">case</Property></ACTION>\n'
          '<!-- comment --></actions></project>\n')
    dedupe(target)
    return actions, children, listing


def option_stores(quillon):
    target = "OptionStoreFuzz"
    with tempfile.TemporaryDirectory() as tmp:
        store, key = os.path.join(tmp, "options.xml"), fixed_key_file(tmp)
        env = dict(os.environ, QUILLON_KEY_FILE=key)

        def run(*args, stdin=None):
            subprocess.run([quillon, "options", "--options", store, "--key-file", key, *args], check=True,
                           capture_output=True, input=stdin, text=True, env=env)

        run("--set", "SMTPHost=mail.example.org", "--set", "FTPServer=ftp.example.org")
        write(target, "store-few.xml", open(store, "rb").read())
        run("--set", "SMTPPort=587", "--set", "SMTPAuth=true", "--set", "SMTPEHLO=true", "--set", "SMTPUser=ann",
            "--set", "SMTPSSL=true", "--set", "SMTPUseTLS=utUseExplicitTLS", "--set", "DefaultEncoding=UTF-8",
            "--set", "FTPUser=bob", "--set", "FTPPort=2121")
        write(target, "store-all.xml", open(store, "rb").read())
        run("--set-secret", "SMTPPass", "--set-secret", "FTPPass", stdin="s3cret\nftp-pw\n")
        write(target, "store-secrets.xml", open(store, "rb").read())
    write(target, "store-odd.xml",
          '<?xml version="1.0"?>\n<options><group key="Internet"><value key="SMTPPort">99999999999</value>'
          '<value key="SMTPUseTLS">7</value><value key="SMTPAuth">maybe</value><value key="SMTPPass">q1:@@</value>'
          '<value key="SMTPHost"/></group><group key="Other"><value key="X">1</value></group>'
          '<group><value>no key</value></group></options>\n')
    dedupe(target)


# ---------------------------------------------------------------------------------------------
# Replies and listings

# Whole dialogues as the servers the tests start answer them, one reply after another.
REPLIES = {
    "ftp-login": "220 (vsFTPd 3.0.3)\r\n331 Please specify the password.\r\n230 Login successful.\r\n"
                 "257 \"/\" is the current directory\r\n200 Switching to Binary mode.\r\n"
                 "227 Entering Passive Mode (127,0,0,1,156,64).\r\n150 Here comes the directory listing.\r\n"
                 "226 Directory send OK.\r\n221 Goodbye.\r\n",
    "ftp-feat": "211-Features:\r\n EPRT\r\n EPSV\r\n MDTM\r\n PASV\r\n REST STREAM\r\n SIZE\r\n TVFS\r\n"
                " UTF8\r\n211 End\r\n",
    "ftp-feat-mlst": "211-Features:\r\n AUTH TLS\r\n MFMT\r\n MLST modify*;perm*;size*;type*;unique*;UNIX.mode;\r\n"
                     " LANG en-US*\r\n211 End\r\n",
    "ftp-welcome": "220-Welcome to the test server\r\n220-\r\n220 ready\r\n230-Welcome\r\n230 Logged in\r\n",
    "ftp-free-text": "214-The following commands are recognized:\r\n  250 NOOP QUIT\r\n ABOR ACCT ALLO APPE\r\n"
                     "214 Help OK.\r\n",
    "ftp-errors": "120 wait\r\n220 ready\r\n332 account\r\n421 timed out, closing\r\n425 Can't open data "
                  "connection\r\n500 unknown\r\n502 no\r\n550 Failed to change directory.\r\n",
    "ftp-pasv": "229 Entering Extended Passive Mode (|||40000|)\r\n213 20261210131149\r\n213 123456\r\n"
                "350 Ready for RNTO.\r\n250 Rename successful.\r\n",
    "smtp-ehlo": "220 mail.example.org ESMTP\r\n250-mail.example.org\r\n250-SIZE 33554432\r\n250-8BITMIME\r\n"
                 "250-STARTTLS\r\n250-AUTH PLAIN LOGIN CRAM-MD5\r\n250-SMTPUTF8\r\n250 HELP\r\n",
    "smtp-send": "250 OK\r\n250 OK\r\n354 End data with <CR><LF>.<CR><LF>\r\n250 OK queued as 1\r\n221 Bye\r\n",
    "smtp-auth": "334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n235 2.7.0 Authentication successful\r\n",
    "smtp-refused": "550 5.1.1 <x@example.org>: Recipient address rejected\r\n554 5.5.1 no valid recipients\r\n"
                    "454 4.7.0 Try again later\r\n",
    "pop3": "+OK Dovecot ready.\r\n+OK\r\n+OK Logged in.\r\n+OK 2 messages:\r\n-ERR [AUTH] Authentication failed.\r\n",
    "pop3-bare": "+OK\n-ERR\n+OK 0 0\n",
    "lf-only": "250-first\n250-second\n250 End\n",
    "same-code-free": "211-Features:\n MDTM\n211-x\n211 End\n",
}

LISTINGS = {
    "unix": [
        "total 16",
        "drwxrwxr-x    2 999      995          4096 Dec 10 13:11 my dir",
        "lrwxrwxrwx    1 999      995            21 Dec 10 13:11 link -> file with  spaces.txt",
        "-rw-rw-r--    1 999      995        123456 Feb 29  2020 old.bin",
        "-rw-rw-r--   1 quillon-ftp quillon-ftp        6 Dec 10 13:11 file with  spaces.txt",
        "prw-r--r--   1 root     root            0 Dec 10 13:11 fifo",
        "-rw-r--r--   1 root     root            0 Sep 01 08:00 recent.txt",
    ],
    "unix-odd": [
        "crw-rw-rw-    1 0        0          1,   3 Jan  1 00:00 null",
        "brw-rw----    1 0        6          8,0 Mar  2  2019 sda",
        "-rw-r--r--   1 ftp           1234 Jan  5  2023 no group.txt",
        "drwxr-xr-x               folder        2 May 10  1996 network",
        "-rw-r--r--+  1 1000     1000        42 10 Dec 13:10  two  blanks",
        "-rw-r--r--  1 user  staff  42 Dec 10 13:10:05 2020 bsd",
        "-rw-r--r-- 1 user group 5000000000 2020-12-10 13:10 big.iso",
        "drwxr-xr-x   2 0 0 4096 Dec 10 13:10 .",
        "drwxr-xr-x   5 0 0 4096 Dec 10 13:10 ..",
        "-rw-r--r--   1 0 0   12 Dec 10 13:10 a.txt\r",
    ],
    "unix-bad": [
        "ls: cannot open directory .: Permission denied",
        "-rw-r--r-- 1 u g 12 Foo 10 13:10 bad month",
        "-rw-r--r-- 1 u g 12 Feb 30  2020 no such day",
        "-rw-r--r-- 1 u g 99999999999999999999 Dec 10 13:10 size overflow",
        "xrw-r--r-- 1 u g 12 Dec 10 13:10 bad type",
        "lrwxrwxrwx 1 u g 12 Dec 10 13:10  -> target",
    ],
    "windows": [
        "12-31-20  11:59PM       <DIR>          name",
        "01-02-2021  12:05AM                 1234 name with spaces.txt",
        "01-02-21  12:30PM                 1234 noon",
        "01-02-69  14:30                     77 y2k",
        "2021-01-02  14:30       <DIR>          iso dir",
        "07/04/2019  09:15 PM    <SYMLINKD>     link [C:\\target]",
        "12-31-20  13:59PM       <DIR>          thirteen pm",
    ],
    "mlsd": [
        "modify=20261210131149;perm=eldfmMTcp;size=4096;type=dir;unique=fe00ga7269b; my dir",
        "modify=20200229101112;perm=radfwMT;size=123456;type=file;unique=fe00ga72861; file;with  spaces",
        "modify=20261210131151;perm=flcdmpe;type=cdir;unique=FE00UA7232C;UNIX.mode=0775; /pub",
        "modify=20261210131151;perm=flcdmpe;type=pdir;unique=FE00UA7232C;UNIX.mode=0775; ..",
        "modify=20261231221151;perm=adfrw;size=21;type=OS.unix=symlink;UNIX.mode=0777; link",
        "Type=OS.unix=slink:/etc/motd;Modify=20240101120000.123;Size=12; motd",
        "type=OS.unix=chr-1/3;modify=2024; null",
        "type=file;nofact; x",
    ],
}


def replies_and_listings():
    for name, text in REPLIES.items():
        write("ReplyReaderFuzz", name, text)
    for name, lines in LISTINGS.items():
        write("FtpListFuzz", name, "\r\n".join(lines) + "\r\n")
        for i, line in enumerate(lines):
            write("FtpListFuzz", f"{name}-{i}", line)
    dedupe("ReplyReaderFuzz")
    dedupe("FtpListFuzz")


# ---------------------------------------------------------------------------------------------
# Binary exchanges

IAC, DONT, DO, WONT, WILL, SB, SE = 255, 254, 253, 252, 251, 250, 240


def b(*parts):
    out = b""
    for p in parts:
        out += p.encode("latin-1") if isinstance(p, str) else bytes(p) if isinstance(p, (list, tuple)) else bytes([p])
    return out


def telnet():
    streams = {
        "login": b([IAC, DO, 24], [IAC, DO, 32], [IAC, WILL, 1], [IAC, WILL, 3], "Debian GNU/Linux 12\r\nlogin: "),
        "subneg": b("x", [IAC, SB, 24, 1, IAC, IAC, 5, IAC, SE], "y", [IAC, SB, 31, 0, 80, 0, 24, IAC, SE]),
        "commands": b("lo", [IAC, WILL, 1], "gin: ", [IAC, 241], [IAC, 249], [IAC, 246], "\r\x00$ "),
        "data-ff": b("a", [IAC, IAC], "b", [IAC, DONT, 1], [IAC, WONT, 3], [IAC, DO, 99]),
        "split-iac": b("ab", [IAC]),
    }
    for name, data in streams.items():
        for block in (0, 1, 4):
            write("TelnetFeedFuzz", f"{name}-{block + 1}", bytes([block]) + data)
    dedupe("TelnetFeedFuzz")


def proxy():
    socks4_ok = b(0, 90, 0, 21, 10, 1, 2, 3)
    socks5_ok4 = b(5, 0, 0, 1, 127, 0, 0, 1, 0, 21)
    socks5_name = b(5, 0, 0, 3, 15, "ftp.example.org", 0, 21)
    socks5_ok6 = b(5, 0, 0, 4, [0] * 15, 1, 0, 21)
    http_ok = b"HTTP/1.1 200 Connection established\r\nVia: proxy\r\n\r\n"
    # (first byte: the handshake and its login, second: the piece size; then the proxy's bytes)
    cases = {
        "socks4-ok": (0, socks4_ok + b"220 hi"),
        "socks4-refused": (0, b(0, 91, 0, 0, 0, 0, 0, 0)),
        "socks4a-name": (1 | 4, socks4_ok),
        "socks5-noauth": (2, b(5, 0) + socks5_ok4 + b"220 hi\r\n"),
        "socks5-login": (2 | 8, b(5, 2, 1, 0) + socks5_name),
        "socks5-login-refused": (2 | 8, b(5, 2, 1, 1)),
        "socks5-ipv6": (2 | 4, b(5, 0) + socks5_ok6),
        "socks5-no-method": (2, b(5, 255)),
        "socks5-failure": (2, b(5, 0, 5, 4, 0, 1, 0, 0, 0, 0, 0, 0)),
        "http-ok": (3, http_ok + b"220 tunnel"),
        "http-login": (3 | 8, b"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n"),
        "http-503": (3 | 4, b"HTTP/1.0 503 Service Unavailable\n\n"),
        "http-not-http": (3, b"SSH-2.0-OpenSSH\r\n\r\n"),
    }
    for name, (kind, answer) in cases.items():
        write("ProxyReplyFuzz", name, bytes([kind, 5]) + answer)
        write("ProxyReplyFuzz", name + "-bytewise", bytes([kind, 0]) + answer)
    # A target host name from the input (bit 4): a plain one and one with a line break.
    write("ProxyReplyFuzz", "target-name", bytes([16 | 3, 3, 11]) + b"example.org" + http_ok)
    write("ProxyReplyFuzz", "target-name-crlf", bytes([16 | 2, 3, 5]) + b"a\r\nb." + b(5, 0) + socks5_ok4)
    dedupe("ProxyReplyFuzz")


def flap(channel, seq, payload):
    return struct.pack(">BBHH", 0x2A, channel, seq, len(payload)) + payload


def snac(family, sub, flags, req, payload):
    return struct.pack(">HHHI", family, sub, flags, req) + payload


def tlv(t, value):
    return struct.pack(">HH", t, len(value)) + value


def icq():
    login = flap(1, 0x1234, struct.pack(">I", 1) + tlv(1, b"123456789") + tlv(2, b"\xf3\x26\x81\xc4"))
    message = flap(2, 7, snac(4, 7, 0, 0x10, b"\x00" * 8 + struct.pack(">H", 1) + bytes([9]) + b"123456789"
                              + tlv(2, tlv(0x501, b"\x01") + tlv(0x101, b"\x00\x00\x00\x00hello"))))
    strings = struct.pack("<H", 6) + b"hello\x00" + struct.pack("<I", 3) + b"abc" + bytes([4]) + b"wxyz"
    strings += struct.pack(">H", 2) + b"ok" + struct.pack("<I", 0x01020304) + tlv(5, b"value") + tlv(6, b"\x00\x2a")
    # Control programs: each op code (0..10 read, 11 moves the cursor, the rest write).
    programs = {
        "flap-snac-tlv": [10, 9, 7, 8, 7, 3],
        "ints": [0, 1, 0, 2, 0, 4, 1, 2, 1, 4, 0, 11],
        "strings": [6, 5, 4, 3, 2, 0, 4, 2, 0xFF, 0xFF],
        "cursor": [11, 0, 20, 7, 11, 0x01, 0x00, 6, 11, 0xFF, 0xFF, 3],
        "writes": [12, 3, 13, 10, 26, 5, 27, 40, 40, 7, 11, 0, 0, 10],
    }
    for pname, program in programs.items():
        for bname, body in (("login", login), ("message", message), ("strings", strings)):
            write("IcqReaderFuzz", f"{pname}-{bname}", bytes([len(program)] + program) + body)
    # DecryptPak: a version byte, then a packet of the old protocol (header, command, data).
    header5 = struct.pack("<HIIIHHHI", 5, 0, 123456789, 0x1A2B3C4D, 0x03E8, 1, 0, 0)
    packets = {
        "v5-login": header5 + struct.pack("<I", 0x12345678) + struct.pack("<H", 6) + b"s3cret",
        "v5-short": header5[:12],
        "v2": struct.pack("<HHH", 2, 0x0456, 1) + struct.pack("<I", 123456789) + b"\x00" * 8,
        "v4": struct.pack("<HHHHI", 4, 0, 0x0456, 1, 123456789) + b"\x00" * 16,
    }
    for name, packet in packets.items():
        for version in (2, 4, 5, 7):
            write("IcqDecryptPakFuzz", f"{name}-as-{version}", bytes([version]) + packet)
    write("IcqDecryptPakFuzz", "v7-with-command", bytes([7, 0x02]) + header5 + b"data")
    dedupe("IcqReaderFuzz")
    dedupe("IcqDecryptPakFuzz")


def icq_sessions():
    """Records what the scripted OSCAR service of tests/servers sends a client, one connection
    per seed, for the session's packet handler. The first byte of a seed is where the session
    stands when the stream starts: 0 at the login server, 1 at the session server, 2 signed on
    (+4: texts made plain)."""
    import argparse
    import io
    import socket
    import threading
    sys.path.insert(0, os.path.join(ROOT, "tests", "servers"))
    import oscar_peer as peer

    def record(serve, client_flaps, **options):
        args = dict(login="ok", sms="accept", sms_reply="", password="secret", pending_msgs=[],
                    unknown_snac=False, register="ok", new_uin=7654321, ssi_result=0, pending_plugins=[])
        args.update(options)
        peer.ARGS = argparse.Namespace(**args)
        peer.LOG = io.StringIO()
        ours, theirs = socket.socketpair()
        thread = threading.Thread(target=serve, args=(theirs,), daemon=True)
        thread.start()
        for f in client_flaps:
            ours.sendall(f)
        ours.settimeout(0.5)
        got = b""
        try:
            while True:
                chunk = ours.recv(65536)
                if not chunk:
                    break
                got += chunk
        except socket.timeout:
            pass
        ours.close()
        thread.join(2)
        return got

    roast = bytes(b ^ peer.ROAST[i] for i, b in enumerate(b"secret"))
    ident = flap(1, 1, struct.pack(">I", 1) + tlv(1, b"123456789") + tlv(2, roast))
    wrong = flap(1, 1, struct.pack(">I", 1) + tlv(1, b"123456789") + tlv(2, b"\x00"))
    for mode in ("ok", "rate-limited", "no-cookie", "bad-address", "truncated", "wrong-channel"):
        stream = record(lambda s: peer.serve_login(s, 5191), [ident], login=mode)
        write("IcqClientPacketFuzz", "login-" + mode, bytes([0]) + stream)
    write("IcqClientPacketFuzz", "login-bad-password",
          bytes([0]) + record(lambda s: peer.serve_login(s, 5191), [wrong]))

    # A registration (first byte 16): the bare hello and the request for a new UIN.
    password = b"n3w pass\0"
    register = [flap(1, 1, struct.pack(">I", 1)),
                flap(2, 2, snac(0x17, 4, 0, 0, tlv(1, b"\0" * 40 + struct.pack("<H", len(password)) + password)))]
    for mode in ("ok", "refuse", "close"):
        stream = record(lambda s: peer.serve_login(s, 5191), register, register=mode)
        write("IcqClientPacketFuzz", "register-" + mode, bytes([16]) + stream)

    def session_flaps(cookie, extra):
        flaps = [flap(1, 1, struct.pack(">I", 1) + tlv(6, cookie))]
        for family, sub, body in [(1, 0x17, b""), (1, 6, b""), (9, 2, b""), (3, 4, b"\x041002"),
                                  (1, 0x1E, tlv(6, b"\0\0\0\0") + tlv(0x0C, b"\x7f\0\0\1" + struct.pack(">I", 4000)
                                                                     + b"\x04\0\x08" + b"\x12\x34\x56\x78" + b"\0" * 26)),
                                  (1, 2, b"")] + extra:
            flaps.append(flap(2, 2, snac(family, sub, 0, 0, body)))
        return flaps

    def to_icq_srv(command, data):
        block = struct.pack("<IHH", 123456789, command, 2) + data
        return (0x15, 2, tlv(1, struct.pack("<H", len(block)) + block))

    sms = (b"\0\1\0\x16" + b"\0" * 16 + tlv(0, b"<icq_sms_message><destination>+1555</destination>"
                                             b"<text>hi</text></icq_sms_message>\0"))
    extras = {
        "offline": [to_icq_srv(60, b"")],
        "sms": [to_icq_srv(2000, struct.pack("<H", 0x1482) + sms)],
        "info": [to_icq_srv(2000, struct.pack("<HI", 0x04B2, 7007)), to_icq_srv(2000, struct.pack("<HI", 0x04BA, 7007))],
        "server-list": [(0x13, 0x11, b""),
                        (0x13, 8, struct.pack(">H", 7) + b"Friends" + struct.pack(">HHHH", 16, 0, 1, 0)),
                        (0x13, 8, struct.pack(">H", 4) + b"3003" + struct.pack(">HHHH", 16, 33, 0, 9)
                         + tlv(0x131, b"carol")),
                        (0x13, 0x12, b""), (0x13, 4, b"")],
    }
    for name, extra in extras.items():
        for mode in ("accept", "refuse", "undeliverable") if name == "sms" else ("accept",):
            cookie = b"C" * 256
            peer.COOKIES[cookie] = "123456789"
            peer.OFFLINE[:] = [("4004", "while you were out")]
            stream = record(lambda s: peer.serve_bos(s, "127.0.0.1"), session_flaps(cookie, extra), sms=mode,
                            sms_reply="ok" if mode == "accept" else "",
                            pending_msgs=[("4004", "held")], unknown_snac=True,
                            pending_plugins=[("4004", k) for k in sorted(peer.RUSSIAN_PLUGINS)])
            suffix = "" if name != "sms" else "-" + mode
            write("IcqClientPacketFuzz", "session-" + name + suffix, bytes([1]) + stream)
            write("IcqClientPacketFuzz", "signed-on-" + name + suffix, bytes([2 + 4]) + stream)
    dedupe("IcqClientPacketFuzz")


def icq_direct():
    """Plain peer message packets for the session's direct handler (first byte 2 + 8 + 4: signed
    on, direct mode, texts made plain); the target scrambles each before handing it over."""
    def header(command, seq, type_flags, status=0):
        return (b"\x02" + struct.pack("<IHHH", 0, command, 14, seq) + b"\0" * 12
                + struct.pack("<HHH", type_flags, status, 0))

    def lnts(text):
        return struct.pack("<H", len(text) + 1) + text + b"\0"

    def plugin(guid, name, data):
        head = guid + struct.pack("<H", 0) + struct.pack("<I", len(name)) + name + b"\0\0\x01" + b"\0" * 12
        return struct.pack("<H", len(head)) + head + struct.pack("<I", len(data) + 4) + struct.pack("<I", len(data)) + data

    contacts_guid = bytes.fromhex("2A0E7D467676D411BCE60004AC961EA6")
    file_guid = bytes.fromhex("F02D12D93091D3118DD700104B06462E")
    file_data = lnts(b"holiday") + struct.pack(">HH", 0, 0) + lnts(b"pictures.bin") + struct.pack("<II", 5000, 0)
    packets = {
        "message": header(0x07EE, 1, 1) + lnts(b"hello") + b"\0" * 4 + b"\xff\xff\xff\0",
        "away-request": header(0x07EE, 2, 0x03E8),
        "contacts": header(0x07EE, 3, 0x1A) + lnts(b"") + plugin(contacts_guid, b"Contacts", b"2\xfe3003\xfecarol\xfe4004\xfedave\xfe"),
        "contacts-request": header(0x07EE, 4, 0x1A) + lnts(b"") + plugin(contacts_guid, b"Request For Contacts", b"please"),
        "file-offer": header(0x07EE, 5, 0x1A) + lnts(b"") + plugin(file_guid, b"File", file_data),
        "file-answer": header(0x07DA, 5, 0x1A) + lnts(b"") + plugin(file_guid, b"File", lnts(b"") + struct.pack(">HH", 4100, 0) + lnts(b"") + struct.pack("<II", 0, 4100)),
        "truncated-plugin": header(0x07EE, 6, 0x1A) + lnts(b"") + struct.pack("<H", 0xFFFF),
        # Russian-language clients name their plug-ins in Windows-1251.
        "contacts-russian": header(0x07EE, 7, 0x1A) + lnts(b"") + plugin(contacts_guid, "Контакты".encode("cp1251"), b"1\xfe3003\xfecarol\xfe"),
        "file-offer-russian": header(0x07EE, 8, 0x1A) + lnts(b"") + plugin(file_guid, "Файл".encode("cp1251"), file_data),
    }
    for name, packet in packets.items():
        write("IcqClientPacketFuzz", "direct-" + name, bytes([2 + 8 + 4]) + struct.pack("<H", len(packet)) + packet)
    everything = b"".join(struct.pack("<H", len(p)) + p for p in packets.values())
    write("IcqClientPacketFuzz", "direct-all", bytes([2 + 8 + 4]) + everything)


# ---------------------------------------------------------------------------------------------
# Dictionaries: the words of each structured input, for libFuzzer's -dict

def dict_entry(token):
    if isinstance(token, str):
        token = token.encode()
    out = ""
    for c in token:
        out += chr(c) if 0x20 <= c < 0x7F and c not in (0x22, 0x5C) else "\\x%02X" % c
    return f'"{out}"'


def write_dict(target, why, tokens):
    os.makedirs(DICT, exist_ok=True)
    unique = list(dict.fromkeys(tokens))
    with open(os.path.join(DICT, target + ".dict"), "w") as f:
        f.write(f"# {why} (written by fuzz/make-corpus.py)\n")
        f.write("".join(dict_entry(t) + "\n" for t in unique))


def dictionaries(actions, children, listing):
    xml = ['<?xml version="1.0" encoding="UTF-8"?>', "<!--", "-->", "<![CDATA[", "]]>", "&amp;", "&lt;", "&quot;",
           "&#13;", "&#x", "/>", "</", '="', '"', "true", "false", "%%", "%"]
    project = xml + ["<project", "</project>", 'name="', "<variables>", "</variables>", "<variable",
                     "</variable>", "<actions>", "</actions>", "<action", "</action>", 'class="', 'enabled="',
                     "<property", "</property>", "<item>", "</item>", "<child", "</child>", "<script",
                     "</script>", 'language="lua"', "q1:"]
    project += list(actions) + list(children) + list(ROLE_OF.values())
    for info in list(actions.values()) + list(children.values()):
        for spec in info["props"]:
            name, rest = spec.split(" : ", 1)
            project.append(name)
            if "(" in rest and not rest.startswith("child"):
                project += rest[rest.index("(") + 1:rest.index(")")].split(" | ")
        project += info["scripts"]
    write_dict("ProjectLoadFuzz", "The project format's elements, attributes, classes and property names", project)

    options = xml + ["<options>", "</options>", "<group", "</group>", "<value", "</value>", 'key="', "Internet",
                     "q1:", "0", "1", "3", "65535", "-1"]
    in_options = False
    for line in listing.splitlines():
        in_options = line.startswith("option objects:") or (in_options and not line.startswith("script names:"))
        m = re.match(r"^    (\w+) : ", line)
        if in_options and m:
            options.append(m.group(1))
    options += ["FTPPassword"]  # the FTP password's key in the store differs from its option name
    write_dict("OptionStoreFuzz", "The option store's elements, attributes and option keys", options)

    replies = ["\n", "\r\n", " ", "-", "+OK", "-ERR", "+OK ", "-ERR "]
    for code in (110, 120, 125, 150, 200, 211, 213, 214, 220, 221, 226, 227, 229, 230, 235, 250, 257, 331, 332,
                 334, 350, 354, 421, 425, 450, 454, 500, 501, 502, 503, 504, 530, 550, 551, 553, 554):
        replies += [f"{code} ", f"{code}-", f"\n{code} "]
    replies += ["Features:", " MDTM", " SIZE", " MLST ", "ESMTP", "STARTTLS", "AUTH PLAIN LOGIN", "PIPELINING"]
    write_dict("ReplyReaderFuzz", "Reply codes, separators and keywords of FTP, SMTP and POP3", replies)

    ftp = ["\r\n", "\n", "total ", " -> ", "drwxr-xr-x", "-rw-r--r--", "lrwxrwxrwx", "crw-rw-rw-", "brw-rw----",
           "prw-r--r--", "srwxrwxrwx", "-rw-r--r--+", "   1 ", " root ", "<DIR>", "<SYMLINKD>", "<JUNCTION>", "AM",
           "PM", " 12:00 ", "12-31-20", "2021-01-02", "07/04/2019", "type=", "type=file;", "type=dir;", "type=cdir;",
           "type=pdir;", "type=OS.unix=slink:", "type=OS.unix=symlink;", "size=", "sizd=", "modify=", "perm=",
           "unique=", "UNIX.mode=", "UNIX.owner=", "; ", "20261210131149", ".123"]
    ftp += ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
    write_dict("FtpListFuzz", "Listing tokens: Unix and Windows listing columns, MLSD facts", ftp)

    telnet = []
    for verb in (WILL, WONT, DO, DONT):
        for option in (0, 1, 3, 5, 24, 31, 32, 33, 34, 39):
            telnet.append(bytes([IAC, verb, option]))
    telnet += [bytes([IAC, IAC]), bytes([IAC, SB, 24, 1]), bytes([IAC, SE]), bytes([IAC, 241]), bytes([IAC, 249]),
               bytes([IAC, 246]), "\r\n", "\r\x00", "login: ", "Password: "]
    write_dict("TelnetFeedFuzz", "Telnet IAC sequences: negotiations, subnegotiation, commands", telnet)

    proxy = ["HTTP/1.1 200 Connection established\r\n", "HTTP/1.0 200 OK\r\n", "HTTP/1.1 407 ", "HTTP/1.1 403 ",
             "HTTP/1.1 503 ", "HTTP/1.1 ", "\r\n\r\n", "\n\n", "\r\n", "Proxy-Authenticate: Basic\r\n",
             "Content-Length: ", b"\x00\x5a", b"\x00\x5b", b"\x05\x00", b"\x05\x02", b"\x05\xff", b"\x01\x00",
             b"\x01\x01", b"\x05\x00\x00\x01", b"\x05\x00\x00\x03", b"\x05\x00\x00\x04", b"\x00\x15"]
    write_dict("ProxyReplyFuzz", "SOCKS 4 and 5 answers and HTTP CONNECT status lines", proxy)


# ---------------------------------------------------------------------------------------------

def main():
    if len(sys.argv) != 2:
        sys.exit("usage: fuzz/make-corpus.py PATH-TO-quillon")
    quillon = os.path.abspath(sys.argv[1])
    actions, children, listing = projects(quillon)
    option_stores(quillon)
    dictionaries(actions, children, listing)
    replies_and_listings()
    telnet()
    proxy()
    icq()
    icq_sessions()
    icq_direct()


if __name__ == "__main__":
    main()
