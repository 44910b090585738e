#!/usr/bin/python3
"""A forward proxy for Quillmere's test bed (Python 3 standard library only).

Listens on 127.0.0.1 only and tunnels HTTP CONNECT requests to localhost, as a corporate proxy
tunnels HTTPS: the TLS session runs end to end between the client and the server, so the
client still checks the server's own certificate. It tunnels only to localhost and 127.0.0.1.

Usage:
  proxy_server.py --log LOG --port-file FILE [--refuse]

Once it listens, FILE gets its port (written atomically); its appearance means it is ready.
LOG gets every request line it receives, one per line, appended and flushed at once.
GET /proxy.pac and GET /direct.pac answer with an automatic configuration script that sends every
URL through this proxy, or straight to its server.
--refuse answers every request with 403 Forbidden and closes the connection.
SIGTERM or SIGINT ends it.
"""

import argparse
import os
import select
import signal
import socket
import socketserver
import sys
import threading

ALLOWED_HOSTS = {"localhost", "127.0.0.1"}
PAC = {
    "/proxy.pac": 'function FindProxyForURL(url, host) { return "PROXY 127.0.0.1:PORT"; }\n',
    "/direct.pac": 'function FindProxyForURL(url, host) { return "DIRECT"; }\n',
}


def log_line(path, text):
    with open(path, "a", encoding="utf-8") as log:
        log.write(text + "\n")
        log.flush()


class Handler(socketserver.StreamRequestHandler):
    # Unbuffered: nothing the client sends after the headers may stay behind in a buffer.
    rbufsize = 0

    def handle(self):
        line = self.rfile.readline(65537)
        if not line:
            return
        request_line = line.decode("latin-1").rstrip("\r\n")
        log_line(self.server.log_path, request_line)
        while True:  # the headers: not needed
            header = self.rfile.readline(65537)
            if header in (b"\r\n", b"\n", b""):
                break
        parts = request_line.split(" ")
        if not self.server.refuse and len(parts) == 3 and parts[0] == "GET" and parts[1] in PAC:
            script = PAC[parts[1]].replace("PORT", str(self.server.server_address[1]))
            self.reply(b"HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"
                       b"Content-Length: %d\r\nConnection: close\r\n\r\n%s"
                       % (len(script), script.encode("ascii")))
            return
        if self.server.refuse or len(parts) != 3 or parts[0] != "CONNECT":
            self.reply(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return
        host, _, port = parts[1].rpartition(":")
        if host not in ALLOWED_HOSTS or not port.isdigit():
            self.reply(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return
        try:
            upstream = socket.create_connection(("127.0.0.1", int(port)), timeout=10)
        except OSError:
            self.reply(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return
        self.reply(b"HTTP/1.1 200 Connection established\r\n\r\n")
        self.tunnel(upstream)

    def reply(self, data):
        self.wfile.write(data)
        self.wfile.flush()

    def tunnel(self, upstream):
        client = self.connection
        with upstream:
            while True:
                ready, _, _ = select.select([client, upstream], [], [], 60)
                if not ready:
                    return
                for sock in ready:
                    try:
                        data = sock.recv(65536)
                        if not data:
                            return
                        (upstream if sock is client else client).sendall(data)
                    except OSError:
                        return


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--refuse", action="store_true")
    args = parser.parse_args()

    server = Server(("127.0.0.1", 0), Handler)
    server.log_path = args.log
    server.refuse = args.refuse
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    signal.signal(signal.SIGINT, lambda *_: threading.Thread(target=server.shutdown).start())
    temp = args.port_file + ".tmp"
    with open(temp, "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.replace(temp, args.port_file)
    server.serve_forever()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
