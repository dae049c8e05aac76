#!/usr/bin/python3
"""Tries Tovami's approvals with a real Claude Code, offline: a private desktop (the integration harness),
Claude Code in tmux against scripts/trials/fake_messages_api.py on loopback, Tovami with approvals on.
Each round asks for one Bash command and answers it one way; it prints what happened and when.

    scripts/trials/claude_code_trial.py [--island] [--keep]

Needs `claude` on PATH (npm install -g @anthropic-ai/claude-code) and a build in build/."""

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
from test_approvals import island_buttons  # noqa: E402

KEY = "dummy-key-0123456789abcdefghij"
EVENTS = ["SessionStart", "UserPromptSubmit", "PreToolUse", "PermissionRequest", "Notification", "PostToolUse",
          "Stop", "SessionEnd"]


def stamp(began, what):
    print(f"{time.monotonic() - began:7.2f}s  {what}", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--island", action="store_true", help="answer from the island rather than a notification")
    parser.add_argument("--decision-hook", action="store_true",
                        help="also hand PermissionRequest to `tovami --hook permission-request` (the build's)")
    parser.add_argument("--keep", action="store_true", help="keep the session's folder")
    args = parser.parse_args()
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

        def ask(answer):
            for f in project.glob("asked.txt"):
                f.unlink()
            asked = s.log_text().count("approval asked")
            began = time.monotonic()
            tmux("send-keys", "please create asked.txt")
            time.sleep(0.5)
            tmux("send-keys", "Enter")
            if not s.wait_for(lambda: "Do you want to proceed?" in screen(), 60):
                print(screen())
                return
            stamp(began, "prompt on screen")
            if not s.wait_for(lambda: s.log_text().count("approval asked") > asked, 30):
                stamp(began, "Tovami never saw the request")
                return
            stamp(began, "Tovami shows the request (" + re.findall(r"approval asked by [^\n]*", s.log_text())[-1] + ")")
            status = list(pathlib.Path(s.home, ".claude", "sessions").glob("*.json"))
            if status:
                print("          status file:", status[0].read_text()[:400])
            print("          tray rows:", tray.labels(s, item)[:3])
            time.sleep(0.8)
            if answer == "terminal":
                tmux("send-keys", "Escape")
                stamp(began, "Escape typed in the terminal")
                gone = s.wait_for(lambda: not tray.icon_has_dot(s, item), 10)
                stamp(began, "card gone" if gone else "card still up after 10 s")
                return
            if args.island:
                buttons = s.wait_for(lambda: island_buttons(s), 10)
                s.screenshot(s.shot_path("claude-code-card.png"))
                s.xdotool("mousemove", *buttons[0], "click", 1)
                stamp(began, "Allow clicked on the island")
            else:
                shown = [c for c in fake_notifications.calls(s) if c["call"] == "Notify"][-1]
                print("          notification:", shown["summary"], "|", shown["body"].replace("\n", " | "),
                      shown["actions"][1::2])
                fake_notifications.invoke(s, shown["id"], shown["actions"][0])
                stamp(began, "Allow chosen on the notification")
            ran = s.wait_for(lambda: (project / "asked.txt").exists(), 20)
            stamp(began, "the command ran" if ran else "the command did not run")
            s.wait_for(lambda: "\u276f" in screen().split("Done.")[-1], 20)

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
