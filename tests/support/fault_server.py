#!/usr/bin/env python3
"""An HTTP/1.1 server on loopback that misbehaves on purpose (see fault_server.h).

Usage: fault_server.py STATE_DIR

Binds 127.0.0.1 on an ephemeral port and prints "PORT <n>" once it accepts connections.
It serves as an origin server and as a forward proxy: a request whose target is an
absolute URI ("GET http://www.bookshop.example/x HTTP/1.1") is answered like one for its
path, whatever the host, so the real binary can be pointed at it through http_proxy.

Which fault answers a request:
  - a path "/fault/<name>[/...]" names it (for a URL the test chooses);
  - any other path gets the fault written in STATE_DIR/fault (for the jobs whose path is
    fixed), "ok" when that file is missing.
A fault name may carry one argument after a colon ("redirect-closed:40123").

The body of the faults that send one is STATE_DIR/body (bytes; empty when missing):
  ok               200 with Content-Length and the body
  reset-headers    part of the status line and headers, then a reset (RST)
  reset-body       all headers, half of the body, then a reset
  stall-headers    all headers, then nothing until the client goes away
  long-length      Content-Length 1000 larger than the body, the body, then the close
  short-length     Content-Length half the body, then the whole body, then the close
  bad-chunk        chunked: the first half of the body as one chunk, then "zz" as a size
  huge-headers     100 KB of headers in 1000 lines, then the body
  huge-header-line one header line of 100 KB, then the body
  redirect-loop    302 to the same target, every time
  redirect-closed:PORT  302 to http://127.0.0.1:PORT/closed
  gzip             the body gzip-compressed with Content-Encoding: gzip, asked for or not;
                   the compressed bytes are also written to STATE_DIR/gzip
  no-content       204 with no body
  status:CODE      CODE (404, 500, ...) with a short HTML error page
  trickle:SIZE     200 with a generated ASCII body of SIZE bytes, written in blocks of
                   64 KiB with a one-byte write between every two blocks

Every request head (request line and headers, raw bytes) is written to
STATE_DIR/requests/NNNNNN.bin before it is answered. Nothing is sent to any other host:
the server never connects anywhere, and refuses every CONNECT (a tunnel for https) with
404. Each connection ends after one exchange, and a stalled one after at most 120 s.
"""

import gzip
import os
import socket
import socketserver
import struct
import sys
import threading
import urllib.parse

STATE_DIR = ""
STOP = threading.Event()
COUNTER_LOCK = threading.Lock()
COUNTER = [0]
STALL_LIMIT_S = 120
BLOCK = 64 * 1024


def read_state(name, default):
    try:
        with open(os.path.join(STATE_DIR, name), "rb") as f:
            return f.read()
    except OSError:
        return default


def record(head):
    with COUNTER_LOCK:
        COUNTER[0] += 1
        number = COUNTER[0]
    name = os.path.join(STATE_DIR, "requests", "%06d.bin" % number)
    with open(name + ".part", "wb") as f:
        f.write(head)
    os.rename(name + ".part", name)


def trickle_body(size):
    """The generated body of `trickle`: lines of 64 bytes, numbered, ending in LF."""
    line_count = (size + 63) // 64
    out = bytearray()
    for i in range(line_count):
        out += b"%063d\n" % i
    return bytes(out[:size])


class Connection(socketserver.BaseRequestHandler):
    def setup(self):
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def read_head(self):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.request.recv(65536)
            if not chunk:
                return None
            data += chunk
        return data[:data.index(b"\r\n\r\n") + 4]

    def reset(self):
        # A close with a zero linger time sends RST instead of FIN.
        self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.request.close()

    def wait_for_close(self):
        self.request.settimeout(1.0)
        for _ in range(STALL_LIMIT_S):
            if STOP.is_set():
                return
            try:
                if not self.request.recv(4096):
                    return
            except socket.timeout:
                continue
            except OSError:
                return

    def handle(self):
        try:
            head = self.read_head()
            if head is None:
                return
            record(head)
            method, target = head.split(b"\r\n", 1)[0].split(b" ")[:2]
            target = target.decode("latin-1")
            if method == b"CONNECT":
                self.send_head("404 Not Found", [("Content-Length", 0)])
                self.request.shutdown(socket.SHUT_WR)
                self.wait_for_close()
                return
            if target.startswith("http://") or target.startswith("https://"):
                parts = urllib.parse.urlsplit(target)
                path = parts.path or "/"
            else:
                path = target.split("?", 1)[0]
            if path.startswith("/fault/"):
                fault = path[len("/fault/"):].split("/", 1)[0]
            else:
                fault = read_state("fault", b"ok").decode("ascii").strip() or "ok"
            name, _, argument = fault.partition(":")
            self.answer(name, argument, target)
        except OSError:
            pass

    def send_head(self, status, headers):
        # One exchange per connection, said so that no client waits to reuse it.
        if not any(name == "Connection" for name, _ in headers):
            headers = headers + [("Connection", "close")]
        text = "HTTP/1.1 %s\r\n" % status
        for name, value in headers:
            text += "%s: %s\r\n" % (name, value)
        self.request.sendall(text.encode("latin-1") + b"\r\n")

    def answer(self, name, argument, target):
        body = read_state("body", b"")
        sock = self.request
        if name == "ok":
            self.send_head("200 OK", [("Content-Length", len(body))])
            sock.sendall(body)
        elif name == "reset-headers":
            sock.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Le")
            self.reset()
        elif name == "reset-body":
            self.send_head("200 OK", [("Content-Length", len(body))])
            sock.sendall(body[:len(body) // 2])
            self.reset()
        elif name == "stall-headers":
            self.send_head("200 OK", [("Content-Length", len(body))])
            self.wait_for_close()
        elif name == "long-length":
            self.send_head("200 OK", [("Content-Length", len(body) + 1000),
                                      ("Connection", "close")])
            sock.sendall(body)
        elif name == "short-length":
            self.send_head("200 OK", [("Content-Length", len(body) // 2),
                                      ("Connection", "close")])
            sock.sendall(body)
        elif name == "bad-chunk":
            self.send_head("200 OK", [("Transfer-Encoding", "chunked")])
            half = body[:len(body) // 2]
            sock.sendall(b"%x\r\n" % len(half) + half + b"\r\nzz\r\n" + body[len(half):])
        elif name == "huge-headers":
            filler = [("X-Filler-%04d" % i, "f" * 83) for i in range(1000)]
            self.send_head("200 OK", filler + [("Content-Length", len(body))])
            sock.sendall(body)
        elif name == "huge-header-line":
            self.send_head("200 OK", [("X-Filler", "f" * (100 * 1024)),
                                      ("Content-Length", len(body))])
            sock.sendall(body)
        elif name == "redirect-loop":
            self.send_head("302 Found", [("Location", target), ("Content-Length", 0)])
        elif name == "redirect-closed":
            location = "http://127.0.0.1:%d/closed" % int(argument)
            self.send_head("302 Found", [("Location", location), ("Content-Length", 0)])
        elif name == "gzip":
            packed = gzip.compress(body, mtime=0)
            with open(os.path.join(STATE_DIR, "gzip.part"), "wb") as f:
                f.write(packed)
            os.rename(os.path.join(STATE_DIR, "gzip.part"), os.path.join(STATE_DIR, "gzip"))
            self.send_head("200 OK", [("Content-Encoding", "gzip"),
                                      ("Content-Length", len(packed))])
            sock.sendall(packed)
        elif name == "no-content":
            self.send_head("204 No Content", [])
        elif name == "status":
            page = b"<html><body>error %s</body></html>" % argument.encode("ascii")
            self.send_head("%s Error" % argument, [("Content-Type", "text/html"),
                                                   ("Content-Length", len(page))])
            sock.sendall(page)
        elif name == "trickle":
            data = trickle_body(int(argument))
            self.send_head("200 OK", [("Content-Length", len(data))])
            view = memoryview(data)
            at = 0
            while at < len(data):
                sock.sendall(view[at:at + BLOCK])
                sock.sendall(view[at + BLOCK:at + BLOCK + 1])
                at += BLOCK + 1
        else:
            message = b"unknown fault " + name.encode("latin-1", "replace")
            self.send_head("400 Bad Request", [("Content-Length", len(message))])
            sock.sendall(message)
        if name not in ("reset-headers", "reset-body"):
            sock.shutdown(socket.SHUT_WR)
            self.wait_for_close()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass  # a client that went away mid-answer is what these faults are about


def main():
    global STATE_DIR
    STATE_DIR = sys.argv[1]
    os.makedirs(os.path.join(STATE_DIR, "requests"), exist_ok=True)
    server = Server(("127.0.0.1", 0), Connection)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.1)
    finally:
        STOP.set()


if __name__ == "__main__":
    main()
