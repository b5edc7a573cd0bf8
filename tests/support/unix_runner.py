#!/usr/bin/env python3
"""Runs the tests' shell commands (lbtest::RunUnix) on the Unix side.

A test under Wine could start /bin/sh itself, but every Unix program Wine
starts costs the wineserver one file descriptor for good (and the starting
process two): a test run makes thousands of such calls and would exhaust the
server's limit, after which every Wine process waits for ever. So the harness
starts this one runner, and a test hands it commands through the folder
--spool:

  <name>.cmd      written by the test: the working folder on the first line,
                  the shell command after it, and END as the last line (the
                  file is taken once that line is there)
  <name>.run      the command, claimed by the runner
  <name>.log      what the command wrote on its standard output and error
  <name>.status   its exit status (128 + signal number when a signal ended
                  it), written in one rename once it has ended

Commands run side by side, each in its own /bin/sh, with the runner's
environment (the harness's: the Wine prefix, the display). The runner writes
its process id to --pid-file and ends on SIGTERM (harness stop) or once that
file no longer names it (a newer runner took over).
"""
import argparse
import os
import signal
import subprocess
import sys
import threading
import time

END = b"# end of command\n"


def run(spool, name):
    claimed = os.path.join(spool, name + ".run")
    with open(claimed, "rb") as f:
        folder, _, command = f.read().partition(b"\n")
    with open(os.path.join(spool, name + ".log"), "wb") as log:
        try:
            code = subprocess.call(["/bin/sh", "-c", command], cwd=folder or None,
                                   stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        except OSError as error:
            log.write(b"unix_runner: cannot run the command: %s\n" % str(error).encode())
            code = 127
    if code < 0:
        code = 128 - code
    temporary = os.path.join(spool, name + ".status.tmp")
    with open(temporary, "w") as f:
        f.write("%d\n" % code)
    os.replace(temporary, os.path.join(spool, name + ".status"))
    os.unlink(claimed)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--spool", required=True)
    parser.add_argument("--pid-file", required=True)
    args = parser.parse_args()
    os.makedirs(args.spool, exist_ok=True)
    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())
    me = str(os.getpid())
    temporary = args.pid_file + ".tmp"
    with open(temporary, "w") as f:
        f.write(me + "\n")
    os.replace(temporary, args.pid_file)
    last_check = 0.0
    while not stopping.is_set():
        for entry in os.scandir(args.spool):
            if not entry.name.endswith(".cmd"):
                continue
            name = entry.name[:-4]
            try:
                with open(entry.path, "rb") as f:
                    if not f.read().endswith(END):
                        continue  # still being written
                os.rename(entry.path, os.path.join(args.spool, name + ".run"))
            except OSError:
                continue  # withdrawn by a test that gave up waiting
            threading.Thread(target=run, args=(args.spool, name), daemon=True).start()
        now = time.monotonic()
        if now - last_check > 1:
            last_check = now
            try:
                with open(args.pid_file) as f:
                    if f.read().strip() != me:
                        break
            except OSError:
                break
        time.sleep(0.002)
    return 0


if __name__ == "__main__":
    sys.exit(main())
