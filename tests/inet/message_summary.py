#!/usr/bin/python3
"""Reads one RFC 5322 message with Python's email package and prints what a mail reader sees,
as one flat JSON object of strings (the C++ tests compare against it):

  header_names          the header names in order, one per line
  h:NAME                decoded value(s) of a header (lower-case name), one per line
  addr:FIELD:count      mailboxes of from/sender/reply-to/to/cc/bcc;
  addr:FIELD:I:name     their display names (RFC 2047 decoded) and
  addr:FIELD:I:addr     addresses
  date:epoch            the Date header as Unix seconds, date:offset its zone offset in seconds
  defects               names of the parser's defect reports, one per line
  part:PATH:...         the part tree: PATH is "m" for the message, "m.0", "m.1.0" ... below;
                        type, charset, cte, disposition, filename, cid, children (multipart),
                        hex (decoded payload bytes) and text (decoded text of text/* parts)
"""
import codecs
import json
import re
import sys
from email import policy
from email.header import decode_header, make_header
from email.parser import BytesParser
from email.utils import getaddresses


def _aliases(name):
    # ISO-8859-8-I (logical order) holds the same bytes as ISO-8859-8.
    if name.replace("_", "-") == "iso-8859-8-i":
        return codecs.lookup("iso8859_8")
    return None


codecs.register(_aliases)


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    msg = BytesParser(policy=policy.default).parsebytes(data)
    out = {}
    defects = []

    out["header_names"] = "\n".join(msg.keys())
    for name in {k.lower() for k in msg.keys()}:
        values = msg.get_all(name)
        out["h:" + name] = "\n".join(str(v) for v in values)
        for v in values:
            defects.extend(type(d).__name__ for d in getattr(v, "defects", ()))

    # Display names are decoded by the package's RFC 2047 decoder (email.header): the modern
    # parser keeps the blanks between two encoded words of a phrase, which RFC 2047 says to
    # drop, and so does not even read back its own long names.
    legacy = BytesParser(policy=policy.compat32).parsebytes(data)
    for field in ("from", "sender", "reply-to", "to", "cc", "bcc"):
        headers = msg.get_all(field)
        if not headers:
            continue
        mailboxes = [a for h in headers for a in h.addresses]
        raw = [re.sub(r"\r?\n([ \t])", r"\1", str(h)) for h in legacy.get_all(field)]
        names = [str(make_header(decode_header(n))) for n, _ in getaddresses(raw)]
        if len(names) != len(mailboxes):
            defects.append("AddressCountMismatch")
        out["addr:%s:count" % field] = str(len(mailboxes))
        for i, a in enumerate(mailboxes):
            out["addr:%s:%d:name" % (field, i)] = names[i] if i < len(names) else ""
            out["addr:%s:%d:addr" % (field, i)] = a.addr_spec

    date = msg["date"]
    if date is not None and date.datetime is not None:
        out["date:epoch"] = str(int(date.datetime.timestamp()))
        out["date:offset"] = str(int(date.datetime.utcoffset().total_seconds()))

    def walk(part, path):
        key = "part:%s:" % path
        defects.extend(type(d).__name__ for d in part.defects)
        out[key + "type"] = part.get_content_type()
        out[key + "charset"] = part.get_content_charset() or ""
        out[key + "cte"] = str(part.get("Content-Transfer-Encoding", ""))
        out[key + "disposition"] = part.get_content_disposition() or ""
        out[key + "filename"] = part.get_filename() or ""
        out[key + "cid"] = str(part.get("Content-ID", ""))
        if part.is_multipart():
            children = part.get_payload()
            out[key + "children"] = str(len(children))
            for i, child in enumerate(children):
                walk(child, "%s.%d" % (path, i))
            return
        out[key + "hex"] = (part.get_payload(decode=True) or b"").hex()
        if part.get_content_maintype() == "text":
            try:
                out[key + "text"] = part.get_content()
            except (LookupError, UnicodeError) as e:
                out[key + "text_error"] = repr(e)

    walk(msg, "m")
    out["defects"] = "\n".join(defects)
    print(json.dumps(out, ensure_ascii=True))


if __name__ == "__main__":
    main()
