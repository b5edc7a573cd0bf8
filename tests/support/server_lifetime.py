"""Shared by the test servers: their common options, how long a server may
live, and the file that reports its port."""
import os
import time


def watch(heartbeat, heartbeat_timeout, lifetime):
    """Returns after `lifetime` seconds, or once the file `heartbeat` has not
    changed for `heartbeat_timeout` seconds (the test process that rewrites
    it has gone)."""
    start = time.monotonic()
    last_key, last_change = None, start
    while time.monotonic() - start < lifetime:
        if heartbeat:
            try:
                st = os.stat(heartbeat)
                key = (st.st_ino, st.st_mtime_ns, st.st_size)
            except OSError:
                key = None
            if key != last_key:
                last_key, last_change = key, time.monotonic()
            elif time.monotonic() - last_change > heartbeat_timeout:
                break
        time.sleep(0.5)


def add_common_arguments(parser):
    """The options tests/support/test_servers.cpp gives every server."""
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--bind-wait", type=float, default=0,
                        help="seconds to keep trying while the port is taken")
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--lifetime", type=float, default=600)
    parser.add_argument("--heartbeat", help="file the test process keeps rewriting")
    parser.add_argument("--heartbeat-timeout", type=float, default=15)


def write_port_file(path, port):
    """Reports `port` in one rename, so the test never reads half a file."""
    temporary = path + ".tmp"
    with open(temporary, "w") as f:
        f.write("%d\n" % port)
    os.replace(temporary, path)
