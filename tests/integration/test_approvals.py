"""The road of one approval with real parts: Tovami installs its hook in Claude Code's settings;
the hook command itself, run by `sh -c` with a real Notification payload on its standard input,
reaches the running program through Debian's nc; the request waits in the tray; Allow puts Return
and Deny puts Escape into the tmux pane of the asking agent, and into no other pane."""

import json
import os
import re
import subprocess
import time
import unittest

import harness
import tray

# A stand-in for Claude Code: a script named `claude` that echoes each line it reads at its prompt.
FAKE_AGENT = """#!/bin/sh
echo ready
while IFS= read -r line; do printf 'got:[%s]\\n' "$line" | cat -v; done
"""

PERMISSION = "Claude needs your permission"


class ApprovalsTest(unittest.TestCase):
    def setUp(self):
        self.session = harness.Session()
        self.s = self.session.__enter__()
        self.addCleanup(self.session.__exit__, None, None, None)
        root = self.s.root
        self.project = os.path.join(root, "work", "api")
        os.makedirs(self.project)
        bindir = os.path.join(root, "bin")
        os.makedirs(bindir)
        self.agent = os.path.join(bindir, "claude")
        with open(self.agent, "w") as f:
            f.write(FAKE_AGENT)
        os.chmod(self.agent, 0o755)
        os.makedirs(os.path.join(self.s.home, ".claude"))
        with open(os.path.join(self.s.home, ".claude", "settings.json"), "w") as f:
            json.dump({"model": "opus", "hooks": {"Stop": [{"hooks": [{"type": "command", "command": "true"}]}]}}, f)
        conf = os.path.join(self.s.config_dir, "tovami")
        os.makedirs(conf)
        with open(os.path.join(conf, "tovami.conf"), "w") as f:
            f.write("[General]\nnotchApprovals=true\nhasCompletedOnboarding=true\n")
        self.tmux = os.path.join(root, "tmux.sock")
        self.addCleanup(lambda: self.s.run(["tmux", "-S", self.tmux, "kill-server"]))

    def tmux_run(self, *args):
        return self.s.run(["tmux", "-S", self.tmux, *args], check=True).stdout

    def capture(self, pane):
        return self.tmux_run("capture-pane", "-p", "-t", pane)

    def labels(self, item):
        try:
            return tray.labels(self.s, item)
        except Exception:  # the menu may be rebuilt while it is read
            return []

    def hook(self, payload):
        """Runs the installed hook command as Claude Code does; returns (status, output, seconds)."""
        with open(os.path.join(self.s.home, ".claude", "settings.json")) as f:
            settings = json.load(f)
        command = settings["hooks"]["Notification"][-1]["hooks"][0]["command"]
        began = time.monotonic()
        result = self.s.run(["sh", "-c", command], input=json.dumps(payload), timeout=20)
        return result.returncode, result.stdout + result.stderr, time.monotonic() - began

    def notice(self, message=PERMISSION):
        return {"session_id": "0f3c", "transcript_path": "/dev/null", "cwd": self.project, "prompt_id": "p1",
                "hook_event_name": "Notification", "message": message, "notification_type": "permission_prompt"}

    def test_hook_to_pane(self):
        tray.start_fake_host(self.s)
        self.tmux_run("-f", "/dev/null", "new-session", "-d", "-x", "100", "-y", "20", "-c", self.project,
                      self.agent)
        self.tmux_run("split-window", "-c", self.project, "cat -v")  # another pane: must stay untouched
        panes = self.tmux_run("list-panes", "-F", "#{pane_id}").split()
        agent_pane, other_pane = panes[0], panes[1]
        self.assertTrue(self.s.wait_for(lambda: "ready" in self.capture(agent_pane), 10))

        self.s.start_tovami()
        self.assertTrue(self.s.wait_for_log("approval server listening", 15), self.s.log_text())
        socket = os.path.join(self.s.env["XDG_DATA_HOME"], "Tovami", "agent.sock")
        self.assertEqual(os.stat(socket).st_mode & 0o777, 0o600)
        with open(os.path.join(self.s.home, ".claude", "settings.json")) as f:
            settings = json.load(f)
        self.assertEqual(settings["model"], "opus")
        self.assertIn("Stop", settings["hooks"])
        self.assertIn(f'S="{socket}"', settings["hooks"]["Notification"][0]["hooks"][0]["command"])
        item = tray.find_item(self.s, timeout=30)
        self.assertIsNotNone(item, self.s.log_text())
        self.assertTrue(self.s.wait_for(lambda: any(l.startswith("api \u2014") for l in self.labels(item)), 20),
                        f"the agent never showed: {self.labels(item)}\n{self.s.log_text()}")

        # A notice that asks nothing: the hook is silent and nothing waits.
        status, output, _ = self.hook(self.notice("Claude is waiting for your input"))
        self.assertEqual((status, output), (0, ""))
        time.sleep(0.5)
        self.assertNotIn("Allow", self.labels(item))

        for choice, seen in (("Allow", "got:[]"), ("Deny", "^[")):
            status, output, seconds = self.hook(self.notice())
            self.assertEqual((status, output), (0, ""), self.s.log_text())
            self.assertLess(seconds, 5)
            self.assertTrue(self.s.wait_for(lambda: "Allow" in self.labels(item), 10),
                            f"no pending approval: {self.labels(item)}\n{self.s.log_text()}")
            tray.click(self.s, item, choice)
            self.assertTrue(self.s.wait_for(lambda: seen in self.capture(agent_pane), 10),
                            f"{choice}: {self.capture(agent_pane)!r}\n{self.s.log_text()}")
            self.assertTrue(self.s.wait_for(lambda: "Allow" not in self.labels(item), 10))
        self.assertEqual(self.capture(agent_pane).count("got:[]"), 1)
        self.assertEqual(self.capture(other_pane).strip(), "")
        self.assertEqual(len(re.findall("answer sent to the agent's tmux pane", self.s.log_text())), 2)

        self.assertEqual(self.s.stop_tovami(), 0)
        self.assertFalse(os.path.exists(socket))
        # Without a server the hook still ends at once, silently.
        self.assertEqual(self.hook(self.notice())[:2], (0, ""))


if __name__ == "__main__":
    unittest.main()
