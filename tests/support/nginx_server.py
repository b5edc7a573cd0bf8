#!/usr/bin/env python3
"""Runs nginx for one test: renders nginx.conf.in into --prefix, starts nginx
in the foreground, writes the port to --port-file once it accepts
connections, and stops nginx on SIGTERM, after --lifetime seconds, or once
the file --heartbeat has not changed for --heartbeat-timeout seconds.
The access log is --prefix/access.log (JSON lines)."""
import argparse
import os
import signal
import socket
import subprocess
import sys
import threading
import time

import server_lifetime

HERE = os.path.dirname(os.path.abspath(__file__))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nginx", default="/usr/sbin/nginx")
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--bind-wait", type=float, default=0)
    parser.add_argument("--lifetime", type=float, default=600)
    parser.add_argument("--heartbeat", help="file the test process keeps rewriting")
    parser.add_argument("--heartbeat-timeout", type=float, default=15)
    args = parser.parse_args()

    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(True))
    signal.signal(signal.SIGINT, lambda *_: stopping.append(True))

    deadline = time.monotonic() + args.bind_wait
    while args.port and not port_is_free(args.port) and time.monotonic() < deadline:
        time.sleep(0.2)
    port = args.port or free_port()

    os.makedirs(args.prefix, exist_ok=True)
    with open(os.path.join(HERE, "nginx.conf.in")) as f:
        config = f.read()
    for name, value in (("PREFIX", args.prefix), ("ROOT", args.root), ("CERT", args.cert),
                        ("KEY", args.key), ("PORT", str(port))):
        config = config.replace("@%s@" % name, value)
    conf = os.path.join(args.prefix, "nginx.conf")
    with open(conf, "w") as f:
        f.write(config)

    nginx = subprocess.Popen([args.nginx, "-p", args.prefix, "-c", conf,
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
        temporary = args.port_file + ".tmp"
        with open(temporary, "w") as f:
            f.write("%d\n" % port)
        os.replace(temporary, args.port_file)

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
