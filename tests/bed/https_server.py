#!/usr/bin/python3
"""HTTPS server for Quillmere's test bed (Python 3 standard library only).

Serves deterministic bodies and a set of misbehaving responses so that the
downloader can be tested against real TLS under Wine.  Listens on 127.0.0.1
only, one listening socket per --listen argument, all in one process.

Usage:
  https_server.py --log REQUEST_LOG [--port-file FILE]
                  --listen NAME:PORT:CERT.pem:KEY.pem [--listen ...]

PORT 0 picks a free port.  Once every socket listens, the port file is
written atomically (temp file + rename), one "NAME PORT" line per listener;
its appearance means the server is ready.  SIGTERM or SIGINT ends it cleanly.

Request log: one JSON object per request, appended and flushed at once
(the file is opened for each line, so a test may truncate or delete it):
  {"port": 4443, "requestline": "GET /x?y HTTP/1.1", "path": "/x?y",
   "headers": [["Host", "localhost:4443"], ...], "time": 1700000000.123}
Headers are in the order received, with their names as sent.

Body content: byte i (counting from 0 at the first byte of every body) is
    (i * 131 + 7) % 256
so for example a check in Python is
    all(b == (i * 131 + 7) % 256 for i, b in enumerate(data))
and in C++  data[i] == static_cast<unsigned char>((i * 131 + 7) % 256).
The pattern repeats every 256 bytes.

Routes (the path before '?' decides; GET and HEAD; anything else is 405):
  /ok/<n>              200, Content-Length n, n body bytes (64 KiB writes)
  /chunked/<n>?ms=<m>  200, Transfer-Encoding: chunked, n bytes in chunks of
                       up to 64 KiB, no Content-Length; with ms, m ms before
                       each chunk, the first one too
  /status/<code>       that status with a 3-byte body and its Content-Length;
                       1xx, 204 and 304 have neither body nor Content-Length
  /cl?v=<pct>&n=<b>    200, the header line written raw as
                       "Content-Length: " + percent-decoded v (bytes, '+' is
                       kept as '+'), then b body bytes and the connection is
                       closed ("Connection: close" is always sent).  Without
                       n: int(v) if v is 1 to 12 ASCII digits, else 0.
  /short/<n>           Content-Length n, sends n-1 bytes, closes
  /long/<n>            Content-Length n, sends n+1 bytes, closes
  /redirect/<k>/<n>?code=<c>&rel=1
                       k > 0: 302 (or c: 301, 302, 303, 307, 308) to
                       https://localhost:<port>/redirect/<k-1>/<n>, or with rel to
                       the relative ../<k-1>/<n>; a query is carried on unchanged
                       k = 0: as /ok/<n>
  /loop                302 to https://localhost:<port>/loop
  /tohttp/<n>          302 to http://localhost:<port>/ok/<n>
  /stall/<n>           Content-Length n, sends the first 64 KiB, then nothing;
                       keeps the connection open up to 60 s or until the client
                       goes away, then closes
  /paced/<n>?ms=<m>    Content-Length n, 64 KiB pieces, m ms apart (default 200)
  /trickle/<n>?ms=<m>  Content-Length n, 16 bytes at a time, m ms apart
                       (default 100), until done or the client goes away
  /reset/<n>?after=<b> Content-Length n, sends b bytes (default 64 KiB; n if
                       smaller), waits until the client has them all, then
                       resets the connection (SO_LINGER 0 + close, no TLS
                       close_notify)
  /hugeheaders         200 with about 1 MiB of X-Pad-<i> header lines, then a
                       10-byte body
  /bigcl               Content-Length 1000000000000000000, a 10-byte body,
                       then closes
  anything else        404 with a short body

Every close the server does on purpose (after /cl, /short, /long, /stall,
/bigcl) sends a TLS close_notify first, except /reset.  A client that goes
away in the middle of a body ends that response quietly.
"""

import argparse
import fcntl
import json
import os
import signal
import socket
import ssl
import struct
import sys
import termios
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PIECE = 64 * 1024

# One period-aligned buffer long enough for any slice of up to PIECE bytes.
_PATTERN = bytes((i * 131 + 7) % 256 for i in range(PIECE + 256))


def body_bytes(offset, length):
    """Bytes [offset, offset+length) of any body; length <= PIECE."""
    start = offset % 256
    return _PATTERN[start:start + length]


_log_lock = threading.Lock()
_log_path = None


def log_request(entry):
    line = json.dumps(entry, ensure_ascii=False) + "\n"
    with _log_lock:
        with open(_log_path, "a", encoding="utf-8") as f:
            f.write(line)
            f.flush()


def unsent_bytes(sock):
    """Bytes in the socket's send queue not yet acknowledged (Linux)."""
    buf = fcntl.ioctl(sock.fileno(), termios.TIOCOUTQ, b"\0\0\0\0")
    return struct.unpack("i", buf)[0]


class ClientGone(Exception):
    pass


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QuillmereBed/1"
    # Idle keep-alive connections and stuck reads end after this long.
    timeout = 120

    def log_message(self, fmt, *args):
        sys.stderr.write("[%s] port %d %s\n" % (
            time.strftime("%H:%M:%S"), self.server.server_address[1],
            fmt % args))

    # ---- raw output helpers -------------------------------------------
    def _write(self, data):
        try:
            self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError,
                ssl.SSLError, socket.timeout, OSError) as e:
            raise ClientGone() from e

    def head(self, code, reason, headers, close=False):
        """Writes the status line and header lines exactly as given.
        headers: list of (name, value) where value is str or bytes."""
        out = [("HTTP/1.1 %d %s\r\n" % (code, reason)).encode("latin-1")]
        out.append(b"Server: QuillmereBed/1\r\n")
        for name, value in headers:
            if isinstance(value, str):
                value = value.encode("latin-1")
            out.append(name.encode("latin-1") + b": " + value + b"\r\n")
        if close or self.close_connection:
            out.append(b"Connection: close\r\n")
            self.close_connection = True
        out.append(b"\r\n")
        self._write(b"".join(out))

    def body(self, offset, length, piece=PIECE, pause=0.0):
        """Sends body bytes [offset, offset+length) in pieces."""
        if self.command == "HEAD":
            return
        pos = offset
        end = offset + length
        while pos < end:
            k = min(piece, end - pos)
            self._write(body_bytes(pos, k))
            pos += k
            if pause and pos < end:
                time.sleep(pause)

    def graceful_close(self):
        """Ends the connection after this response with a TLS close_notify."""
        self.close_connection = True
        self.server.want_notify(self.connection)

    # ---- dispatch -----------------------------------------------------
    def handle_one_request(self):
        try:
            super().handle_one_request()
        except ClientGone:
            self.close_connection = True
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError,
                ssl.SSLError, socket.timeout):
            self.close_connection = True

    def _dispatch(self):
        log_request({
            "port": self.server.server_address[1],
            "requestline": self.requestline,
            "path": self.path,
            "headers": [[k, v] for k, v in self.headers.items()],
            "time": round(time.time(), 3),
        })
        # A request body is not used; read it so that the next request on
        # the connection starts where it should, or close after answering.
        length = self.headers.get("Content-Length")
        if self.headers.get("Transfer-Encoding") or (length and not length.strip().isdigit()):
            self.close_connection = True
        elif length and int(length) > 0:
            if int(length) <= 1 << 20:
                self.rfile.read(int(length))
            else:
                self.close_connection = True
        if self.command not in ("GET", "HEAD"):
            self.head(405, "Method Not Allowed",
                      [("Allow", "GET, HEAD"), ("Content-Length", "3")])
            if self.command != "HEAD":
                self._write(b"no\n")
            return
        target = self.path
        if target.lower().startswith(("https://", "http://")):
            # The absolute form, which a server must accept too: Wine's WinHTTP sends it inside a
            # proxy's tunnel. The path decides, as ever.
            rest = target.split("://", 1)[1]
            target = rest[rest.find("/"):] if "/" in rest else "/"
        route, _, query = target.partition("?")
        self.query = query
        params = {}
        for part in query.split("&") if query else []:
            k, _, v = part.partition("=")
            params[urllib.parse.unquote(k)] = urllib.parse.unquote_to_bytes(v)
        parts = route.split("/")[1:]
        name = parts[0] if parts else ""
        args = parts[1:]
        fn = getattr(self, "route_" + name, None) if name.isidentifier() else None
        try:
            if fn is None:
                return self.not_found()
            fn(args, params)
        except (ValueError, IndexError):
            self.not_found()

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = do_OPTIONS = _dispatch
    do_PATCH = _dispatch

    def not_found(self):
        self.head(404, "Not Found", [("Content-Length", "10")])
        if self.command != "HEAD":
            self._write(b"not found\n")

    @staticmethod
    def count(text):
        if not text.isdigit():
            raise ValueError(text)
        return int(text)

    def ms(self, params, default):
        v = params.get("ms")
        return (int(v) if v is not None else default) / 1000.0

    def base(self):
        return "https://localhost:%d" % self.server.server_address[1]

    # ---- routes -------------------------------------------------------
    def route_ok(self, args, params):
        n = self.count(args[0])
        self.head(200, "OK", [("Content-Type", "application/octet-stream"),
                              ("Content-Length", str(n))])
        self.body(0, n)

    def route_chunked(self, args, params):
        n = self.count(args[0])
        pause = self.ms(params, 0)
        self.head(200, "OK", [("Content-Type", "application/octet-stream"),
                              ("Transfer-Encoding", "chunked")])
        if self.command == "HEAD":
            return
        pos = 0
        while pos < n:
            k = min(PIECE, n - pos)
            if pause:
                time.sleep(pause)
            self._write(b"%x\r\n" % k + body_bytes(pos, k) + b"\r\n")
            pos += k
        self._write(b"0\r\n\r\n")

    def route_status(self, args, params):
        code = self.count(args[0])
        if not 100 <= code <= 999:
            raise ValueError(code)
        reason = self.responses.get(code, ("Status",))[0]
        if code < 200 or code in (204, 304):
            self.head(code, reason, [])
            return
        self.head(code, reason, [("Content-Length", "3")])
        if self.command != "HEAD":
            self._write(b"st\n")

    def route_cl(self, args, params):
        if args:
            raise ValueError("no sub-path")
        v = params.get("v", b"")
        if "n" in params:
            n = self.count(params["n"].decode("latin-1"))
        elif v.isdigit() and len(v) <= 12:
            n = int(v)
        else:
            n = 0
        self.head(200, "OK", [("Content-Type", "application/octet-stream"),
                              ("Content-Length", v)], close=True)
        self.body(0, n)
        self.graceful_close()

    def route_short(self, args, params):
        n = self.count(args[0])
        self.head(200, "OK", [("Content-Length", str(n))], close=True)
        self.body(0, max(0, n - 1))
        self.graceful_close()

    def route_long(self, args, params):
        n = self.count(args[0])
        self.head(200, "OK", [("Content-Length", str(n))], close=True)
        self.body(0, n + 1)
        self.graceful_close()

    def route_redirect(self, args, params):
        k = self.count(args[0])
        n = self.count(args[1])
        if len(args) != 2:
            raise ValueError("extra path")
        if k == 0:
            return self.route_ok([args[1]], params)
        code = self.count(params.get("code", b"302").decode("latin-1"))
        if code not in (301, 302, 303, 307, 308):
            raise ValueError(code)
        location = ("../%d/%d" % (k - 1, n) if "rel" in params
                    else "%s/redirect/%d/%d" % (self.base(), k - 1, n))
        if self.query:
            location += "?" + self.query
        self.head(code, self.responses[code][0], [
            ("Location", location), ("Content-Length", "0")])

    def route_loop(self, args, params):
        if args:
            raise ValueError("no sub-path")
        self.head(302, "Found", [("Location", self.base() + "/loop"),
                                 ("Content-Length", "0")])

    def route_tohttp(self, args, params):
        n = self.count(args[0])
        self.head(302, "Found", [
            ("Location", "http://localhost:%d/ok/%d"
             % (self.server.server_address[1], n)),
            ("Content-Length", "0")])

    def route_stall(self, args, params):
        n = self.count(args[0])
        self.head(200, "OK", [("Content-Length", str(n))], close=True)
        self.body(0, min(n, PIECE))
        if self.command == "HEAD":
            return
        # Wait, sending nothing, until the client closes or 60 s pass.
        deadline = time.monotonic() + 60
        conn = self.connection
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            try:
                conn.settimeout(min(left, 1.0))
                data = conn.recv(4096)
                if not data:
                    break          # close_notify or EOF: the client left
            except (socket.timeout, ssl.SSLWantReadError):
                if self.server.stopping.is_set():
                    break
                continue
            except (OSError, ssl.SSLError):
                break
        self.graceful_close()

    def route_paced(self, args, params):
        n = self.count(args[0])
        pause = self.ms(params, 200)
        self.head(200, "OK", [("Content-Length", str(n))])
        self.body(0, n, PIECE, pause)

    def route_trickle(self, args, params):
        n = self.count(args[0])
        pause = self.ms(params, 100)
        self.head(200, "OK", [("Content-Length", str(n))])
        self.body(0, n, 16, pause)

    def route_reset(self, args, params):
        n = self.count(args[0])
        after = self.count(params.get("after", b"%d" % PIECE).decode("latin-1"))
        self.head(200, "OK", [("Content-Length", str(n))], close=True)
        self.body(0, min(n, after))
        conn = self.connection
        try:
            # A reset throws away whatever the kernel has not sent yet, so
            # wait until the peer has acknowledged all of it first.
            deadline = time.monotonic() + 5
            while unsent_bytes(conn) > 0 and time.monotonic() < deadline:
                time.sleep(0.01)
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                            struct.pack("ii", 1, 0))
            conn.close()   # RST once the handler lets go; no close_notify
        except OSError:
            pass
        self.close_connection = True

    def route_hugeheaders(self, args, params):
        pad = "p" * 112
        headers = [("X-Pad-%04d" % i, pad) for i in range(8192)]
        headers.append(("Content-Length", "10"))
        self.head(200, "OK", headers)
        if self.command != "HEAD":
            self._write(body_bytes(0, 10))

    def route_bigcl(self, args, params):
        if args:
            raise ValueError("no sub-path")
        self.head(200, "OK", [("Content-Length", "1000000000000000000")],
                  close=True)
        self.body(0, 10)
        self.graceful_close()


class TLSServer(ThreadingHTTPServer):
    """One listening socket on 127.0.0.1; the TLS handshake happens in the
    connection's own thread so a slow or failing client blocks nobody."""

    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, context, stopping):
        self.context = context
        self.stopping = stopping
        self._notify = set()
        self._notify_lock = threading.Lock()
        super().__init__(("127.0.0.1", port), Handler)

    def want_notify(self, conn):
        with self._notify_lock:
            self._notify.add(id(conn))

    def finish_request(self, request, client_address):
        try:
            request.settimeout(30)
            tls = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as e:
            sys.stderr.write("[%s] port %d handshake failed: %s\n" % (
                time.strftime("%H:%M:%S"), self.server_address[1], e))
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        except Exception as e:  # the client went away or a bug: log, go on
            sys.stderr.write("[%s] port %d connection ended: %r\n" % (
                time.strftime("%H:%M:%S"), self.server_address[1], e))
        finally:
            with self._notify_lock:
                notify = id(tls) in self._notify
                self._notify.discard(id(tls))
            if notify and tls.fileno() >= 0:
                try:
                    # Send close_notify without waiting for the peer's.
                    tls.setblocking(False)
                    tls.unwrap()
                except (ssl.SSLError, OSError, ValueError):
                    pass
            try:
                tls.close()
            except OSError:
                pass

    def handle_error(self, request, client_address):
        sys.stderr.write("[%s] port %d error from %s: %r\n" % (
            time.strftime("%H:%M:%S"), self.server_address[1], client_address,
            sys.exc_info()[1]))


def main():
    global _log_path
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--log", required=True, help="request log (JSON lines)")
    ap.add_argument("--port-file", help="written when all sockets listen")
    ap.add_argument("--listen", action="append", required=True,
                    metavar="NAME:PORT:CERT:KEY")
    a = ap.parse_args()
    _log_path = a.log
    open(_log_path, "a").close()

    stopping = threading.Event()
    servers = []
    for listen in a.listen:
        name, port, cert, key = listen.split(":", 3)
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(cert, key)
        srv = TLSServer(int(port), ctx, stopping)
        servers.append((name, srv))

    def on_signal(signum, frame):
        stopping.set()
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)

    threads = []
    for name, srv in servers:
        t = threading.Thread(target=srv.serve_forever, kwargs={"poll_interval": 0.2},
                             name="serve-" + name, daemon=True)
        t.start()
        threads.append(t)
        sys.stderr.write("listening: %s on 127.0.0.1:%d\n"
                         % (name, srv.server_address[1]))

    if a.port_file:
        tmp = a.port_file + ".tmp"
        with open(tmp, "w") as f:
            for name, srv in servers:
                f.write("%s %d\n" % (name, srv.server_address[1]))
        os.replace(tmp, a.port_file)
    sys.stderr.flush()

    while not stopping.wait(0.2):
        pass
    sys.stderr.write("stopping\n")
    stoppers = [threading.Thread(target=srv.shutdown) for _, srv in servers]
    for t in stoppers:
        t.start()
    for t in stoppers + threads:
        t.join(5)
    for _, srv in servers:
        srv.server_close()
    sys.stderr.write("stopped\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
