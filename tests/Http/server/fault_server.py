#!/usr/bin/env python3
"""A misbehaving HTTP server for the transfer engine's tests (standard library only).

Usage: fault_server.py PORTFILE [--idle SECONDS] [--max-life SECONDS] [--port N]
                       [--sign-key KEY [--other-key KEY] [--release-version V]]
                       [--tls CERT KEY]

Listens on 127.0.0.1 on a free port (or on port N) and writes that port number to PORTFILE
(written under another name and renamed, so a reader never sees half a number).
It ends by itself: on GET /_quit, after --idle seconds without a request
(default 60), or after --max-life seconds (default 900), so that a test program
that died cannot leave it running.

--tls CERT KEY  serves HTTPS with that certificate chain and key instead of HTTP.

Signatures (with --sign-key, a minisign secret key without password): a GET
of a path ending in ".minisig" is answered with a minisign signature of the
body that the same path without ".minisig" serves, made at run time with
Debian's minisign. The data is that of the signature path's own route when it
has one, otherwise of the request's query, otherwise of the data path's route;
its `mode` never applies to the signature request (a fault of the data
request is not cured or repeated by it, and it counts its own requests).
Its trusted comment is "version=V test=<digest>", V the query's ver=V or else
--release-version (default 1.0.0), as scripts/sign-release.sh names the
version of a release; sigdelay=MS sends the signature 4 bytes at a time,
MS ms apart.
  sig=good     a prehashed signature by --sign-key (default)
      other    the same by --other-key (another publisher, an attacker)
      legacy   the older, non-prehashed kind by --sign-key
      none     404, as if no signature file were published
      garbage  200 with text that is no signature
      huge     a good signature padded to 5000 bytes
      comment  a good signature whose trusted comment was altered afterwards

Every request is answered from its path and query; the path itself is free (tests
put their own name in it so they can find their requests in the log). Body bytes
are a pure function of (offset, seed) so tests can rebuild the expected file.

Query parameters:
  size=N     body size in bytes (default 1000)
  seed=S     content seed (default 1)
  mode=...   normal   200, or 206 for "Range: bytes=A-" / "bytes=A-B" (default)
             norange  ignores Range: 200 with the whole body
             badlen   announces Content-Length len=N and sends min(N, size) bytes
             nolen    no Content-Length; the body ends when the connection closes
             status   answers code=C (e.g. 404, 500) with a short text body
             redirect hops=N: 302 to the same URL with hops=N-1; hops=0 answers
                      as mode=then (default normal); rbody=N gives each 302 a
                      body of N bytes with its Content-Length; to=URL: one
                      302 to URL instead
             early    a 103 Early Hints (with Content-Length hintlen=N when
                      given) and then the answer of mode=then
             noloc    answers code=C (default 302) without a Location, with a
                      body of rbody=N bytes (default 20)
             chunked  like normal, but chunked (chunk=N bytes, default 4096, one
                      every delay=MS milliseconds, default 0) without a
                      Content-Length; trailer=1 adds a trailer field
             wrongrange  answers a Range with a 206 whose bytes (and
                      Content-Range) start at rstart=N (default 0) instead
             drop     announces the full length, sends after=N bytes, then closes
             stall    reads the request and never answers (until hold=S seconds)
             stallhdr sends the headers of a normal answer and then nothing
             trickle  sends chunk=N bytes every delay=MS milliseconds
             overrange  answers a Range with the 206 and Content-Range asked for,
                      without a Content-Length, and sends extra=N bytes "X"
                      (default 1000) past the range, even past the end
             stored   200 with the body last stored under name=NAME (see /_put),
                      404 when nothing is stored under that name; no ranges
  blob=NAME  the body is the bytes stored under NAME (see /_put) instead of the
             generated content; every mode above applies to it (ranges, drops...)
  len, code, hops, after, hold, chunk, delay as above.
  rate=B     the body goes out at B bytes per second (16 KiB pieces, paced from
             the first body byte), like a real line; with any mode that sends
             a body
  rfrom=N    the mode applies only to a request whose Range starts at byte N
             (one part of a download fetched in ranges); others are answered
             as mode=normal
  times=N    the mode applies to the first N requests of this path only; later
             ones are answered as mode=normal (a fault that heals by itself)
  after_max=M  with mode=drop: each request drops after a random number of
             bytes in [after, M], drawn from rseed=R (default 1) and the number
             of the request on this path, so a run is repeatable

Control paths:
  /_log           one line per request so far: METHOD TAB PATH TAB RANGE
  /_via           one line per request so far: PATH TAB its Via header ("-": none)
  /_requirevia?on=1  from now on every request (but the control paths) without
                  a Via header is answered 403 (an origin only a proxy may
                  reach, but for its proxy scripts, "*.pac"); on=0 ends it
  /_clear         empties the log, the counters of /_stats and the request
                  numbers that times= and after_max= count, and ends /_requirevia
  /_timing        one line per answered request that sent body bytes:
                  PATH TAB BYTES TAB SECONDS, the seconds from the request's
                  arrival to its last body byte handed to the socket (the
                  server's own view of a download's duration), then the
                  arrival and the last byte on the server's monotonic clock
                  (the span of a download fetched over several requests)
  /_stats         "requests=N faults=F bytes=B": requests answered outside the
                  control paths, those answered with a fault (any mode but
                  normal, trickle and stored; norange only when a Range was
                  asked; each redirect hop), and body bytes sent
  /_quit          answers and ends the server
  /_deaf          a port on which connects never complete (listen queue full)
  POST /_put?name=NAME   stores the request body under NAME for mode=stored
                         (any bytes, any size a test needs, e.g. a manifest)
  POST /_route?path=P    a GET of path P without a query is answered as if it
                         carried the query in the request body (e.g. a program
                         with fixed URLs: "/ovinstall.txt" -> "mode=stored&name=m");
                         an empty body removes the route
"""

import argparse
import hashlib
import os
import random
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PERIOD = 65521  # prime, so a pattern period never lines up with power-of-two buffers


def pattern(seed):
    """One period of the content for `seed`, doubled so any slice of a period is contiguous."""
    one = bytes(((j * 131 + seed * 17 + j // 251) & 0xFF) for j in range(PERIOD))
    return one + one


_patterns = {}
_patterns_lock = threading.Lock()


def content(seed, start, end):
    """Yields memoryview chunks of bytes [start, end) of the content for `seed`."""
    with _patterns_lock:
        pat = _patterns.get(seed)
        if pat is None:
            pat = _patterns[seed] = pattern(seed)
    view = memoryview(pat)
    pos = start
    while pos < end:
        off = pos % PERIOD
        n = min(end - pos, PERIOD)
        yield view[off:off + n]
        pos += n


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.log = []
        self.via = []
        self.timing = []
        self.last_activity = time.monotonic()
        self.deaf_port = 0
        self.deaf_sockets = []
        self.stored = {}
        self.routes = {}
        self.path_requests = {}  # path -> requests so far (times=, after_max=)
        self.requests = 0
        self.faults = 0
        self.bytes_sent = 0

    def touch(self):
        with self.lock:
            self.last_activity = time.monotonic()


STATE = State()
SIGN_KEYS = {}  # "good" and "other": secret key paths
RELEASE = {"version": "1.0.0"}  # named by signatures whose query has no ver=
REQUIRE_VIA = [False]
_signatures = {}  # (key, legacy, digest, comment) -> signature text
_sign_lock = threading.Lock()


def minisign(data, key, legacy=False, version="1.0.0"):
    """A minisign signature of `data` with the secret key file `key`, its
    trusted comment naming `version`."""
    digest = hashlib.sha256(data).hexdigest()
    comment = "version=%s test=%s" % (version, digest[:16])
    with _sign_lock:
        cached = _signatures.get((key, legacy, digest, comment))
        if cached is not None:
            return cached
        with tempfile.TemporaryDirectory(prefix="ovsign") as work:
            path = os.path.join(work, "data")
            with open(path, "wb") as f:
                f.write(data)
            cmd = ["minisign", "-S", "-s", key, "-m", path, "-x", path + ".minisig", "-t", comment]
            if legacy:
                cmd.append("-l")
            subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           check=True, timeout=60)
            with open(path + ".minisig", "rb") as f:
                text = f.read()
        _signatures[(key, legacy, digest, comment)] = text
        return text


def make_deaf_port():
    """A listener whose accept queue is full and never drained: SYNs are dropped,
    so a client's connect hangs until its own connect time-out."""
    lst = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    lst.bind(("127.0.0.1", 0))
    lst.listen(0)
    port = lst.getsockname()[1]
    fillers = []
    for _ in range(3):
        c = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        c.setblocking(False)
        try:
            c.connect(("127.0.0.1", port))
        except (BlockingIOError, OSError):
            pass
        fillers.append(c)
    time.sleep(0.2)
    STATE.deaf_sockets = [lst] + fillers
    return port


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OvFaultServer/1"
    blob = None  # stored bytes that replace the generated content (blob=NAME)
    rate = 0  # bytes per second of the body (rate=B); 0: as fast as the socket takes it
    RATE_PIECE = 16384

    def log_message(self, fmt, *args):  # keep the test output clean
        pass

    # -- helpers ---------------------------------------------------------
    def send_whole(self, code, body, content_type="text/plain", close=False):
        """An answer with its whole body at once (none for HEAD)."""
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def send_text(self, code, text, close=False):
        self.send_whole(code, text.encode("utf-8"), close=close)

    def send_body(self, seed, start, end):
        if self.blob is not None:
            chunks = [memoryview(self.blob)[start:min(end, len(self.blob))]]
        else:
            chunks = content(seed, start, end)
        for chunk in chunks:
            if self.rate:
                self.send_paced(chunk)
            else:
                self.wfile.write(chunk)
                self.count_bytes(len(chunk))

    def send_paced(self, chunk):
        if self.paced_since is None:
            self.paced_since = time.monotonic()
        for pos in range(0, len(chunk), self.RATE_PIECE):
            piece = chunk[pos:pos + self.RATE_PIECE]
            due = self.paced_since + (self.sent + len(piece)) / self.rate
            wait = due - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            self.wfile.write(piece)
            self.wfile.flush()
            self.count_bytes(len(piece))
            STATE.touch()

    def send_chunked(self, seed, start, end, chunk, delay, trailer):
        """Ends the headers and sends bytes [start, end) in chunks of `chunk` bytes."""
        self.send_header("Transfer-Encoding", "chunked")
        if trailer:
            self.send_header("Trailer", "X-Content-Digest")
        self.end_headers()
        if self.command == "HEAD":
            return
        data = b"".join(bytes(c) for c in content(seed, start, end)) if self.blob is None else self.blob[start:end]
        for pos in range(0, len(data), max(1, chunk)):
            piece = data[pos:pos + max(1, chunk)]
            self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
            self.count_bytes(len(piece))
            if delay:
                self.wfile.flush()
                STATE.touch()
                time.sleep(delay)
        self.wfile.write(b"0\r\n")
        if trailer:
            self.wfile.write(b"X-Content-Digest: trailer-%d\r\n" % len(data))
        self.wfile.write(b"\r\n")

    def count_bytes(self, n):
        self.sent += n
        with STATE.lock:
            STATE.bytes_sent += n

    def count_fault(self):
        with STATE.lock:
            STATE.faults += 1

    def wait_for_close(self, seconds):
        """Holds the connection open without sending, until the client goes or time runs out."""
        sock = self.connection
        deadline = time.monotonic() + seconds
        sock.settimeout(0.2)
        while time.monotonic() < deadline:
            try:
                if not sock.recv(4096):
                    break
            except socket.timeout:
                continue
            except OSError:
                break
        self.close_connection = True

    # -- requests --------------------------------------------------------
    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        data = self.rfile.read(length) if length else b""
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/_put":
            STATE.touch()
            name = urllib.parse.parse_qs(url.query).get("name", [""])[-1]
            with STATE.lock:
                STATE.stored[name] = data
            self.send_text(200, "stored %d bytes" % len(data))
            return
        if url.path == "/_route":
            STATE.touch()
            path = urllib.parse.parse_qs(url.query).get("path", [""])[-1]
            with STATE.lock:
                if data:
                    STATE.routes[path] = data.decode("utf-8")
                else:
                    STATE.routes.pop(path, None)
            self.send_text(200, "routed %s" % path)
            return
        self.record(len(data))
        self.send_text(200, "posted %d bytes" % len(data))

    def do_HEAD(self):
        self.do_GET()

    def record(self, posted=None):
        STATE.touch()
        self.arrived = time.monotonic()
        rng = self.headers.get("Range") or "-"
        line = "%s\t%s\t%s" % (self.command, self.path, rng)
        if posted is not None:
            line += "\t%d" % posted
        with STATE.lock:
            STATE.log.append(line)
            STATE.via.append("%s\t%s" % (self.path, self.headers.get("Via") or "-"))

    def data_of(self, q):
        """The whole body a data request with query `q` serves (faults aside)."""
        with STATE.lock:
            if "blob" in q:
                return STATE.stored.get(q["blob"])
            if q.get("mode") == "stored":
                return STATE.stored.get(q.get("name", ""))
        return b"".join(bytes(c) for c in content(int(q.get("seed", 1)), 0, int(q.get("size", 1000))))

    def serve_signature(self, url):
        data_path = url.path[:-len(".minisig")]
        with STATE.lock:
            own = STATE.routes.get(url.path)
            query = own if own is not None else (url.query or STATE.routes.get(data_path, ""))
            STATE.requests += 1
        q = {k: v[-1] for k, v in urllib.parse.parse_qs(query).items()}
        kind = q.get("sig", "good")
        if kind != "good":
            self.count_fault()
        if kind == "none":
            self.send_text(404, "no signature for %s" % data_path)
            return
        if kind == "garbage":
            self.send_text(200, "this is not a signature\n")
            return
        data = self.data_of(q)
        if data is None:
            self.send_text(404, "nothing stored for %s" % data_path)
            return
        body = minisign(data, SIGN_KEYS["other" if kind == "other" else "good"], legacy=kind == "legacy",
                        version=q.get("ver") or RELEASE["version"])
        if kind == "huge":
            body = body + b"\n" * (5000 - len(body))
        if kind == "comment":
            lines = body.split(b"\n")
            lines[2] = lines[2] + b" (altered)"
            body = b"\n".join(lines)
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        delay = float(q.get("sigdelay", 0)) / 1000.0
        piece = 4 if delay else max(1, len(body))
        for pos in range(0, len(body), piece):
            if delay:
                time.sleep(delay)
                STATE.touch()
            self.wfile.write(body[pos:pos + piece])
            self.wfile.flush()
        self.count_bytes(len(body))

    def do_GET(self):
        self.arrived = None
        self.sent = 0
        self.paced_since = None
        try:
            self.answer_get()
        finally:
            if self.arrived is not None and self.sent:
                try:
                    self.wfile.flush()
                except OSError:
                    pass
                now = time.monotonic()
                line = "%s\t%d\t%.6f\t%.6f\t%.6f" % (self.path, self.sent, now - self.arrived, self.arrived, now)
                with STATE.lock:
                    STATE.timing.append(line)

    def answer_get(self):
        url = urllib.parse.urlsplit(self.path)
        listing = {"/_timing": STATE.timing, "/_log": STATE.log, "/_via": STATE.via}.get(url.path)
        if listing is not None:
            with STATE.lock:
                text = "".join(line + "\n" for line in listing)
            self.send_text(200, text)
            return
        if url.path == "/_requirevia":
            REQUIRE_VIA[0] = urllib.parse.parse_qs(url.query).get("on", ["1"])[-1] == "1"
            self.send_text(200, "require via: %s" % REQUIRE_VIA[0])
            return
        if url.path == "/_clear":
            with STATE.lock:
                STATE.log.clear()
                STATE.via.clear()
                REQUIRE_VIA[0] = False
                STATE.timing.clear()
                STATE.path_requests.clear()
                STATE.requests = STATE.faults = STATE.bytes_sent = 0
            self.send_text(200, "cleared")
            return
        if url.path == "/_stats":
            with STATE.lock:
                text = "requests=%d faults=%d bytes=%d" % (STATE.requests, STATE.faults, STATE.bytes_sent)
            self.send_text(200, text)
            return
        if url.path == "/_quit":
            self.send_text(200, "bye", close=True)
            threading.Thread(target=self.server.shutdown, daemon=True).start()
            return
        if url.path == "/_deaf":
            with STATE.lock:
                if not STATE.deaf_port:
                    STATE.deaf_port = make_deaf_port()
                port = STATE.deaf_port
            self.send_text(200, str(port))
            return

        self.record()
        if REQUIRE_VIA[0] and not self.headers.get("Via") and not url.path.endswith(".pac"):
            self.send_text(403, "direct connections are refused here")
            return
        if SIGN_KEYS and url.path.endswith(".minisig"):
            self.serve_signature(url)
            return
        query = url.query
        if not query:
            with STATE.lock:
                query = STATE.routes.get(url.path, "")
        q = {k: v[-1] for k, v in urllib.parse.parse_qs(query).items()}
        self.blob = None
        if "blob" in q:
            with STATE.lock:
                self.blob = STATE.stored.get(q["blob"])
            if self.blob is None:
                self.send_text(404, "nothing stored for %s" % url.path)
                return
        size = len(self.blob) if self.blob is not None else int(q.get("size", 1000))
        seed = int(q.get("seed", 1))
        self.rate = max(0, int(q.get("rate", 0)))
        mode = q.get("mode", "normal")
        with STATE.lock:
            STATE.requests += 1
            number = STATE.path_requests.get(url.path, 0)
            STATE.path_requests[url.path] = number + 1
        if "times" in q and number >= int(q["times"]):
            mode = "normal"
        if "rfrom" in q and not (self.headers.get("Range") or "").startswith("bytes=%s-" % q["rfrom"]):
            mode = "normal"
        if mode not in ("normal", "trickle", "stored", "norange", "redirect", "chunked"):
            self.count_fault()
        if mode == "norange" and self.headers.get("Range"):
            self.count_fault()
        if mode == "drop" and "after_max" in q:
            rng = random.Random(int(q.get("rseed", 1)) * 1000003 + number)
            q["after"] = str(rng.randint(int(q.get("after", 0)), int(q["after_max"])))

        if mode == "early":
            self.send_response_only(103, "Early Hints")
            self.send_header("Link", "</style.css>; rel=preload; as=style")
            if "hintlen" in q:
                self.send_header("Content-Length", q["hintlen"])
            self.end_headers()
            mode = q.get("then", "normal")
        if mode == "redirect" and "to" in q:
            self.count_fault()
            self.send_response(302)
            self.send_header("Location", q["to"])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if mode == "redirect":
            hops = int(q.get("hops", 1))
            if hops > 0:
                self.count_fault()
                q["hops"] = str(hops - 1)
                target = url.path + "?" + urllib.parse.urlencode(q)
                body = b"r" * int(q.get("rbody", 0))
                self.send_response(302)
                self.send_header("Location", "%s://%s:%d%s" % (self.server.scheme, self.server.server_address[0],
                                                                self.server.server_address[1], target))
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                return
            mode = q.get("then", "normal")
        if mode == "noloc":
            self.send_whole(int(q.get("code", 302)), b"m" * int(q.get("rbody", 20)), "text/html")
            return
        if mode == "status":
            code = int(q.get("code", 404))
            self.send_text(code, "error page %d for %s" % (code, url.path))
            return
        if mode == "stored":
            with STATE.lock:
                body = STATE.stored.get(q.get("name", ""))
            if body is None:
                self.send_text(404, "nothing stored for %s" % url.path)
            else:
                self.send_whole(200, body)
            return
        if mode == "stall":
            self.wait_for_close(float(q.get("hold", 20)))
            return

        start, end, partial = 0, size, False
        rng = self.headers.get("Range")
        if rng and mode != "norange" and rng.startswith("bytes="):
            first, _, last = rng[6:].partition("-")
            try:
                start = int(first)
                end = min(size, int(last) + 1) if last else size
                partial = True
            except ValueError:
                start, end, partial = 0, size, False
            if start >= size:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return

        if partial and mode == "wrongrange":
            shift = int(q.get("rstart", 0))
            start, end = shift, min(size, shift + end - start)
        self.send_response(206 if partial else 200)
        self.send_header("Content-Type", "application/octet-stream")
        if partial:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end - 1, size))
        if mode == "chunked":
            self.send_chunked(seed, start, end, int(q.get("chunk", 4096)), float(q.get("delay", 0)) / 1000.0,
                              q.get("trailer") == "1")
            return
        if mode == "badlen":
            announced = int(q.get("len", size))
            self.send_header("Content-Length", str(announced))
            self.send_header("Connection", "close")
            self.close_connection = True
            self.end_headers()
            self.send_body(seed, start, min(end, start + announced))
            return
        if mode == "overrange" and partial:
            self.send_header("Connection", "close")
            self.close_connection = True
            self.end_headers()
            self.send_body(seed, start, end)
            self.wfile.write(b"X" * int(q.get("extra", 1000)))
            return
        if mode == "nolen":
            self.send_header("Connection", "close")
            self.close_connection = True
            self.end_headers()
            self.send_body(seed, start, end)
            return
        self.send_header("Content-Length", str(end - start))
        if mode == "drop":
            self.send_header("Connection", "close")
            self.end_headers()
            after = int(q.get("after", 0))
            self.send_body(seed, start, min(end, start + after))
            self.wfile.flush()
            self.close_connection = True
            # An abortive close (RST) rather than a clean FIN, like a broken link.
            try:
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            except OSError:
                pass
            return
        self.end_headers()
        if mode == "stallhdr":
            self.wfile.flush()
            self.wait_for_close(float(q.get("hold", 20)))
            return
        if mode == "trickle":
            chunk = max(1, int(q.get("chunk", 100)))
            delay = float(q.get("delay", 50)) / 1000.0
            pos = start
            while pos < end:
                n = min(chunk, end - pos)
                self.send_body(seed, pos, pos + n)
                self.wfile.flush()
                pos += n
                STATE.touch()
                if pos < end:
                    time.sleep(delay)
            return
        if self.command != "HEAD":
            self.send_body(seed, start, end)


class Server(ThreadingHTTPServer):
    scheme = "http"
    tls = None  # an ssl.SSLContext when serving HTTPS

    def get_request(self):
        sock, address = super().get_request()
        if self.tls is not None:
            # The handshake runs in the request's own thread (on first read),
            # so a client that never completes it holds up nobody else.
            sock = self.tls.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, address

    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def handle_error(self, request, client_address):
        # A client that hangs up mid-body is what several tests do on purpose.
        if isinstance(sys.exc_info()[1], (ConnectionError, socket.timeout, ssl.SSLError)):
            return
        super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(usage=__doc__.split("\n\n")[1].replace("Usage: ", "", 1))
    parser.add_argument("portfile")
    parser.add_argument("--idle", type=float, default=60.0)
    parser.add_argument("--max-life", type=float, default=900.0)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--sign-key")
    parser.add_argument("--other-key")
    parser.add_argument("--release-version", default="1.0.0")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    args = parser.parse_args()
    if args.sign_key:
        SIGN_KEYS["good"] = args.sign_key
        SIGN_KEYS["other"] = args.other_key or args.sign_key
    RELEASE["version"] = args.release_version
    portfile, idle, max_life, port = args.portfile, args.idle, args.max_life, args.port
    server = Server(("127.0.0.1", port), Handler)
    if args.tls:
        server.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        server.tls.load_cert_chain(*args.tls)
        server.scheme = "https"
    port = server.server_address[1]
    tmp = portfile + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    os.replace(tmp, portfile)

    born = time.monotonic()

    def watchdog():
        while True:
            time.sleep(0.5)
            now = time.monotonic()
            with STATE.lock:
                quiet = now - STATE.last_activity
            if quiet > idle or now - born > max_life:
                server.shutdown()
                return

    threading.Thread(target=watchdog, daemon=True).start()
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
        try:
            os.unlink(portfile)
        except OSError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
