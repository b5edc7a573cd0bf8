#!/usr/bin/env python3
"""The installer benchmark, driven by scripts/bench (which builds the programs,
starts the Wine prefix, Xvfb and the test CA, and passes the paths here).

Every workload runs the installer as a user does (quiet, no launch, no
shortcut, a fresh --app-dir) alternately with its references:
  ceiling      bench/ceiling.exe: only the platform calls the work needs
  alternative  curl (one process, one kept-alive connection) + sha256sum
Releases are served by nginx over HTTPS on loopback; its access log (bytes
sent, Range) checks the resume. Results go to a Markdown file and a PNG."""
import argparse
import datetime
import hashlib
import json
import math
import os
import platform
import random
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import time

MIB = 1 << 20
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")

FULL = dict(big=256 * MIB, many=2000, huge=1024 * MIB, small=1 * MIB, runs=5, memory_runs=3,
            close_samples=5, variant_runs=3)
QUICK = dict(big=32 * MIB, many=200, huge=128 * MIB, small=1 * MIB, runs=2, memory_runs=1,
             close_samples=3, variant_runs=1)

UPDATER = "LanternbrookUpdater.exe"
INSTALLER_FLAGS = ["--quiet", "--no-launch", "--no-shortcut"]
INSTALLER_AGENT = "Lanternbrook-Instalador/1.0"


def log(text):
    print(text, flush=True)


def win_path(path):
    """The Wine path of a host path (drive Z: is the host's root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def median(values):
    return statistics.median(values) if values else float("nan")


def spread(values, unit="s", digits=2):
    if not values:
        return "n/a"
    return "%.*f (%.*f-%.*f)" % (digits, median(values), digits, min(values), digits, max(values))


def proc_cpu(pid):
    """User+system seconds of a running process, or None."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS
    except (OSError, IndexError, ValueError):
        return None


def proc_status(pid, key):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return None


class Run:
    """One timed process: wall seconds, its own CPU, peak memory, exit status."""

    def __init__(self, wall, user, system, maxrss_kib, hwm_kib, code, output):
        self.wall, self.user, self.system = wall, user, system
        self.maxrss_kib, self.hwm_kib, self.code, self.output = maxrss_kib, hwm_kib, code, output
        self.server_cpu = 0.0  # wineserver and nginx CPU seconds during the run
        self.nginx_cpu = 0.0
        self.wineserver_cpu = 0.0

    def values(self):
        """key=value lines printed by the bench programs."""
        found = {}
        for line in self.output.splitlines():
            if "=" in line:
                key, _, value = line.partition("=")
                found[key.strip()] = value.strip()
        return found


class Bench:
    def __init__(self, args):
        self.args = args
        self.size = QUICK if args.quick else FULL
        if args.runs:
            self.size = dict(self.size, runs=args.runs)
        self.build = os.path.abspath(args.build)
        self.source = os.path.abspath(args.source)
        self.work = os.path.join(self.build, "bench-work")
        self.www = os.path.join(self.work, "www")
        self.runs_dir = os.path.join(self.work, "runs")
        self.certs = os.path.join(self.build, "test-run", "certs")
        self.installer = os.path.abspath(args.installer) if args.installer else \
            os.path.join(self.build, "bin", "LanternbrookInstaller.exe")
        self.programs = os.path.join(self.build, "bench")
        self.origin = "https://localhost:%d" % args.port
        self.releases = {}
        self.rows = []      # timed workloads
        self.checks = []    # pass/fail checks with their figures
        self.profile = []   # lines for "Where the time goes"
        self.nginx = None
        self.nginx_pid = None
        self.ladders = []
        self.tool_runs = {}
        self.perf_splits = []
        self.ui_runs = None
        self.ops_runs = None
        self.progress = None
        self.wineserver_pid = None
        self.access_log = os.path.join(self.work, "nginx", "access.log")
        os.makedirs(self.runs_dir, exist_ok=True)

    # ---------------------------------------------------------------- releases

    def make_release(self, name, files):
        """files: list of (relative path, size, seed). Written once; the
        manifest is served as /updates/manifest.json while the release runs."""
        folder = os.path.join(self.www, "releases", name)
        stamp = os.path.join(folder, ".complete")
        if not os.path.exists(stamp):
            shutil.rmtree(folder, ignore_errors=True)
            log("making release %s (%d files)" % (name, len(files)))
            entries = []
            for relative, size, seed in files + [(UPDATER, 96 * 1024, 7)]:
                path = os.path.join(folder, relative)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                write_random(path, size, seed)
                entries.append(dict(path=relative, url="/releases/%s/%s" % (name, relative),
                                    hash=sha256_of(path), size=size))
            manifest = dict(version="1.0.%d" % len(files), build=len(files),
                            total_size=sum(e["size"] for e in entries[:-1]), files=entries[:-1],
                            bootstrap_updater=entries[-1])
            with open(os.path.join(folder, "manifest.json"), "w") as f:
                json.dump(manifest, f, indent=1)
            with open(stamp, "w") as f:
                f.write("ok\n")
        with open(os.path.join(folder, "manifest.json")) as f:
            manifest = json.load(f)
        entries = manifest["files"] + [manifest["bootstrap_updater"]]
        self.releases[name] = dict(folder=folder, manifest=manifest, entries=entries,
                                   bytes=sum(e["size"] for e in entries))
        return name

    def serve(self, name):
        """Points /updates/manifest.json at the release's manifest."""
        updates = os.path.join(self.www, "updates")
        os.makedirs(updates, exist_ok=True)
        link = os.path.join(updates, "manifest.json")
        temporary = link + ".new"
        if os.path.lexists(temporary):
            os.remove(temporary)
        os.symlink(os.path.join("..", "releases", name, "manifest.json"), temporary)
        os.replace(temporary, link)

    # ------------------------------------------------------------------ server

    def start_nginx(self):
        prefix = os.path.join(self.work, "nginx")
        shutil.rmtree(prefix, ignore_errors=True)
        os.makedirs(prefix)
        with open(os.path.join(self.source, "bench", "nginx.conf.in")) as f:
            config = f.read()
        for name, value in (("PREFIX", prefix), ("ROOT", self.www), ("PORT", str(self.args.port)),
                            ("CERT", os.path.join(self.certs, "localhost.pem")),
                            ("KEY", os.path.join(self.certs, "localhost.key"))):
            config = config.replace("@%s@" % name, value)
        conf = os.path.join(prefix, "nginx.conf")
        with open(conf, "w") as f:
            f.write(config)
        try:
            socket.create_connection(("127.0.0.1", self.args.port), timeout=0.5).close()
            raise SystemExit("port %d is already in use (LB_BENCH_PORT picks another)" % self.args.port)
        except OSError:
            pass
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        self.nginx = subprocess.Popen([nginx, "-p", prefix, "-c", conf, "-e",
                                       os.path.join(prefix, "error.log")],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.args.port), timeout=0.5).close()
                break
            except OSError:
                pass
            if self.nginx.poll() is not None or time.monotonic() > deadline:
                with open(os.path.join(prefix, "error.log"), errors="replace") as f:
                    raise SystemExit("nginx did not start on port %d: %s" % (self.args.port, f.read()))
            time.sleep(0.1)
        self.nginx_pid = self.nginx.pid

    def stop_nginx(self):
        if self.nginx and self.nginx.poll() is None:
            self.nginx.terminate()
            try:
                self.nginx.wait(15)
            except subprocess.TimeoutExpired:
                self.nginx.kill()
                self.nginx.wait()

    def prepare_prefix(self):
        """Unmanaged windows: with no window manager on the Xvfb display, Wine
        waits up to 2 s for the manager on every map and unmap of a managed
        window, a cost no desktop has."""
        subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)

    def find_wineserver(self):
        prefix = os.environ["WINEPREFIX"].encode()
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/comm" % entry) as f:
                    if not f.read().startswith("wineserver"):
                        continue
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if b"WINEPREFIX=" + prefix + b"\0" in f.read() + b"\0":
                        self.wineserver_pid = int(entry)
                        return
            except OSError:
                continue

    def log_offset(self):
        try:
            return os.path.getsize(self.access_log)
        except OSError:
            return 0

    def log_since(self, offset):
        with open(self.access_log) as f:
            f.seek(offset)
            return [json.loads(line) for line in f if line.strip()]

    # ------------------------------------------------------------------- runs

    def run(self, argv, cwd=None, poll_memory=False, on_poll=None):
        """Runs one process to its end with stdio on files (never a pipe: Wine's
        service processes would inherit it)."""
        out_path = os.path.join(self.work, "last-output.txt")
        server_before = (proc_cpu(self.wineserver_pid) or 0.0) if self.wineserver_pid else 0.0
        nginx_before = proc_cpu(self.nginx_pid) or 0.0
        with open(out_path, "w") as out:
            start = time.perf_counter()
            child = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                     stderr=subprocess.STDOUT)
            hwm = 0
            if poll_memory or on_poll:
                while True:
                    pid, status, usage = os.wait4(child.pid, os.WNOHANG)
                    if pid:
                        break
                    if poll_memory:
                        hwm = max(hwm, proc_status(child.pid, "VmHWM") or 0)
                    if on_poll:
                        on_poll(child.pid)
                    time.sleep(0.01)
            else:
                pid, status, usage = os.wait4(child.pid, 0)
            wall = time.perf_counter() - start
            child.returncode = os.waitstatus_to_exitcode(status)
        with open(out_path, errors="replace") as f:
            output = f.read()
        result = Run(wall, usage.ru_utime, usage.ru_stime, usage.ru_maxrss, hwm,
                     child.returncode, output)
        if self.wineserver_pid:
            result.wineserver_cpu = (proc_cpu(self.wineserver_pid) or 0.0) - server_before
        result.nginx_cpu = (proc_cpu(self.nginx_pid) or 0.0) - nginx_before
        return result

    def wine(self, exe, arguments, **options):
        return self.run(["wine", exe] + list(arguments), **options)

    def fresh(self, *parts):
        path = os.path.join(self.runs_dir, *parts)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        return path

    def settle(self):
        """Leaves no dirty pages of the previous run to the next one."""
        os.sync()
        time.sleep(0.2)

    def installer_run(self, release, app_dir, **options):
        result = self.wine(self.installer, ["--app-dir", win_path(app_dir)] + INSTALLER_FLAGS,
                           **options)
        self.check_installed(release, app_dir)
        return result

    def check_installed(self, release, app_dir):
        problems = []
        if not os.path.exists(os.path.join(app_dir, "version.json")):
            problems.append("no version.json")
        if os.path.exists(os.path.join(app_dir, ".install-staging")):
            problems.append("staging folder left")
        for entry in self.releases[release]["entries"]:
            path = os.path.join(app_dir, entry["path"])
            if not os.path.isfile(path) or os.path.getsize(path) != entry["size"]:
                problems.append("missing or wrong size: " + entry["path"])
                break
        if problems:
            raise SystemExit("installer run in %s failed: %s (window text is not visible in quiet "
                             "runs; run it without --quiet to see the message)"
                             % (app_dir, ", ".join(problems)))

    def url_list(self, release, out_dir):
        """The ceiling's list: the manifest, then every file, same URLs as the installer."""
        path = os.path.join(self.work, "list-%s.txt" % release)
        with open(path, "w", newline="\r\n") as f:
            f.write("%s/updates/manifest.json\t%s\t-\n"
                    % (self.origin, win_path(os.path.join(out_dir, "manifest.json"))))
            for entry in self.releases[release]["entries"]:
                f.write("%s%s\t%s\t%s\n" % (self.origin, entry["url"],
                                            win_path(os.path.join(out_dir, entry["path"])),
                                            entry["hash"]))
        return path

    def digest_list(self, release, folder, name):
        path = os.path.join(self.work, "digests-%s-%s.txt" % (release, name))
        with open(path, "w", newline="\r\n") as f:
            for entry in self.releases[release]["entries"]:
                f.write("%s\t%s\n" % (win_path(os.path.join(folder, entry["path"])), entry["hash"]))
        return path

    def sums_file(self, release):
        path = os.path.join(self.work, "sums-%s.txt" % release)
        with open(path, "w") as f:
            for entry in self.releases[release]["entries"]:
                f.write("%s  %s\n" % (entry["hash"], entry["path"]))
        return path

    def curl_config(self, release, out_dir):
        path = os.path.join(self.work, "curl-%s.txt" % release)
        with open(path, "w") as f:
            f.write('url = "%s/updates/manifest.json"\noutput = "%s"\n'
                    % (self.origin, os.path.join(out_dir, "manifest.json")))
            for entry in self.releases[release]["entries"]:
                f.write('url = "%s%s"\noutput = "%s"\n'
                        % (self.origin, entry["url"], os.path.join(out_dir, entry["path"])))
        return path

    def curl_and_sha256sum(self, release, out_dir):
        config = self.curl_config(release, out_dir)
        download = self.run(["curl", "--silent", "--show-error", "--fail", "--create-dirs",
                             "--cacert", os.path.join(self.certs, "ca.pem"), "--config", config])
        if download.code != 0:
            raise SystemExit("curl failed: " + download.output)
        digest = self.sha256sum(release, out_dir)
        download.wall += digest.wall
        download.user += digest.user
        download.system += digest.system
        download.nginx_cpu += digest.nginx_cpu
        download.parts = (download.wall - digest.wall, digest.wall)
        return download

    def sha256sum(self, release, folder):
        result = self.run(["sha256sum", "--check", "--quiet", "--strict", self.sums_file(release)],
                          cwd=folder)
        if result.code != 0:
            raise SystemExit("sha256sum found a difference in %s: %s" % (folder, result.output))
        return result

    def ceiling(self, mode, list_path, extra=()):
        result = self.wine(os.path.join(self.programs, "ceiling.exe"),
                           [mode, win_path(list_path)] + list(extra))
        if result.code != 0:
            raise SystemExit("ceiling failed: " + result.output)
        return result

    # -------------------------------------------------------------- workloads

    def alternate(self, name, target, runners):
        """runners: (label, prepare, run) triples, run alternately; the order is
        reversed every other round so no side always goes first."""
        log("workload: %s" % name)
        results = {label: [] for label, _, _ in runners}
        for round_index in range(self.size["runs"]):
            order = runners if round_index % 2 == 0 else runners[::-1]
            for label, prepare, runner in order:
                argument = prepare()
                self.settle()
                result = runner(argument)
                results[label].append(result)
                log("  %-11s %6.2f s" % (label, result.wall))
        row = dict(name=name, target=target, results=results)
        self.rows.append(row)
        return row

    def fresh_install(self, name, release, target):
        self.serve(release)
        installer_dir = os.path.join(self.runs_dir, release, "installer")
        ceiling_list = self.url_list(release, os.path.join(self.runs_dir, release, "ceiling"))
        offset = self.log_offset()
        row = self.alternate(name, target, [
            ("installer", lambda: self.fresh(release, "installer"),
             lambda d: self.installer_run(release, d)),
            ("ceiling", lambda: self.fresh(release, "ceiling"),
             lambda d: self.ceiling("download", ceiling_list)),
            ("window", lambda: self.fresh(release, "ceiling"),
             lambda d: self.ceiling("download", ceiling_list, ["--window"])),
            ("alternative", lambda: self.fresh(release, "curl"),
             lambda d: self.curl_and_sha256sum(release, d)),
        ])
        requests = [r for r in self.log_since(offset) if r["user_agent"] == INSTALLER_AGENT]
        connections = len(set(r["connection"] for r in requests))
        self.checks.append(dict(
            name="%s: installer's requests and connections" % name,
            value="%d requests over %d connections in %d runs"
                  % (len(requests), connections, self.size["runs"]),
            target="one connection per run", ok=connections == self.size["runs"]))
        row["alternative_name"] = "curl + sha256sum"
        row["release"] = release
        row["installed"] = installer_dir
        return row

    def rerun(self, name, release, installed, target):
        """Everything intact: the installer verifies and fetches nothing but the manifest."""
        self.serve(release)
        digests = self.digest_list(release, installed, "rerun")
        offset = self.log_offset()
        row = self.alternate(name, target, [
            ("installer", lambda: installed, lambda d: self.installer_run(release, d)),
            ("ceiling", lambda: None, lambda d: self.ceiling("digest", digests)),
            ("window", lambda: None, lambda d: self.ceiling("digest", digests, ["--window"])),
            ("alternative", lambda: installed, lambda d: self.sha256sum(release, d)),
        ])
        requests = [r for r in self.log_since(offset) if r["user_agent"] == INSTALLER_AGENT]
        fetched = [r for r in requests if r["path"] != "/updates/manifest.json"]
        self.checks.append(dict(
            name="%s: requests other than the manifest" % name, value="%d" % len(fetched),
            target="0", ok=not fetched))
        row["alternative_name"] = "sha256sum"
        row["release"] = release
        return row

    def digest_only(self, name, release, installed, target):
        """ComputeFileSha256 against the bare CNG loop, both timed in process."""
        digests = self.digest_list(release, installed, "probe")
        runners = [
            ("installer", lambda: None, lambda d: self.checked(self.wine(
                os.path.join(self.programs, "digest_probe.exe"), [win_path(digests)]))),
            ("ceiling", lambda: None, lambda d: self.ceiling("digest", digests)),
        ]
        # Short runs timed in process: twice the rounds, for a steadier median.
        rounds = self.size["runs"]
        self.size["runs"] = rounds * 2
        try:
            row = self.alternate(name, target, runners)
        finally:
            self.size["runs"] = rounds
        for results in row["results"].values():
            for result in results:
                result.inner = float(result.values()["digest_s"])
        row["inner"] = True
        row["release"] = release
        return row

    def checked(self, result):
        if result.code != 0:
            raise SystemExit("bench program failed: " + result.output)
        return result

    # ------------------------------------------------------------------ checks

    def resume(self, release):
        log("check: resume after an interruption at 50 %")
        self.serve(release)
        entry = self.releases[release]["manifest"]["files"][0]
        size = entry["size"]

        # 1. Killed half-way through the download.
        app_dir = self.fresh(release, "resume-killed")
        part = os.path.join(app_dir, ".install-staging", entry["path"] + ".part")
        killed = []

        def kill_at_half(pid):
            if killed:
                return
            try:
                if os.path.getsize(part) >= size // 2:
                    os.kill(pid, signal.SIGKILL)
                    killed.append(pid)
            except OSError:
                pass

        self.settle()
        self.wine(self.installer, ["--app-dir", win_path(app_dir)] + INSTALLER_FLAGS,
                  on_poll=kill_at_half)
        time.sleep(1)  # nginx logs the broken request once it notices
        if not killed or not os.path.exists(part):
            raise SystemExit("the installer ended before it could be interrupted")
        self.verify_resume("killed at %.0f %%" % (100.0 * os.path.getsize(part) / size),
                           release, app_dir, entry, part)

        # 2. A prepared partial file of exactly half the bytes.
        app_dir = self.fresh(release, "resume-prepared")
        part = os.path.join(app_dir, ".install-staging", entry["path"] + ".part")
        os.makedirs(os.path.dirname(part))
        with open(os.path.join(self.releases[release]["folder"], entry["path"]), "rb") as src, \
                open(part, "wb") as dst:
            dst.write(src.read(size // 2))
        self.verify_resume("prepared half .part", release, app_dir, entry, part)

    def verify_resume(self, how, release, app_dir, entry, part):
        partial = os.path.getsize(part)
        missing = entry["size"] - partial
        self.settle()
        offset = self.log_offset()
        result = self.installer_run(release, app_dir)
        requests = [r for r in self.log_since(offset) if r["user_agent"] == INSTALLER_AGENT]
        files = [r for r in requests if r["path"] == entry["url"]]
        fetched = sum(r["bytes"] for r in files)
        others = [r for r in requests if r["path"] not in (entry["url"], "/updates/manifest.json")
                  and not r["path"].endswith("/" + UPDATER)]
        ok = (len(files) == 1 and files[0]["status"] == 206
              and files[0]["range"] == "bytes=%d-" % partial and fetched == missing and not others)
        self.checks.append(dict(
            name="resume (%s): bytes fetched = bytes missing" % how,
            value="partial %s, missing %s, fetched %s (%s, status %s), run %.2f s"
                  % (fmt_bytes(partial), fmt_bytes(missing), fmt_bytes(fetched),
                     files[0]["range"] if files else "no request",
                     files[0]["status"] if files else "-", result.wall),
            target="fetched = missing, one 206", ok=ok))
        log("  %s: missing %d, fetched %d -> %s" % (how, missing, fetched, "ok" if ok else "FAIL"))

    def memory(self, small, huge):
        log("check: peak memory, %s against %s" % (fmt_bytes(self.releases[huge]["bytes"]),
                                                   fmt_bytes(self.releases[small]["bytes"])))
        peaks = {small: [], huge: []}
        for _ in range(self.size["memory_runs"]):
            for release in (small, huge):
                self.serve(release)
                app_dir = self.fresh(release, "memory")
                self.settle()
                result = self.installer_run(release, app_dir, poll_memory=True)
                peaks[release].append(result)
                log("  %-10s VmHWM %d KiB, %.2f s" % (release, result.hwm_kib, result.wall))
                shutil.rmtree(app_dir, ignore_errors=True)
        hwm_small = median([r.hwm_kib for r in peaks[small]])
        hwm_huge = median([r.hwm_kib for r in peaks[huge]])
        above = (hwm_huge - hwm_small) / 1024.0
        self.checks.append(dict(
            name="peak memory, %s file above a %s file" % (fmt_bytes(self.releases[huge]["bytes"] - 96 * 1024),
                                                           fmt_bytes(self.releases[small]["bytes"] - 96 * 1024)),
            value="%+.1f MiB (VmHWM %.1f MiB against %.1f MiB)"
                  % (above, hwm_huge / 1024.0, hwm_small / 1024.0),
            target="<= 32 MiB", ok=above <= 32))

    def probe_list(self, release, entries=None):
        path = os.path.join(self.work, "probe-%s.txt" % release)
        with open(path, "w", newline="\r\n") as f:
            for entry in entries or self.releases[release]["entries"]:
                f.write("%s\t%s\t%s\t%d\n" % (entry["path"], entry["url"], entry["hash"], entry["size"]))
        return path

    def progress_probe(self, release, list_path):
        app_dir = self.fresh(release, "probe")
        return self.checked(self.wine(os.path.join(self.programs, "progress_probe.exe"),
                                      [win_path(app_dir), win_path(list_path)]))

    def progress_posts(self, release):
        log("check: progress posts of a fast download")
        entry = self.releases[release]["manifest"]["files"][0]
        list_path = self.probe_list(release + "-one", [entry])
        results = []
        for _ in range(2 if not self.args.quick else 1):
            self.settle()
            result = self.progress_probe(release, list_path)
            results.append(result.values())
            log("  %s posts, %s per s" % (result.values()["posts"], result.values()["posts_per_s"]))
        best = max(results, key=lambda v: float(v["posts_per_s"]))
        self.progress = results
        self.checks.append(dict(
            name="ProgressMessage posts while downloading one %s file (InstallFile in process)"
                 % fmt_bytes(entry["size"]),
            value="%s posts in %s s: %s posts/s (busiest second %s), %s bytes per chunk post"
                  % (best["posts"], best["download_span_s"], best["posts_per_s"],
                     best["busiest_second_posts"], best["bytes_per_chunk"]),
            target="reported", ok=None))

    def close_latency(self, release):
        """On the largest release, so the download lasts for every sample."""
        log("check: WM_CLOSE warning while downloading at full speed")
        self.serve(release)
        app_dir = self.fresh(release, "close")
        self.settle()
        result = self.wine(os.path.join(self.programs, "close_probe.exe"),
                           [str(self.size["close_samples"]), "1000", win_path(self.installer),
                            "--app-dir", win_path(app_dir)] + INSTALLER_FLAGS)
        values = result.values()
        latencies = [float(m) for m in re.findall(r"latency_ms=([0-9.]+)", result.output)]
        self.check_installed(release, app_dir)
        ok = result.code == 0 and latencies and max(latencies) <= 1000
        self.checks.append(dict(
            name="WM_CLOSE warning box during the download",
            value="%d samples, %s ms (largest %s ms)"
                  % (len(latencies), ", ".join("%.0f" % l for l in latencies),
                     values.get("largest_ms", "n/a")),
            target="<= 1000 ms", ok=bool(ok)))
        log("  " + self.checks[-1]["value"])

    # ---------------------------------------------------------------- profile

    def ladder(self, release, label):
        """From the bare ceiling to the installer, one platform call or layer
        at a time, run alternately."""
        log("profile: %s" % label)
        self.serve(release)
        ceiling_list = self.url_list(release, os.path.join(self.runs_dir, release, "ceiling"))
        probe_list = self.probe_list(release)
        steps = [
            ("ceiling", lambda: self.ceiling("download", ceiling_list)),
            ("+ WinHttpQueryDataAvailable per read", lambda: self.ceiling("download", ceiling_list, ["--query"])),
            ("+ FlushFileBuffers per file", lambda: self.ceiling("download", ceiling_list, ["--flush"])),
            ("+ both", lambda: self.ceiling("download", ceiling_list, ["--query", "--flush"])),
            ("+ a window (no posts)", lambda: self.ceiling("download", ceiling_list, ["--window"])),
            ("InstallFile for every file, in process, counted posts (progress_probe)",
             lambda: self.progress_probe(release, probe_list)),
            ("the installer", lambda: self.installer_run(release, self.fresh(release, "installer"))),
        ]
        runs = {name: [] for name, _ in steps}
        for round_index in range(self.size["variant_runs"]):
            for name, step in (steps if round_index % 2 == 0 else steps[::-1]):
                self.fresh(release, "ceiling")
                self.settle()
                runs[name].append(step())
        self.ladders.append((label, runs))

    def ui_rate(self, posts):
        """How many progress posts per second the installer's window handles,
        against a handler that skips labels and bar positions that do not change."""
        log("profile: the window's handling of progress posts")
        runs = {"installer": [], "unchanged": [], "latest": []}
        for round_index in range(self.size["variant_runs"]):
            for mode in (list(runs) if round_index % 2 == 0 else list(runs)[::-1]):
                self.settle()
                runs[mode].append(self.checked(self.wine(
                    os.path.join(self.programs, "ui_probe.exe"), [str(posts), mode])).values())
        self.ui_runs = (posts, runs)

    def per_file_steps(self):
        log("profile: per-file steps")
        folder = os.path.join(self.work, "ops")
        shutil.rmtree(folder, ignore_errors=True)
        runs = []
        for _ in range(self.size["variant_runs"]):
            self.settle()
            runs.append(self.checked(self.wine(os.path.join(self.programs, "ops_probe.exe"),
                                               [win_path(folder), "2000"])).values())
        self.ops_runs = runs

    def rerun_ladder(self, release, installed, label):
        """The re-run's digests, from the bare loop to the installer."""
        log("profile: %s" % label)
        self.serve(release)
        digests = self.digest_list(release, installed, "ladder")
        steps = [
            ("ceiling (one provider, one buffer)", lambda: self.ceiling("digest", digests)),
            ("+ a zero-filled 1 MiB std::vector per file",
             lambda: self.ceiling("digest", digests, ["--zeroed-buffer-per-file"])),
            ("+ an uninitialised 1 MiB block per file",
             lambda: self.ceiling("digest", digests, ["--raw-buffer-per-file"])),
            ("ComputeFileSha256 per file (digest_probe)", lambda: self.checked(self.wine(
                os.path.join(self.programs, "digest_probe.exe"), [win_path(digests)]))),
            ("the installer", lambda: self.installer_run(release, installed)),
        ]
        runs = {name: [] for name, _ in steps}
        for round_index in range(self.size["variant_runs"]):
            for name, step in (steps if round_index % 2 == 0 else steps[::-1]):
                self.settle()
                runs[name].append(step())
        self.ladders.append((label, runs))

    def host_digests(self, release):
        big = os.path.join(self.releases[release]["folder"], self.releases[release]["entries"][0]["path"])
        tools = {}
        for tool in (["sha256sum", big], ["openssl", "dgst", "-sha256", big]):
            tools[" ".join(tool[:-1])] = [self.run(tool).wall for _ in range(3)]
        self.tool_runs = tools

    def perf_split(self, release, label):
        """CPU seconds by kind of work for one installer run and one ceiling run:
        perf samples of the process (all its threads), grouped by module; the
        wineserver's and nginx's CPU from /proc beside them."""
        if not shutil.which("perf"):
            return
        log("profile: perf, %s" % label)
        self.serve(release)
        ceiling_list = self.url_list(release, os.path.join(self.runs_dir, release, "ceiling"))
        split = {}
        for side in ("installer", "ceiling"):
            data = os.path.join(self.work, "perf.data")
            if side == "installer":
                app_dir = self.fresh(release, "perf")
                argv = ["wine", self.installer, "--app-dir", win_path(app_dir)] + INSTALLER_FLAGS
            else:
                self.fresh(release, "ceiling")
                argv = ["wine", os.path.join(self.programs, "ceiling.exe"), "download",
                        win_path(ceiling_list)]
            self.settle()
            recorded = self.run(["perf", "record", "-F", str(PERF_HZ), "-o", data, "--"] + argv)
            if recorded.code != 0:
                log("  perf record failed; no CPU split")
                return
            report = subprocess.run(
                ["perf", "report", "-i", data, "--stdio", "--no-children", "--sort", "dso",
                 "--show-nr-samples"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                stderr=subprocess.DEVNULL, text=True)
            os.remove(data)
            seconds = {kind: 0.0 for kind, _ in CPU_KINDS}
            for line in report.stdout.splitlines():
                match = re.match(r"\s*[0-9.]+%\s+(\d+)\s+(\S+)", line)
                if match:
                    seconds[kind_of(match.group(2))] += int(match.group(1)) / PERF_HZ
            seconds["wineserver (its own process)"] = recorded.wineserver_cpu
            seconds["nginx (server side of TLS)"] = recorded.nginx_cpu
            split[side] = (recorded.wall, seconds)
        self.perf_splits.append((label, split))

    # ---------------------------------------------------------------- results

    def write(self):
        lines = ["# Benchmark results", "",
                 "One %s run of `scripts/bench`, %s. Times are wall-clock seconds, median (min-max) "
                 "of %d runs per side (twice as many for ComputeFileSha256), the sides run "
                 "alternately; a ratio is the installer's median over the reference's median." % (
                     "quick (`--quick`, reduced sizes)" if self.args.quick else "full",
                     datetime.date.today().isoformat(), self.size["runs"]), "",
                 "## Machine", ""]
        lines += ["- %s: %s" % (k, v) for k, v in machine_facts() + [("source", source_state(self.source))]]
        lines += ["", "## Workloads", "",
                  "ceiling: the bare platform calls (`bench/ceiling.cpp`); ceiling + window: the "
                  "same with a window of the installer's size shown meanwhile; the target is "
                  "against the bare ceiling.", "",
                  "| workload | installer | ceiling | ratio | target | | ceiling + window | ratio "
                  "| user's alternative | ratio |",
                  "|---|---|---|---|---|---|---|---|---|---|"]
        for row in self.rows:
            r = row["results"]
            key = (lambda x: x.inner) if row.get("inner") else (lambda x: x.wall)
            inst = [key(x) for x in r["installer"]]
            ceil = [key(x) for x in r["ceiling"]]
            row["ratio"] = median(inst) / median(ceil)
            row["ok"] = row["ratio"] <= row["target"]
            window = [x.wall for x in r.get("window", [])]
            row["window_ratio"] = median(inst) / median(window) if window else None
            alt = [x.wall for x in r.get("alternative", [])]
            row["alt_ratio"] = median(inst) / median(alt) if alt else None
            lines.append("| %s | %s | %s | **%.2f** | <= %.2f | %s | %s | %s | %s | %s |" % (
                row["name"], spread(inst), spread(ceil), row["ratio"], row["target"],
                "met" if row["ok"] else "**missed**",
                spread(window) if window else "-",
                ("%.2f" % row["window_ratio"]) if window else "-",
                ("%s: %s" % (row.get("alternative_name", ""), spread(alt))) if alt else "-",
                ("%.2f" % row["alt_ratio"]) if alt else "-"))
        lines += ["", "## Checks", "", "| check | measured | target | |", "|---|---|---|---|"]
        for check in self.checks:
            verdict = "reported" if check["ok"] is None else ("met" if check["ok"] else "**missed**")
            lines.append("| %s | %s | %s | %s |" % (check["name"], check["value"], check["target"], verdict))
        lines += ["", "## Where the time goes", ""]
        lines += self.profile_lines()
        lines += ["", "## Method", ""] + METHOD
        if self.rows:
            lines += ["", "![ratios](%s)" % os.path.basename(self.args.plot)]
        text = "\n".join(lines) + "\n"
        results = self.args.results
        if os.path.exists(results):
            with open(results) as f:
                old = f.read()
            at = old.find("\n## Analysis")
            if at >= 0:
                text += old[at:]
        with open(results, "w") as f:
            f.write(text)
        log("wrote " + results)
        if self.rows:
            draw_plot(self.rows, self.args.plot)
            log("wrote " + self.args.plot)

    def profile_lines(self):
        lines = ["CPU seconds per run (medians): the measured process's own user+system time "
                 "(all its threads), and the wineserver's and nginx's during the run.", "",
                 "| workload | side | wall | process CPU | wineserver | nginx | ceiling's phases |",
                 "|---|---|---|---|---|---|---|"]
        for row in self.rows:
            for label, results in row["results"].items():
                phases = ""
                values = [x.values() for x in results]
                if label in ("ceiling", "window") and "download_s" in values[0]:
                    phases = "download %.2f, digest %.2f" % (
                        median([float(v["download_s"]) for v in values]),
                        median([float(v["digest_s"]) for v in values]))
                elif label in ("ceiling", "window") and "digest_s" in values[0]:
                    phases = "digest %.2f" % median([float(v["digest_s"]) for v in values])
                lines.append("| %s | %s | %.2f | %.2f | %.2f | %.2f | %s |" % (
                    row["name"], label, median([x.wall for x in results]),
                    median([x.user + x.system for x in results]),
                    median([x.wineserver_cpu for x in results]),
                    median([x.nginx_cpu for x in results]), phases))
        for label, runs in self.ladders:
            lines += ["", "From the ceiling to the installer, %s (median of %d, run alternately):"
                      % (label, self.size["variant_runs"]), "",
                      "| step | wall | digests (in process) | process CPU | wineserver | reads or chunk posts | flush |",
                      "|---|---|---|---|---|---|---|"]
            for name, results in runs.items():
                values = [x.values() for x in results]
                reads = ""
                if "reads" in values[0]:
                    reads = "%d reads" % median([int(v["reads"]) for v in values])
                elif "chunk_posts" in values[0]:
                    reads = "%d posts" % median([int(v["chunk_posts"]) for v in values])
                flush = ("%.2f" % median([float(v["flush_s"]) for v in values])) if "flush_s" in values[0] else ""
                inner = ("%.2f" % median([float(v["digest_s"]) for v in values])) if "digest_s" in values[0] else ""
                lines.append("| %s | %.2f | %s | %.2f | %.2f | %s | %s |" % (
                    name, median([x.wall for x in results]), inner,
                    median([x.user + x.system for x in results]),
                    median([x.wineserver_cpu for x in results]), reads, flush))
        for label, split in self.perf_splits:
            lines += ["", "CPU seconds by kind of work, one run each, %s (perf samples of the "
                      "process at %d Hz; the wineserver and nginx from /proc):" % (label, PERF_HZ), "",
                      "| kind of work | installer | ceiling |", "|---|---|---|"]
            for kind, _ in CPU_KINDS:
                a = split["installer"][1][kind]
                b = split["ceiling"][1][kind]
                if a >= 0.005 or b >= 0.005:
                    lines.append("| %s | %.2f | %.2f |" % (kind, a, b))
            lines.append("| wall | %.2f | %.2f |" % (split["installer"][0], split["ceiling"][0]))
        if self.ui_runs:
            posts, runs = self.ui_runs
            lines += ["", "The window's handling of %d progress posts made as fast as a worker can "
                      "(`bench/ui_probe.cpp`, median of %d): the installer's window against the same "
                      "controls with two other handlers that show the same: one sets a label only "
                      "when its text changes and moves the bar only when its position changes; one "
                      "takes every progress post already queued and shows only the last:"
                      % (posts, self.size["variant_runs"]), "",
                      "| handler | seconds to post | seconds until all handled | posts handled per second |",
                      "|---|---|---|---|"]
            for mode, values in runs.items():
                lines.append("| %s | %.2f | %.2f | %.0f |" % (
                    {"installer": "the installer's (InstallerWindowProc)",
                     "unchanged": "unchanged values skipped",
                     "latest": "only the latest queued post shown"}[mode],
                    median([float(v["post_s"]) for v in values]),
                    median([float(v["drain_s"]) for v in values]),
                    median([float(v["handled_per_s"]) for v in values])))
        if self.ops_runs:
            keys = [k for k in self.ops_runs[0] if k.endswith("_us")]
            lines += ["", "Per-file steps on this platform, microseconds per call over 2,000 small "
                      "files (`bench/ops_probe.cpp`, median of %d): " % len(self.ops_runs) + ", ".join(
                          "%s %.0f" % (k[:-3], median([float(v[k]) for v in self.ops_runs])) for k in keys) + "."]
        if self.progress:
            v = self.progress[0]
            lines += ["", "InstallFile of the one-file release in process (progress_probe): %s s in "
                      "all, %s s from its first post to its last." % (v["install_s"], v["download_span_s"])]
        if self.tool_runs:
            lines += ["", "Host digests of the %s file: " % fmt_bytes(self.size["big"]) + ", ".join(
                "`%s` %s s" % (tool, spread(times)) for tool, times in self.tool_runs.items()) + "."]
        return lines


PERF_HZ = 999

# Kinds of CPU work, by the module the sample fell in (first match wins).
CPU_KINDS = [
    ("SHA-256 (bcrypt)", r"^bcrypt\."),
    ("TLS and certificates", r"gnutls|nettle|hogweed|gmp|tasn1|p11-kit|rsaenh|crypt32|schannel|secur32|ncrypt"),
    ("WinHTTP", r"^winhttp\."),
    ("window, text and drawing", r"win32u|winex11|X11|xcb|Xext|Xrender|user32|comctl32|gdi32|freetype|fontconfig|uxtheme|imm32|expat|png"),
    ("kernel (files, sockets, Wine's server calls)", r"^\[kernel"),
    ("Wine core and C libraries", r"ntdll|kernelbase|kernel32|ld-linux|libc\.|libm\.|ucrtbase|msvcrt|advapi|sechost|rpcrt4|combase|ole32|ws2_32|iphlpapi|nsi|dnsapi"),
    ("the program's own code", r"\.exe$"),
    ("other", r"."),
    ("wineserver (its own process)", r"^$"),
    ("nginx (server side of TLS)", r"^$"),
]


def kind_of(module):
    for kind, pattern in CPU_KINDS:
        if re.search(pattern, module):
            return kind
    return "other"


METHOD = [
    "- The installer is the release build with a loopback origin, run as `wine "
    "LanternbrookInstaller.exe --app-dir <fresh folder> --quiet --no-launch --no-shortcut`; a run "
    "counts only when `version.json` and every file with its size are in place and the staging "
    "folder is gone. Its time includes Wine's process start and end, the window, the manifest "
    "request, the updater copy and `version.json`.",
    "- ceiling (`bench/ceiling.cpp`, a console program run under Wine the same way): one WinHTTP "
    "session and connection handle for the same URLs (manifest first), `WinHttpReadData` into a "
    "256 KiB buffer until it returns 0 bytes (as much as WinHTTP hands out per call), `WriteFile` "
    "to the output file, then a CNG SHA-256 of every file with 1 MiB reads. For the re-run, only "
    "the CNG digests. ceiling + window: the same work on a second thread while the main thread "
    "shows a window of the installer's size and style and pumps its messages (no posts).",
    "- user's alternative: one `curl --config` process fetching the same URLs over one kept-alive "
    "connection, then `sha256sum --check` of the files; for the re-run, `sha256sum --check` alone.",
    "- ComputeFileSha256: `bench/digest_probe.cpp` calls the installer's own function on the "
    "installed file; both sides are timed inside the process (no Wine start-up).",
    "- nginx (`bench/nginx.conf.in`) serves the release folders over HTTPS on 127.0.0.1; its access "
    "log gives bytes sent, Range header, connection and time of every request. `sync` runs "
    "before every run, so no run pays for the previous one's writes.",
    "- The bench's Wine prefix has unmanaged windows (`HKCU\\Software\\Wine\\X11 Driver`, "
    "`Managed` = `N`): the Xvfb display has no window manager, and Wine then waits up to 2 s for one "
    "on every map and unmap of a managed window (measured: a bare window costs the ceiling about "
    "2.5 s with managed windows), a cost a real desktop does not have.",
    "- Peak memory: VmHWM of the installer's Linux process (the Wine process: `wine` execs into "
    "it), polled every 10 ms from /proc (VmHWM only grows, so the last reading is the peak).",
    "- Progress posts: `bench/progress_probe.cpp` runs the installer's own InstallFile on a worker "
    "thread and counts the ProgressMessage posts on a message-only window.",
    "- Responsiveness: `bench/close_probe.cpp` starts the installer, waits for \"Baixando "
    "Lanternbrook\", posts WM_CLOSE to the window of class LanternbrookOnlineInstaller and times "
    "until the process's #32770 box is visible, then dismisses it; repeated during the download.",
    "- The machine is shared with other work (2 cores); the load average at the start is listed "
    "above. The alternation keeps both sides of a ratio under the same load.",
]


def fmt_bytes(count):
    if count >= MIB and count % MIB == 0:
        return "%d MiB" % (count // MIB)
    if count >= MIB:
        return "%.1f MiB" % (count / MIB)
    return "%d bytes" % count


def write_random(path, size, seed):
    """Deterministic bytes: a seeded generator for small files, the AES-CTR
    keystream of a key derived from the seed for large ones."""
    if size <= MIB:
        with open(path, "wb") as out:
            out.write(random.Random(seed).randbytes(size))
        return
    key = hashlib.sha256(b"lanternbrook-bench-%d" % seed).hexdigest()[:32]
    with open(path, "wb") as out:
        generator = subprocess.Popen(
            ["openssl", "enc", "-aes-128-ctr", "-nosalt", "-K", key, "-iv", "0" * 32,
             "-in", "/dev/zero"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        left = size
        while left:
            chunk = generator.stdout.read(min(left, 4 * MIB))
            if not chunk:
                raise SystemExit("openssl stopped early")
            out.write(chunk)
            left -= len(chunk)
        generator.kill()
        generator.wait()


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(4 * MIB), b""):
            digest.update(chunk)
    return digest.hexdigest()


def first_line(argv):
    try:
        result = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, timeout=30)
        return result.stdout.strip().splitlines()[0]
    except (OSError, IndexError, subprocess.TimeoutExpired):
        return "unknown"


def machine_facts():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        total_kib = int(f.readline().split()[1])
    return [
        ("CPU", "%s, %d logical CPUs (nproc)" % (model, os.cpu_count())),
        ("memory", "%.1f GiB" % (total_kib / 1024 / 1024)),
        ("system", "%s %s" % (platform.system(), platform.release())),
        ("load average at start", " ".join("%.2f" % x for x in os.getloadavg())),
        ("Wine", first_line(["wine", "--version"])),
        ("curl", first_line(["curl", "--version"])),
        ("nginx", first_line(["nginx", "-v"])),
        ("OpenSSL", first_line(["openssl", "version"])),
        ("sha256sum", first_line(["sha256sum", "--version"])),
    ]


def source_state(source):
    """The commit measured, and whether product files differed from it."""
    try:
        commit = subprocess.run(["git", "-C", source, "rev-parse", "--short", "HEAD"], check=True,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True).stdout.strip()
        changed = subprocess.run(["git", "-C", source, "status", "--porcelain", "--", "app", "common",
                                  "finish", "install", "manifest", "transfer"], check=True,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return "unknown"
    return "commit %s%s" % (commit, ", with uncommitted changes in product files" if changed.strip() else "")


def draw_plot(rows, path):
    """Horizontal bars of the ratios, drawn with ImageMagick: the installer over
    the ceiling (blue, its target as a red mark), over the ceiling with a window
    (light blue) and over the user's alternative (grey)."""
    width, left, top, bar, gap = 1000, 330, 70, 15, 24
    bars = lambda row: 1 + (row.get("window_ratio") is not None) + (row.get("alt_ratio") is not None)
    height = top + sum(bars(r) * (bar + 2) + gap for r in rows) + 40
    scale = [r["ratio"] for r in rows] + [r["target"] for r in rows] + \
        [r[k] for r in rows for k in ("window_ratio", "alt_ratio") if r.get(k)]
    # A log scale: ratios from below 1 to beyond 10 share the picture.
    low, high = 0.5, max(2.0, max(scale) * 1.3)
    plot_width = width - left - 170

    def x(value):
        value = min(max(value, low), high)
        return left + int(plot_width * (math.log(value) - math.log(low)) / (math.log(high) - math.log(low)))

    draw = ["fill black text 20,28 'Installer time / reference time (log scale; 1 = as fast as the reference)'"]
    for tick in (0.5, 1, 2, 3, 5, 10, 20, 50, 100):
        if tick <= high:
            draw.append("stroke '#dddddd' line %d,%d %d,%d stroke none" % (x(tick), top - 12, x(tick), height - 35))
            draw.append("fill black text %d,%d '%g'" % (x(tick) - 8, height - 18, tick))
    draw.append("stroke '#555555' line %d,%d %d,%d stroke none" % (x(1), top - 12, x(1), height - 35))
    legend = [("#3b6fb6", "vs ceiling"), ("#9cc3ea", "vs ceiling + window"), ("#a0a0a0", "vs the user alternative")]
    for index, (colour, text) in enumerate(legend):
        lx = 20 + index * 230
        draw.append("fill '%s' rectangle %d,40 %d,52" % (colour, lx, lx + 20))
        draw.append("fill black text %d,51 '%s'" % (lx + 26, text))
    draw.append("stroke '#d62728' stroke-width 3 line 720,38 720,54 stroke none stroke-width 1")
    draw.append("fill black text 728,51 'target vs ceiling'")
    y = top
    for row in rows:
        label = row["name"].replace("'", "")
        draw.append("fill black text 10,%d '%s'" % (y + bar - 2, label[:48]))
        entries = [("#3b6fb6", row["ratio"], "%.2f" % row["ratio"])]
        if row.get("window_ratio") is not None:
            entries.append(("#9cc3ea", row["window_ratio"], "%.2f" % row["window_ratio"]))
        if row.get("alt_ratio") is not None:
            entries.append(("#a0a0a0", row["alt_ratio"], "%.2f (%s)" % (row["alt_ratio"], row.get("alternative_name", ""))))
        top_of_row = y
        for colour, value, text in entries:
            draw.append("fill '%s' rectangle %d,%d %d,%d" % (colour, left, y, x(value), y + bar))
            draw.append("fill black text %d,%d '%s'" % (x(value) + 6, y + bar - 3, text))
            y += bar + 2
        draw.append("stroke '#d62728' stroke-width 3 line %d,%d %d,%d stroke none stroke-width 1"
                    % (x(row["target"]), top_of_row - 3, x(row["target"]), top_of_row + bar + 3))
        y += gap
    command = ["convert", "-size", "%dx%d" % (width, height), "xc:white", "-pointsize", "13"]
    for item in draw:
        # Texts are quoted with apostrophes; none may hold one.
        assert item.count("'") % 2 == 0, item
        command += ["-draw", item]
    command.append(path)
    subprocess.run(command, check=True, stdin=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--port", type=int, default=47570)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--runs", type=int, default=0)
    parser.add_argument("--results", required=True)
    parser.add_argument("--plot", required=True)
    parser.add_argument("--only", default="", help="comma-separated parts (for iterating)")
    parser.add_argument("--installer", default="", help="another build of the installer to measure")
    args = parser.parse_args()

    bench = Bench(args)
    size = bench.size
    started = time.monotonic()
    big = bench.make_release("big-%d" % (size["big"] // MIB),
                             [("big.bin", size["big"], 1)])
    rng = random.Random(2000)
    many_files = []
    for index in range(size["many"]):
        many_files.append(("assets/pack%02d/part%d/file%04d.bin" % (index % 20, (index // 20) % 10, index),
                           rng.randint(4096, 65536), 1000 + index))
    many = bench.make_release("many-%d" % size["many"], many_files)
    small = bench.make_release("small-%d" % (size["small"] // MIB), [("data.bin", size["small"], 3)])
    huge = bench.make_release("huge-%d" % (size["huge"] // MIB), [("data.bin", size["huge"], 4)])

    only = set(filter(None, args.only.split(",")))
    want = lambda part: not only or part in only
    bench.prepare_prefix()
    bench.start_nginx()
    bench.find_wineserver()
    try:
        big_name = "fresh install, one %s file" % fmt_bytes(size["big"])
        many_name = "fresh install, %d files of 4-64 KiB" % size["many"]
        if want("fresh"):
            big_row = bench.fresh_install(big_name, big, 1.15)
            many_row = bench.fresh_install(many_name, many, 1.3)
            if want("rerun"):
                bench.rerun("re-run intact, one %s file" % fmt_bytes(size["big"]), big,
                            big_row["installed"], 1.1)
                bench.rerun("re-run intact, %d files" % size["many"], many, many_row["installed"], 1.1)
                bench.digest_only("ComputeFileSha256, one %s file (in process)" % fmt_bytes(size["big"]),
                                  big, big_row["installed"], 1.05)
        if want("resume"):
            bench.resume(big)
        if want("memory"):
            bench.memory(small, huge)
        if want("progress"):
            bench.progress_posts(big)
        if want("close"):
            bench.close_latency(huge)
        if want("profile"):
            bench.ladder(big, big_name)
            bench.ladder(many, many_name)
            if want("fresh"):
                bench.rerun_ladder(many, many_row["installed"], "re-run intact, %d files" % size["many"])
            bench.perf_split(big, big_name)
            bench.perf_split(many, many_name)
            bench.host_digests(big)
            bench.ui_rate(16384)
            bench.per_file_steps()
    finally:
        bench.stop_nginx()
    bench.write()
    log("bench finished in %.0f s" % (time.monotonic() - started))


if __name__ == "__main__":
    main()
