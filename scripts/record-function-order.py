#!/usr/bin/python3
"""Records which functions the two programs run in ordinary use and writes the link order files
src/linux/main/tovami.order and tovami-desktop.order from it (one symbol per line).

The linker (lld) puts the functions named there next to each other at the front of the code. A
process only maps the parts of its program it touches, and the kernel maps them in large pieces:
spread over the whole program, a thousand functions touch nearly all of it; gathered, they touch a
third. The desktop program then holds about 1.1 MiB less, and a hook client takes fewer page faults
at each start.

Runs each program under valgrind's callgrind (which lists every function that ran):
- tovami-desktop under Xvfb with openbox and a tray host: start, a Claude Code stand-in listed,
  the island opened and closed, a permission request shown as a card, a nap and its wake;
- tovami: the hook client with the recorded hook inputs, with an approval socket that answers and
  without one, and the status line with and without a wrapped command.
A name that no longer exists is ignored by the linker; rerun after larger changes:

    scripts/record-function-order.py [--build build]
"""

import argparse
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "integration"))
sys.path.insert(0, str(ROOT / "bench"))
import harness  # noqa: E402
import tray  # noqa: E402
from hook_start import serve  # noqa: E402

FIXTURES = ROOT / "tests" / "fixtures" / "claude-code"
CALLGRIND = ["valgrind", "--tool=callgrind", "--demangle=no", "--dump-instr=no", "--trace-children=yes"]


def functions_run(files, program):
    """Mangled names of the functions of `program` that ran, from callgrind output files."""
    names = set()
    for path in files:
        objects, functions, current = {}, {}, None
        for line in open(path, errors="replace"):
            match = re.match(r"(c?)(ob|fn)=\((\d+)\)(?: (.*))?", line)
            if not match:
                continue
            called, kind, number, name = match.groups()
            table = objects if kind == "ob" else functions
            if name is not None:
                table[number] = name.strip()
            if called:
                continue
            if kind == "ob":
                current = table.get(number, "")
            elif current.endswith("/" + program):
                names.add(table.get(number, "").split("'")[0])
    return sorted(n for n in names if n and not n.startswith(("(", "0x")))


def desktop_profile(build, out):
    wrapper = out / "tovami-under-callgrind"
    wrapper.write_text(f"#!/bin/sh\nexec {' '.join(CALLGRIND)} --callgrind-out-file={out}/desktop.%p "
                       f"{build / 'tovami'} \"$@\"\n")
    wrapper.chmod(0o755)
    harness.BINARY = str(wrapper)
    with harness.Session(screen="1440x900", openbox=True) as s:
        tray.start_fake_host(s)
        s.write_preferences("[General]\nislandOnNonNotch=true\nnotchApprovals=true\n")
        s.start_and_wait(timeout=180)
        agent = s.agent_program("claude", harness.FAKE_AGENT)
        s.tmux_cmd("-f", "/dev/null", "new-session", "-d", f"{agent} {os.path.join(s.root, 'claude.pid')} 0")
        if not s.wait_for_log("Claude", 120):
            raise RuntimeError("the agent was never listed:\n" + s.log_text())
        time.sleep(8)
        for _ in range(2):
            s.chord("a")
            time.sleep(8)
        request = (sorted((FIXTURES / "hooks").glob("*-PermissionRequest.json"))[0]).read_text().splitlines()[0]
        client = subprocess.Popen([str(build / "tovami"), "--hook", "permission-request"], env=s.env,
                                  stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
        client.stdin.write(request.encode())
        client.stdin.close()
        s.wait_for_log("approval asked", 60)
        time.sleep(8)
        client.kill()
        client.wait()
        time.sleep(4)
        s.chord("n")
        time.sleep(12)
        s.xdotool("key", "space")
        time.sleep(12)
        s.stop_tovami(timeout=120)
    return functions_run(out.glob("desktop.*"), "tovami-desktop")


def entry_profile(build, out):
    data = out / "data"
    socket_path = data / "Tovami" / "agent.sock"
    threading.Thread(target=serve, args=(str(socket_path),), daemon=True).start()
    harness.wait_for(socket_path.exists, 10)
    env = {"PATH": "/usr/bin:/bin", "HOME": str(out), "XDG_DATA_HOME": str(data)}
    alone = {**env, "XDG_DATA_HOME": str(out / "nobody")}
    hooks = sorted((FIXTURES / "hooks").glob("*"))
    runs = [(["--hook", "permission-request"], p.read_text().splitlines()[0], e)
            for p in hooks if p.name.endswith("-PermissionRequest.json") for e in (env, alone)]
    runs += [(["--hook", "notification"], p.read_text(), e)
             for p in hooks if p.name.endswith("-Notification.json") for e in (env, alone)]
    runs += [(["--hook", event], "", env) for event in ("permission-request", "notification")]
    status = (FIXTURES / "status-line" / "api-key-no-rate-limits.json").read_text()
    runs += [(["--hook", "status-line", "--wrap", "echo ready"], status, env), (["--hook", "status-line"], status, env)]
    for number, (args, stdin, run_env) in enumerate(runs):
        subprocess.run([*CALLGRIND, f"--callgrind-out-file={out}/entry.{number}", str(build / "tovami"), *args],
                       input=stdin.encode(), env=run_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=120)
    return functions_run(out.glob("entry.*"), "tovami")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build")
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    with tempfile.TemporaryDirectory(prefix="tovami-order-") as temporary:
        out = pathlib.Path(temporary)
        for program, names in (("tovami", entry_profile(build, out)), ("tovami-desktop", desktop_profile(build, out))):
            target = ROOT / "src" / "linux" / "main" / f"{program}.order"
            target.write_text("\n".join(names) + "\n")
            print(f"{target.relative_to(ROOT)}: {len(names)} functions")
    return 0


if __name__ == "__main__":
    sys.exit(main())
