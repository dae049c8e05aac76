#!/usr/bin/python3
"""CPU of one agent-watch scan in the running program: sleeping children bring the machine's process table to each
size (600 and 2,500 by default), a Claude Code, a Codex and a Gemini CLI stand-in run with their logs in place
(in a pid namespace of its own when run as root, so that others' processes do not count),
and four Tovami instances run side by side, each in its own Xvfb session: the "before" and this build, each with
agent watch on and off. Over the same window the CPU of each (user + sys, all threads,
/proc/<pid>/task/*/schedstat, nanoseconds) is read; a scan costs (on - off) / scans in the window (one every 3 s). The
busiest thread besides the main one in the "on" instances is the watcher's queue: its CPU per scan is printed too, with
the main thread's on - off (what the scans' results cost it). The plan-usage meter is off in all four: its fetch every
5 min is no part of a scan and, landing in one window or another, only blurs the figure.
Beside them, in the same window, the floor: a bare thread that wakes every 3 s and does nothing (bench/periodic_wake.cpp),
whose cost per wake every scan pays too, in a small process and in one as large (resident) as Tovami. Then the sampler alone (BM_ScanWithProc of the benchmarks, back to
back on the same table) for both builds.

    bench/scan_cpu.py [--build build] [--before /tmp/tovami-before] [--before-benchmarks FILE]
                      [--counts 600,2500] [--minutes 1.5] [--rounds 1]
"""

import argparse
import datetime
import glob
import json
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
import harness  # noqa: E402

SCAN_INTERVAL = 3.0
PERIODIC_WAKE = ""  # the floor program of this build
# Writes its pid to argv[1], then idles, named like the agent.
FAKE_AGENT = """#!/usr/bin/python3
import os, sys, time
with open(sys.argv[1], "w") as f:
    f.write(str(os.getpid()))
while True:
    time.sleep(60)
"""


def process_count():
    return sum(1 for name in os.listdir("/proc") if name.isdigit())


def thread_cpu_ms(pid):
    threads = {}
    for path in glob.glob(f"/proc/{pid}/task/*/schedstat"):
        try:
            with open(path) as f:
                threads[int(path.split("/")[4])] = int(f.read().split()[0]) / 1e6
        except OSError:
            pass
    return threads


def resident_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def busiest_worker_ms(pid, before, after):
    """CPU in the window of the busiest thread that is not the main one (the watcher's queue when watch is on)."""
    return max((after[t] - before.get(t, 0) for t in after if t != pid), default=0)


class Fill:
    """Sleeping children that bring the machine's process table up to a size."""

    def __init__(self):
        self.children = []

    def to(self, total):
        spawned = False
        while process_count() < total:
            self.children.append(subprocess.Popen(["sleep", "1800"]))
            spawned = True
        if spawned:
            time.sleep(6)  # past the sampler's settling time, as most processes of a desktop are

    def end(self):
        for child in self.children:
            child.kill()
        for child in self.children:
            child.wait()
        self.children = []


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


def line(record):
    return json.dumps(record) + "\n"


class Agents:
    """A Claude Code (with its live status file), a Codex and a Gemini CLI stand-in idling in one project folder."""

    def __init__(self, root):
        self.root, self.project = root, os.path.join(root, "work", "api")
        os.makedirs(self.project)
        self.processes, self.pids = [], {}
        for name in ("claude", "codex", "gemini"):
            path = os.path.join(root, "bin", name)
            write(path, FAKE_AGENT)
            os.chmod(path, 0o755)
            pid_file = os.path.join(root, name + ".pid")
            self.processes.append(subprocess.Popen([path, pid_file], cwd=self.project))
            harness.wait_for(lambda: os.path.exists(pid_file) and open(pid_file).read().strip(), 10)
            self.pids[name] = int(open(pid_file).read())

    def write_logs(self, home):
        """The logs each agent writes, under one session's HOME."""
        pid = self.pids["claude"]
        with open(f"/proc/{pid}/stat") as f:
            proc_start = f.read().rsplit(")", 1)[1].split()[19]
        folder = os.path.join(home, ".claude", "projects", self.project.replace("/", "-"))
        write(os.path.join(folder, "aaaa-1.jsonl"),
              line({"type": "user", "message": {"role": "user", "content": "a prompt"}}))
        write(os.path.join(home, ".claude", "sessions", f"{pid}.json"),
              json.dumps({"pid": pid, "sessionId": "aaaa-1", "cwd": self.project, "procStart": proc_start,
                          "status": "idle"}))
        now = datetime.datetime.now(datetime.timezone.utc)
        stamp = now.strftime("%Y-%m-%dT%H:%M:%S.000Z")
        write(os.path.join(home, ".codex", "sessions", now.strftime("%Y/%m/%d"),
                           "rollout-" + now.strftime("%Y-%m-%dT%H-%M-%S") + "-cccc-3.jsonl"),
              line({"timestamp": stamp, "type": "session_meta",
                    "payload": {"id": "cccc-3", "timestamp": stamp, "cwd": self.project}}) +
              line({"type": "event_msg", "payload": {"type": "user_message", "message": "codex prompt"}}))
        write(os.path.join(home, ".gemini", "projects.json"), json.dumps({"projects": {self.project: "api"}}))
        write(os.path.join(home, ".gemini", "tmp", "api", "chats", "session-1.jsonl"),
              line({"sessionId": "dddd-4", "kind": "main"}) + line({"type": "user", "content": [{"text": "prompt"}]}))

    def end(self):
        for p in self.processes:
            p.kill()
            p.wait()


def measure_window(instances, seconds):
    """CPU (ms) of each instance over the same window, and of its busiest worker thread."""
    start = {key: thread_cpu_ms(p.pid) for key, p in instances.items()}
    time.sleep(seconds)
    result = {}
    for key, p in instances.items():
        threads = thread_cpu_ms(p.pid)
        if set(start[key]) - set(threads):
            print(f"  note: threads of {key} ended in the window; their time is missing", file=sys.stderr)
        result[key] = (sum(threads[t] - start[key].get(t, 0) for t in threads),
                       busiest_worker_ms(p.pid, start[key], threads),
                       threads.get(p.pid, 0) - start[key].get(p.pid, 0))
    return result


def sampler_alone(benchmarks, count, paced=False):
    """The sampler, the table and the recognition alone at `count` processes: back to back (BM_ScanWithProc), or
    one scan every 3 s (BM_ScanWithProcPaced, a minute). A process whose output sampler_ms reads."""
    name = "BM_ScanWithProcPaced" if paced else "BM_ScanWithProc"
    return subprocess.Popen([benchmarks, f"--benchmark_filter={name}/{count}/", "--benchmark_format=json"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)


def sampler_ms(run):
    """CPU ms per scan that a sampler_alone run printed (nan when the benchmark is not in that build)."""
    try:
        return json.loads(run.communicate()[0])["benchmarks"][0]["cpu_ms_per_scan"]
    except (ValueError, KeyError, IndexError):
        return float("nan")


def one_round(binaries, benchmarks, agents, fill, count, seconds, warmup):
    sessions, instances = [], {}
    # The floor: a thread that only wakes as often, measured in the same window (started long before it).
    instances[("wake", "floor")] = waker = subprocess.Popen([PERIODIC_WAKE])
    try:
        for label, binary in binaries.items():
            for watch in ("on", "off"):
                s = harness.Session(screen="1440x900", openbox=True).__enter__()
                sessions.append(s)
                # The plan-usage meter off in all four: its fetch every 5 min lands in one window or another
                # and is no part of a scan.
                s.write_preferences(f"[General]\nagentWatchEnabled={'true' if watch == 'on' else 'false'}\n"
                                    "usageTracking=false\n")
                agents.write_logs(s.home)
                harness.BINARY = binary
                instances[(label, watch)] = s.start_tovami()
        for s in sessions:
            if not s.wait_for_log("tovami started", 30):
                raise RuntimeError("Tovami did not start:\n" + s.log_text()[-2000:])
        time.sleep(warmup)
        fill.to(count)  # others' processes came and went meanwhile
        table = process_count()
        # The same floor in a process as large as the running program (see periodic_wake.cpp).
        resident_mb = resident_kb(instances[("after", "on")].pid) // 1024
        instances[("wake", "sized")] = sized = subprocess.Popen([PERIODIC_WAKE, str(resident_mb)])
        time.sleep(4)
        paced = {label: sampler_alone(path, count, paced=True) for label, path in benchmarks.items() if path}
        window = measure_window(instances, seconds)
        return table, window, {label: sampler_ms(run) for label, run in paced.items()}
    finally:
        for floor in (waker, locals().get("sized")):
            if floor:
                floor.kill()
                floor.wait()
        for s in sessions:
            s.__exit__(None, None, None)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--before", default="/work/main/build/tovami",
                        help="the binary to compare with (tovami-desktop beside it)")
    parser.add_argument("--before-benchmarks", default="", help="the benchmarks built with --before (sampler alone)")
    parser.add_argument("--counts", default="600,2500")
    parser.add_argument("--minutes", type=float, default=1.5, help="measured window per round and table size")
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--warmup", type=float, default=8)
    parser.add_argument("--machine-table", action="store_true",
                        help="measure in the machine's own process table (others' processes come and go) instead of"
                             " a private pid namespace (needs root)")
    args = parser.parse_args()
    if not args.machine_table and os.getpid() != 1 and os.geteuid() == 0:
        # A table of our own: agents and processes that others start and end would blur the figure.
        os.execvp("unshare", ["unshare", "--pid", "--fork", "--mount-proc", sys.executable, *sys.argv])
    build = os.path.abspath(args.build)
    global PERIODIC_WAKE
    PERIODIC_WAKE = os.path.join(build, "bench", "periodic_wake")
    binaries = {"before": os.path.abspath(args.before), "after": os.path.join(build, "tovami")}
    benchmarks = {"before": args.before_benchmarks, "after": os.path.join(build, "bench", "tovami_benchmarks")}
    benchmarks = {label: path for label, path in benchmarks.items() if path and os.path.exists(path)}
    seconds = args.minutes * 60
    scans = seconds / SCAN_INTERVAL
    root = harness.tempfile.mkdtemp(prefix="tovami-scan-cpu-")
    agents, fill = Agents(root), Fill()
    try:
        for count in (int(c) for c in args.counts.split(",")):
            fill.to(count)
            sums, paced = {}, {}
            for _ in range(args.rounds):
                table, window, round_paced = one_round(binaries, benchmarks, agents, fill, count, seconds, args.warmup)
                for key, value in window.items():
                    total, worker, main_thread = sums.get(key, (0, 0, 0))
                    sums[key] = (total + value[0], worker + value[1], main_thread + value[2])
                for label, value in round_paced.items():
                    paced[label] = paced.get(label, 0) + value / args.rounds
            n = args.rounds * scans
            print(f"\n{table} processes ({count} asked), {args.rounds} x {seconds:.0f} s, {n:.0f} scans per instance")
            print(f"  floor  a bare thread waking every 3 s: {sums[('wake', 'floor')][0] / n:6.2f} ms per wake,"
                  f" {sums[('wake', 'sized')][0] / n:6.2f} ms in a process as large as Tovami")
            for label in binaries:
                on, off = sums[(label, "on")], sums[(label, "off")]
                print(f"  {label:6s} scan {(on[0] - off[0]) / n:6.2f} ms  (on {on[0] / n:6.2f}, off {off[0] / n:6.2f}"
                      f" ms per 3 s)  watcher thread {on[1] / n:6.2f} ms, main thread on - off"
                      f" {(on[2] - off[2]) / n:6.2f} ms")
            for label, path in benchmarks.items():
                print(f"  {label:6s} sampler alone {sampler_ms(sampler_alone(path, count)):6.2f} ms back to back,"
                      f" {paced.get(label, float('nan')):6.2f} ms one scan every 3 s (beside the program)", flush=True)
    finally:
        fill.end()
        agents.end()
        harness.shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
