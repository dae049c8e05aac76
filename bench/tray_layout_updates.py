#!/usr/bin/python3
"""How often a tray menu rebuild has the tray host read the whole menu again: Tovami under Xvfb with a stand-in tray
host and --agents stand-in agents (processes named claude), a dbus-monitor counting the menu's LayoutUpdated
signals while the agents' rows come, while "Island" is switched on and off from the menu (its row alone changes),
and while "Agent Watch" is switched off (the rows go) and on again. A rebuild sends its signals in one burst, so
bursts (signals less than 50 ms apart) stand for rebuilds.

    bench/tray_layout_updates.py [--build build] [--agents 20] [--tovami other/tovami]
"""

import argparse
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
import harness  # noqa: E402
import tray  # noqa: E402


def bursts(updates, since):
    stamps = [float(m) for m in re.findall(r"signal time=([\d.]+)[^\n]*member=LayoutUpdated", updates._text())]
    stamps = stamps[since:]
    groups = []
    for t in stamps:
        if groups and t - groups[-1][-1] < 0.05:
            groups[-1].append(t)
        else:
            groups.append([t])
    return len(stamps), [len(g) for g in groups]


def run(binary, agents):
    harness.BINARY = binary
    with harness.Session(screen="1440x900", openbox=True) as s:
        s.write_preferences("[General]\nislandOnNonNotch=false\n")
        tray.start_fake_host(s)
        s.start_and_wait(timeout=15)
        item = tray.find_item(s, timeout=30)
        updates = tray.LayoutUpdates(s)
        rows = lambda: sum("Claude" in label for label in tray.labels_now(s, item))
        mark = 0

        def step(name, action, done):
            nonlocal mark
            action()
            if not s.wait_for(done, 30):
                raise RuntimeError(f"{name}: never done ({rows()} rows)\n{s.log_text()}")
            time.sleep(1.5)
            total, groups = bursts(updates, mark)
            mark += total
            print(f"  {name:38s} {total:4d} LayoutUpdated in {len(groups):2d} bursts (largest {max(groups, default=0)})")

        folder = os.path.join(s.root, "agents")
        os.makedirs(folder)
        program = s.agent_program("claude")
        started = []
        step(f"{agents} agents come", lambda: started.extend(
            subprocess.Popen([program, "600"], cwd=folder) for _ in range(agents)), lambda: rows() >= agents)
        step("Island on (its row alone changes)", lambda: tray.click(s, item, "Island"),
             lambda: s.preferences().get("islandOnNonNotch") == "true")
        step("Island off", lambda: tray.click(s, item, "Island"),
             lambda: s.preferences().get("islandOnNonNotch") == "false")
        step("Agent Watch off (the rows go)", lambda: tray.click(s, item, "Agent Watch"), lambda: rows() == 0)
        step("Agent Watch on (the rows come back)", lambda: tray.click(s, item, "Agent Watch"),
             lambda: rows() >= agents)
        for p in started:
            p.kill()
            p.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--agents", type=int, default=20)
    parser.add_argument("--tovami", action="append", help="a Tovami binary (repeat to compare builds)")
    args = parser.parse_args()
    for binary in args.tovami or [os.path.join(args.build, "tovami")]:
        print(os.path.relpath(binary))
        run(os.path.abspath(binary), args.agents)
    return 0


if __name__ == "__main__":
    sys.exit(main())
