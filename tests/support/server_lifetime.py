"""Shared by the test servers: how long a server may live."""
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
