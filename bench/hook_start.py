#!/usr/bin/python3
"""The hook client's start: every permission request and status-line update of a coding agent starts
`tovami --hook EVENT`, so its whole life is measured beside starting /bin/true, in the same run and
interleaved (the machine's load falls on every case alike). Wall time from posix_spawn to the end of
waitpid, median and p99, each as a multiple of /bin/true's, and the median of the process's own CPU
time (user + system, from wait4):

- `true`: /bin/true, the floor of any process start;
- `no server`: `tovami --hook permission-request`, empty input, no socket (Tovami not running);
- `listening, empty input`: the same with a server listening at the socket (the client reads its
  empty input and gives no verdict);
- `listening, request`: Claude Code's recorded permission request, answered at once ("allow").

The listening server is a stand-in in this script (a separate process: a loopback unix socket that
answers a permission request as soon as it has read it), so the figures are the client's and the
socket's, not the desktop program's. With --desktop the run also measures against the real
tovami-desktop under its own Xvfb and D-Bus (tests/integration/harness.py) with approvals on, once per
--entry that has the desktop program beside it (each desktop with every entry and its own /bin/true):
empty input; a Notification hook (the client writes its request and leaves; the server reads it); and a
permission request, whose client then waits for a click that is not the client's cost: it is measured
until it blocks waiting for the reply (its request is with the server), then killed. Its CPU time is the
client's own share, beside /bin/true's; its wall time there includes this script's polling of the
client's state, so only the CPU column is read for it.
Several --entry give several builds in the same run (before and after a change, say).

    bench/hook_start.py [--entry build/tovami ...] [--runs 2000] [--desktop]
"""

import argparse
import json
import os
import pathlib
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
FIXTURE = sorted((HERE / "../tests/fixtures/claude-code/hooks").glob("*-PermissionRequest.json"))[0]
ALLOW = b'{"protocol":1,"behavior":"allow"}'


def serve(path):
    """The stand-in server: answers each permission request at once, reads anything else and closes."""
    os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(path)
    os.chmod(path, 0o600)
    listener.listen(128)
    print("listening", flush=True)
    decoder = json.JSONDecoder()
    while True:
        connection, _ = listener.accept()
        with connection:
            data = b""
            while True:
                chunk = connection.recv(65536)
                if not chunk:
                    break
                data += chunk
                try:
                    request, _ = decoder.raw_decode(data.decode("utf-8"))
                except ValueError:
                    continue
                if request.get("event") == "permission-request":
                    connection.sendall(ALLOW)
                break


def blocked(pid):
    """Whether the process sleeps (it waits for the server's reply), or ended."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as stat:
            state = stat.read().rsplit(b")", 1)[1].split()[0]
    except (OSError, IndexError):
        return True
    return state in (b"S", b"Z")


def run_once(argv, env, stdin_bytes, until_blocked=False):
    """Wall time and CPU time in ms of one life of argv, and what it printed. `until_blocked`: the life
    ends when it first sleeps (killed there)."""
    read_in, write_in = os.pipe()
    read_out, write_out = os.pipe()
    if stdin_bytes:
        os.write(write_in, stdin_bytes)  # fits the pipe: the client finds all of it at once
    os.close(write_in)
    actions = [(os.POSIX_SPAWN_DUP2, read_in, 0), (os.POSIX_SPAWN_DUP2, write_out, 1),
               (os.POSIX_SPAWN_CLOSE, read_out)]
    began = time.perf_counter_ns()
    pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
    if until_blocked:
        while not blocked(pid):
            pass
        os.kill(pid, 9)
    _, _, usage = os.wait4(pid, 0)
    elapsed = (time.perf_counter_ns() - began) / 1e6
    os.close(read_in)
    os.close(write_out)
    output = b""
    while chunk := os.read(read_out, 65536):
        output += chunk
    os.close(read_out)
    return elapsed, (usage.ru_utime + usage.ru_stime) * 1e3, output


def measure(cases, runs, warmup=20):
    """cases: name -> (argv, env, stdin). Interleaved rounds, the order turned each round."""
    times = {name: [] for name in cases}
    cpu = {name: [] for name in cases}
    outputs = {name: set() for name in cases}
    names = list(cases)
    for round_ in range(runs + warmup):
        shift = round_ % len(names)
        for name in names[shift:] + names[:shift]:
            argv, env, stdin_bytes, *until_blocked = cases[name]
            elapsed, cpu_ms, output = run_once(argv, env, stdin_bytes, *until_blocked)
            if round_ >= warmup:
                times[name].append(elapsed)
                cpu[name].append(cpu_ms)
                outputs[name].add(output)
    return times, cpu, outputs


def report(times, cpu, outputs, baseline="true"):
    base = sorted(times[baseline])
    base_median, base_p99 = statistics.median(base), base[int(len(base) * 0.99)]
    base_cpu = statistics.median(cpu[baseline])
    width = max(len(name) for name in times)
    print(f"{'case':{width}}  median ms    p99 ms   median ×true   p99 ×true   CPU ms   CPU ×true   runs")
    for name, values in times.items():
        values = sorted(values)
        median, p99 = statistics.median(values), values[int(len(values) * 0.99)]
        print(f"{name:{width}}  {median:9.3f} {p99:9.3f}   {median / base_median:12.2f} {p99 / base_p99:11.2f}"
              f" {statistics.median(cpu[name]):8.3f} {statistics.median(cpu[name]) / base_cpu:11.2f}"
              f"   {len(values)}")
    for name, seen in outputs.items():
        if name != baseline and any(seen):
            decided = "allow" if any(b'"allow"' in output for output in seen) else "no verdict"
            print(f"  {name}: printed {decided}")


def stand_in_cases(entries, root):
    request = FIXTURE.read_text().splitlines()[0].encode()
    quiet_env = {"PATH": "/usr/bin:/bin", "HOME": str(root), "XDG_DATA_HOME": str(root / "nobody")}
    served_env = {**quiet_env, "XDG_DATA_HOME": str(root / "data")}
    cases = {"true": (["/bin/true"], quiet_env, b"")}
    for label, entry in entries:
        hook = [entry, "--hook", "permission-request"]
        cases[f"{label}no server"] = (hook, quiet_env, b"")
        cases[f"{label}listening, empty input"] = (hook, served_env, b"")
        cases[f"{label}listening, request"] = (hook, served_env, request)
    return cases


def desktop_runs(labelled, runs):
    """Every entry against each real tovami-desktop beside an entry, each under a private Xvfb and D-Bus."""
    hosts = [entry for _, entry in labelled
             if os.access(os.path.join(os.path.dirname(entry), "tovami-desktop"), os.X_OK)]
    if not hosts:
        print("\n--desktop: no entry has tovami-desktop beside it")
        return
    for host in hosts:
        desktop_run(labelled, runs, host)


def desktop_run(labelled, runs, host):
    sys.path.insert(0, str(HERE / "../tests/integration"))
    import harness  # noqa: E402
    harness.BINARY = host
    request = FIXTURE.read_text().splitlines()[0].encode()
    notice = json.dumps({"session_id": "bench", "cwd": "/tmp", "hook_event_name": "Notification",
                         "message": "Claude is waiting for your input", "notification_type": "idle_prompt"})
    with harness.Session(screen="1280x800", openbox=True) as s:
        s.write_preferences("[General]\nnotchApprovals=true\n")
        s.start_tovami()
        if not s.wait_for_log("approval server listening", 30):
            print("the desktop program's approval server did not start:\n" + s.log_text()[-2000:])
            return
        time.sleep(2)  # let its start settle
        env = dict(s.env)
        cases = {"true": (["/bin/true"], env, b"")}
        for label, entry in labelled:
            cases[f"{label}desktop listening, empty input"] = ([entry, "--hook", "permission-request"], env, b"")
            cases[f"{label}desktop listening, notification"] = ([entry, "--hook", "notification"], env,
                                                                 notice.encode())
            cases[f"{label}desktop, request until it waits (CPU)"] = (
                [entry, "--hook", "permission-request"], env, request, True)
        times, cpu, outputs = measure(cases, runs)
    print(f"\nAgainst the real tovami-desktop ({host}, under Xvfb), {runs} runs each:")
    report(times, cpu, outputs)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--entry", action="append", help="a tovami entry to time (repeat for several builds)")
    parser.add_argument("--runs", type=int, default=2000)
    parser.add_argument("--desktop", action="store_true", help="also against the real tovami-desktop under Xvfb")
    parser.add_argument("--serve", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.serve:
        serve(args.serve)
        return
    given = args.entry or ["build/tovami"]
    entries = [os.path.abspath(entry) for entry in given]
    labelled = [(f"{name}: " if len(entries) > 1 else "", entry) for name, entry in zip(given, entries)]
    for _, entry in labelled:
        libraries = subprocess.run(["ldd", entry], capture_output=True, text=True).stdout.split("\n")
        print(f"{entry}: {sum(1 for line in libraries if '=>' in line)} shared libraries (ldd)")
    with tempfile.TemporaryDirectory(prefix="tovami-hook-bench-") as temporary:
        root = pathlib.Path(temporary)
        path = root / "data" / "Tovami" / "agent.sock"
        server = subprocess.Popen([sys.executable, __file__, "--serve", str(path)], stdout=subprocess.PIPE)
        try:
            server.stdout.readline()
            times, cpu, outputs = measure(stand_in_cases(labelled, root), args.runs)
        finally:
            server.kill()
            server.wait()
    print(f"\nStand-in server (this script's loopback socket), {args.runs} runs each:")
    report(times, cpu, outputs)
    if args.desktop:
        desktop_runs(labelled, max(200, args.runs // 4))


if __name__ == "__main__":
    main()
