#!/usr/bin/env python3
"""Runs nginx for one test: renders nginx.conf.in into --prefix, starts nginx
in the foreground, writes the port to --port-file once it accepts
connections, and stops nginx on SIGTERM, after --lifetime seconds, or once
the file --heartbeat has not changed for --heartbeat-timeout seconds.
The access log is --prefix/access.log (JSON lines). With --config-only it
only writes --prefix/nginx.conf (scripts/update-server starts nginx itself);
scripts/bench calls write_config()."""
import argparse
import os
import random
import signal
import socket
import subprocess
import sys
import threading
import time

import server_lifetime

HERE = os.path.dirname(os.path.abspath(__file__))


def free_port():
    """A free port for nginx, which cannot report a port of the system's
    choosing. It is drawn from 10000-19999: below the ports the system hands
    out by itself (32768 and up) and the tests' update origin, so that nothing
    but another draw can take it before nginx binds it."""
    draw = random.SystemRandom()
    for _ in range(100):
        port = draw.randrange(10000, 20000)
        if port_is_free(port):
            return port
    raise RuntimeError("no free port in 10000-19999")


def port_is_free(port):
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def write_config(prefix, root, cert, key, port, log_format="json", rate="0", listen_v6=False,
                 manifest_fallback=""):
    """Renders nginx.conf.in into prefix/nginx.conf and returns that path."""
    os.makedirs(prefix, exist_ok=True)
    with open(os.path.join(HERE, "nginx.conf.in")) as f:
        config = f.read()
    listen = "listen [::1]:%d ssl;" % port if listen_v6 else ""
    for name, value in (("PREFIX", prefix), ("ROOT", root), ("CERT", cert), ("KEY", key),
                        ("PORT", str(port)), ("LOG_FORMAT", log_format), ("RATE", rate),
                        ("LISTEN_V6", listen), ("MANIFEST_FALLBACK", manifest_fallback)):
        config = config.replace("@%s@" % name, value)
    conf = os.path.join(prefix, "nginx.conf")
    with open(conf, "w") as f:
        f.write(config)
    return conf


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nginx", default="/usr/sbin/nginx")
    parser.add_argument("--prefix", required=True)
    server_lifetime.add_common_arguments(parser)
    parser.add_argument("--config-only", action="store_true", help="write the configuration and end")
    parser.add_argument("--log-format", choices=("json", "text"), default="json")
    parser.add_argument("--rate", default="0", help="bytes per second per download, nginx syntax")
    parser.add_argument("--listen-v6", action="store_true", help="also listen on [::1]")
    parser.add_argument("--manifest-fallback", default="",
                        help="served for /updates/manifest.json when that file is missing")
    args = parser.parse_args()
    if args.config_only:
        write_config(args.prefix, args.root, args.cert, args.key, args.port, args.log_format,
                     args.rate, args.listen_v6, args.manifest_fallback)
        return 0
    if not args.port_file:
        parser.error("--port-file is required")

    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(True))
    signal.signal(signal.SIGINT, lambda *_: stopping.append(True))

    deadline = time.monotonic() + args.bind_wait
    while args.port and not port_is_free(args.port) and time.monotonic() < deadline:
        time.sleep(0.2)
    port = args.port or free_port()

    conf = write_config(args.prefix, args.root, args.cert, args.key, port)
    nginx = subprocess.Popen([args.nginx, "-p", args.prefix, "-c", conf, "-g", "daemon off;",
                              "-e", os.path.join(args.prefix, "error.log")],
                             stdin=subprocess.DEVNULL)
    started = time.monotonic()
    ready = False
    while nginx.poll() is None and not stopping and time.monotonic() - started < 20:
        if accepts(port):
            ready = True
            break
        time.sleep(0.05)
    if ready:
        server_lifetime.write_port_file(args.port_file, port)

    watcher = threading.Thread(target=server_lifetime.watch, args=(args.heartbeat, args.heartbeat_timeout,
                                                   args.lifetime), daemon=True)
    watcher.start()
    while ready and nginx.poll() is None and not stopping and watcher.is_alive():
        time.sleep(0.2)

    if nginx.poll() is None:
        nginx.terminate()
        try:
            nginx.wait(10)
        except subprocess.TimeoutExpired:
            nginx.kill()
            nginx.wait()
    return 0 if ready else 1


if __name__ == "__main__":
    sys.exit(main())
