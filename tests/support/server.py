#!/usr/bin/env python3
"""The tests' HTTP/1.1 server on loopback; tests/support/testing.h is its C++ side.

Usage: server.py STATE_DIR [--tls]. Prints "PORT <n> CLOSED <m> FULL <k>" once it listens on
127.0.0.1:<n>; <m> is bound and never listens; <k> listens with its queue full, so a new
connection is never accepted. --tls makes a test CA (STATE_DIR/ca.pem).
The first route of STATE_DIR/routes.json (read for every request) that matches answers:
  path ("*": any), status, headers (pairs; "{target}" in a value is the request's target),
  body (hex) or body_file (in STATE_DIR, whole), chunked (piece size), length (announced
  instead), gzip; cut_after (body bytes sent), then cut: close, reset, stall or garbage (a
  bad chunk size); hang; raw_head (text sent instead, then a reset).
No route: 404. A CONNECT is refused with 404; an absolute URI is served by its path as a
forward proxy would. Each request goes to STATE_DIR/requests/NNNNNN.bin.
"""

import gzip, http, json, os, socket, socketserver, ssl, struct, subprocess, sys, threading
import urllib.parse

STATE = sys.argv[1]
STOP = threading.Event()
COUNT = iter(range(1, 1 << 30))


def write_state(name, data):
    with open(os.path.join(STATE, name + ".part"), "wb") as f:
        f.write(data)
    os.replace(os.path.join(STATE, name + ".part"), os.path.join(STATE, name))


def make_certificates():
    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=STATE, check=True, capture_output=True)
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=Test CA",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign")
    openssl("req", *key, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    write_state("server.ext", b"subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", "server.pem", "-days", "2", "-extfile", "server.ext")


class Handler(socketserver.BaseRequestHandler):
    def read(self, count=None, marker=None):
        while len(self.pending) < (count or 0) or (marker and marker not in self.pending):
            data = self.request.recv(65536)
            if not data:
                raise ValueError("the client went away")
            self.pending += data
        end = count if marker is None else self.pending.index(marker) + len(marker)
        data, self.pending = self.pending[:end], self.pending[end:]
        return data

    def handle(self):
        self.pending = b""
        try:
            self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            if self.server.context:
                self.request = self.server.context.wrap_socket(self.request, server_side=True)
            self.serve()
            self.request.shutdown(socket.SHUT_WR)
            self.request.settimeout(120)
            while not STOP.is_set() and self.request.recv(65536):
                pass
        except (OSError, ssl.SSLError, ValueError):
            pass

    def serve(self):
        head = self.read(marker=b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        method, target = (lines[0].split(" ") + [""])[:2]
        fields = {n.strip().lower(): v.strip() for n, c, v in (l.partition(":") for l in lines[1:]) if c}
        body = self.read(int(fields.get("content-length", 0)))
        write_state("requests/%06d.bin" % next(COUNT), head + body)
        if method == "CONNECT":
            return self.send_head(404, [], 0)
        if "://" in target:
            parts = urllib.parse.urlsplit(target)
            target = (parts.path or "/") + ("?" + parts.query if parts.query else "")
        with open(os.path.join(STATE, "routes.json"), "rb") as f:
            routes = json.load(f)
        self.answer(next((r for r in routes if r["path"] in ("*", target)), {"status": 404, "body": b"no route".hex()}),
                    target)

    def send_head(self, status, headers, length):
        text = "HTTP/1.1 %d %s\r\n" % (status, http.HTTPStatus(status).phrase)
        for name, value in headers + ([["Content-Length", length]] if length is not None else []):
            text += "%s: %s\r\n" % (name, value)
        self.request.sendall((text + "Connection: close\r\n\r\n").encode("latin-1"))

    def reset(self):
        self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.request.close()
        raise ValueError("reset")  # a close with a zero linger time sends RST

    def answer(self, route, target):
        if route.get("hang"):
            return STOP.wait()
        if route.get("raw_head"):
            self.request.sendall(route["raw_head"].encode("latin-1"))
            return self.reset()
        headers = [[n, v.replace("{target}", target)] for n, v in route.get("headers", [])]
        status, chunked, cut = int(route.get("status", 200)), int(route.get("chunked", 0)), int(route.get("cut_after", -1))
        if route.get("body_file"):  # for benchmarks: the kernel moves the bytes
            with open(os.path.join(STATE, route["body_file"]), "rb") as f:
                self.send_head(status, headers, os.fstat(f.fileno()).st_size)
                return self.request.sendfile(f)
        body = bytes.fromhex(route.get("body", ""))
        if route.get("gzip"):
            body = gzip.compress(body, mtime=0)
            headers.append(["Content-Encoding", "gzip"])
        if chunked:
            headers.append(["Transfer-Encoding", "chunked"])
        length = int(route.get("length", -1))
        self.send_head(status, headers, None if chunked or status == 204
                       else length if length >= 0 else len(body))
        sent = body if cut < 0 else body[:cut]
        for piece in [sent[i:i + chunked] for i in range(0, len(sent), chunked)] if chunked else [sent]:
            self.request.sendall(b"%x\r\n%s\r\n" % (len(piece), piece) if chunked else piece)
        how = route.get("cut", "close") if cut >= 0 else None
        if how == "reset":
            self.reset()
        elif how == "stall":
            STOP.wait()
        elif how == "garbage":
            self.request.sendall(b"zz\r\n" + body[cut:])
        elif chunked and how is None:
            self.request.sendall(b"0\r\n\r\n")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads, allow_reuse_address, context = True, True, None

    def handle_error(self, request, client_address):
        pass


os.makedirs(os.path.join(STATE, "requests"), exist_ok=True)
server = Server(("127.0.0.1", 0), Handler)
if "--tls" in sys.argv:
    make_certificates()
    server.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    server.context.load_cert_chain(os.path.join(STATE, "server.pem"), os.path.join(STATE, "server.key"))
closed = socket.socket()
closed.bind(("127.0.0.1", 0))
full = socket.create_server(("127.0.0.1", 0), backlog=0)
queued = [socket.socket() for _ in range(2)]
for waiting in queued:  # the second one's handshake is never answered
    waiting.setblocking(False)
    waiting.connect_ex(full.getsockname())
print("PORT %d CLOSED %d FULL %d" % (server.server_address[1], closed.getsockname()[1],
                                     full.getsockname()[1]), flush=True)
try:
    server.serve_forever(poll_interval=0.1)
finally:
    STOP.set()
