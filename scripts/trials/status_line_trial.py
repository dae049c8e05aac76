#!/usr/bin/python3
"""Records what a real Claude Code hands its status line command, offline: a private home, Claude Code in
tmux against scripts/trials/fake_messages_api.py on loopback, and a statusLine command that keeps each
input. With --subscription the login is a stand-in claude.ai one (a credentials file, no API key) and the
fake API sends the plan windows' headers, so the input carries rate_limits; else an API key login.
With --tovami the statusLine is Tovami's wrapper around the recording command, and the running build
must show the session's details (--list-agents).

    scripts/trials/status_line_trial.py [--subscription] [--tovami] [--out DIR] [--binary build/tovami]
"""

import argparse
import json
import os
import pathlib
import shlex
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[1] / "tests" / "integration"))
import harness  # noqa: E402

KEY = "dummy-key-0123456789abcdefghij"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--subscription", action="store_true")
    parser.add_argument("--tovami", action="store_true")
    parser.add_argument("--out", default=".")
    parser.add_argument("--binary")
    args = parser.parse_args()
    if args.binary:
        harness.BINARY = os.path.abspath(args.binary)
    with harness.Session() as s:
        project, inputs = pathlib.Path(s.root, "work", "demo"), pathlib.Path(s.root, "inputs")
        project.mkdir(parents=True)
        inputs.mkdir()
        claude = pathlib.Path(s.home, ".claude")
        claude.mkdir()
        pathlib.Path(s.home, ".claude.json").write_text(json.dumps({
            "hasCompletedOnboarding": True, "theme": "dark", "numStartups": 5,
            "customApiKeyResponses": {"approved": [KEY[-20:]], "rejected": []},
            "projects": {str(project): {"hasTrustDialogAccepted": True, "hasCompletedProjectOnboarding": True}}}))
        if args.subscription:
            (claude / ".credentials.json").write_text(json.dumps({"claudeAiOauth": {
                "accessToken": "sk-ant-oat01-fake", "refreshToken": "sk-ant-ort01-fake",
                "expiresAt": int(time.time() * 1000) + 86400000, "scopes": ["user:inference", "user:profile"],
                "subscriptionType": "pro"}}))
        record = f"cat > {inputs}/$(date +%s%N).json; echo recorded"
        (claude / "settings.json").write_text(json.dumps({"statusLine": {"type": "command", "command": record}}))
        if args.tovami:
            s.write_preferences("[General]\nstatusLineFeed=true\nusageTracking=true\n")
            s.start_and_wait()
            assert s.wait_for(lambda: "tovami-status-line" in (claude / "settings.json").read_text(), 10)
        api = s._spawn(["/usr/bin/python3", str(HERE / "fake_messages_api.py"), "--log", f"{s.root}/api.jsonl"]
                       + (["--rate-limits", "0.375,0.61"] if args.subscription else []), stdout=subprocess.PIPE)
        port = int(api.stdout.readline())
        s.tmux = os.path.join(s.root, "tmux.sock")
        tmux = lambda *a: s.run(["tmux", "-S", s.tmux, *a], check=True).stdout
        env = [f"ANTHROPIC_BASE_URL=http://127.0.0.1:{port}", "CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC=1",
               "DISABLE_AUTOUPDATER=1"] + ([] if args.subscription else [f"ANTHROPIC_API_KEY={KEY}"])
        tmux("-f", "/dev/null", "new-session", "-d", "-x", "160", "-y", "45", "-c", str(project), "env", *env, "claude")
        screen = lambda: tmux("capture-pane", "-p")
        if not s.wait_for(lambda: "\u276f" in screen(), 40):
            sys.exit("Claude Code did not reach its prompt:\n" + screen())
        tmux("send-keys", "-t", "0", "-l", "say hello")
        tmux("send-keys", "-t", "0", "Enter")
        # The fake model asks to run a command first: allowed, then it answers and the line is drawn again.
        if s.wait_for(lambda: "Do you want to proceed?" in screen(), 30):
            tmux("send-keys", "-t", "0", "Enter")
        got = s.wait_for(lambda: [p for p in inputs.glob("*.json")
                                  if ("rate_limits" in p.read_text()) == args.subscription
                                  and '"used_percentage": null' not in p.read_text().replace(":null", ": null")], 40)
        print(screen())
        files = sorted(inputs.glob("*.json"))
        print(f"{len(files)} status line inputs recorded")
        if not files:
            sys.exit(1)
        last = json.loads(files[-1].read_text())
        name = "real-subscription.json" if args.subscription else "real-api-key.json"
        pathlib.Path(args.out, name).write_text(json.dumps(last, indent=2) + "\n")
        print("rate_limits:", last.get("rate_limits"), "| written:", os.path.join(args.out, name))
        if args.tovami:
            print(s.run([harness.BINARY, "--list-agents", "text"]).stdout)
            print(s.log_text()[-800:])
        tmux("kill-server")
        return 0 if got else 1


if __name__ == "__main__":
    sys.exit(main())
