#!/usr/bin/python3
"""A line server that upgrades to TLS on request, for the transport's STARTTLS tests.

openssl s_server cannot start in plain text, so this one does: it greets with "220 ready",
expects "STARTTLS", answers "220 go ahead" and runs the TLS handshake on the same socket.
Then, one command per line:

  ECHO <text>   answers <text>
  SINK <n>      reads n bytes, answers "250 <n>"
  SEND <n>      sends n bytes: byte i is i % 251
  QUIT          answers "221 bye"

When the client closes, it prints "close_notify" or "eof without close_notify" on stdout.
One connection at a time, until killed.
"""
import argparse
import socket
import ssl


def read_plain_line(conn):
    # Byte by byte: nothing past the line may be taken from the socket before the handshake.
    line = b""
    while not line.endswith(b"\n"):
        b = conn.recv(1)
        if not b:
            return None
        line += b
    return line.rstrip(b"\r\n")


class Lines:
    def __init__(self, tls):
        self.tls = tls
        self.buf = b""

    def fill(self):
        data = self.tls.recv(1 << 16)
        if not data:
            raise EOFError
        self.buf += data

    def line(self):
        while b"\n" not in self.buf:
            self.fill()
        line, self.buf = self.buf.split(b"\n", 1)
        return line.rstrip(b"\r")

    def take(self, n):
        while len(self.buf) < n:
            self.fill()
        self.buf = self.buf[n:]


def pattern(n):
    block = bytes(i % 251 for i in range(251)) * (65536 // 251 + 1)
    sent = 0
    while sent < n:
        start = sent % 251
        chunk = block[start:start + min(n - sent, 65536)]
        yield chunk
        sent += len(chunk)


def serve(conn, ctx):
    conn.sendall(b"220 ready\r\n")
    if read_plain_line(conn) != b"STARTTLS":
        conn.sendall(b"500 STARTTLS expected\r\n")
        return
    conn.sendall(b"220 go ahead\r\n")
    tls = ctx.wrap_socket(conn, server_side=True, suppress_ragged_eofs=False)
    lines = Lines(tls)
    try:
        while True:
            verb, _, arg = lines.line().decode().partition(" ")
            if verb == "ECHO":
                tls.sendall(arg.encode() + b"\r\n")
            elif verb == "SINK":
                lines.take(int(arg))
                tls.sendall(b"250 %d\r\n" % int(arg))
            elif verb == "SEND":
                for chunk in pattern(int(arg)):
                    tls.sendall(chunk)
            elif verb == "QUIT":
                tls.sendall(b"221 bye\r\n")
            else:
                tls.sendall(b"500 unknown\r\n")
    except EOFError:
        print("close_notify", flush=True)
    except ssl.SSLEOFError:
        print("eof without close_notify", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    args = parser.parse_args()

    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(args.cert, args.key)
    family = socket.AF_INET6 if ":" in args.host else socket.AF_INET
    with socket.socket(family, socket.SOCK_STREAM) as server:
        server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        server.bind((args.host, args.port))
        server.listen(8)
        while True:
            conn, _ = server.accept()
            try:
                serve(conn, ctx)
            except (OSError, ssl.SSLError, ValueError) as e:
                print("error:", e, flush=True)
            finally:
                conn.close()


if __name__ == "__main__":
    main()
