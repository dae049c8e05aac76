#!/usr/bin/python3
"""Tries a real Claude Code on another machine, offline, answered from this desktop's island: a private
desktop (the integration harness, openbox, 1440x900), a real sshd on loopback (tests/integration/
ssh_server.py) whose "remote" user is this machine under another HOME, and Tovami linked to it with
approvals on for that host. The remote side puts its hook into the remote Claude Code's settings; Claude
Code runs in a tmux of the remote user against scripts/trials/fake_messages_api.py. Each round asks for
one Bash command: Allow on the island must run it there, Deny must not; a screenshot of the card goes to
$TOVAMI_SHOTS (else the session's folder, see --keep).

    scripts/trials/remote_claude_trial.py [--binary build/tovami] [--keep]
"""

import argparse
import json
import os
import pathlib
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[1] / "tests" / "integration"))
sys.path.insert(0, str(HERE))
import harness  # noqa: E402
import ssh_server  # noqa: E402
import tray  # noqa: E402
from claude_code_trial import KEY, answer_on_island, stamp  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--keep", action="store_true", help="keep the session's folder")
    parser.add_argument("--binary", help="the `tovami` to try (default: $TOVAMI_BINARY, else build/tovami)")
    args = parser.parse_args()
    if args.binary:
        harness.BINARY = os.path.abspath(args.binary)
    if args.keep:
        os.environ["TOVAMI_KEEP_TEST_DIRS"] = "1"
    print("tovami:", harness.BINARY, "| claude:", subprocess.run(["claude", "--version"], capture_output=True,
                                                                 text=True).stdout.strip())
    with harness.Session(screen="1440x900", openbox=True) as s:
        remote = ssh_server.Remote(s)
        project = pathlib.Path(remote.home, "work", "demo")
        project.mkdir(parents=True)
        pathlib.Path(remote.home, ".claude").mkdir()
        pathlib.Path(remote.home, ".claude.json").write_text(json.dumps({
            "hasCompletedOnboarding": True, "theme": "dark", "numStartups": 5,
            "customApiKeyResponses": {"approved": [KEY[-20:]], "rejected": []},
            "projects": {str(project): {"hasTrustDialogAccepted": True, "hasCompletedProjectOnboarding": True}}}))
        ssh_server.start(s, remote, [("devbox", "127.0.0.1", None, "user", "known_hosts")])
        s.write_preferences("[General]\nislandOnNonNotch=true\nremoteHosts=devbox\nremoteApprovalHosts=devbox\n")
        api = s._spawn(["/usr/bin/python3", str(HERE / "fake_messages_api.py"), "--command",
                        f"touch {project}/asked.txt", "--log", f"{s.root}/api.jsonl"], stdout=subprocess.PIPE)
        port = int(api.stdout.readline())
        tray.start_fake_host(s)
        s.start_tovami()
        settings = pathlib.Path(remote.home, ".claude", "settings.json")
        assert s.wait_for(lambda: settings.exists() and remote.socket in settings.read_text(), 30), s.log_text()
        hooks = json.loads(settings.read_text())["hooks"]
        print("hooks put in on the host:", {k: [h["command"][:70] for e in v for h in e["hooks"]]
                                            for k, v in hooks.items()})

        s.tmux = os.path.join(remote.home, "tmux.sock")
        tmux = lambda *a: s.run(["tmux", "-S", s.tmux, *a], env=remote.env, check=True).stdout  # noqa: E731
        env = [f"ANTHROPIC_BASE_URL=http://127.0.0.1:{port}", f"ANTHROPIC_API_KEY={KEY}",
               "CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC=1", "DISABLE_AUTOUPDATER=1"]
        tmux("-f", "/dev/null", "new-session", "-d", "-x", "160", "-y", "45", "-c", str(project), "env", *env, "claude")
        screen = lambda: tmux("capture-pane", "-p")  # noqa: E731
        assert s.wait_for(lambda: "\u276f" in screen(), 30), screen()
        row = lambda: next((label for label in tray.labels_now(s, tray.find_item(s, timeout=5))  # noqa: E731
                            if label.startswith("devbox \u00b7 demo")), None)
        print("tray row:", s.wait_for(row, 20))

        for answer, name in (("allow", "allowed.txt"), ("deny", "denied.txt")):
            asked = s.log_text().count("approval asked by")
            began = time.monotonic()
            print(f"-- {answer}: touch {name}", flush=True)
            tmux("send-keys", "-l", f"run: touch {project}/{name}")
            time.sleep(0.5)
            tmux("send-keys", "Enter")
            if not s.wait_for(lambda: "Do you want to proceed?" in screen(), 60):
                print(screen())
                return 1
            stamp(began, "prompt on screen in the remote terminal")
            if not s.wait_for(lambda: s.log_text().count("approval asked by") > asked, 30):
                stamp(began, "Tovami never saw the request")
                return 1
            clicked, _ = answer_on_island(s, began, answer, f"remote-claude-code-{answer}-card.png")
            ran = s.wait_for(lambda: (project / name).exists(), 10 if answer == "deny" else 20)
            stamp(began, f"the command ran there, {time.monotonic() - clicked:.2f} s after the click" if ran
                  else "the command did not run")
            if bool(ran) != (answer == "allow"):
                print(screen())
                return 1
            s.wait_for(lambda: "\u276f" in screen().split(name)[-1], 20)
            time.sleep(1)
        print("tovami log (remote, approvals):")
        print("\n".join(line for line in s.log_text().splitlines() if "approval" in line or "devbox" in line))
        tmux("send-keys", "/exit", "Enter")
        time.sleep(1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
