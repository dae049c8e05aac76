#!/usr/bin/python3
"""Request to card, remote against local, in the same run: the real desktop program under its own Xvfb
with approvals on, linked over a real sshd on loopback (tests/integration/ssh_server.py) to a host whose
approvals are on. Each round starts the real hook client twice with Claude Code's recorded permission
request, once at the desktop's own socket and once at the host's (the remote side's socket, relayed up
the ssh channel), in alternating order, and times the client's start to the desktop's "approval asked"
line (its log is read as it grows). The client is then ended, which withdraws the card, and the next
round waits for that. The ssh round trip (`ssh -O check`'s multiplexed `true`) is measured beside it: the
goal is remote within one round trip plus 50 ms of local.

    bench/remote_request.py [--build build] [--rounds 40]
"""

import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "integration"))
import harness  # noqa: E402
import ssh_server  # noqa: E402

FIXTURE = sorted((HERE.parent / "tests/fixtures/claude-code/hooks").glob("*-PermissionRequest.json"))[0]


def asked_count(log_path):
    with open(log_path, "rb") as f:
        return f.read().count(b"approval asked by ")


def time_request(s, socket, env, payload):
    """Seconds from the client's start to the desktop's "approval asked" line; the card is then withdrawn."""
    before = asked_count(s.log_path)
    began = time.monotonic()
    client = subprocess.Popen([harness.BINARY, "--hook", "permission-request", "--socket", socket], env=env,
                              stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    client.stdin.write(json.dumps(payload).encode())
    client.stdin.close()
    while asked_count(s.log_path) == before:
        if time.monotonic() - began > 10:
            raise RuntimeError("no card in 10 s:\n" + s.log_text()[-3000:])
        time.sleep(0.0005)
    took = time.monotonic() - began
    withdrawn = s.log_text().count("approval withdrawn")
    client.kill()
    client.wait()
    if not s.wait_for(lambda: s.log_text().count("approval withdrawn") > withdrawn, 5):
        raise RuntimeError("the card stayed:\n" + s.log_text()[-3000:])
    return took


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=str(HERE.parent / "build"))
    parser.add_argument("--rounds", type=int, default=40)
    args = parser.parse_args()
    harness.BINARY = os.path.abspath(os.path.join(args.build, "tovami"))
    with harness.Session() as s:
        remote = ssh_server.Remote(s)
        os.makedirs(os.path.join(remote.home, ".claude"))
        ssh_server.start(s, remote, [("devbox", "127.0.0.1", None, "user", "known_hosts")])
        s.write_preferences("[General]\nnotchApprovals=true\nremoteHosts=devbox\nremoteApprovalHosts=devbox\n")
        s.start_tovami()
        local_socket = os.path.join(s.env["XDG_DATA_HOME"], "Tovami", "agent.sock")
        if not s.wait_for(lambda: os.path.exists(remote.socket) and os.path.exists(local_socket), 30):
            sys.exit("the sockets did not appear:\n" + s.log_text())
        payload = json.loads(FIXTURE.read_text().splitlines()[0])
        times = {"local": [], "remote": []}
        sides = {"local": (local_socket, s.env), "remote": (remote.socket, remote.env)}
        for n in range(args.rounds):
            for side in (("local", "remote") if n % 2 else ("remote", "local")):
                payload.update(session_id=f"{side}-{n}", tool_input={"command": f"echo {side} {n}"})
                times[side].append(time_request(s, *sides[side], payload))
        trips = []
        for _ in range(20):
            began = time.monotonic()
            subprocess.run(["ssh", "-o", f"ControlPath={s.env['XDG_RUNTIME_DIR']}/tovami-ssh/%C", "devbox", "true"],
                           env=s.env, check=True, capture_output=True)
            trips.append(time.monotonic() - began)
    ms = lambda values, q: 1000 * statistics.quantiles(values, n=10)[q] if q < 9 else 1000 * max(values)  # noqa: E731
    print(f"{args.rounds} rounds, requests alternating; ssh command over the link: median "
          f"{1000 * statistics.median(trips):.1f} ms")
    print(f"{'case':<8} {'median ms':>10} {'p90 ms':>8} {'max ms':>8}")
    for side, values in times.items():
        print(f"{side:<8} {1000 * statistics.median(values):>10.2f} {ms(values, 8):>8.2f} {ms(values, 9):>8.2f}")
    extra = 1000 * (statistics.median(times["remote"]) - statistics.median(times["local"]))
    print(f"remote - local at the median: {extra:+.2f} ms (goal: one round trip + 50 ms)")


if __name__ == "__main__":
    main()
