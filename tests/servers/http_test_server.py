#!/usr/bin/python3
"""An HTTP/1.1 server for the HTTP client's and the HTTP action's tests.

  --port N            listen on 127.0.0.1:N (--ipv6: on ::1)
  --cert F --key F    serve HTTPS with that certificate instead

Paths (query parameters optional):
  /status/NNN            that status with a short text body ("status NNN\\n"); a 3xx points to
                         /text, or to ?to=URL
  /bytes/N               N bytes of the pattern byte[i] = i % 251, with Content-Length;
                         ?chunked=1 sends them chunked, without a length
  /text                  TEXT below in UTF-8 (charset=utf-8); /latin1 the same in ISO-8859-1
  /slow/N                N pattern bytes in pieces of ?chunk= bytes (N/10) every ?delay= ms (100)
  /stall                 headers (Content-Length 1000000), ?after= pattern bytes (0), then
                         nothing until the client goes
  /endless               pattern bytes until the client goes (no length, connection closes)
  /redirect?to=URL       302 to URL (?code= another 3xx)
  /chain/N               302 to /chain/N-1, ..., /chain/0 answers /text's body
  /basic                 Basic authentication: user "webuser", password "web-pass"
  /digest                Digest authentication (MD5, qop=auth), same user
  /echo-headers          the request line and headers as received, as the body
"""
import argparse
import base64
import hashlib
import os
import select
import socket
import ssl
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

TEXT = "Grüße aus Köln: naïve café, ½ × 3 ©\nsecond line\n"
USER = "webuser"
PASSWORD = "web-pass"
REALM = "quillon-test"
PATTERN = bytes(i % 251 for i in range(251 * 261))  # a whole number of periods, ~64 KiB


def pattern(offset, length):
    """length pattern bytes starting at stream position offset."""
    out = bytearray()
    start = offset % 251
    while length > 0:
        piece = PATTERN[start:start + length]
        out += piece
        length -= len(piece)
        start = 0
    return bytes(out)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go out in separate writes: with Nagle the body would wait for the
    # client's delayed ACK.
    disable_nagle_algorithm = True
    server_version = "QuillonTest/1.0"
    nonces = set()
    nonce_lock = threading.Lock()

    def log_message(self, fmt, *args):
        pass

    # --- helpers

    def send_body(self, code, body, content_type="text/plain; charset=utf-8", headers=()):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        no_body = code in (204, 304) or 100 <= code < 200
        if not no_body:
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if not no_body and self.command != "HEAD":
            self.wfile.write(body)

    def wait_for_client_to_go(self):
        """Blocks until the client closes its end (or the server is stopped)."""
        self.wfile.flush()
        sock = self.connection
        while True:
            readable, _, _ = select.select([sock], [], [], 0.5)
            if readable:
                try:
                    if not sock.recv(4096):
                        break
                except (OSError, ssl.SSLError):
                    break
        self.close_connection = True

    def write_pattern(self, total, chunk, delay):
        sent = 0
        while sent < total:
            n = min(chunk, total - sent)
            self.wfile.write(pattern(sent, n))
            self.wfile.flush()
            sent += n
            if delay and sent < total:
                time.sleep(delay)

    # --- paths

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        url = urlsplit(self.path)
        query = {k: v[-1] for k, v in parse_qs(url.query, keep_blank_values=True).items()}
        parts = url.path.split("/")
        try:
            name = parts[1] if len(parts) > 1 else ""
            arg = parts[2] if len(parts) > 2 else ""
            handler = getattr(self, "path_" + name.replace("-", "_"), None)
            if handler is None:
                self.send_body(404, b"not found\n")
                return
            handler(arg, query)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            self.close_connection = True

    def path_status(self, arg, query):
        code = int(arg)
        headers = []
        if 300 <= code < 400 and code != 304:
            headers.append(("Location", query.get("to", "/text")))
        self.send_body(code, f"status {code}\n".encode(), headers=headers)

    def path_bytes(self, arg, query):
        total = int(arg)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if query.get("chunked"):
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            sent = 0
            while sent < total:
                n = min(len(PATTERN), total - sent)
                self.wfile.write(b"%x\r\n" % n + pattern(sent, n) + b"\r\n")
                sent += n
            self.wfile.write(b"0\r\n\r\n")
            return
        self.send_header("Content-Length", str(total))
        self.end_headers()
        if self.command != "HEAD":
            self.write_pattern(total, len(PATTERN), 0)

    def path_text(self, arg, query):
        self.send_body(200, TEXT.encode("utf-8"))

    def path_latin1(self, arg, query):
        self.send_body(200, TEXT.encode("latin-1"), "text/plain; charset=iso-8859-1")

    def path_slow(self, arg, query):
        total = int(arg)
        chunk = int(query.get("chunk", max(1, total // 10)))
        delay = int(query.get("delay", 100)) / 1000.0
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(total))
        self.end_headers()
        self.write_pattern(total, max(1, chunk), delay)

    def path_stall(self, arg, query):
        after = int(query.get("after", 0))
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", "1000000")
        self.end_headers()
        self.write_pattern(after, len(PATTERN), 0)
        self.wait_for_client_to_go()

    def path_endless(self, arg, query):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        while True:
            self.wfile.write(PATTERN)

    def path_redirect(self, arg, query):
        code = int(query.get("code", 302))
        self.send_body(code, b"moved\n", headers=[("Location", query.get("to", "/text"))])

    def path_chain(self, arg, query):
        left = int(arg)
        if left <= 0:
            self.path_text("", query)
        else:
            self.send_body(302, b"moved\n", headers=[("Location", f"/chain/{left - 1}")])

    def path_basic(self, arg, query):
        expected = "Basic " + base64.b64encode(f"{USER}:{PASSWORD}".encode()).decode()
        if self.headers.get("Authorization") == expected:
            self.send_body(200, f"hello {USER}\n".encode())
        else:
            self.send_body(401, b"authentication required\n",
                           headers=[("WWW-Authenticate", f'Basic realm="{REALM}"')])

    def path_digest(self, arg, query):
        if self.digest_ok(self.headers.get("Authorization", "")):
            self.send_body(200, f"hello {USER}\n".encode())
            return
        nonce = base64.b64encode(os.urandom(18)).decode()
        with Handler.nonce_lock:
            Handler.nonces.add(nonce)
        challenge = f'Digest realm="{REALM}", qop="auth", algorithm=MD5, nonce="{nonce}", opaque="q0"'
        self.send_body(401, b"authentication required\n", headers=[("WWW-Authenticate", challenge)])

    def digest_ok(self, header):
        """RFC 2617 MD5 with qop=auth (and the RFC 2069 form without qop)."""
        if not header.startswith("Digest "):
            return False
        fields = parse_auth_params(header[len("Digest "):])
        with Handler.nonce_lock:
            known = fields.get("nonce") in Handler.nonces
        if not known or fields.get("username") != USER or fields.get("realm") != REALM:
            return False
        if fields.get("uri") != self.path:
            return False
        md5 = lambda s: hashlib.md5(s.encode()).hexdigest()
        ha1 = md5(f"{USER}:{REALM}:{PASSWORD}")
        ha2 = md5(f"{self.command}:{fields['uri']}")
        if fields.get("qop") == "auth":
            expected = md5(f"{ha1}:{fields['nonce']}:{fields.get('nc', '')}:{fields.get('cnonce', '')}:auth:{ha2}")
        elif "qop" in fields:
            return False
        else:
            expected = md5(f"{ha1}:{fields['nonce']}:{ha2}")
        return fields.get("response", "").lower() == expected

    def path_echo_headers(self, arg, query):
        self.send_body(200, (self.requestline + "\r\n").encode("latin-1") + bytes(self.headers))


def parse_auth_params(text):
    """name=value and name="quoted value" pairs separated by commas."""
    fields = {}
    i = 0
    while i < len(text):
        while i < len(text) and text[i] in " ,\t":
            i += 1
        eq = text.find("=", i)
        if eq < 0:
            break
        name = text[i:eq].strip().lower()
        i = eq + 1
        if i < len(text) and text[i] == '"':
            i += 1
            value = ""
            while i < len(text) and text[i] != '"':
                if text[i] == "\\" and i + 1 < len(text):
                    i += 1
                value += text[i]
                i += 1
            i += 1
        else:
            end = text.find(",", i)
            end = len(text) if end < 0 else end
            value = text[i:end].strip()
            i = end
        fields[name] = value
    return fields


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class Server6(Server):
    address_family = socket.AF_INET6


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--ipv6", action="store_true")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()
    server = (Server6 if args.ipv6 else Server)(("::1" if args.ipv6 else "127.0.0.1", args.port), Handler)
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        # The handshake runs in the request's thread, so a silent client holds up nobody.
        server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    print("READY", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
