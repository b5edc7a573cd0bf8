#!/usr/bin/env python3
"""How close does the installer come to the platform? Driven by scripts/bench,
which builds the programs, starts the Wine prefix, Xvfb and the test CA.

Each workload runs alternately, round by round (the order reversed every other
round), with a fresh --app-dir where the run installs:
  installer    the installer as a user runs it (--quiet --no-launch --no-shortcut)
  before       optionally, another build of it (--before EXE), for before/after
  ceiling      bench/ceiling.exe: only the platform work the installer's
               procedure requires, nothing of ours
  alternative  curl (one process, one connection) + sha256sum; sha256sum alone
               for a re-run
Updates by blocks (--only blocks): an old copy of a 256 MiB file in place, a
new release made by lanternbrook-release (with block lists), and the bytes
the installer fetched (nginx's log) against the file's size.
Then the window check (bench/window_probe.exe: WM_CLOSE warning and label lag
during a 1 GiB download) and peak memory (1 GiB file against 1 MiB).
Releases are served by nginx over HTTPS on loopback."""
import argparse
import datetime
import hashlib
import json
import os
import random
import re
import shutil
import socket
import statistics
import subprocess
import sys
import time

MIB = 1 << 20
UPDATER = "LanternbrookUpdater.exe"
FLAGS = ["--quiet", "--no-launch", "--no-shortcut"]
SIZES = dict(full=dict(big=256 * MIB, many=2000, huge=1024 * MIB, runs=5, memory_runs=3),
             quick=dict(big=32 * MIB, many=200, huge=128 * MIB, runs=2, memory_runs=1))
TARGETS = dict(fresh_big=1.20, fresh_many=1.40, rerun_many=1.25, rerun_big=1.10)
CLOSE_MS, LAG_MS, MEMORY_MIB = 150, 100, 32
ANALYSIS = "## Analysis"
BLOCKS = "## Updates by blocks"


def log(text):
    print(text, flush=True)


def win(path):
    """The Wine path of a host path (drive Z: is the host's root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def median(values):
    return statistics.median(values)


def spread(values):
    return "%.2f (%.2f-%.2f)" % (median(values), min(values), max(values))


def command_output(argv):
    try:
        return subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=30).stdout.strip().splitlines()[0]
    except (OSError, IndexError, subprocess.TimeoutExpired):
        return "unknown"


def write_random(path, size, seed):
    """Deterministic bytes: the AES-CTR keystream of a key made from the seed."""
    if size <= MIB:
        with open(path, "wb") as out:
            out.write(random.Random(seed).randbytes(size))
        return
    key = hashlib.sha256(b"lanternbrook-bench-%d" % seed).hexdigest()[:32]
    with open(path, "wb") as out:
        subprocess.run("openssl enc -aes-128-ctr -nosalt -K %s -iv %s -in /dev/zero | head -c %d"
                       % (key, "0" * 32, size), shell=True, stdout=out, stderr=subprocess.DEVNULL)
    if os.path.getsize(path) != size:
        raise SystemExit("could not write %s" % path)


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(4 * MIB), b""):
            digest.update(chunk)
    return digest.hexdigest()


class Bench:
    def __init__(self, args):
        self.args = args
        self.size = dict(SIZES["quick" if args.quick else "full"])
        if args.runs:
            self.size["runs"] = args.runs
        self.work = os.path.join(args.build, "bench-work")
        self.www = os.path.join(self.work, "www")
        self.certs = os.path.join(args.build, "test-run", "certs")
        self.programs = os.path.join(args.build, "bench")
        self.origin = "https://localhost:%d" % args.port
        self.sides = {"installer": os.path.abspath(args.installer or os.path.join(
            args.build, "bin", "LanternbrookInstaller.exe"))}
        if args.before:
            self.sides["before"] = os.path.abspath(args.before)
        self.releases = {}
        self.rows = []
        self.checks = []
        self.nginx = None

    # ------------------------------------------------------------ releases

    def release(self, name, files):
        """files: (relative path, size, seed); the updater is added last."""
        folder = os.path.join(self.www, "releases", name)
        if not os.path.exists(os.path.join(folder, ".complete")):
            shutil.rmtree(folder, ignore_errors=True)
            log("making release %s" % name)
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
            open(os.path.join(folder, ".complete"), "w").close()
        with open(os.path.join(folder, "manifest.json")) as f:
            manifest = json.load(f)
        entries = manifest["files"] + [manifest["bootstrap_updater"]]
        self.releases[name] = dict(entries=entries, bytes=sum(e["size"] for e in entries))
        lists = os.path.join(self.work, name)
        with open(lists + ".ceiling", "w", newline="\r\n") as f:
            f.write("%s/updates/manifest.json\n" % self.origin)
            for e in entries:
                f.write("%s%s\t%s\t%s\t%d\n" % (self.origin, e["url"], e["path"].replace("/", "\\"),
                                                e["hash"], e["size"]))
        with open(lists + ".curl", "w") as f:
            f.write('url = "%s/updates/manifest.json"\noutput = "manifest.json"\n' % self.origin)
            for e in entries:
                f.write('url = "%s%s"\noutput = "%s"\n' % (self.origin, e["url"], e["path"]))
        with open(lists + ".sums", "w") as f:
            f.writelines("%s  %s\n" % (e["hash"], e["path"]) for e in entries)
        return name

    def serve(self, name):
        """Points /updates/manifest.json at the release's manifest."""
        link = os.path.join(self.www, "updates", "manifest.json")
        os.makedirs(os.path.dirname(link), exist_ok=True)
        if os.path.lexists(link + ".new"):
            os.remove(link + ".new")
        os.symlink(os.path.join("..", "releases", name, "manifest.json"), link + ".new")
        os.replace(link + ".new", link)

    def start_nginx(self):
        prefix = os.path.join(self.work, "nginx")
        shutil.rmtree(prefix, ignore_errors=True)
        os.makedirs(prefix)
        sys.path.insert(0, os.path.join(self.args.source, "tests", "support"))
        import nginx_server
        conf = nginx_server.write_config(prefix, self.www, os.path.join(self.certs, "localhost.pem"),
                                         os.path.join(self.certs, "localhost.key"), self.args.port)
        self.nginx = subprocess.Popen(
            [shutil.which("nginx") or "/usr/sbin/nginx", "-p", prefix, "-c", conf, "-g", "daemon off;",
             "-e", os.path.join(prefix, "error.log")],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", self.args.port), timeout=0.5).close()
                return
            except OSError:
                if self.nginx.poll() is not None:
                    break
                time.sleep(0.1)
        raise SystemExit("nginx did not start on port %d (is it in use?)" % self.args.port)

    # ---------------------------------------------------------------- runs

    def run(self, argv, cwd=None, poll_memory=False):
        """One process to its end, stdio on a file (never a pipe: Wine's
        services would inherit it). Returns (wall s, peak VmHWM KiB, output)."""
        os.sync()
        out_path = os.path.join(self.work, "output.txt")
        with open(out_path, "w") as out:
            start = time.perf_counter()
            child = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                     stderr=subprocess.STDOUT)
            hwm = 0
            while poll_memory and child.poll() is None:
                try:
                    with open("/proc/%d/status" % child.pid) as f:
                        hwm = max([hwm] + [int(l.split()[1]) for l in f if l.startswith("VmHWM:")])
                except (OSError, ValueError):
                    pass
                time.sleep(0.01)
            code = child.wait()
            wall = time.perf_counter() - start
        with open(out_path, errors="replace") as f:
            output = f.read()
        if code != 0:
            raise SystemExit("%s failed (%d): %s" % (" ".join(argv[:3]), code, output))
        return wall, hwm, output

    def fresh_dir(self, *parts):
        path = os.path.join(self.work, "runs", *parts)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        return path

    def installer(self, side, release, app_dir, **options):
        result = self.run(["wine", self.sides[side], "--app-dir", win(app_dir)] + FLAGS, **options)
        self.check_installed(release, app_dir)
        return result

    def check_installed(self, release, app_dir):
        wrong = [e["path"] for e in self.releases[release]["entries"]
                 if os.path.getsize(os.path.join(app_dir, e["path"])) != e["size"]]
        if wrong or not os.path.exists(os.path.join(app_dir, "version.json")) or \
                os.path.exists(os.path.join(app_dir, ".install-staging")):
            raise SystemExit("the installer's run in %s is incomplete" % app_dir)

    def ceiling(self, mode, release, app_dir):
        return self.run(["wine", os.path.join(self.programs, "ceiling.exe"), mode, win(app_dir),
                         win(os.path.join(self.work, release + ".ceiling"))])

    def alternative(self, release, app_dir, download):
        lists = os.path.join(self.work, release)
        wall = 0.0
        if download:
            os.makedirs(app_dir, exist_ok=True)
            wall += self.run(["curl", "--silent", "--show-error", "--fail", "--create-dirs",
                              "--cacert", os.path.join(self.certs, "ca.pem"),
                              "--config", lists + ".curl"], cwd=app_dir)[0]
        return wall + self.run(["sha256sum", "--check", "--quiet", "--strict", lists + ".sums"],
                               cwd=app_dir)[0]

    def workload(self, key, name, release, installed=None):
        """Fresh install when `installed` is None, else a re-run over it."""
        log("workload: %s" % name)
        self.serve(release)
        sides = list(self.sides) + ["ceiling", "alternative"]
        times = {side: [] for side in sides}
        for round_index in range(self.size["runs"]):
            for side in sides if round_index % 2 == 0 else sides[::-1]:
                app_dir = installed or self.fresh_dir(release, side)
                if side == "ceiling":
                    wall = self.ceiling("verify" if installed else "install", release, app_dir)[0]
                elif side == "alternative":
                    wall = self.alternative(release, app_dir, download=not installed)
                else:
                    wall = self.installer(side, release, app_dir)[0]
                times[side].append(wall)
                log("  %-11s %6.2f s" % (side, wall))
        self.rows.append(dict(key=key, name=name, times=times))
        return os.path.join(self.work, "runs", release, "installer")  # the last, intact

    def window(self, release):
        log("check: the window while downloading %d MiB" % (self.releases[release]["bytes"] // MIB))
        self.serve(release)
        entry = self.releases[release]["entries"][0]
        for side in self.sides:
            app_dir = self.fresh_dir(release, "window-" + side)
            part = os.path.join(app_dir, ".install-staging", entry["path"] + ".part")
            _, _, output = self.run(
                ["wine", os.path.join(self.programs, "window_probe.exe"), "1000", win(part),
                 str(self.releases[release]["bytes"]), win(self.sides[side]),
                 "--app-dir", win(app_dir)] + FLAGS)
            self.check_installed(release, app_dir)
            shutil.rmtree(app_dir, ignore_errors=True)
            values = dict(re.findall(r"^(\w+)=(\S+)", output, re.M))
            closes = re.findall(r"^close_ms=(\S+)", output, re.M)
            log("  %s: close %s ms, lag %s" % (side, ", ".join(closes), values))
            self.checks.append(dict(
                name="%s: WM_CLOSE warning box during the download" % side,
                value="%d samples: %s ms" % (len(closes), ", ".join("%.0f" % float(c) for c in closes)),
                target="<= %d ms" % CLOSE_MS, ok=max(map(float, closes)) <= CLOSE_MS))
            self.checks.append(dict(
                name="%s: bar older than the worker's progress" % side,
                value="median %s ms, 99th percentile %s ms, largest %s ms (%s readings)"
                      % (values["lag_median_ms"], values["lag_p99_ms"], values["lag_largest_ms"],
                         values["readings"]),
                target="<= %d ms" % LAG_MS, ok=float(values["lag_largest_ms"]) <= LAG_MS))

    def memory(self, small, huge):
        log("check: peak memory")
        peaks = {small: [], huge: []}
        for _ in range(self.size["memory_runs"]):
            for release in (small, huge):
                self.serve(release)
                app_dir = self.fresh_dir(release, "memory")
                peaks[release].append(self.installer("installer", release, app_dir,
                                                     poll_memory=True)[1] / 1024.0)
                shutil.rmtree(app_dir, ignore_errors=True)
        above = median(peaks[huge]) - median(peaks[small])
        self.checks.append(dict(
            name="installer: peak memory, 1 GiB file above a 1 MiB file",
            value="%+.1f MiB (VmHWM %.1f against %.1f MiB)"
                  % (above, median(peaks[huge]), median(peaks[small])),
            target="<= %d MiB" % MEMORY_MIB, ok=above <= MEMORY_MIB))

    # ------------------------------------------------------- updates by blocks

    def fetched(self, since, path_part):
        """Body bytes and requests nginx logged for urls holding `path_part`."""
        with open(os.path.join(self.work, "nginx", "access.log")) as f:
            lines = f.readlines()[since:]
        total = requests = 0
        for line in lines:
            entry = json.loads(line)  # the access log of nginx_server.py: one JSON object a line
            if path_part in entry["path"]:
                total += int(entry["bytes"])
                requests += 1
        return total, requests

    def log_length(self):
        path = os.path.join(self.work, "nginx", "access.log")
        if not os.path.exists(path):
            return 0
        with open(path) as f:
            return sum(1 for _ in f)

    def blocks(self):
        size = self.size["big"]
        tool = os.path.join(self.args.build, "bin", "lanternbrook-release.exe")
        old = os.path.join(self.work, "blocks-old.bin")
        if not os.path.exists(old) or os.path.getsize(old) != size:
            write_random(old, size, 21)
        with open(old, "rb") as f:
            old_bytes = f.read()
        half = size // 2

        def unrelated(length):
            path = os.path.join(self.work, "blocks-unrelated.bin")
            write_random(path, length, 7)
            with open(path, "rb") as f:
                return f.read()

        cases = [
            ("%d MiB file, 1 MiB overwritten in the middle" % (size // MIB), "middle",
             lambda b: b[:half] + random.Random(5).randbytes(MIB) + b[half + MIB:],
             lambda fetched, listed: fetched <= 1.6 * MIB, "<= 1.6 MiB + list"),
            ("%d MiB file, 100 bytes inserted at 0 and 100 deleted at %d MiB" % (size // MIB, half // MIB),
             "shift", lambda b: random.Random(6).randbytes(100) + b[:half] + b[half + 100:],
             lambda fetched, listed: fetched <= size / 100, "<= 1 % + list"),
            ("%d MiB file replaced by unrelated bytes" % (size // MIB), "unrelated",
             lambda b: unrelated(len(b)),
             lambda fetched, listed: fetched <= size and listed * 200 <= size,
             "<= size + list; list <= 0.5 %"),
        ]
        exe_old, exe_new = self.args.blocks_exes.split(",") if self.args.blocks_exes else ("", "")
        if exe_old:
            cases.append(("LanternbrookInstaller.exe of two commits", "installer",
                          None, lambda fetched, listed: True, "quote (no target)"))
        results = []
        for name, key, change, judge, target in cases:
            log("blocks: %s" % name)
            if key == "installer":
                with open(exe_old, "rb") as f:
                    before = f.read()
                with open(exe_new, "rb") as f:
                    after = f.read()
            else:
                before, after = old_bytes, change(old_bytes)
            folder = os.path.join(self.www, "releases", "blocks-" + key)
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            with open(os.path.join(folder, "data.bin"), "wb") as f:
                f.write(after)
            write_random(os.path.join(folder, UPDATER), 96 * 1024, 7)
            self.run(["wine", tool, "make", win(folder), "--version", "2.0." + key, "--build", "2",
                      "--url-base", "/releases/blocks-" + key])
            with open(os.path.join(folder, "manifest.json")) as f:
                manifest = json.load(f)
            self.releases["blocks-" + key] = dict(
                entries=manifest["files"] + [manifest["bootstrap_updater"]], bytes=len(after))
            listed = os.path.getsize(os.path.join(folder, "data.bin.lbblocks")) \
                if os.path.exists(os.path.join(folder, "data.bin.lbblocks")) else 0
            link = os.path.join(self.www, "updates", "manifest.json")
            os.makedirs(os.path.dirname(link), exist_ok=True)
            if os.path.lexists(link):
                os.remove(link)
            os.symlink(os.path.join("..", "releases", "blocks-" + key, "manifest.json"), link)
            app_dir = self.fresh_dir("blocks", key)
            os.makedirs(app_dir)
            with open(os.path.join(app_dir, "data.bin"), "wb") as f:
                f.write(before)
            since = self.log_length()
            wall = self.installer("installer", "blocks-" + key, app_dir)[0]
            fetched, requests = self.fetched(since, "/blocks-%s/data.bin" % key)
            fetched_list, _ = self.fetched(since, "data.bin.lbblocks")
            fetched -= fetched_list
            rerun = self.installer("installer", "blocks-" + key, app_dir)[0]
            results.append(dict(name=name, size=len(after), fetched=fetched, requests=requests - 1,
                                listed=listed, wall=wall, rerun=rerun, target=target,
                                ok=judge(fetched, listed)))
            log("  fetched %d of %d bytes in %d ranges, list %d bytes; %.2f s, intact re-run %.2f s"
                % (fetched, len(after), requests - 1, listed, wall, rerun))
        if results:
            first = results[0]
            results.append(dict(name="time of the first case against an intact re-run", size=0,
                                fetched=None, requests=0, listed=0, wall=first["wall"],
                                rerun=first["rerun"], target="<= 3x",
                                ok=first["wall"] <= 3 * first["rerun"]))
        return results

    def write_blocks(self, results):
        path = self.args.results
        lines = [BLOCKS, "",
                 "`scripts/bench --only blocks`, %s, source %s; load at the end: %s. An old copy of "
                 "`data.bin` is in the application folder; the release's manifest and block list come "
                 "from `lanternbrook-release make`. Fetched: the file's body bytes in nginx's log "
                 "(the block list's own request apart)." % (
                     datetime.date.today().isoformat(),
                     subprocess.run(["git", "-C", self.args.source, "describe", "--always", "--dirty"],
                                    capture_output=True, text=True).stdout.strip(),
                     command_output(["uptime"])), "",
                 "| case | fetched | of | ranges | block list | time | intact re-run | target | |",
                 "|---|---|---|---|---|---|---|---|---|"]
        for r in results:
            if r["fetched"] is None:
                lines.append("| %s | | | | | %.2f s | %.2f s | %s | %s |" % (
                    r["name"], r["wall"], r["rerun"], r["target"], "met" if r["ok"] else "**missed**"))
                continue
            lines.append("| %s | %d (%.2f %%) | %d | %d | %d (%.3f %%) | %.2f s | %.2f s | %s | %s |" % (
                r["name"], r["fetched"], 100.0 * r["fetched"] / r["size"], r["size"], r["requests"],
                r["listed"], 100.0 * r["listed"] / r["size"], r["wall"], r["rerun"], r["target"],
                "met" if r["ok"] else "**missed**"))
        section = "\n".join(lines) + "\n\n"
        text = open(path).read() if os.path.exists(path) else "# Benchmark results\n\n"
        if BLOCKS in text:
            start = text.index(BLOCKS)
            end = text.find("\n## ", start + 1)
            text = text[:start] + section + (text[end + 1:] if end >= 0 else "")
        elif ANALYSIS in text:
            text = text.replace(ANALYSIS, section + ANALYSIS, 1)
        else:
            text += "\n" + section
        with open(path, "w") as f:
            f.write(text)
        log("wrote %s" % path)

    # -------------------------------------------------------------- report

    def write(self, uptime_start):
        path = self.args.results
        analysis = ""
        if os.path.exists(path):
            with open(path) as f:
                text = f.read()
            if ANALYSIS in text:
                analysis = text[text.index(ANALYSIS):]
            if BLOCKS in text:
                end = text.find("\n## ", text.index(BLOCKS) + 1)
                analysis = text[text.index(BLOCKS):end + 1 if end >= 0 else len(text)] + analysis
        source = subprocess.run(["git", "-C", self.args.source, "describe", "--always", "--dirty"],
                                capture_output=True, text=True).stdout.strip()
        before = "before" in self.sides
        lines = [
            "# Benchmark results", "",
            "`scripts/bench%s`, %s, source %s. Wall-clock seconds, median (min-max) of %d rounds; "
            "the sides of a workload run alternately. A ratio is a median over the ceiling's median."
            % (" --before <exe>" if before else "", datetime.date.today().isoformat(), source,
               self.size["runs"]), "",
            "Machine: %s, %d logical CPUs, %s; %s; curl %s; nginx %s." % (
                command_output(["sh", "-c", "grep -m1 'model name' /proc/cpuinfo | cut -d: -f2"]),
                os.cpu_count(), command_output(["uname", "-sr"]), command_output(["wine", "--version"]),
                command_output(["curl", "--version"]).split()[1],
                command_output(["sh", "-c", "nginx -v 2>&1"]).split("/")[-1]),
            "Shared with other builds and tests; load (`uptime`) at the start: %s; at the end: %s."
            % (uptime_start, command_output(["uptime"])), "",
            "| workload | installer | ceiling | ratio | target | |%s curl + sha256sum | ratio |"
            % (" before | ratio |" if before else ""),
            "|---|---|---|---|---|---|%s---|---|" % ("---|---|" if before else "")]
        for row in self.rows:
            t = row["times"]
            ceiling = median(t["ceiling"])
            ratio = median(t["installer"]) / ceiling
            target = TARGETS[row["key"]]
            cells = [row["name"], spread(t["installer"]), spread(t["ceiling"]), "**%.2f**" % ratio,
                     "<= %.2f" % target, "met" if ratio <= target else "**missed**"]
            if before:
                cells += [spread(t["before"]), "%.2f" % (median(t["before"]) / ceiling)]
            cells += [spread(t["alternative"]), "%.2f" % (median(t["alternative"]) / ceiling)]
            lines.append("| " + " | ".join(cells) + " |")
        lines += ["", "| check | measured | target | |", "|---|---|---|---|"]
        for check in self.checks:
            lines.append("| %s | %s | %s | %s |" % (check["name"], check["value"], check["target"],
                                                   "met" if check["ok"] else "**missed**"))
        lines += ["", "## Method", "",
                  "- installer: `wine LanternbrookInstaller.exe --app-dir <folder> --quiet --no-launch "
                  "--no-shortcut`, Wine's process start and end included; a run counts only when every "
                  "file, `version.json` and no staging folder are in place. A re-run runs over the "
                  "installer's own intact installation.",
                  "- ceiling: `bench/ceiling.cpp`, a console program under Wine doing only the platform "
                  "work the procedure requires: the manifest GET, then per file a GET read with "
                  "`WinHttpQueryDataAvailable` before each `WinHttpReadData`, `WriteFile` to the `.part` "
                  "file, `FlushFileBuffers`, a CNG SHA-256, `MoveFileExW` with "
                  "MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH; for a re-run the size and CNG "
                  "SHA-256 of each file; both end with the updater copy and `version.json`.",
                  "- alternative: one `curl --config` process over one connection, then "
                  "`sha256sum --check`; a re-run is `sha256sum --check` alone.",
                  "- window: `bench/window_probe.cpp` starts the installer on a 1 GiB release, reads "
                  "every 2 ms the `.part` file's size (the worker posts right after each write) and the "
                  "bar's position; the lag of a reading is the time since the worker passed the "
                  "position after the one shown. Every second it posts WM_CLOSE and times the "
                  "warning box.",
                  "- memory: the largest VmHWM of the Wine process, polled every 10 ms.",
                  "- nginx serves the releases over HTTPS on 127.0.0.1; `sync` before every run; the "
                  "bench's prefix has unmanaged windows (no window manager on Xvfb).", ""]
        with open(path, "w") as f:
            f.write("\n".join(lines) + ("\n" + analysis if analysis else ""))
        log("wrote %s" % path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--results", required=True)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--runs", type=int, default=0)
    parser.add_argument("--only", default="", help="comma-separated: fresh,rerun,window,memory,blocks")
    parser.add_argument("--blocks-exes", default="",
                        help="OLD,NEW: two builds of the installer for the blocks part")
    parser.add_argument("--installer", default="", help="another build to measure as the installer")
    parser.add_argument("--before", default="", help="a build to measure beside it")
    args = parser.parse_args()
    uptime_start = command_output(["uptime"])
    started = time.monotonic()
    bench = Bench(args)
    size = bench.size
    only = set(filter(None, args.only.split(",")))
    if only == {"blocks"}:
        subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], capture_output=True, check=True)
        bench.start_nginx()
        try:
            results = bench.blocks()
        finally:
            bench.nginx.terminate()
            bench.nginx.wait()
        bench.write_blocks(results)
        log("bench finished in %.0f s" % (time.monotonic() - started))
        return
    big = bench.release("big-%d" % (size["big"] // MIB), [("big.bin", size["big"], 1)])
    rng = random.Random(2000)
    many = bench.release("many-%d" % size["many"], [
        ("assets/pack%02d/part%d/file%04d.bin" % (i % 20, (i // 20) % 10, i),
         rng.randint(4096, 65536), 1000 + i) for i in range(size["many"])])
    small = bench.release("small-1", [("data.bin", MIB, 3)])
    huge = bench.release("huge-%d" % (size["huge"] // MIB), [("data.bin", size["huge"], 4)])
    only = set(filter(None, args.only.split(",")))
    want = lambda part: not only or part in only
    subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                    "/d", "N", "/f"], capture_output=True, check=True)
    bench.start_nginx()
    try:
        big_name = "one %d MiB file" % (size["big"] // MIB)
        many_name = "%d files of 4-64 KiB" % size["many"]
        if want("fresh") or want("rerun"):
            big_dir = bench.workload("fresh_big", "fresh install, " + big_name, big)
            many_dir = bench.workload("fresh_many", "fresh install, " + many_name, many)
            if want("rerun"):
                bench.workload("rerun_many", "re-run intact, " + many_name, many, many_dir)
                bench.workload("rerun_big", "re-run intact, " + big_name, big, big_dir)
        if want("window"):
            bench.window(huge)
        if want("memory"):
            bench.memory(small, huge)
    finally:
        bench.nginx.terminate()
        bench.nginx.wait()
    bench.write(uptime_start)
    log("bench finished in %.0f s" % (time.monotonic() - started))


if __name__ == "__main__":
    main()
