#!/usr/bin/env python3
"""A small HTTP(S) server on loopback for the client's tests (Python's standard library only).

Routes (any method unless said):
  /echo                 200 text/plain; the request as "METHOD path", its headers in arrival
                        order as "Name: value" lines, an empty line, then the body
  /status/N             status N with a small HTML body
  /gzip?encoding=E      a gzip-compressed UTF-8 text sent with Content-Encoding E
  /broken-gzip          Content-Encoding gzip with a damaged stream
  /bomb                 a small gzip body that inflates to 17 MiB
  /big                  a 17 MiB plain body
  /bytes?hex=H[&type=T] the bytes H, with Content-Type T (none when no type is given)
  /set-cookies          two cookies, then /echo shows what comes back
  /redirect?to=P[&code=C][&cookie=NAME=VALUE]   status C (302) to P, optionally setting a cookie;
                        with "loop" in the query it redirects to itself
  /download?size=N      N bytes (a repeating pattern) with Content-Length
  /slow?seconds=S       answers after S seconds
  /trickle?every=S      200 announcing 1 MB, then one byte every S seconds (0.2) until the client goes
  /report.php, /api.init.php
                        record the request (see /control/last) and answer the set answer,
                        after the set delay or after ?slow=S seconds
  /control/answer[?path=P]  POST: the body becomes the answer of P (default /report.php)
  /control/delay[?path=P]   POST: the body (seconds) becomes the wait before P answers
  /control/last[?path=P]    the last request to P in the /echo format; 404 when none
  /control/count[?path=P]   the number of requests to P so far
A proxy's requests (the whole address in the request line, "GET http://host:port/path") are
answered by the same routes, and /control/last shows their request line as it came.
Usage: http_server.py --port N [--port-file F] [--cert C --key K]
"""
import argparse
import errno
import gzip
import http.server
import os
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

RECORDED = ("/report.php", "/api.init.php")
STATE = {path: {"answer": b'{"pk":"test-key"}' if path == "/report.php" else b"{}", "last": None, "count": 0,
                "delay": 0.0}
         for path in RECORDED}
LOCK = threading.Lock()
BOMB = gzip.compress(b"\0" * (17 * 1024 * 1024), 9)


def echo_text(handler, body):
    lines = ["%s %s" % (handler.command, handler.path)]
    for name, value in handler.headers.items():
        lines.append("%s: %s" % (name, value))
    return ("\n".join(lines) + "\n\n").encode("utf-8") + body


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def answer(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        body = self.read_body()
        path = url.path
        text = ("Content-Type", "text/plain; charset=utf-8")
        if path == "/echo":
            return self.answer(200, echo_text(self, body), [text])
        if path.startswith("/status/"):
            code = int(path[len("/status/"):])
            return self.answer(code, b"<html><body><h1>%d</h1></body></html>" % code,
                               [("Content-Type", "text/html")])
        if path == "/gzip":
            data = gzip.compress("Gzipped text: 한글".encode("utf-8"))
            return self.answer(200, data, [text, ("Content-Encoding", query.get("encoding", "gzip"))])
        if path == "/broken-gzip":
            data = bytearray(gzip.compress(b"some text that will not survive" * 20))
            for i in range(12, len(data) - 8):
                data[i] ^= 0x5A
            return self.answer(200, bytes(data), [text, ("Content-Encoding", "gzip")])
        if path == "/bomb":
            return self.answer(200, BOMB, [text, ("Content-Encoding", "gzip")])
        if path == "/big":
            return self.answer(200, b"a" * (17 * 1024 * 1024), [text])
        if path == "/bytes":
            headers = [("Content-Type", query["type"])] if "type" in query else []
            return self.answer(200, bytes.fromhex(query.get("hex", "")), headers)
        if path == "/set-cookies":
            return self.answer(200, b"cookies set", [text, ("Set-Cookie", "first=1; Path=/"),
                                                     ("Set-Cookie", "second=two words; Path=/; HttpOnly")])
        if path == "/redirect":
            headers = [("Location", self.path if "loop" in query else query.get("to", "/echo"))]
            if "cookie" in query:
                headers.append(("Set-Cookie", query["cookie"] + "; Path=/"))
            return self.answer(int(query.get("code", "302")), b"moved", headers)
        if path == "/download":
            size = int(query.get("size", "0"))
            pattern = bytes(range(256))
            data = (pattern * (size // 256 + 1))[:size]
            return self.answer(200, data, [("Content-Type", "application/octet-stream")])
        if path == "/slow":
            time.sleep(float(query.get("seconds", "30")))
            return self.answer(200, b"late", [text])
        if path == "/trickle":
            every = float(query.get("every", "0.2"))
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(1000 * 1000))
            self.end_headers()
            self.close_connection = True
            try:
                for _ in range(1000 * 1000):
                    self.wfile.write(b"t")
                    self.wfile.flush()
                    time.sleep(every)
            except OSError:
                pass  # the client gave up
            return None
        if path in RECORDED:
            with LOCK:
                state = STATE[path]
                state["last"] = echo_text(self, body)
                state["count"] += 1
                data = state["answer"]
                delay = state["delay"]
            if "slow" in query:
                delay = float(query["slow"])
            time.sleep(delay)
            return self.answer(200, data, [("Content-Type", "application/json; charset=utf-8")])
        target = query.get("path", "/report.php")
        if path.startswith("/control/") and target not in RECORDED:
            return self.answer(404, b"no such path", [text])
        if path == "/control/answer":
            with LOCK:
                STATE[target]["answer"] = body
            return self.answer(200, b"ok", [text])
        if path == "/control/delay":
            with LOCK:
                STATE[target]["delay"] = float(body or b"0")
            return self.answer(200, b"ok", [text])
        if path == "/control/last":
            with LOCK:
                last = STATE[target]["last"]
            return self.answer(200, last, [text]) if last is not None else self.answer(404, b"none", [text])
        if path == "/control/count":
            with LOCK:
                count = STATE[target]["count"]
            return self.answer(200, str(count).encode(), [text])
        return self.answer(404, b"<html><body>not found</body></html>", [("Content-Type", "text/html")])

    do_GET = do_POST = do_PUT = do_DELETE = do_OPTIONS = do_HEAD = do_PATCH = handle_any


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass  # clients that give up (time-outs, cancels, refused certificates) are expected


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()
    # A fixed port may still be held for a moment by the previous test's server as it ends.
    for attempt in range(100):
        try:
            server = Server(("127.0.0.1", args.port), Handler)
            break
        except OSError as error:
            if error.errno != errno.EADDRINUSE or args.port == 0 or attempt == 99:
                raise
            time.sleep(0.1)
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    port = server.server_address[1]
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write(str(port))
        os.replace(args.port_file + ".tmp", args.port_file)
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()
