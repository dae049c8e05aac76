#!/usr/bin/python3
"""Tries Tovami's approvals with a real Claude Code, offline: a private desktop (the integration harness),
Claude Code in tmux against scripts/trials/fake_messages_api.py on loopback, Tovami with approvals on.
Each round asks for one Bash command and answers it one way; it prints what happened and when.

    scripts/trials/claude_code_trial.py [--island] [--binary build-trial/tovami] [--keep]

Without --island: Allow from the desktop notification, then Escape in the terminal.
With --island, the card's buttons: Allow on a plain `touch` (whose Always changes the session's mode: the
card must say so and its button read "Allow + accept edits"), Always on an `sh -c '…'` (its rule must land
in the project's .claude/settings.local.json, and the same command asked again must run without a card),
Deny, "1" (Yes) typed in the terminal while the card shows (the card must go), and last "Allow + accept
edits" (the session must switch to accepting edits). Screenshots of each card go to $TOVAMI_SHOTS (else
the session's folder, see --keep). The fake model runs what follows "run: " in the typed prompt.

Needs `claude` on PATH (npm install -g @anthropic-ai/claude-code) and a build (build/ unless --binary or
$TOVAMI_BINARY names another `tovami`)."""

import argparse
import json
import os
import pathlib
import re
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[1] / "tests" / "integration"))
import fake_notifications  # noqa: E402
import harness  # noqa: E402
import tray  # noqa: E402
from test_approvals import CARD  # noqa: E402

TERRACOTTA = (217, 119, 87)
KEY = "dummy-key-0123456789abcdefghij"
EVENTS = ["SessionStart", "UserPromptSubmit", "PreToolUse", "PermissionRequest", "Notification", "PostToolUse",
          "Stop", "SessionEnd"]


def stamp(began, what):
    print(f"{time.monotonic() - began:7.2f}s  {what}", flush=True)


def answer_on_island(s, began, answer, shot=None):
    """Waits for the card, screenshots it when asked, clicks `answer` ("allow", "always", "deny") once the card
    takes clicks; returns when the click was made (monotonic) and how many buttons the card had."""
    buttons = s.wait_for(lambda: card_buttons(s), 10)
    stamp(began, f"card drawn, {len(buttons or [])} buttons")
    time.sleep(0.8)  # a card's buttons take clicks once it has been up for a moment
    if shot:
        s.screenshot(s.shot_path(shot))
        print("          screenshot:", s.shot_path(shot))
    which = {"allow": 0, "always": 1, "deny": len(buttons) - 1}[answer]
    clicked = time.monotonic()
    s.xdotool("mousemove", *buttons[which], "click", 1)
    stamp(began, f"{answer} clicked on the island")
    return clicked, len(buttons)


def card_buttons(s):
    """The centres of the card's buttons, right to left (Allow, then Always where it is drawn, then Deny);
    None while no card shows. Buttons are the runs of lit columns in the band of Allow's terracotta fill."""
    x, y, width, height = CARD
    rows = s.root_pixels(x, y, width, height)
    best = max(range(height), key=lambda r: rows[r].count(TERRACOTTA))
    lit = [c for c, pixel in enumerate(rows[best]) if pixel == TERRACOTTA]
    if len(lit) < 30:
        return None
    middle = (lit[0] + lit[-1]) // 2
    band = [r for r in range(height) if rows[r][middle] == TERRACOTTA or rows[r][lit[0]] != (0, 0, 0)]
    band = [r for r in band if abs(r - best) <= 16]
    columns = [any(rows[r][c] != (0, 0, 0) for r in band) for c in range(width)]
    runs, start = [], None
    for c in range(lit[-1], -1, -1):
        if columns[c] and start is None:
            start = c
        elif not columns[c] and start is not None:
            if start - c >= 12:  # a glyph or a rim on its own is narrower than any button
                runs.append((x + (start + c + 1) // 2, y + best))
            start = None
    return runs[:3]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--island", action="store_true", help="answer from the island rather than a notification")
    parser.add_argument("--decision-hook", action="store_true",
                        help="also hand PermissionRequest to `tovami --hook permission-request` (the build's)")
    parser.add_argument("--keep", action="store_true", help="keep the session's folder")
    parser.add_argument("--binary", help="the `tovami` to try (default: $TOVAMI_BINARY, else build/tovami)")
    args = parser.parse_args()
    if args.binary:
        harness.BINARY = os.path.abspath(args.binary)
    print("tovami:", harness.BINARY, "| claude:", subprocess.run(["claude", "--version"], capture_output=True,
                                                                 text=True).stdout.strip())
    if args.keep:
        os.environ["TOVAMI_KEEP_TEST_DIRS"] = "1"
    with harness.Session(screen="1440x900", openbox=True) as s:
        project, hooks = pathlib.Path(s.root, "work", "demo"), pathlib.Path(s.root, "hooks")
        project.mkdir(parents=True)
        hooks.mkdir()
        pathlib.Path(s.home, ".claude").mkdir()
        pathlib.Path(s.home, ".claude.json").write_text(json.dumps({
            "hasCompletedOnboarding": True, "theme": "dark", "numStartups": 5,
            "customApiKeyResponses": {"approved": [KEY[-20:]], "rejected": []},
            "projects": {str(project): {"hasTrustDialogAccepted": True, "hasCompletedProjectOnboarding": True}}}))
        record = lambda event: {"type": "command", "command": f"cat > {hooks}/$(date +%s%N)-{event}.json"}
        recorded = {event: [{"matcher": "*", "hooks": [record(event)]}] for event in EVENTS}
        if args.decision_hook:
            recorded["PermissionRequest"][0]["hooks"].append(
                {"type": "command", "command": f"{os.path.abspath(harness.BINARY)} --hook permission-request",
                 "timeout": 300})
        pathlib.Path(s.home, ".claude", "settings.json").write_text(json.dumps({"hooks": recorded}))
        s.write_preferences("[General]\nnotchApprovals=true\n" + ("islandOnNonNotch=true\n" if args.island else ""))
        api = s._spawn(["/usr/bin/python3", str(HERE / "fake_messages_api.py"), "--command",
                        f"touch {project}/asked.txt", "--log", f"{s.root}/api.jsonl"], stdout=subprocess.PIPE)
        port = int(api.stdout.readline())
        tray.start_fake_host(s)
        fake_notifications.start(s)
        s.start_tovami()
        assert s.wait_for_log("approval server listening", 15), s.log_text()
        item = tray.find_item(s, timeout=30)
        settings = json.loads(pathlib.Path(s.home, ".claude", "settings.json").read_text())
        print("hooks installed:", {k: [h["command"][:60] for e in v for h in e["hooks"]]
                                   for k, v in settings["hooks"].items() if k in ("PermissionRequest", "Notification")})

        s.tmux = os.path.join(s.root, "tmux.sock")
        tmux = lambda *a: s.run(["tmux", "-S", s.tmux, *a], check=True).stdout
        env = [f"ANTHROPIC_BASE_URL=http://127.0.0.1:{port}", f"ANTHROPIC_API_KEY={KEY}",
               "CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC=1", "DISABLE_AUTOUPDATER=1"]
        tmux("-f", "/dev/null", "new-session", "-d", "-x", "160", "-y", "45", "-c", str(project), "env", *env, "claude")
        screen = lambda: tmux("capture-pane", "-p")
        assert s.wait_for(lambda: "\u276f" in screen(), 30), screen()

        def ask(answer, command=None, made="asked.txt", card=True, shot=None):
            """Asks for `command` (the fake model's default: touch asked.txt), answers with `answer` and
            says whether `made` appeared in the project. `card`: whether a card is expected at all."""
            for f in project.glob(made):
                f.unlink()
            asked = s.log_text().count("approval asked")
            recorded = len(list(hooks.glob("*-PermissionRequest.json")))
            began = time.monotonic()
            print(f"-- {answer}: {command or 'the default touch'}", flush=True)
            tmux("send-keys", "-l", f"run: {command}" if command else "please create asked.txt")
            time.sleep(0.5)
            tmux("send-keys", "Enter")
            if not card:
                ran = s.wait_for(lambda: (project / made).exists(), 30)
                stamp(began, "the command ran" if ran else "the command did not run in 30 s")
                fired = len(list(hooks.glob("*-PermissionRequest.json"))) - recorded
                print(f"          PermissionRequest hooks fired: {fired}; cards asked: "
                      f"{s.log_text().count('approval asked') - asked}")
                s.wait_for(lambda: "\u276f" in screen().split("Done.")[-1], 20)
                return
            if not s.wait_for(lambda: "Do you want to proceed?" in screen(), 60):
                print(screen())
                return
            stamp(began, "prompt on screen")
            if not s.wait_for(lambda: s.log_text().count("approval asked") > asked, 30):
                stamp(began, "Tovami never saw the request")
                return
            stamp(began, "Tovami shows the request (" + re.findall(r"approval asked by [^\n]*", s.log_text())[-1] + ")")
            payloads = sorted(hooks.glob("*-PermissionRequest.json"))
            if len(payloads) > recorded:
                payload = json.loads(payloads[-1].read_text())
                print("          permission_suggestions:", json.dumps(payload.get("permission_suggestions")))
            status = list(pathlib.Path(s.home, ".claude", "sessions").glob("*.json"))
            if status:
                print("          status file:", status[0].read_text()[:400])
            print("          tray rows:", tray.labels(s, item)[:3])
            if answer in ("terminal", "terminal-yes"):
                time.sleep(0.8)
                tmux("send-keys", "Escape" if answer == "terminal" else "1")
                stamp(began, "Escape typed in the terminal" if answer == "terminal"
                      else "1 (Yes) typed in the terminal")
                gone = s.wait_for(lambda: not tray.icon_has_dot(s, item), 15)
                stamp(began, "card gone" if gone else "card still up after 15 s")
                if answer == "terminal-yes":
                    stamp(began, "the command ran" if (project / made).exists() else "the command did not run")
                    print("          log:", [line for line in s.log_text().splitlines() if "withdrawn" in line][-1:])
                    s.wait_for(lambda: "\u276f" in screen().split(" Done.")[-1], 20)
                return
            if args.island:
                clicked, _ = answer_on_island(s, began, answer, shot)
            else:
                time.sleep(0.8)
                shown = [c for c in fake_notifications.calls(s) if c["call"] == "Notify"][-1]
                print("          notification:", shown["summary"], "|", shown["body"].replace("\n", " | "),
                      shown["actions"][1::2])
                clicked = time.monotonic()
                fake_notifications.invoke(s, shown["id"], shown["actions"][0])
                stamp(began, "Allow chosen on the notification")
            ran = s.wait_for(lambda: (project / made).exists(), 10 if answer == "deny" else 20)
            stamp(began, (f"the command ran, {time.monotonic() - clicked:.2f} s after the click" if ran
                          else "the command did not run"))
            s.wait_for(lambda: "\u276f" in screen().split(" Done.")[-1] or "What should Claude do" in screen(), 20)
            if answer == "deny":
                print("          pane:", [line.strip() for line in screen().split(made)[-1].splitlines()
                                         if "\u23bf" in line or "Interrupted" in line])

        if args.island:
            ask("allow", f"touch {project}/plain.txt", "plain.txt", shot="claude-code-touch-card.png")
            sh = f"sh -c 'touch {project}/always.txt'"
            ask("always", sh, "always.txt", shot="claude-code-sh-card.png")
            local = project / ".claude" / "settings.local.json"
            print("          settings.local.json:", local.read_text() if local.exists() else "(none)")
            ask("allow", sh, "always.txt", card=False)
            ask("deny", f"sh -c 'touch {project}/denied.txt'", "denied.txt", shot="claude-code-deny-card.png")
            ask("terminal-yes", f"touch {project}/yes.txt", "yes.txt")
            # "Allow + accept edits" on a plain touch: the session must switch to accepting edits.
            ask("always", f"touch {project}/edits.txt", "edits.txt")
            time.sleep(1)
            footer = [line.strip() for line in screen().splitlines() if "accept edits" in line or "shortcuts" in line]
            print("          pane footer:", footer)
        else:
            ask("allow")
            ask("terminal")
        time.sleep(1)
        print("hooks fired:", sorted(p.name.split("-", 1)[1][:-5] for p in hooks.iterdir()))
        print("tovami log (approvals):")
        print("\n".join(line for line in s.log_text().splitlines() if "approval" in line))
        tmux("send-keys", "/exit", "Enter")
        time.sleep(1)

if __name__ == "__main__":
    main()
