#!/usr/bin/python3
"""What each linked host costs the desktop program, in the same run: three desktop programs under their own
Xvfb, linked to no host, to one and to ten (aliases of a real sshd on loopback, tests/integration/
ssh_server.py, each alias its own ssh connection and its own `tovami --remote-stream`). Agent stand-ins
start and end on the "remote" side through the window, so every host sends rows and their ends. Over the
window: each desktop program's CPU (every thread's, schedstat) and its resident memory at the end; a host's
work is the difference from the program linked to none. The goal: ten hosts cost no more than ten times one.

    bench/remote_hosts_scale.py [--build build] [--minutes 1]
"""

import argparse
import os
import pathlib
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "integration"))
import harness  # noqa: E402
import ssh_server  # noqa: E402
from remote_link import cpu_seconds  # noqa: E402


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:")) / 1024


def linked_desktop(host_count):
    s = harness.Session().__enter__()
    remote = ssh_server.Remote(s)
    aliases = [f"host{n}" for n in range(host_count)]
    ssh_server.start(s, remote, [(alias, f"127.0.0.{n + 1}", None, "user", "known_hosts")
                                 for n, alias in enumerate(aliases)])
    s.write_preferences(f"[General]\nusageTracking=false\nremoteHosts={','.join(aliases)}\n")
    s.start_tovami()
    return s, remote


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=str(HERE.parent / "build"))
    parser.add_argument("--minutes", type=float, default=1.0)
    args = parser.parse_args()
    harness.BINARY = os.path.abspath(os.path.join(args.build, "tovami"))
    desktops = {count: linked_desktop(count) for count in (0, 1, 10)}
    agents = []
    try:
        for count, (s, _) in desktops.items():
            if count and not s.wait_for(lambda: s.log_text().count(": connected") >= count, 60):
                sys.exit(f"{count} hosts did not connect:\n{s.log_text()}")
        s, remote = desktops[1]
        program = s.agent_program("claude", harness.FAKE_AGENT)
        time.sleep(5)
        before = {count: cpu_seconds(s.tovami.pid) for count, (s, _) in desktops.items()}
        end = time.monotonic() + 60 * args.minutes
        n = 0
        while time.monotonic() < end:  # an agent starts every 6 s and each lives 18 s: rows come and go
            project = os.path.join(remote.home, f"project{n}")
            os.makedirs(project)
            agents.append(subprocess.Popen([program, os.path.join(project, "pid"), "2"], cwd=project, env=remote.env))
            if len(agents) > 3:
                agents.pop(0).kill()
            n += 1
            time.sleep(6)
        cpu = {count: cpu_seconds(s.tovami.pid) - before[count] for count, (s, _) in desktops.items()}
        rss = {count: rss_mib(s.tovami.pid) for count, (s, _) in desktops.items()}
    finally:
        for agent in agents:
            agent.kill()
        for s, _ in desktops.values():
            s.__exit__(None, None, None)
    print(f"{args.minutes:g} min, {n} remote agents started; each desktop's own CPU over the window:")
    print(f"{'hosts':<6} {'CPU ms':>8} {'over none':>10} {'RSS MiB':>8} {'over none':>10}")
    for count in cpu:
        print(f"{count:<6} {1000 * cpu[count]:>8.1f} {1000 * (cpu[count] - cpu[0]):>10.1f} "
              f"{rss[count]:>8.1f} {rss[count] - rss[0]:>10.1f}")
    one, ten = cpu[1] - cpu[0], cpu[10] - cpu[0]
    print(f"ten hosts' work / (10 x one host's): CPU {ten / (10 * one):.2f}, memory "
          f"{(rss[10] - rss[0]) / (10 * max(rss[1] - rss[0], 0.01)):.2f} (goal: at most 1)")


if __name__ == "__main__":
    main()
