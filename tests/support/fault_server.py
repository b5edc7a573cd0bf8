#!/usr/bin/env python3
"""HTTPS file server for the tests, with per-path faults.

Serves the files under --root over HTTPS with HTTP/1.1 keep-alive and Range
support. Per-path rules come from the JSON file --rules (an object mapping a
request path, with or without its query, to a rule object); the file is read
again whenever it changes. Every request is logged to --log as JSON lines:

  {"id": 7, "event": "begin"}
  {"id": 7, "event": "end", "path": "/a.bin?x=1", "range": "bytes=5-",
   "user_agent": "...", "status": 206, "bytes": 1234}

"bytes" counts body bytes handed to the socket. A reader that sees a "begin"
without its "end" knows the request is still being answered.

Rule keys (all optional):
  status          answer this status with the file (or "body", or an endless
                  body) as the body
  body            body text to send instead of the file (with "status")
  content         serve this other file (path relative to the root)
  ignore_range    send 200 and the whole file even when Range is asked
  ignore_closed_range  the same, only when the Range names its last byte
  range_offset    answer 206 with the file from this offset, whatever was asked
  chunked         send the body with chunked transfer coding
  chunk_size      piece size for sending (default 65536)
  announce_length Content-Length to announce; if it is larger than the body,
                  the connection is closed after the body
  endless         stream a body that never ends (chunked), until the client
                  goes away or "endless_limit" bytes (default 4 GiB) are sent
  drop_after      reset the connection (TCP RST) after this many body bytes
  close_after     close the connection cleanly (FIN) after this many body bytes
  drop_delay_ms   pause before a drop or close (default 200) so that the
                  client has read what was sent; a client that goes away
                  meanwhile ends the pause
  redirect        answer "status" (default 302) with this Location
  delay_ms        wait this long before answering
  count           apply the rule to the next N requests only (0: always); the
                  count starts again when the rules file changes

The server exits by itself after --lifetime seconds, and when the file
--heartbeat stops changing for --heartbeat-timeout seconds (the test process
that rewrites it has ended).
"""
import argparse
import fcntl
import http.server
import json
import os
import select
import re
import socket
import ssl
import struct
import sys
import termios
import threading
import time
import urllib.parse

import server_lifetime


class Rules:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        self.key = None
        self.rules = {}
        self.used = {}

    def _refresh(self):
        try:
            st = os.stat(self.path)
        except OSError:
            self.key, self.rules, self.used = None, {}, {}
            return
        key = (st.st_ino, st.st_mtime_ns, st.st_size)
        if key == self.key:
            return
        try:
            with open(self.path, encoding="utf-8") as f:
                rules = json.load(f)
        except (OSError, ValueError):
            return  # being written: keep the previous rules
        self.key, self.rules, self.used = key, rules, {}

    def lookup(self, full_path, plain_path):
        with self.lock:
            self._refresh()
            for key in (full_path, plain_path):
                rule = self.rules.get(key)
                if rule is None:
                    continue
                count = int(rule.get("count", 0))
                if count:
                    used = self.used.get(key, 0)
                    if used >= count:
                        return {}
                    self.used[key] = used + 1
                return rule
            return {}


class Log:
    def __init__(self, path):
        self.file = open(path, "a", encoding="utf-8")
        self.lock = threading.Lock()
        self.next_id = 1

    def _write(self, entry):
        self.file.write(json.dumps(entry) + "\n")
        self.file.flush()

    def begin(self):
        with self.lock:
            request_id = self.next_id
            self.next_id += 1
            self._write({"id": request_id, "event": "begin"})
            return request_id

    def end(self, request_id, path, range_header, user_agent, status, sent):
        with self.lock:
            self._write({"id": request_id, "event": "end", "path": path,
                         "range": range_header or "", "user_agent": user_agent or "",
                         "status": status, "bytes": sent})


class Abort(Exception):
    """The connection was reset on purpose."""


class FileBody:
    def __init__(self, path, start, length):
        self.path, self.start, self.length = path, start, length

    def pieces(self, size):
        with open(self.path, "rb") as f:
            f.seek(self.start)
            left = self.length
            while left > 0:
                piece = f.read(min(size, left))
                if not piece:
                    return
                left -= len(piece)
                yield piece


class BytesBody:
    def __init__(self, data):
        self.data = data
        self.length = len(data)

    def pieces(self, size):
        for i in range(0, len(self.data), size):
            yield self.data[i:i + size]


class EndlessBody:
    length = None

    def __init__(self, limit):
        self.limit = limit

    def pieces(self, size):
        pattern = bytes((i * 7 + 3) & 0xFF for i in range(size))
        sent = 0
        while sent < self.limit:
            yield pattern
            sent += len(pattern)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "LanternbrookFaultServer/1.0"
    sys_version = ""
    timeout = 60

    def setup(self):
        self.request.settimeout(self.timeout)
        self.request.do_handshake()
        super().setup()

    def log_message(self, *args):
        pass

    def do_GET(self):
        request_id = self.server.log.begin()
        self.status = 0
        self.sent = 0
        try:
            self.respond()
        except Abort:
            self.close_connection = True
        except (OSError, ssl.SSLError):
            self.close_connection = True
        finally:
            self.server.log.end(request_id, self.path, self.headers.get("Range"),
                                self.headers.get("User-Agent"), self.status, self.sent)

    def local_file(self, relative):
        relative = urllib.parse.unquote(relative).lstrip("/")
        root = os.path.realpath(self.server.root)
        path = os.path.realpath(os.path.join(root, relative))
        if path != root and not path.startswith(root + os.sep):
            return None
        return path if os.path.isfile(path) else None

    def respond(self):
        full = self.path
        plain = full.split("?", 1)[0].split("#", 1)[0]
        rule = self.server.rules.lookup(full, plain)
        if rule.get("delay_ms"):
            time.sleep(rule["delay_ms"] / 1000.0)

        if "redirect" in rule:
            self.send(rule.get("status", 302), BytesBody(b""), rule,
                      [("Location", rule["redirect"])])
            return

        path = self.local_file(rule.get("content") or plain)
        size = os.path.getsize(path) if path else 0

        if "status" in rule:
            if rule.get("endless"):
                body = EndlessBody(int(rule.get("endless_limit", 4 << 30)))
            elif "body" in rule:
                body = BytesBody(rule["body"].encode("utf-8"))
            elif path:
                body = FileBody(path, 0, size)
            else:
                body = BytesBody(b"")
            self.send(rule["status"], body, rule)
            return
        if rule.get("endless"):
            self.send(200, EndlessBody(int(rule.get("endless_limit", 4 << 30))), rule)
            return
        if not path:
            self.send(404, BytesBody(b"not found\n"), rule)
            return

        start, end = None, size - 1
        if "range_offset" in rule:
            start = min(int(rule["range_offset"]), size)
        else:
            asked = self.headers.get("Range")
            match = re.fullmatch(r"\s*bytes=(\d+)-(\d*)\s*", asked or "")
            if match and not rule.get("ignore_range") and not (
                    match.group(2) and rule.get("ignore_closed_range")):
                start = int(match.group(1))
                if match.group(2):
                    end = min(int(match.group(2)), size - 1)
                if start >= size:
                    self.send(416, BytesBody(b""), rule, [("Content-Range", "bytes */%d" % size)])
                    return
        if start is None:
            self.send(200, FileBody(path, 0, size), rule)
        else:
            length = max(end - start + 1, 0)
            self.send(206, FileBody(path, start, length), rule,
                      [("Content-Range", "bytes %d-%d/%d" % (start, start + length - 1, size))])

    def send(self, status, body, rule, headers=()):
        self.status = status
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "application/octet-stream")
        chunked = bool(rule.get("chunked")) or body.length is None
        announced = rule.get("announce_length")
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(announced if announced is not None
                                                   else body.length))
        self.end_headers()

        drop_after = rule.get("drop_after")
        close_after = rule.get("close_after")
        limit = drop_after if drop_after is not None else close_after
        piece_size = int(rule.get("chunk_size", 65536))
        for piece in body.pieces(piece_size):
            if limit is not None and self.sent + len(piece) >= limit:
                piece = piece[:max(limit - self.sent, 0)]
                self.write_body(piece, chunked)
                self.cut(abort=drop_after is not None, rule=rule)
            self.write_body(piece, chunked)
        if limit is not None:
            self.cut(abort=drop_after is not None, rule=rule)
        if chunked:
            self.wfile.write(b"0\r\n\r\n")
        if announced is not None and not chunked and announced > body.length:
            self.cut(abort=False, rule=rule)

    def write_body(self, piece, chunked):
        if not piece:
            return
        if chunked:
            self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
        else:
            self.wfile.write(piece)
        self.sent += len(piece)

    def cut(self, abort, rule):
        self.wfile.flush()
        self.pause_while_connected(int(rule.get("drop_delay_ms", 200)) / 1000.0)
        if abort:
            # A reset throws away what the socket has not sent yet: the bytes
            # counted as sent must have reached the client first, however
            # slowly a loaded machine lets it read.
            self.wait_until_delivered(60.0)
            # Closing with a zero linger time sends a reset instead of a FIN.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.connection.lanternbrook_abort = True
        raise Abort()

    def wait_until_delivered(self, seconds):
        deadline = time.monotonic() + seconds
        pending = struct.pack("i", 0)
        while time.monotonic() < deadline:
            try:
                left, = struct.unpack("i", fcntl.ioctl(self.connection.fileno(), termios.TIOCOUTQ, pending))
            except OSError:
                return
            if left == 0:
                return
            readable, _, _ = select.select([self.connection], [], [], 0.01)
            if readable:
                return  # the client went away (a killed installer)

    def pause_while_connected(self, seconds):
        # The client sends nothing while it waits for the body, so the socket
        # turns readable only when it is closed (a killed installer).
        deadline = time.monotonic() + seconds
        while (left := deadline - time.monotonic()) > 0:
            readable, _, _ = select.select([self.connection], [], [], left)
            if not readable:
                continue
            try:
                if not self.connection.recv(1):
                    return
            except (OSError, ssl.SSLError):
                return


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def shutdown_request(self, request):
        if getattr(request, "lanternbrook_abort", False):
            self.close_request(request)  # no shutdown(): that would send a FIN first
        else:
            super().shutdown_request(request)

    def handle_error(self, request, client_address):
        pass  # failed handshakes and vanished clients are expected here


def watch_and_exit(heartbeat, heartbeat_timeout, lifetime):
    """Ends the process once the server may live no longer."""
    server_lifetime.watch(heartbeat, heartbeat_timeout, lifetime)
    os._exit(0)


def bind(port, wait):
    deadline = time.monotonic() + wait
    while True:
        try:
            return Server(("127.0.0.1", port), Handler)
        except OSError:
            if time.monotonic() >= deadline:
                raise
            time.sleep(0.2)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    server_lifetime.add_common_arguments(parser)
    parser.add_argument("--rules", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()

    threading.Thread(target=watch_and_exit, args=(args.heartbeat, args.heartbeat_timeout, args.lifetime), daemon=True).start()

    server = bind(args.port, args.bind_wait)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)
    server.root = args.root
    server.rules = Rules(args.rules)
    server.log = Log(args.log)

    if args.port_file:
        server_lifetime.write_port_file(args.port_file, server.server_address[1])
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
