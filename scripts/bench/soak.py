#!/usr/bin/env python3
"""The soak run of soak.sh: drives the running client for a while and prints
what it did to the server and to itself.

soak.sh has started the development server, the relay (late_relay.py), the
Xvfb display and the client (logged on, the connect trace preloaded); this
script runs the timeline and prints the table:

  - a notice queued on the server every 5 s (one per poll);
  - a captured job every minute (50 KB to 3 MB), confirmed by a Return key
    press once its settings dialog is up; boxes titled "错误" are confirmed
    the same way after 3 s, as a user would;
  - about a fifth of the notice polls answered malformed (cut, scrambled,
    HTTP 500, bytes that are no HTTP, closed unanswered);
  - at 10 % of the run an outage in which the server's port is closed
    (connections refused), at 25 % one in which every connection is
    accepted and closed unanswered, starting 3 s after a job was confirmed;
    each lasts a tenth of the run; the warm-up is the first 40 %;
  - the last tenth without malformed answers; then the jobs still in the
    spool folder are waited for (at most 3 minutes).

Exit status 1 only when it could not measure (the client ended, the server
or the display went away).
"""
import argparse
import hashlib
import os
import random
import sqlite3
import subprocess
import sys
import threading
import time

MALFORMED = {"refuse", "cut", "garble", "http500", "junk"}


def now_ms():
    return int(time.time() * 1000)


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.stop = threading.Event()
        self.lock = threading.Lock()
        self.samples = []  # (ms, rss_kb, fds, threads, delivered, cpu_ticks, anon_kb)
        self.loads = []
        self.jobs = []  # dicts: name, size, sha256, written_ms, confirmed_ms
        self.confirmed = []  # ms of each settings dialog confirmed
        self.boxes_closed = 0
        self.notices_queued = 0
        self.down_windows = []  # (start_ms, end_ms): port closed
        self.close_windows = []  # (start_ms, end_ms): accepted and closed
        self.failure = None

    # --- the client and the server --------------------------------------------------

    def alive(self):
        try:
            os.kill(self.args.pid, 0)
            return True
        except OSError:
            return False

    def sample(self):
        pid = self.args.pid
        rss = anon = threads = 0
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    rss = int(line.split()[1])
                elif line.startswith("RssAnon:"):
                    anon = int(line.split()[1])
                elif line.startswith("Threads:"):
                    threads = int(line.split()[1])
        fds = len(os.listdir("/proc/%d/fd" % pid))
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        cpu = int(fields[11]) + int(fields[12])
        return rss, fds, threads, cpu, anon

    def delivered(self):
        try:
            db = sqlite3.connect("file:%s?mode=ro" % self.args.db, uri=True, timeout=5)
            try:
                row = db.execute(
                    "SELECT count(*) FROM Notices WHERE UserName='zhangsan' AND Delivered=1"
                ).fetchone()
            finally:
                db.close()
            return int(row[0])
        except sqlite3.Error:
            return -1

    def set_rules(self, text):
        tmp = self.args.rules + ".tmp"
        with open(tmp, "w") as f:
            f.write(text)
        os.replace(tmp, self.args.rules)

    # --- loops ----------------------------------------------------------------------

    def every(self, seconds, work):
        next_at = time.time()
        while not self.stop.is_set():
            try:
                work()
            except Exception as error:  # noqa: BLE001 - reported, ends the run
                self.failure = "%s: %s" % (work.__name__, error)
                self.stop.set()
                return
            next_at += seconds
            self.stop.wait(max(0.0, next_at - time.time()))

    def queue_notice(self):
        self.notices_queued += 1
        subprocess.run(
            [self.args.server, "notice", "--db", self.args.db, "--user", "zhangsan",
             "--type", "512", "--fields", "soak-notice-%d.pdf|一楼复印机|0|0" % self.notices_queued],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False, timeout=30)

    def take_sample(self):
        if not self.alive():
            raise RuntimeError("the client ended")
        rss, fds, threads, cpu, anon = self.sample()
        delivered = self.delivered()
        with open("/proc/loadavg") as f:
            load = float(f.read().split()[0])
        with self.lock:
            self.samples.append((now_ms(), rss, fds, threads, delivered, cpu, anon))
            self.loads.append(load)
        with open(self.args.samples, "a") as f:
            f.write("%d %d %d %d %d %d %d %.2f\n" % (now_ms(), rss, anon, fds, threads, delivered,
                                                     cpu, load))

    # --- windows --------------------------------------------------------------------

    def windows(self, name=None):
        command = ["xdotool", "search", "--onlyvisible", "--name", name or "."]
        return subprocess.run(command, capture_output=True, text=True, timeout=10).stdout.split()

    def window_name(self, window):
        out = subprocess.run(["xdotool", "getwindowname", window], capture_output=True,
                             text=True, timeout=10)
        return out.stdout.strip()

    def press_return(self, window):
        # The key goes to that window alone (no key is left held down if the
        # window goes away between the press and the release).
        subprocess.run(["xdotool", "key", "--window", window, "Return"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10)

    def confirm_loop(self):
        seen_box = {}
        while not self.stop.is_set():
            for window in self.windows("^打印任务$"):
                self.press_return(window)
                with self.lock:
                    self.confirmed.append(now_ms())
                self.stop.wait(1.0)
            for window in self.windows("^错误$"):
                first = seen_box.setdefault(window, time.time())
                if time.time() - first >= 3:
                    self.press_return(window)
                    self.boxes_closed += 1
                    seen_box.pop(window, None)
            self.stop.wait(0.3)

    # --- jobs -----------------------------------------------------------------------

    def pdf(self, size, title):
        objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
                   b"<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
                   b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
        text = b"BT /F1 24 Tf 72 700 Td (" + title.encode() + b") Tj ET"
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 5 0 R "
                       b"/Resources << /Font << /F1 3 0 R >> >> >>")
        objects.append(b"<< /Length %d >>\nstream\n" % len(text) + text + b"\nendstream")
        filler_size = max(0, size - 900)
        filler = bytes(self.rng.getrandbits(8) for _ in range(filler_size // 2)).hex().encode()
        filler = filler[:filler_size]
        objects.append(b"<< /Length %d >>\nstream\n" % len(filler) + filler + b"\nendstream")
        out = b"%PDF-1.4\n"
        xref = b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
        for i, body in enumerate(objects):
            xref += b"%010d 00000 n \n" % len(out)
            out += b"%d 0 obj\n" % (i + 1) + body + b"\nendobj\n"
        start = len(out)
        return (out + xref + b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n"
                % (len(objects) + 1, start))

    def print_job(self, number):
        name = "soak-%03d" % number
        size = self.rng.randint(50 * 1024, 3 * 1024 * 1024)
        data = self.pdf(size, name)
        hidden = os.path.join(self.args.spool, "." + name)
        os.makedirs(hidden)
        with open(os.path.join(hidden, "job.pdf"), "wb") as f:
            f.write(data)
        with open(os.path.join(hidden, "options"), "w") as f:
            f.write("copies=1 job-impressions=1 title=%s.pdf PageSize=A4 Duplex=None "
                    "ColorModel=Gray\n" % name)
        # Complete at once, as the printer's backend makes it.
        os.rename(hidden, os.path.join(self.args.spool, name))
        with self.lock:
            self.jobs.append({"name": name + ".pdf", "size": len(data),
                              "sha256": hashlib.sha256(data).hexdigest(), "written": now_ms()})

    def spool_entries(self):
        try:
            return sorted(os.listdir(self.args.spool))
        except OSError:
            return []

    # --- the run ----------------------------------------------------------------------

    def wait_until(self, at):
        while not self.stop.is_set() and time.time() < at:
            self.stop.wait(min(0.5, max(0.0, at - time.time())))

    def outage(self, rules, seconds, after):
        """The relay under RULES for SECONDS, then under AFTER; returns the
        outage's (start_ms, end_ms)."""
        begin = now_ms()
        self.set_rules(rules)
        self.wait_until(time.time() + seconds)
        self.set_rules(after)
        return begin, now_ms()

    def run(self):
        total = self.args.seconds
        self.start = time.time()
        self.start_ms = int(self.start * 1000)
        normal = "GetUserMessage malformed 20%\n"
        self.set_rules(normal)
        loops = [threading.Thread(target=self.every, args=(5, self.queue_notice), daemon=True),
                 threading.Thread(target=self.every, args=(5, self.take_sample), daemon=True),
                 threading.Thread(target=self.confirm_loop, daemon=True)]
        for loop in loops:
            loop.start()

        job_interval = 60 if total >= 300 else max(15, total // 6)
        self.outage_seconds = outage = max(20, total // 10)
        events = []  # (time, kind)
        t = 10
        number = 0
        while t < total * 0.9:
            events.append((t, "job"))
            t += job_interval
        events.append((total * 0.1, "down"))
        events.append((total * 0.25, "accept-close"))
        events.append((total * 0.9, "clean"))
        events.sort()
        for at, kind in events:
            self.wait_until(self.start + at)
            if self.stop.is_set():
                break
            if kind == "job":
                number += 1
                self.print_job(number)
            elif kind == "down":
                self.down_windows.append(self.outage("* down\n", outage, normal))
            elif kind == "accept-close":
                # Just after a captured job was confirmed.
                number += 1
                before = len(self.confirmed)
                self.print_job(number)
                limit = time.time() + 60
                while not self.stop.is_set() and len(self.confirmed) == before \
                        and time.time() < limit:
                    self.stop.wait(0.2)
                self.wait_until(time.time() + 3)
                self.close_windows.append(self.outage("* accept-close\n", outage, normal))
            elif kind == "clean":
                self.set_rules("")
        self.wait_until(self.start + total)
        self.end_ms = now_ms()

        # The jobs still in the spool folder (one offered again after a failed
        # upload comes back a minute later at the most).
        limit = time.time() + 180
        while not self.stop.is_set() and time.time() < limit and \
                [e for e in self.spool_entries() if not e.startswith(".")]:
            self.stop.wait(1)
        self.stop.wait(3)
        self.final = None
        if self.alive():
            self.final = self.sample()
        self.final_windows = [self.window_name(w) for w in self.windows()] if self.alive() else []
        self.stop.set()
        for loop in loops:
            loop.join(timeout=30)
        return self.failure is None

    # --- the table ------------------------------------------------------------------

    def relay_log(self):
        entries = []
        with open(self.args.relay_log) as f:
            for line in f:
                parts = line.split()
                if len(parts) == 3:
                    entries.append((int(parts[0]), parts[1], parts[2]))
        return entries

    def refused_connects(self):
        times = []
        try:
            with open(self.args.connect_trace) as f:
                for line in f:
                    ms, port, _result, _error = (int(x) for x in line.split())
                    if port != self.args.relay_port:
                        continue
                    if any(a <= ms < b for a, b in self.down_windows):
                        times.append(ms)
        except OSError:
            pass
        return times

    def online_at_end(self):
        # A poll in the last 15 s of the clean phase, after the last logon.
        relay = self.relay_log()
        polls = [ms for ms, op, act in relay if op == "GetUserMessage" and act == "0"]
        return bool(polls) and polls[-1] >= now_ms() - 15000

    def stored_jobs(self):
        db = sqlite3.connect("file:%s?mode=ro" % self.args.db, uri=True, timeout=5)
        try:
            rows = db.execute("SELECT StoredName, DocName, Finished FROM Uploads").fetchall()
        finally:
            db.close()
        by_name = {}
        for stored, doc, finished in rows:
            by_name.setdefault(doc, []).append((stored, finished))
        once = equal = incomplete = 0
        for job in self.jobs:
            uploads = by_name.get(job["name"], [])
            complete = [s for s, finished in uploads if finished]
            incomplete += len(uploads) - len(complete)
            if len(complete) != 1:
                continue
            once += 1
            path = os.path.join(self.args.storage, complete[0], "document.dat")
            try:
                with open(path, "rb") as f:
                    if hashlib.sha256(f.read()).hexdigest() == job["sha256"]:
                        equal += 1
            except OSError:
                pass
        return once, equal, incomplete

    def report(self):
        relay = self.relay_log()
        begin, end = self.start_ms, self.end_ms
        logons = [ms for ms, op, _ in relay if op == "UserLogon" and begin <= ms <= end + 200000]
        refused = self.refused_connects()
        attempts = sorted(logons + refused)
        most = 0
        for i, t in enumerate(attempts):
            n = sum(1 for u in attempts[i:] if u < t + 60000)
            most = max(most, n)
        per_minute = []
        minutes = int((max(attempts + [end]) - begin) // 60000) + 1
        for m in range(minutes):
            a = begin + m * 60000
            per_minute.append(sum(1 for t in attempts if a <= t < a + 60000))
        in_close = sum(1 for t in logons if any(a <= t < b for a, b in self.close_windows))
        polls = [act for ms, op, act in relay if op == "GetUserMessage" and begin <= ms <= end]
        malformed = sum(1 for act in polls if act in MALFORMED)

        warm = max([begin + int(self.args.warmup * 1000)] +
                   [b + 10000 for _, b in self.down_windows + self.close_windows])
        after = [s for s in self.samples if s[0] >= warm and s[4] >= 0]
        first, last = self.samples[0], self.samples[-1]
        if self.final:
            last = (now_ms(), self.final[0], self.final[1], self.final[2], last[4], self.final[3],
                    self.final[4])

        def slope(xs, ys):
            if len(xs) < 3:
                return None
            mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
            sxx = sum((x - mx) ** 2 for x in xs)
            return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sxx if sxx else None

        notices = [s[4] for s in after]
        hours = [(s[0] - after[0][0]) / 3600000.0 for s in after] if after else []
        rss_mb = [s[1] / 1024.0 for s in after]
        anon_mb = [s[6] / 1024.0 for s in after]
        per_notice = slope(notices, rss_mb)
        slope_notice = per_notice * 1000 if per_notice is not None else None
        per_notice = slope(notices, anon_mb)
        anon_notice = per_notice * 1000 if per_notice is not None else None
        slope_hour = slope(hours, rss_mb)
        base = after[0] if after else first
        once, equal, incomplete = self.stored_jobs()
        left = self.spool_entries()
        names = {}
        for name in self.final_windows:
            names[name] = names.get(name, 0) + 1
        online = self.online_at_end()
        cpu_s = (last[5] - first[5]) / os.sysconf("SC_CLK_TCK")
        seconds = (end - begin) / 1000.0

        def row(what, value, target=""):
            print("%-52s %-26s %s" % (what, value, target))

        print()
        print("soak of %.1f min: %d notices queued, %d jobs printed, outages of %d s "
              "(refused, accepted-and-closed); %d cores, load average %.2f to %.2f "
              "(highest %.2f); client CPU %.1f s"
              % (seconds / 60, self.notices_queued, len(self.jobs),
                 self.outage_seconds, os.cpu_count() or 0,
                 self.loads[0] if self.loads else 0, self.loads[-1] if self.loads else 0,
                 max(self.loads) if self.loads else 0, cpu_s))
        row("measure", "value", "target")
        row("logon attempts, most in any 60 s", most, "<= 12")
        row("logon attempts, total", len(attempts))
        row("  per minute", " ".join(str(n) for n in per_minute))
        row("  while refused / accepted-and-closed (1)", "%d / %d" % (len(refused), in_close))
        row("notice polls / answered malformed", "%d / %d" % (len(polls), malformed), "~1/5")
        row("notices delivered", last[4] if last[4] >= 0 else "?")
        row("RSS at start / after warm-up / end (MB)",
            "%.1f / %.1f / %.1f" % (first[1] / 1024, base[1] / 1024, last[1] / 1024))
        row("RSS slope after warm-up (MB per 1000 notices)",
            "%.2f" % slope_notice if slope_notice is not None else "-", "< 1")
        row("  of it anonymous memory (heap)",
            "%.2f" % anon_notice if anon_notice is not None else "-")
        row("  notices delivered after warm-up",
            after[-1][4] - after[0][4] if after else 0)
        row("RSS slope after warm-up (MB per hour)",
            "%.2f" % slope_hour if slope_hour is not None else "-")
        # The baseline: the fewest within a minute, leaving out the thread (and
        # its socket) of a poll or an upload on its way when a sample is taken.
        def baseline(column, at):
            near = [s[column] for s in self.samples if at - 30000 <= s[0] <= at + 30000]
            return min(near) if near else 0

        def counts(column):
            return "%d / %d / %d, at most %d" % (
                baseline(column, self.samples[0][0] + 30000), baseline(column, warm + 30000),
                baseline(column, self.samples[-1][0] - 30000),
                max(s[column] for s in self.samples))

        row("open fds at start / after warm-up / end", counts(2), "flat")
        row("threads at start / after warm-up / end", counts(3), "flat")
        row("windows on screen at the end", "%d %s" % (
            len(self.final_windows),
            ", ".join("%s x%d" % (n or "(untitled)", c) for n, c in sorted(names.items()))))
        row("jobs printed / stored once / byte-equal",
            "%d / %d / %d" % (len(self.jobs), once, equal), "all")
        row("  unfinished uploads on the server", incomplete)
        row("  settings dialogs confirmed / error boxes closed",
            "%d / %d" % (len(self.confirmed), self.boxes_closed))
        row("folders left in the spool folder", "%d %s" % (len(left), " ".join(left)), "0")
        row("online at the end", "yes" if online else "no", "yes")
        print("(1) refused: connection attempts, the poll that found the port closed included")
        print("fds, threads: the fewest within a minute (a poll's or an upload's thread comes "
              "and goes)")
        print("warm-up: the first %d s (both outages lie in it); samples: %s"
              % ((warm - begin) // 1000, self.args.samples))
        return True


def main():
    parser = argparse.ArgumentParser()
    for name in ("server", "db", "storage", "spool", "rules", "relay-log", "connect-trace"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--relay-port", type=int, required=True)
    parser.add_argument("--seconds", type=int, default=600)
    parser.add_argument("--seed", type=int, default=19)
    parser.add_argument("--samples", required=True)
    args = parser.parse_args()
    # First-time work (the logon dialog's picture, the first job's libraries,
    # the boxes) is not growth: the warm-up covers both outages.
    args.warmup = int(args.seconds * 0.4)
    soak = Soak(args)
    ok = soak.run()
    if not soak.samples:
        print("soak.py: no sample of the client was taken", file=sys.stderr)
        return 1
    soak.report()
    if not ok:
        print("soak.py: could not measure to the end: %s" % soak.failure, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
