#!/usr/bin/python3
"""Tries Tovami's approvals with a real Codex CLI, offline: a private desktop (the integration harness),
Codex in tmux with a custom provider on loopback (scripts/trials/fake_responses_api.py, no sign-in),
Tovami with Codex approvals and the island on. Tovami writes its hook into $CODEX_HOME/hooks.json; the
trial then trusts it the way a user does, at Codex's "Hooks need review" prompt ("Trust all and
continue"). Each round asks for one command that Codex must ask about and answers it on the island's
card: Allow (the command must run), Deny (it must not; Codex says it was blocked), and, when the card
offers it, Always. It prints what happened and when; screenshots of each card go to $TOVAMI_SHOTS (else
the session's folder, see --keep).

    scripts/trials/codex_trial.py [--binary build-trial/tovami] [--keep]

Needs `codex` on PATH (npm install -g @openai/codex) and a build (build/ unless --binary or
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
sys.path.insert(0, str(HERE))
import fake_notifications  # noqa: E402
import harness  # noqa: E402
import tray  # noqa: E402
from claude_code_trial import answer_on_island, stamp  # noqa: E402
from fake_responses_api import CODEX_CONFIG  # noqa: E402



def end_app_servers(codex_home):
    """Codex leaves a shared app-server behind (re-parented to init): ends this session's ones only."""
    for pid in subprocess.run(["pgrep", "-f", str(codex_home)], capture_output=True, text=True).stdout.split():
        subprocess.run(["kill", "-KILL", pid])


def newest_item(s, stale):
    """The tray item registered last, when it is not `stale` (the stand-in host keeps a gone one listed)."""
    _, items = tray._get(s, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                         "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems")
    name, _, path = str(items[-1]).partition("/") if items else ("", "", "")
    return (name, "/" + path) if name and (name, "/" + path) != stale else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--keep", action="store_true", help="keep the session's folder")
    parser.add_argument("--binary", help="the `tovami` to try (default: $TOVAMI_BINARY, else build/tovami)")
    args = parser.parse_args()
    if args.keep:
        os.environ["TOVAMI_KEEP_TEST_DIRS"] = "1"
    if args.binary:
        harness.BINARY = os.path.abspath(args.binary)
    print("tovami:", harness.BINARY, "| codex:", subprocess.run(["codex", "--version"], capture_output=True,
                                                                text=True).stdout.strip())
    with harness.Session(screen="1440x900", openbox=True) as s:
        project, codex_home = pathlib.Path(s.root, "work", "demo"), pathlib.Path(s.home, ".codex")
        project.mkdir(parents=True)
        codex_home.mkdir()
        try:
            api_log = pathlib.Path(s.root, "api.jsonl")
            api = s._spawn(["/usr/bin/python3", str(HERE / "fake_responses_api.py"), "--log", str(api_log),
                            "--lifetime", "900"], stdout=subprocess.PIPE)
            port = int(api.stdout.readline())
            (codex_home / "config.toml").write_text(CODEX_CONFIG.format(port=port, project=project))
            s.write_preferences("[General]\ncodexApprovals=true\nislandOnNonNotch=true\n")
            tray.start_fake_host(s)
            fake_notifications.start(s)
            s.start_tovami()
            assert s.wait_for_log("approval server listening", 15), s.log_text()
            item = tray.find_item(s, timeout=30)
            hooks_file = codex_home / "hooks.json"
            assert s.wait_for(hooks_file.exists, 10), s.log_text()
            print("hooks.json:", hooks_file.read_text().strip())

            s.tmux = os.path.join(s.root, "tmux.sock")
            tmux = lambda *a: s.run(["tmux", "-S", s.tmux, *a], check=True).stdout
            screen = lambda: tmux("capture-pane", "-p")
            began = time.monotonic()
            tmux("-f", "/dev/null", "new-session", "-d", "-x", "160", "-y", "45", "-c", str(project), "env",
                 f"CODEX_HOME={codex_home}", "FAKE_API_KEY=dummy", "codex")
            if not s.wait_for(lambda: "Ask Codex to do anything" in screen(), 60):
                print(screen())
                return
            # The composer is drawn first; the review of new hooks comes over it a moment later.
            if s.wait_for(lambda: "Hooks need review" in screen(), 15):
                stamp(began, "Codex asks to review the new hook:")
                print("\n".join("          " + line for line in screen().splitlines()
                                if line.strip() and "\u28ff" not in line))
                # What a user does: move to "Trust all and continue" and confirm it.
                tmux("send-keys", "Down")
                time.sleep(0.3)
                selected = [line for line in screen().splitlines() if "\u203a" in line]
                print("          highlighted:", selected[-1].strip() if selected else "?")
                tmux("send-keys", "Enter")
                if not s.wait_for(lambda: "Ask Codex to do anything" in screen(), 20):
                    print(screen())
                    return
                stamp(began, "hook trusted")
            else:
                stamp(began, "Codex asked nothing about the hook")
            trust = re.findall(r'\[hooks\.state\."([^"]+)"\]\s*trusted_hash = "([^"]+)"',
                               (codex_home / "config.toml").read_text())
            print("          trust in config.toml:", trust)

            def unanswered(made):
                """Leaves the card alone: Codex's own prompt must come once the hook client gives up (25 s)."""
                command = f"touch {project}/{made}"
                asked = s.log_text().count("approval asked")
                began = time.monotonic()
                print(f"-- no answer on the island: {command}", flush=True)
                tmux("send-keys", "-l", f"run: {command}")
                time.sleep(0.5)
                tmux("send-keys", "Enter")
                if not s.wait_for(lambda: s.log_text().count("approval asked") > asked, 30):
                    stamp(began, "Tovami never saw the request")
                    return
                stamp(began, "Tovami shows the request")
                withdrawn = s.log_text().count("approval withdrawn")
                seen = {}
                events = {"Codex shows its own prompt":
                          lambda: "Would you like to run the following command?" in screen(),
                          "Tovami withdraws the request": lambda: s.log_text().count("approval withdrawn") > withdrawn,
                          "its card and tray rows are gone":
                              lambda: not any(row.startswith("Allow") for row in tray.labels(s, item)[:3])}
                while len(seen) < len(events) and time.monotonic() - began < 60:
                    for name, happened in events.items():
                        if name not in seen and happened():
                            seen[name] = time.monotonic() - began
                    time.sleep(0.2)
                for name in events:
                    print(f"{seen[name]:7.2f}s  {name}" if name in seen else f"  never  {name} (in 60 s)")
                s.screenshot(s.shot_path("codex-after-own-prompt.png"))
                print("          screenshot:", s.shot_path("codex-after-own-prompt.png"), "| tray rows:",
                      tray.labels(s, item)[:3])
                print("          log:", [line for line in s.log_text().splitlines() if "withdrawn" in line][-1:])
                prompt = "Codex shows its own prompt" in seen
                if prompt:
                    tmux("send-keys", "y")
                    ran = s.wait_for(lambda: (project / made).exists(), 10)
                    stamp(began, "answered y in the terminal: the command " + ("ran" if ran else "did not run"))
                    s.wait_for(lambda: "Worked for" in screen().split(made)[-1], 20)

            def ask(answer, made, shot=None):
                command = f"touch {project}/{made}"
                asked = s.log_text().count("approval asked")
                began = time.monotonic()
                print(f"-- {answer}: {command}", flush=True)
                tmux("send-keys", "-l", f"run: {command}")
                time.sleep(0.5)
                tmux("send-keys", "Enter")
                if not s.wait_for(lambda: s.log_text().count("approval asked") > asked, 30):
                    stamp(began, "Tovami never saw the request")
                    print(screen())
                    return
                shown = re.findall(r"approval asked by [^\n]*", s.log_text())[-1]
                stamp(began, f"Tovami shows the request ({shown})")
                pane = [line.strip() for line in screen().splitlines() if line.strip() and "\u28ff" not in line]
                print("          pane meanwhile:", " | ".join(pane[-4:]))
                print("          tray rows:", tray.labels(s, item)[:3])
                early = (project / made).exists()
                clicked, count = answer_on_island(s, began, answer, shot)
                if early:
                    stamp(began, "the command had run before the click!")
                ran = s.wait_for(lambda: (project / made).exists(), 8 if answer == "deny" else 20)
                stamp(began, (f"the command ran, {time.monotonic() - clicked:.2f} s after the click" if ran
                              else "the command did not run"))
                s.wait_for(lambda: "Worked for" in screen().split(made)[-1], 20)
                pane = [line.strip() for line in screen().splitlines() if line.strip()]
                print("          pane after:", " | ".join(pane[-9:-3]))
                return count

            ask("allow", "allowed.txt", shot="codex-allow-card.png")
            unanswered("unanswered.txt")
            count = ask("deny", "denied.txt", shot="codex-deny-card.png")
            if count == 3:
                ask("always", "always.txt")
            else:
                print("          no Always on the card: this Codex sent no permission_suggestions")

            # Tovami restarted: its hook must stay as the user trusted it, so Codex asks nothing again.
            written = hooks_file.read_text()
            s.stop_tovami()
            print("-- Tovami stopped: hooks.json", "unchanged" if hooks_file.read_text() == written else
                  "changed:\n" + hooks_file.read_text())
            # Tovami not running: the hook finds no socket and gives no verdict at once.
            began = time.monotonic()
            print("-- Tovami not running:", f"touch {project}/alone.txt", flush=True)
            tmux("send-keys", "-l", f"run: touch {project}/alone.txt")
            time.sleep(0.5)
            tmux("send-keys", "Enter")
            prompt = s.wait_for(lambda: "Would you like to run the following command?" in screen(), 45)
            stamp(began, "Codex shows its own prompt" if prompt else "Codex shows no prompt in 45 s")
            if prompt:
                tmux("send-keys", "y")
                s.wait_for(lambda: "Worked for" in screen().split("alone.txt")[-1], 20)
            s.start_tovami()
            assert s.wait_for(lambda: s.log_text().count("approval server listening") == 2, 15), s.log_text()
            item = s.wait_for(lambda: newest_item(s, item), 30)
            time.sleep(2)
            print("-- Tovami started again: hooks.json", "unchanged" if hooks_file.read_text() == written else
                  "changed:\n" + hooks_file.read_text())
            began = time.monotonic()
            tmux("new-window", "-c", str(project), "env", f"CODEX_HOME={codex_home}", "FAKE_API_KEY=dummy", "codex")
            s.run(["tmux", "-S", s.tmux, "send-keys", "-t", ":0", "C-c"])
            s.wait_for(lambda: "Ask Codex to do anything" in screen(), 60)
            review = s.wait_for(lambda: "Hooks need review" in screen(), 15)
            stamp(began, "a new Codex asks to review the hook again" if review
                  else "a new Codex runs the hook as trusted")
            if not review:
                ask("allow", "allowed-again.txt")
            time.sleep(1)
            print("tool outputs seen by the model:",
                  [json.loads(line)["tool_outputs"][-1][-160:] for line in api_log.read_text().splitlines()
                   if json.loads(line)["tool_outputs"]])
            print("tovami log (approvals):")
            print("\n".join(line for line in s.log_text().splitlines() if "approval" in line))
            s.run(["tmux", "-S", s.tmux, "send-keys", "C-c"])
            time.sleep(0.5)
            s.run(["tmux", "-S", s.tmux, "send-keys", "C-c"])
            time.sleep(1)
        finally:
            end_app_servers(codex_home)


if __name__ == "__main__":
    main()
