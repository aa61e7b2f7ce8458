#!/usr/bin/env python3
"""Runs file watchers one after another over the same bursts of file
operations in a fresh directory under /tmp and prints, as Markdown tables,
how many operations each reported, how long the bursts took until the last
matching event, the delay from a single write to its line, and what each
costs while nothing changes.

Each watcher is a subprocess that prints one line per event, "PATH EVENT";
the path may contain spaces, so lines are split at the last one. Standard
library only, so it runs wherever Python 3 does."""

import argparse
import json
import math
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

# A phase ends this long after the last line, or after the last operation
# when no line follows, unless every operation was matched earlier
IDLE_END = 3.0
# Guards against a watcher that never stops printing
PHASE_LIMIT = 60.0
READY_LIMIT = 10.0
# Lines of one operation can trail its match; the next phase starts once the
# output has been quiet this long, so they are not taken for its events
SETTLE_QUIET = 0.2
LATENCY_FILES = 16
LATENCY_LIMIT = 2.0
PAYLOAD = b"quenfold-watch benchmark payload, sixty-four bytes long .......\n"

PHASES = ("create", "write", "rename", "delete")
# What the parsers make of a line; "overflow" marks events the kernel dropped
EVENT_KINDS = {"add", "remove", "modify", "old", "new"}


def parseQuenfold(text):
    path, _, event = text.rpartition(" ")
    return path, {
        "FileWatch::Event::Add": "add",
        "FileWatch::Event::Remove": "remove",
        "FileWatch::Event::Modify": "modify",
        "FileWatch::Event::RenameOld": "old",
        "FileWatch::Event::RenameNew": "new",
    }.get(event)


INOTIFY_EVENTS = {
    "CREATE": "add",
    "DELETE": "remove",
    "MODIFY": "modify",
    "MOVED_FROM": "old",
    "MOVED_TO": "new",
    "Q_OVERFLOW": "overflow",
}


def parseInotify(text):
    # Flags come comma-separated, e.g. CREATE,ISDIR
    path, _, events = text.rpartition(" ")
    for event in events.split(","):
        if event in INOTIFY_EVENTS:
            return path, INOTIFY_EVENTS[event]
    return path, None


def parseParcel(text):
    path, _, event = text.rpartition(" ")
    return path, {"create": "add", "update": "modify", "delete": "remove"}.get(event)


class Watcher:
    def __init__(self, name, version, command, parse, env=None):
        self.name = name
        self.version = version
        self.command = command
        self.parse = parse
        self.env = env


def commandOutput(command):
    try:
        return subprocess.run(command, capture_output=True, text=True, timeout=30).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        return ""


def makeWatchers(arguments):
    watchers = []
    if arguments.quenfold_watch:
        binary = os.path.abspath(arguments.quenfold_watch)
        watchers.append(Watcher("quenfold-watch", "(this build)", lambda d, binary=binary: [binary, d], parseQuenfold))
    if arguments.inotifywait:
        binary = arguments.inotifywait
        version = commandOutput([binary, "--help"]).splitlines()
        watchers.append(Watcher(
            "inotifywait", version[0].split()[-1] if version else "?",
            lambda d, binary=binary: [binary, "-m", "-r", "-q", "-e", "create,modify,moved_from,moved_to,delete",
                       "--format", "%w%f %e", d],
            parseInotify))
    if arguments.parcel_modules:
        modules = os.path.abspath(arguments.parcel_modules)
        with open(os.path.join(modules, "@parcel", "watcher", "package.json")) as f:
            version = json.load(f)["version"]
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "parcel-watch.js")
        env = dict(os.environ, NODE_PATH=modules)
        watchers.append(Watcher("@parcel/watcher", version, lambda d: ["node", script, d], parseParcel, env))
    return watchers


class Process:
    """A watcher on a directory; a thread stamps its lines with
    time.monotonic() as they come out of the pipe"""

    def __init__(self, watcher, directory):
        self.watcher = watcher
        self.lines = []
        self.eof = False
        self.condition = threading.Condition()
        self.stderr = tempfile.TemporaryFile()
        # A roomy pipe, so that the reader's own pauses do not stall the
        # watcher's writes
        self.process = subprocess.Popen(
            watcher.command(directory), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=self.stderr, env=watcher.env, pipesize=1 << 20)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        self.code = None
        self.errors = None

    def _read(self):
        fd = self.process.stdout.fileno()
        rest = b""
        while True:
            chunk = os.read(fd, 1 << 16)
            now = time.monotonic()
            if not chunk:
                break
            parts = (rest + chunk).split(b"\n")
            rest = parts.pop()
            if parts:
                with self.condition:
                    self.lines.extend((now, part.decode("utf-8", "replace")) for part in parts)
                    self.condition.notify_all()
        with self.condition:
            self.eof = True
            self.condition.notify_all()

    def count(self):
        with self.condition:
            return len(self.lines)

    def next(self, index, deadline):
        """Lines from index on, waiting for one until the deadline"""
        with self.condition:
            while len(self.lines) == index and not self.eof:
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                self.condition.wait(left)
            return self.lines[index:]

    def wakeups(self):
        """Times any thread of the watcher went to sleep and woke up again
        so far"""
        total = 0
        for task in os.listdir("/proc/{}/task".format(self.process.pid)):
            try:
                with open("/proc/{}/task/{}/status".format(self.process.pid, task)) as f:
                    total += sum(int(line.split()[1]) for line in f if line.startswith("voluntary_ctxt_switches"))
            except OSError:
                pass
        return total

    def cpu(self):
        """User and system time the watcher has used so far, in ms"""
        with open("/proc/{}/stat".format(self.process.pid)) as f:
            fields = f.read().rpartition(")")[2].split()
        return (int(fields[11]) + int(fields[12]))*1000.0/os.sysconf("SC_CLK_TCK")

    def settle(self):
        end = time.monotonic() + IDLE_END
        index = self.count()
        while time.monotonic() < end:
            lines = self.next(index, min(end, time.monotonic() + SETTLE_QUIET))
            if not lines:
                return
            index += len(lines)

    def stop(self):
        if self.errors is not None:
            return
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            self.code = self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.code = self.process.wait()
        self.thread.join()
        self.process.stdout.close()
        self.stderr.seek(0)
        self.errors = self.stderr.read().decode("utf-8", "replace").strip()
        self.stderr.close()

    def summary(self):
        """What else the output says: line count, overflows, exit, stderr"""
        kinds = {}
        for _, text in self.lines:
            kind = self.watcher.parse(text)[1] or "unrecognised"
            kinds[kind] = kinds.get(kind, 0) + 1
        result = ["{} lines".format(len(self.lines))]
        result += ["{} {}".format(kinds[kind], kind) for kind in ("overflow", "unrecognised") if kind in kinds]
        # Dying of the signal we sent is the usual end of a -m watcher
        if self.code not in (0, -signal.SIGTERM):
            result.append("exit code {}".format(self.code))
        if self.errors:
            lines = self.errors.splitlines()
            result.append("stderr: " + lines[0][:120] + (" (+{} lines)".format(len(lines) - 1) if len(lines) > 1 else ""))
        return ", ".join(result)


class Failure(Exception):
    pass


def waitReady(process, directory):
    """Touches a probe file until the watcher reports it"""
    probe = os.path.join(directory, "ready-probe")
    deadline = time.monotonic() + READY_LIMIT
    index = 0
    ready = False
    while not ready and time.monotonic() < deadline:
        fd = os.open(probe, os.O_WRONLY | os.O_CREAT, 0o644)
        os.write(fd, b".")
        os.close(fd)
        lines = process.next(index, time.monotonic() + 0.05)
        index += len(lines)
        ready = any(process.watcher.parse(text)[0] == probe for _, text in lines)
        if not lines and process.eof:
            break
    os.unlink(probe)
    if not ready:
        raise Failure("never reported its probe file")
    process.settle()


def create(path, _):
    os.close(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644))


def write(path, _):
    fd = os.open(path, os.O_WRONLY)
    os.write(fd, PAYLOAD)
    os.close(fd)


def rename(path, target):
    os.rename(path, target)


def delete(path, _):
    os.unlink(path)


def runPhase(process, operation, paths, targets, kinds):
    """Does the operation on every path, then reads lines until each target
    has a line of one of the kinds or the output has been idle for IDLE_END.
    Returns the matched count, the time until the last match and the time
    the operations alone took, in ms."""
    index = process.count()
    pending = {target: True for target in targets}
    last = None
    first = time.monotonic()
    for path, target in zip(paths, targets):
        operation(path, target)
    opsEnd = idleFrom = time.monotonic()
    while pending and time.monotonic() - first < PHASE_LIMIT:
        lines = process.next(index, idleFrom + IDLE_END)
        if not lines:
            break
        index += len(lines)
        idleFrom = max(idleFrom, lines[-1][0])
        for stamp, text in lines:
            path, kind = process.watcher.parse(text)
            if kind in kinds and pending.pop(path, False):
                last = stamp
    matched = len(targets) - len(pending)
    return matched, ((last if last is not None else idleFrom) - first)*1000.0, (opsEnd - first)*1000.0


def withWatcher(watcher, prepare, body):
    """Runs body(process, directory) on a fresh directory, prepared before the
    watcher starts; always stops the watcher and removes the directory"""
    directory = os.path.realpath(tempfile.mkdtemp(prefix="quenfold-watch-bench.", dir="/tmp"))
    try:
        prepare(directory)
        process = Process(watcher, directory)
        try:
            waitReady(process, directory)
            result = body(process, directory)
        except Failure as e:
            process.stop()
            raise Failure("{}: {}".format(e, process.summary()))
        finally:
            process.stop()
        return result, process.summary()
    finally:
        shutil.rmtree(directory, ignore_errors=True)


def burst(watcher, n):
    def body(process, directory):
        names = [os.path.join(directory, "f{:06d}".format(i)) for i in range(n)]
        renamed = [os.path.join(directory, "r{:06d}".format(i)) for i in range(n)]
        phases = []
        cpu = process.cpu()
        for operation, paths, targets, kinds in (
                (create, names, names, {"add"}),
                (write, names, names, {"modify"}),
                (rename, names, renamed, EVENT_KINDS),
                (delete, renamed, renamed, {"remove"})):
            if phases:
                process.settle()
            phases.append(runPhase(process, operation, paths, targets, kinds))
        return phases, process.cpu() - cpu

    return withWatcher(watcher, lambda directory: None, body)


def latency(watcher, samples):
    def prepare(directory):
        for i in range(LATENCY_FILES):
            with open(os.path.join(directory, "l{:02d}".format(i)), "wb") as f:
                f.write(PAYLOAD)

    def body(process, directory):
        files = [os.path.join(directory, "l{:02d}".format(i)) for i in range(LATENCY_FILES)]
        delays = []
        missed = 0
        for sample in range(samples):
            # Files take turns, so a late line of one sample cannot pass for
            # the next sample's
            path = files[sample % LATENCY_FILES]
            fd = os.open(path, os.O_WRONLY)
            index = process.count()
            start = time.monotonic()
            os.write(fd, PAYLOAD)
            os.close(fd)
            deadline = start + LATENCY_LIMIT
            stamp = None
            while stamp is None and time.monotonic() < deadline:
                lines = process.next(index, deadline)
                if not lines:
                    break
                index += len(lines)
                stamp = next((s for s, text in lines if process.watcher.parse(text) == (path, "modify")), None)
            if stamp is None:
                missed += 1
            else:
                delays.append((stamp - start)*1000.0)
            time.sleep(random.uniform(0.002, 0.006))
        return delays, missed

    return withWatcher(watcher, prepare, body)


def idle(watcher, directories, seconds):
    """Wake-ups and CPU time of a watcher on a tree of that many
    directories while nothing changes"""
    def prepare(directory):
        width = max(1, int(math.sqrt(directories)))
        for i in range(directories):
            os.makedirs(os.path.join(directory, "d{:03d}".format(i // width), "e{:03d}".format(i % width)))

    def body(process, directory):
        wakeups, cpu = process.wakeups(), process.cpu()
        time.sleep(seconds)
        return process.wakeups() - wakeups, process.cpu() - cpu

    return withWatcher(watcher, prepare, body)


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(fraction*len(ordered)) - 1)]


def table(header, rows):
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" for _ in header) + "|")
    for row in rows:
        print("| " + " | ".join(str(cell) for cell in row) + " |")
    print()


def readFile(path):
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return "?"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quenfold-watch", metavar="BINARY")
    parser.add_argument("--inotifywait", metavar="BINARY")
    parser.add_argument("--parcel-modules", metavar="NODE_MODULES")
    parser.add_argument("--sizes", default="1000,20000")
    parser.add_argument("--runs", type=int, default=3, help="bursts of each size per watcher")
    parser.add_argument("--latency-samples", type=int, default=300)
    parser.add_argument("--idle-directories", type=int, default=2000)
    parser.add_argument("--idle-seconds", type=float, default=10.0)
    arguments = parser.parse_args()
    sizes = [int(size) for size in arguments.sizes.split(",")]

    watchers = makeWatchers(arguments)
    if not watchers:
        print("No watcher to measure")
        return 0
    print("Kernel {}, fs.inotify.max_queued_events {}, max_user_watches {}, Python {}".format(
        os.uname().release, readFile("/proc/sys/fs/inotify/max_queued_events"),
        readFile("/proc/sys/fs/inotify/max_user_watches"), sys.version.split()[0]))
    print("Watchers: " + ", ".join("{} {}".format(w.name, w.version) for w in watchers))
    print()

    # Runs take turns, and each run starts with another watcher, so that
    # neither a slow spell of the machine nor the file system's work left by
    # the run before lands on one watcher alone
    runs = {(watcher.name, n): [] for watcher in watchers for n in sizes}
    for run in range(arguments.runs):
        first = run % len(watchers)
        for n in sizes:
            for watcher in watchers[first:] + watchers[:first]:
                print("{} N={} run {} ...".format(watcher.name, n, run + 1), file=sys.stderr, flush=True)
                try:
                    runs[watcher.name, n].append(burst(watcher, n))
                except Failure as e:
                    runs[watcher.name, n].append(((None, None), "failed: {}".format(e)))

    burstRows = []
    phaseRows = []
    for n in sizes:
        for watcher in watchers:
            done = [phases for (phases, _), _ in runs[watcher.name, n] if phases]
            cpu = [cpu for (phases, cpu), _ in runs[watcher.name, n] if phases]
            notes = " / ".join(note for _, note in runs[watcher.name, n])
            if not done:
                burstRows.append([watcher.name, n] + ["-"]*7)
                phaseRows.append([watcher.name, n, "-", "-", "-", "-", notes])
                continue
            sums = [[sum(column) for column in zip(*phases)] for phases in done]
            matched = sum(m for m, _, _ in sums)
            burstRows.append([watcher.name, n, 4*n*len(done), matched, 4*n*len(done) - matched] + [
                "{:.1f}".format(statistics.median(values)) for values in (
                    [total for _, total, _ in sums],
                    [total - operations for _, total, operations in sums])] + [
                "{:.0f}".format(statistics.median(m/total*1000.0 for m, total, _ in sums)),
                "{:.0f}".format(statistics.median(cpu))])
            phaseRows.append([watcher.name, n] + ["{}/{} in {:.1f}".format(
                sum(phases[i][0] for phases in done), n*len(done),
                statistics.median(phases[i][1] for phases in done)) for i in range(len(PHASES))] + [notes])

    latencyRows = []
    for watcher in watchers:
        print("{} latency ...".format(watcher.name), file=sys.stderr, flush=True)
        try:
            (delays, missed), note = latency(watcher, arguments.latency_samples)
        except Failure as e:
            delays, missed, note = [], arguments.latency_samples, "failed: {}".format(e)
        cells = [statistics.median(delays), percentile(delays, 0.99), max(delays)] if delays else []
        latencyRows.append([watcher.name, len(delays), missed] +
                           (["{:.3f}".format(cell) for cell in cells] or ["-"]*3) + [note])

    idleRows = []
    for watcher in watchers:
        print("{} idle ...".format(watcher.name), file=sys.stderr, flush=True)
        try:
            (wakeups, cpu), note = idle(watcher, arguments.idle_directories, arguments.idle_seconds)
            idleRows.append([watcher.name, arguments.idle_directories, "{:g}".format(arguments.idle_seconds), wakeups, "{:.0f}".format(cpu), note])
        except Failure as e:
            idleRows.append([watcher.name, arguments.idle_directories, "{:g}".format(arguments.idle_seconds), "-", "-", "failed: {}".format(e)])

    print("Bursts of N creates, N writes, N renames and N deletes, phase after phase, {} runs each; "
          "counts add the runs up, times and rates are medians of the runs:".format(arguments.runs))
    print()
    table(["watcher", "N", "operations", "matched", "lost", "total time (ms)", "of it after the last operation (ms)",
           "matched per s", "watcher CPU (ms)"], burstRows)
    print("Per phase, matched/operations of all runs in the median time in ms from the phase's first operation to "
          "its last matching event; output of each run:")
    print()
    table(["watcher", "N"] + list(PHASES) + ["output"], phaseRows)
    print("Single writes to an existing file, {} samples:".format(arguments.latency_samples))
    print()
    table(["watcher", "samples", "missed", "median (ms)", "p99 (ms)", "max (ms)", "output"], latencyRows)
    print("Idle on a tree of directories, once ready: wake-ups (voluntary context switches of all its threads) and CPU time:")
    print()
    table(["watcher", "directories", "seconds", "wake-ups", "CPU (ms)", "output"], idleRows)
    return 0


if __name__ == "__main__":
    sys.exit(main())
