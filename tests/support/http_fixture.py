#!/usr/bin/env python3
"""Scriptable HTTP/1.1 server on loopback for tests (see http_fixture.h for the C++ side).

Usage: http_fixture.py STATE_DIR [--tls]

Binds 127.0.0.1 on an ephemeral port and prints "PORT <n>" on standard output once it
accepts connections. With --tls it first makes a test CA and a server certificate for
127.0.0.1 and localhost with openssl (STATE_DIR/ca.pem, server.pem, server.key) and
speaks TLS.

Responses come from STATE_DIR/routes.json, read again for every request, so routes can
change while the server runs. It is a JSON list; the first route that matches is used:
  {"path": "/x?y" | "*",     request target (path and query) to match; "*" matches any
   "host": "name",           optional: match the Host header's name (no port)
   "status": 200, "reason": "OK",
   "headers": [["Name", "value"], ...],
   "body_hex": "...",        body bytes in hex
   "repeat": 1,              the body is sent this many times over
   "body_file": "/path",     alternatively: the body is this file, sent with sendfile()
   "chunked": 0,             >0: Transfer-Encoding chunked in pieces of this size
   "no_length": false,       true: no Content-Length; the body ends when the connection closes
   "break_after": -1,        >=0: send only this many body bytes, then close the connection
   "stall_after": -1,        >=0: send only this many body bytes, then send nothing more
   "hang": false,            true: read the request, never answer (until the server stops)
   "basic": "user:password"} optional: without these credentials (HTTP Basic) the answer is
                             401 with a Basic challenge and an empty body
With no route matching the answer is 404 with the body "no route".

Every request (request line, headers and body, raw bytes) is written to
STATE_DIR/requests/NNNNNN.bin before it is answered. A request whose target is an absolute
URI ("GET http://host:port/path HTTP/1.1") is served as a forward proxy would: its route
is looked up by the URI's path and query (and host), and it is recorded as it came, so a
test can point http_proxy at this server and fetch any host name through it.
"""

import base64
import json
import os
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import urllib.parse

STATE_DIR = ""
STOP = threading.Event()
COUNTER_LOCK = threading.Lock()
COUNTER = [0]


def make_certificates(state_dir):
    def run(*args):
        subprocess.run(["openssl", *args], cwd=state_dir, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    run("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
        "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
        "-subj", "/CN=Zemlik Test CA",
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
        "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    with open(os.path.join(state_dir, "server.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                "basicConstraints=CA:FALSE\n"
                "extendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext")


def load_routes():
    try:
        with open(os.path.join(STATE_DIR, "routes.json"), "rb") as f:
            return json.load(f)
    except (OSError, ValueError):
        return []


def record(raw):
    with COUNTER_LOCK:
        COUNTER[0] += 1
        number = COUNTER[0]
    folder = os.path.join(STATE_DIR, "requests")
    name = os.path.join(folder, "%06d.bin" % number)
    with open(name + ".part", "wb") as f:
        f.write(raw)
    os.rename(name + ".part", name)


def find_route(target, host):
    for route in load_routes():
        if route.get("host") and route["host"] != host:
            continue
        if route.get("path", "*") in ("*", target):
            return route
    return {"status": 404, "reason": "Not Found", "body_hex": b"no route".hex()}


class Connection(socketserver.BaseRequestHandler):
    def setup(self):
        self.pending = b""
        self.tls = None
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if self.server.context is not None:
            self.request.settimeout(10)
            self.tls = self.server.context.wrap_socket(self.request, server_side=True)
            self.tls.settimeout(None)
            self.request = self.tls

    def finish(self):
        if self.tls is not None:
            self.tls.close()

    def read_until(self, marker):
        while marker not in self.pending:
            data = self.request.recv(65536)
            if not data:
                return None
            self.pending += data
        index = self.pending.index(marker) + len(marker)
        head, self.pending = self.pending[:index], self.pending[index:]
        return head

    def read_exactly(self, count):
        while len(self.pending) < count:
            data = self.request.recv(65536)
            if not data:
                return None
            self.pending += data
        body, self.pending = self.pending[:count], self.pending[count:]
        return body

    def read_chunked(self):
        raw = b""
        while True:
            line = self.read_until(b"\r\n")
            if line is None:
                return None
            raw += line
            size = int(line.split(b";")[0].strip() or b"0", 16)
            if size == 0:
                trailer = self.read_until(b"\r\n")
                return None if trailer is None else raw + trailer
            data = self.read_exactly(size + 2)
            if data is None:
                return None
            raw += data

    def handle(self):
        if self.server.context is not None and self.tls is None:
            return
        try:
            while not STOP.is_set():
                if not self.serve_one():
                    break
        except (OSError, ssl.SSLError):
            pass

    def serve_one(self):
        head = self.read_until(b"\r\n\r\n")
        if head is None:
            return False
        lines = head.decode("latin-1").split("\r\n")
        method, target, _ = (lines[0].split(" ") + ["", ""])[:3]
        headers = {}
        for line in lines[1:]:
            if ":" in line:
                name, value = line.split(":", 1)
                headers[name.strip().lower()] = value.strip()
        body = b""
        if headers.get("transfer-encoding", "").lower() == "chunked":
            body = self.read_chunked()
        elif "content-length" in headers:
            body = self.read_exactly(int(headers["content-length"]))
        if body is None:
            return False
        record(head + body)

        host = headers.get("host", "")
        if target.startswith("http://") or target.startswith("https://"):
            parts = urllib.parse.urlsplit(target)
            host = parts.netloc
            target = parts.path or "/"
            if parts.query:
                target += "?" + parts.query
        if host.startswith("["):
            host = host[1:host.find("]")]
        else:
            host = host.split(":")[0]
        route = find_route(target, host)
        if "basic" in route:
            expected = "Basic " + base64.b64encode(route["basic"].encode("utf-8")).decode("ascii")
            if headers.get("authorization") != expected:
                route = {"status": 401, "reason": "Unauthorized",
                         "headers": [["WWW-Authenticate", 'Basic realm="zemlik"']]}
        if route.get("hang"):
            STOP.wait()
            return False
        return self.respond(method, route)

    def respond(self, method, route):
        if "body_file" in route:
            size = os.path.getsize(route["body_file"])
            piece = None
        else:
            piece = bytes.fromhex(route.get("body_hex", ""))
            size = len(piece) * int(route.get("repeat", 1))
        chunked = int(route.get("chunked", 0))
        no_length = bool(route.get("no_length"))
        status = "HTTP/1.1 %d %s\r\n" % (route.get("status", 200), route.get("reason", "OK"))
        head = status.encode("latin-1")
        for name, value in route.get("headers", []):
            head += ("%s: %s\r\n" % (name, value)).encode("latin-1")
        if chunked:
            head += b"Transfer-Encoding: chunked\r\n"
        elif no_length:
            head += b"Connection: close\r\n"
        else:
            head += b"Content-Length: %d\r\n" % size
        head += b"\r\n"
        self.request.sendall(head)
        if method == "HEAD":
            return True

        stall = int(route.get("stall_after", -1))
        limit = int(route.get("break_after", -1))
        if stall >= 0:
            limit = stall
        budget = [size if limit < 0 else min(limit, size)]

        def send(data):
            data = data[:budget[0]]
            budget[0] -= len(data)
            if chunked:
                for i in range(0, len(data), chunked):
                    part = data[i:i + chunked]
                    self.request.sendall(b"%x\r\n" % len(part) + part + b"\r\n")
            else:
                self.request.sendall(data)

        if piece is None:
            with open(route["body_file"], "rb") as f:
                if chunked or isinstance(self.request, ssl.SSLSocket):
                    while budget[0] > 0:
                        data = f.read(min(1 << 20, budget[0]))
                        if not data:
                            break
                        send(data)
                else:
                    self.request.sendfile(f, 0, budget[0])
                    budget[0] = 0
        else:
            for _ in range(int(route.get("repeat", 1))):
                if budget[0] <= 0:
                    break
                send(piece)
        if stall >= 0:
            STOP.wait()
            return False
        if limit >= 0:
            self.request.shutdown(socket.SHUT_RDWR)
            return False
        if chunked:
            self.request.sendall(b"0\r\n\r\n")
        return not no_length


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    context = None

    def handle_error(self, request, client_address):
        pass  # a client that breaks off (a refused certificate, a test's time limit)


def main():
    global STATE_DIR
    STATE_DIR = sys.argv[1]
    tls = "--tls" in sys.argv[2:]
    os.makedirs(os.path.join(STATE_DIR, "requests"), exist_ok=True)
    server = Server(("127.0.0.1", 0), Connection)
    if tls:
        make_certificates(STATE_DIR)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(STATE_DIR, "server.pem"),
                                os.path.join(STATE_DIR, "server.key"))
        server.context = context
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.1)
    finally:
        STOP.set()


if __name__ == "__main__":
    main()
