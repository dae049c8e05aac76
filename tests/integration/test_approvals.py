"""The road of one approval with real parts: the installed hook command, run by `sh -c` with a Notification
payload, reaches Tovami through nc; the request waits in the tray; Allow puts Return and Deny puts Escape into
the tmux pane of the asking agent, and into no other pane."""

import json
import os
import pathlib
import time
import unittest

import harness
import tray

# A stand-in for Claude Code: a script named `claude` that echoes each line it reads at its prompt.
FAKE_AGENT = "#!/bin/sh\necho ready\nwhile IFS= read -r line; do printf 'got:[%s]\\n' \"$line\" | cat -v; done\n"


class ApprovalsTest(unittest.TestCase):
    def test_hook_to_pane(self):
        with harness.Session() as s:
            project, agent = os.path.join(s.root, "work", "api"), os.path.join(s.root, "bin", "claude")
            for folder in (project, os.path.dirname(agent), os.path.join(s.home, ".claude")):
                os.makedirs(folder)
            pathlib.Path(agent).write_text(FAKE_AGENT)
            os.chmod(agent, 0o755)
            settings_path = pathlib.Path(s.home, ".claude", "settings.json")
            settings_path.write_text(json.dumps({"model": "opus", "hooks": {"Stop": []}}))
            s.write_preferences("[General]\nnotchApprovals=true\nhasCompletedOnboarding=true\n")
            s.tmux = os.path.join(s.root, "tmux.sock")  # the session kills this server at the end
            tmux = lambda *args: s.run(["tmux", "-S", s.tmux, *args], check=True).stdout
            tray.start_fake_host(s)
            tmux("-f", "/dev/null", "new-session", "-d", "-x", "100", "-y", "20", "-c", project, agent)
            tmux("split-window", "-c", project, "cat -v")  # another pane: must stay untouched
            agent_pane, other_pane = tmux("list-panes", "-F", "#{pane_id}").split()
            capture = lambda pane: tmux("capture-pane", "-p", "-t", pane)
            self.assertTrue(s.wait_for(lambda: "ready" in capture(agent_pane), 10))

            s.start_tovami()
            self.assertTrue(s.wait_for_log("approval server listening", 15), s.log_text())
            socket = os.path.join(s.env["XDG_DATA_HOME"], "Tovami", "agent.sock")
            settings = json.loads(settings_path.read_text())
            self.assertEqual((settings["model"], "Stop" in settings["hooks"]), ("opus", True))
            command = settings["hooks"]["Notification"][0]["hooks"][0]["command"]
            self.assertIn(f'S="{socket}"', command)
            item = tray.find_item(s, timeout=30)
            self.assertIsNotNone(item, s.log_text())

            def labels():
                try:
                    return tray.labels(s, item)
                except Exception:  # the menu may be rebuilt while it is read
                    return []

            def hook():
                """Runs the hook as Claude Code does; it must end at once and silently."""
                payload = {"session_id": "0f3c", "transcript_path": "/dev/null", "cwd": project, "prompt_id": "p1",
                           "hook_event_name": "Notification", "message": "Claude needs your permission"}
                began = time.monotonic()
                result = s.run(["sh", "-c", command], input=json.dumps(payload), timeout=20)
                self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""), s.log_text())
                self.assertLess(time.monotonic() - began, 5)

            self.assertTrue(s.wait_for(lambda: any(l.startswith("api \u2014") for l in labels()), 20),
                            f"the agent never showed: {labels()}\n{s.log_text()}")
            for choice, seen in (("Allow", "got:[]"), ("Deny", "^[")):
                hook()
                self.assertTrue(s.wait_for(lambda: "Allow" in labels(), 10), f"{labels()}\n{s.log_text()}")
                tray.click(s, item, choice)
                self.assertTrue(s.wait_for(lambda: seen in capture(agent_pane), 10),
                                f"{choice}: {capture(agent_pane)!r}\n{s.log_text()}")
                self.assertTrue(s.wait_for(lambda: "Allow" not in labels(), 10))
            self.assertEqual(capture(agent_pane).count("got:[]"), 1)
            self.assertEqual(capture(other_pane).strip(), "")
            self.assertEqual(s.log_text().count("answer sent to the agent's tmux pane"), 2)

            self.assertEqual(s.stop_tovami(), 0)
            self.assertFalse(os.path.exists(socket))
            hook()  # without a server the hook still ends at once, silently


if __name__ == "__main__":
    unittest.main()
