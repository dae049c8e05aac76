#!/usr/bin/python3
"""`make run` on a machine without a display: Tovami in a private Xvfb, driven like a person would,
with a screenshot of each step and the log left in run-output/<time>/."""

import os
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
os.environ.setdefault("TOVAMI_BINARY", os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/tovami"))

import harness  # noqa: E402
import tray  # noqa: E402


def main():
    out = os.path.abspath(os.path.join(HERE, "..", "run-output", time.strftime("%Y%m%d-%H%M%S")))
    os.makedirs(out)
    steps = []
    shots = [0]
    missed = []

    def shot(session, name, what):
        shots[0] += 1
        file_name = f"{shots[0]:02d}-{name}.png"
        session.screenshot(os.path.join(out, file_name))
        steps.append(f"{file_name}  {what}")

    with harness.Session(screen="1440x900", openbox=True, tour=True) as s:
        tray.start_fake_host(s)
        s.start_tovami()
        if not s.wait_for_log("tovami started", 15):
            print("Tovami did not start; its log follows.\n" + s.log_text())
            return 1
        walk(tour_step, s, shot, missed)
        time.sleep(1)
        shot(s, "started", "Tovami running: no window, only its tray item")

        item = tray.find_item(s)
        if item:
            steps.append("     tray menu: " + " | ".join(tray.labels(s, item)))
            tray.click(s, item, "Settings\u2026")
            s.wait_for(lambda: "Tovami Settings" in s.window_names(), 5)
            time.sleep(0.5)
            shot(s, "settings", "the settings window, opened from the tray menu on its first page")
            # The page list has the focus: two rows down is the Agents page.
            s.xdotool("search", "--sync", "--name", "^Tovami Settings$", "windowactivate", "--sync")
            s.xdotool("key", "--delay", "100", "Down", "Down")
            time.sleep(0.5)
            shot(s, "settings-agents", "the settings window's Agents page, chosen in its page list")
        else:
            missed.append("tray menu: no tray item registered")
        for step in EXTRA_STEPS:
            walk(step, s, shot, missed)
        walk(lambda s, shot: agent_step(s, shot, out, steps), s, shot, missed)

        status = s.stop_tovami()
        steps.append(f"     ended with status {status} on SIGTERM")
        shutil.copy(s.log_path, os.path.join(out, "tovami.log"))

    print(f"Tovami ran in a private virtual display. What it did is in {out}:")
    for line in steps:
        print("  " + line)
    print("  tovami.log  the program's log")
    for what in missed:
        print(f"  MISSED: {what}")
    # One line CI reads: every step must have left its screenshot.
    print(f"make run: {shots[0]} screenshots")
    return 1 if missed or shots[0] < EXPECTED_SCREENSHOTS else 0


class Missed(Exception):
    """A step that could not take its screenshots: the walk goes on and fails at the end."""


def need(ok, what):
    if not ok:
        raise Missed(what)
    return ok


def walk(step, s, shot, missed):
    try:
        step(s, shot)
    except Missed as e:
        missed.append(str(e))


def tour_step(s, shot):
    """The first launch's welcome tour, step by step, driven from the keyboard."""
    need(s.wait_for_log("tour: step welcome", 5), "the tour did not open")
    time.sleep(1.5)
    shot(s, "tour-welcome", "the welcome tour over the whole screen, first step")
    s.xdotool("key", "Return")
    time.sleep(1)
    shot(s, "tour-hotkey", "the hot-key step, waiting for Ctrl+Alt+N")
    s.xdotool("keydown", "Control_L", "keydown", "Alt_L", "key", "n", "keyup", "Alt_L", "keyup", "Control_L")
    s.wait_for_log("tour: nap key tried", 5)
    time.sleep(1)
    shot(s, "tour-hotkey-tried", "Ctrl+Alt+N on the hot-key step: the success line, no nap")
    for name, what in (("wake", "who may wake a nap"), ("island", "the island switch"),
                       ("agents", "the agent cards"), ("permissions", "the three optional switches")):
        s.xdotool("key", "Return")
        s.wait_for_log(f"tour: step {name}", 5)
        time.sleep(1)
        shot(s, f"tour-{name}", f"the tour's {name} step: {what}")
    s.xdotool("key", "Return")
    s.wait_for_log("tour: finished", 5)


def nap_step(s, shot):
    """Ctrl+Alt+N starts a nap; a poke shows the hint; Space wakes."""
    s.xdotool("keydown", "Control_L", "keydown", "Alt_L", "key", "n", "keyup", "Alt_L", "keyup", "Control_L")
    need(s.wait_for_log("nap began", 5), "Ctrl+Alt+N started no nap")
    time.sleep(1)
    shot(s, "nap", "a nap after Ctrl+Alt+N")
    s.xdotool("key", "q")
    time.sleep(0.8)
    shot(s, "nap-poked", "the same nap after a poke (the letter Q)")
    s.xdotool("key", "space")
    s.wait_for_log("nap ended", 5)
    time.sleep(0.5)
    shot(s, "woken", "after Space woke it")


def agent_step(s, shot, out, steps):
    """A program named `claude` in tmux: the tray lists it and --list-agents reports it."""
    project = os.path.join(s.root, "projects", "demo-api")
    os.makedirs(project)
    agent = os.path.join(s.root, "claude")
    with open(agent, "w") as f:
        f.write(harness.FAKE_AGENT)
    os.chmod(agent, 0o755)
    socket = os.path.join(s.root, "tmux.sock")
    pid_file = os.path.join(s.root, "claude.pid")
    s.run(["tmux", "-S", socket, "-f", "/dev/null", "new-session", "-d", "-c", project, f"{agent} {pid_file} 8"])
    item = tray.find_item(s)
    rows = s.wait_for(lambda: [l for l in tray.labels(s, item) if "Claude" in l], 15) if item else None
    need(rows, "the tray menu never listed the agent")
    steps.append("     tray menu with an agent: " + " | ".join(tray.labels(s, item)))
    island_step(s, shot, item)
    listing = s.run([harness.BINARY, "--list-agents", "text"]).stdout
    with open(os.path.join(out, "list-agents.txt"), "w") as f:
        f.write(listing)
    steps.append("list-agents.txt  what `tovami --list-agents text` printed")
    s.run(["tmux", "-S", socket, "kill-server"])


def island_step(s, shot, item):
    """The island, switched on from the tray: the pill with the agent's status, then open with Ctrl+Alt+A."""
    s.run(["xsetroot", "-solid", "#4a5a6a"])  # the island is black: show it on a lighter desktop
    tray.click(s, item, "Island")
    need(s.wait_for(lambda: s.root_pixel(720, 36) == (0, 0, 0), 5), "the island did not show")
    time.sleep(0.5)
    shot(s, "island", "the island (a pill on a display without a camera housing), switched on from the tray menu")
    s.xdotool("keydown", "Control_L", "keydown", "Alt_L", "key", "a", "keyup", "Alt_L", "keyup", "Control_L")
    time.sleep(1)
    shot(s, "island-open", "the island opened with Ctrl+Alt+A: the agent, the nap controls")
    s.xdotool("keydown", "Control_L", "keydown", "Alt_L", "key", "a", "keyup", "Alt_L", "keyup", "Control_L")


EXTRA_STEPS = [nap_step]
# The tour (7), the tray item, the settings window's two pages, the nap (3), the island (2).
EXPECTED_SCREENSHOTS = 15

if __name__ == "__main__":
    sys.exit(main())
