#!/usr/bin/python3
"""Checks the running bed's HTTPS server byte for byte, so that the program's
tests can rely on what each route sends.  Run inside the bed:
    in_bed.sh BED_DIR /usr/bin/python3 check_server.py
Ends with "N passed, N failed" and a non-zero exit code on any failure."""

import errno
import json
import os
import socket
import ssl
import sys
import time
import traceback

PORT = int(os.environ["QM_HTTPS_PORT"])
CA = os.environ["QM_CA_PEM"]
LOG = os.environ["QM_REQUEST_LOG"]
CTX = ssl.create_default_context(cafile=CA)
# Tell a TLS close_notify from a bare TCP close (the default hides it).
CTX.options &= ~ssl.OP_IGNORE_UNEXPECTED_EOF


def pattern(n, offset=0):
    return bytes(((offset + i) * 131 + 7) % 256 for i in range(n))


class Conn:
    def __init__(self, port=PORT, timeout=10):
        raw = socket.create_connection(("localhost", port), timeout=timeout)
        # Without ragged-EOF suppression a close without close_notify (or a
        # reset) raises instead of looking like a clean end.
        self.sock = CTX.wrap_socket(raw, server_hostname="localhost",
                                    suppress_ragged_eofs=False)
        self.buf = b""
        self.end = None   # "eof" (close_notify), "reset", "ragged" (TCP close
        #                   without close_notify), "timeout"

    def send(self, path, headers=()):
        req = "GET %s HTTP/1.1\r\nHost: localhost:%d\r\n" % (path, PORT)
        req += "".join("%s: %s\r\n" % h for h in headers)
        self.sock.sendall((req + "\r\n").encode("latin-1"))

    def fill(self, timeout=None):
        """Reads one piece; False when the stream ended (self.end says how)."""
        if timeout is not None:
            self.sock.settimeout(timeout)
        try:
            d = self.sock.recv(1 << 20)
        except socket.timeout:
            self.end = "timeout"
            return False
        except ConnectionResetError:
            self.end = "reset"
            return False
        except ssl.SSLError as e:
            if isinstance(e, ssl.SSLEOFError) or "UNEXPECTED_EOF" in str(e):
                self.end = "ragged"
                return False
            raise
        if not d:
            self.end = "eof"      # TLS close_notify
            return False
        self.buf += d
        return True

    def head(self):
        while b"\r\n\r\n" not in self.buf:
            if not self.fill():
                raise AssertionError("no complete head, stream ended: %s" % self.end)
        raw, self.buf = self.buf.split(b"\r\n\r\n", 1)
        lines = raw.split(b"\r\n")
        status = int(lines[0].split()[1])
        headers = [tuple(x.split(b": ", 1)) for x in lines[1:]]
        return status, headers, raw

    def take(self, n):
        while len(self.buf) < n:
            if not self.fill():
                break
        out, self.buf = self.buf[:n], self.buf[n:]
        return out

    def rest(self, timeout=5):
        while self.fill(timeout):
            pass
        out, self.buf = self.buf, b""
        return out

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


def header(headers, name):
    vals = [v for k, v in headers if k.lower() == name.lower().encode()]
    return vals[0] if len(vals) == 1 else (None if not vals else vals)


def get(path, headers=()):
    c = Conn()
    c.send(path, headers)
    st, hs, raw = c.head()
    return c, st, hs, raw


CHECKS = []


def check(fn):
    CHECKS.append(fn)
    return fn


@check
def ok_bodies_follow_the_pattern_and_keep_alive():
    c = Conn()
    for n in (0, 1, 100, 65536, 200001):
        c.send("/ok/%d" % n)
        st, hs, _ = c.head()
        assert st == 200, st
        assert header(hs, "Content-Length") == b"%d" % n, hs
        assert header(hs, "Connection") is None, hs
        assert c.take(n) == pattern(n), "body of /ok/%d" % n
    c.close()


@check
def chunked_sends_chunks_of_at_most_64k_and_no_length():
    c, st, hs, _ = get("/chunked/150000")
    assert st == 200
    assert header(hs, "Transfer-Encoding") == b"chunked", hs
    assert header(hs, "Content-Length") is None, hs
    body, sizes = b"", []
    while True:
        while b"\r\n" not in c.buf:
            assert c.fill(), "stream ended inside chunked body"
        line, c.buf = c.buf.split(b"\r\n", 1)
        size = int(line, 16)
        sizes.append(size)
        data = c.take(size + 2)
        assert data[size:] == b"\r\n"
        if size == 0:
            break
        body += data[:size]
    assert body == pattern(150000)
    assert max(sizes) <= 65536 and len(sizes) >= 4, sizes
    c.close()


@check
def status_codes():
    c, st, hs, _ = get("/status/404")
    assert st == 404 and header(hs, "Content-Length") == b"3"
    assert len(c.take(3)) == 3
    c.send("/status/503")
    st, hs, _ = c.head()
    assert st == 503 and header(hs, "Content-Length") == b"3"
    c.take(3)
    c.send("/status/204")
    st, hs, _ = c.head()
    assert st == 204 and header(hs, "Content-Length") is None, hs
    # Nothing follows a 204: the next response starts right away.
    c.send("/ok/5")
    st, hs, _ = c.head()
    assert st == 200 and c.take(5) == pattern(5)
    c.close()


@check
def raw_content_length_values():
    cases = [
        ("%2B5", b"+5", 5), ("%205", b" 5", 5), ("12abc", b"12abc", 5),
        ("0x10", b"0x10", 5), ("-1", b"-1", 5), ("%20-1", b" -1", 5), ("", b"", 5),
        ("1234567890123456789012345", b"1234567890123456789012345", 5),
        ("9" * 70, b"9" * 70, 5), ("5", b"5", 5), ("7", b"7", None),
    ]
    for v, raw, n in cases:
        path = "/cl?v=%s" % v + ("&n=%d" % n if n is not None else "")
        c, st, hs, head = get(path)
        want = n if n is not None else 7
        assert b"\r\nContent-Length: " + raw + b"\r\n" in head + b"\r\n", (path, head)
        assert header(hs, "Connection") == b"close", (path, hs)
        body = c.rest()
        assert body == pattern(want), (path, len(body))
        assert c.end == "eof", (path, c.end)
        c.close()


@check
def short_and_long_bodies_then_close():
    for route, n, sent in (("short", 1000, 999), ("long", 1000, 1001), ("short", 0, 0)):
        c, st, hs, _ = get("/%s/%d" % (route, n))
        assert header(hs, "Content-Length") == b"%d" % n, hs
        body = c.rest()
        assert body == pattern(sent), (route, n, len(body))
        assert c.end == "eof", c.end
        c.close()


@check
def redirects():
    c, st, hs, _ = get("/redirect/5/77")
    assert st == 302
    assert header(hs, "Location") == b"https://localhost:%d/redirect/4/77" % PORT, hs
    assert header(hs, "Content-Length") == b"0"
    c.send("/redirect/0/77")
    st, hs, _ = c.head()
    assert st == 200 and c.take(77) == pattern(77)
    c.send("/redirect/2/77?code=308&rel=1")
    st, hs, _ = c.head()
    assert st == 308 and header(hs, "Location") == b"../1/77?code=308&rel=1", hs
    c.send("/loop")
    st, hs, _ = c.head()
    assert st == 302 and header(hs, "Location") == b"https://localhost:%d/loop" % PORT
    c.send("/tohttp/9")
    st, hs, _ = c.head()
    assert st == 302 and header(hs, "Location") == b"http://localhost:%d/ok/9" % PORT
    c.close()


@check
def stall_sends_64k_then_nothing():
    c, st, hs, _ = get("/stall/1000000")
    assert header(hs, "Content-Length") == b"1000000"
    assert c.take(65536) == pattern(65536)
    assert not c.fill(1.5) and c.end == "timeout", c.end
    c.close()


@check
def paced_takes_its_time():
    t0 = time.monotonic()
    c, st, hs, _ = get("/paced/262144?ms=150")
    body = c.take(262144)
    took = time.monotonic() - t0
    assert body == pattern(262144)
    assert 0.4 <= took < 5, took   # three pauses of 150 ms between four pieces
    c.close()


@check
def paced_chunked_waits_before_every_chunk():
    t0 = time.monotonic()
    c, st, hs, _ = get("/chunked/131072?ms=300")
    took_head = time.monotonic() - t0
    data = pattern(131072)
    framed = b"10000\r\n" + data[:65536] + b"\r\n10000\r\n" + data[65536:] + b"\r\n0\r\n\r\n"
    body = c.take(len(framed))
    took = time.monotonic() - t0
    assert st == 200 and header(hs, "Content-Length") is None, hs
    assert body == framed
    assert took_head < 0.3 and 0.6 <= took < 5, (took_head, took)  # headers at once, 2 pauses
    c.close()


@check
def trickle_comes_in_small_pieces():
    t0 = time.monotonic()
    c, st, hs, _ = get("/trickle/96?ms=40")
    got = 0
    pieces = 0
    while got < 96:
        before = len(c.buf)
        assert c.fill(), c.end
        pieces += 1
        got = len(c.buf)
        assert got - before <= 32, got - before
    took = time.monotonic() - t0
    assert c.take(96) == pattern(96)
    assert pieces >= 3 and took >= 0.15, (pieces, took)
    c.close()


@check
def reset_after_64k():
    for query, sent in (("", 65536), ("?after=1000", 1000)):
        c, st, hs, _ = get("/reset/1000000" + query)
        assert header(hs, "Content-Length") == b"1000000"
        time.sleep(0.3)
        # The RST is pending on the socket while its data is still unread.
        err = c.sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
        assert err == errno.ECONNRESET, (query, err)
        body = c.rest()
        assert body == pattern(sent), (query, len(body))
        assert c.end in ("reset", "ragged"), c.end
        c.close()


@check
def huge_headers():
    c, st, hs, raw = get("/hugeheaders")
    assert st == 200 and len(raw) >= 1000000, len(raw)
    assert header(hs, "Content-Length") == b"10"
    assert c.take(10) == pattern(10)
    c.close()


@check
def big_content_length():
    c, st, hs, _ = get("/bigcl")
    assert header(hs, "Content-Length") == b"1000000000000000000"
    assert c.rest() == pattern(10) and c.end == "eof"
    c.close()


@check
def unknown_routes_are_404():
    for path in ("/", "/nothing", "/ok/abc", "/ok/-1", "/status/abc", "/__class__"):
        c, st, hs, _ = get(path)
        assert st == 404, (path, st)
        c.close()


@check
def request_log_keeps_order_and_names():
    c, st, hs, _ = get("/ok/3?log=check", [("X-Zeta", "1"), ("x-alpha", "two words"),
                                           ("User-Agent", "BedCheck/1")])
    c.take(3)
    c.close()
    time.sleep(0.1)
    with open(LOG, encoding="utf-8") as f:
        entries = [json.loads(x) for x in f if x.strip()]
    e = [x for x in entries if x["path"] == "/ok/3?log=check"][-1]
    assert e["port"] == PORT
    assert e["requestline"] == "GET /ok/3?log=check HTTP/1.1"
    assert e["headers"] == [["Host", "localhost:%d" % PORT], ["X-Zeta", "1"],
                            ["x-alpha", "two words"], ["User-Agent", "BedCheck/1"]], e


@check
def bad_certificates_are_bad_in_the_intended_way():
    cases = [("QM_PORT_SELFSIGNED", "self-signed certificate"),
             ("QM_PORT_EXPIRED", "certificate has expired"),
             ("QM_PORT_WRONGHOST", "Hostname mismatch"),
             ("QM_PORT_UNTRUSTED", "unable to get local issuer certificate")]
    for var, reason in cases:
        raw = socket.create_connection(("localhost", int(os.environ[var])), timeout=10)
        try:
            CTX.wrap_socket(raw, server_hostname="localhost")
        except ssl.SSLCertVerificationError as e:
            assert reason in str(e), (var, str(e))
        else:
            raise AssertionError("%s: certificate was accepted" % var)
        finally:
            raw.close()


def main():
    passed = failed = 0
    for fn in CHECKS:
        try:
            fn()
        except Exception:
            failed += 1
            print("FAIL %s" % fn.__name__)
            traceback.print_exc(limit=3)
        else:
            passed += 1
            print("ok   %s" % fn.__name__)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
