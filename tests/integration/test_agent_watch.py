"""Agent watch against real processes: a `claude` in tmux, in a folder whose name Claude Code mangles, is listed
working then quiet with its transcript's lines, beside another agent (the test looks at its own entry only)."""

import json
import os
import re
import subprocess
import time
import unittest

import harness
import tray

PROMPT = "make the flaky login test pass"
REPLY = "The login test now waits for the session cookie."


class AgentWatchTest(unittest.TestCase):
    def setUp(self):
        self.s = harness.session_for(self)
        self.project = os.path.join(self.s.root, "work", "my_app v2")
        self.agent = self.s.agent_program("claude", harness.FAKE_AGENT)
        transcripts = os.path.join(self.s.home, ".claude", "projects", re.sub(r"[^A-Za-z0-9]", "-", self.project))
        for folder in (self.project, transcripts):
            os.makedirs(folder)
        transcript = os.path.join(transcripts, "5b1f0c2e-0000-4000-8000-000000000001.jsonl")
        with open(transcript, "w") as f:
            f.write(json.dumps({"type": "user", "message": {"role": "user", "content": PROMPT}}) + "\n")
            f.write(json.dumps({"type": "assistant", "message": {
                "model": "claude-opus-4-7-20260101", "content": [{"type": "text", "text": REPLY}]}}) + "\n")
        # An old conversation: only the agent's CPU decides whether it works.
        old = time.time() - 600
        os.utime(transcript, (old, old))

    def test_agent_is_listed_working_then_quiet(self):
        # The other agent, then ours in tmux in the project, burning 12 s of CPU.
        other = subprocess.Popen([self.agent, os.path.join(self.s.root, "other.pid")], cwd=self.s.root)
        self.addCleanup(lambda: (other.kill(), other.wait()))
        pid_file = os.path.join(self.s.root, "agent.pid")
        self.s.tmux_cmd("-f", "/dev/null", "new-session", "-d", "-x", "100", "-y", "30", "-c", self.project,
                        f"{self.agent} '{pid_file}' 12")
        pid = self.s.read_pid(pid_file)
        self.assertTrue(pid, "the fake agent did not start")
        result = self.s.run([harness.BINARY, "--list-agents", "json"], timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        agents = [a for a in json.loads(result.stdout) if a["pid"] == pid]
        self.assertEqual(len(agents), 1, result.stdout)
        agent, transcript = agents[0], agents[0]["transcript"]
        self.assertEqual((agent["agent"], agent["project"], agent["projectPath"], agent["terminal"], agent["age"]),
                         ("Claude Code", "my_app v2", self.project, "tmux", "now"))
        self.assertIsInstance(agent["terminalPid"], int)
        self.assertRegex(agent["tty"], r"^pts/\d+$")
        self.assertEqual((transcript["you"], transcript["reply"], transcript["model"]), (PROMPT, REPLY, "Opus 4.7"))
        self.assertAlmostEqual(transcript["updatedAt"], time.time() - 600, delta=30)

        item = tray.start_with_item(self.s, timeout=30)
        working = "my_app v2 \u2014 Claude \u00b7 working"
        idle = "my_app v2 \u2014 Claude \u00b7 idle"
        # Our own entry in an "agents:" line, wherever the other agent stands in it.
        entry = lambda label: rf"agents:[^\n]* \[{pid}\] {re.escape(label)}(;|\n)"
        self.assertTrue(self.s.wait_for(lambda: working in tray.labels_now(self.s, item), 20),
                        f"no working row: {tray.labels_now(self.s, item)}\n{self.s.log_text()}")
        self.assertTrue(self.s.wait_for_log(entry(working), 5), self.s.log_text())
        # 12 s of CPU, then 10 quiet seconds (and up to two scan intervals).
        self.assertTrue(self.s.wait_for(lambda: idle in tray.labels_now(self.s, item), 45),
                        f"never idle: {tray.labels_now(self.s, item)}\n{self.s.log_text()}")
        self.assertTrue(self.s.wait_for_log(entry(idle), 5), self.s.log_text())
        self.assertNotIn("finished its work", self.s.log_text())  # a stretch under a minute

        # The switch stops watching and the rows go, in one layout change the host reads; turning it on again
        # brings them back.
        updates = tray.LayoutUpdates(self.s)
        tray.click(self.s, item, "Agent Watch")
        self.assertTrue(self.s.wait_for(lambda: idle not in tray.labels_now(self.s, item), 10), self.s.log_text())
        self.assertTrue(self.s.wait_for_log("agent watch stopped", 10))
        self.assertEqual(updates.count(), 1)
        tray.click(self.s, item, "Agent Watch")
        self.assertTrue(self.s.wait_for(lambda: working in tray.labels_now(self.s, item), 20), self.s.log_text())
        # An agent started now shows within two scans (found among the pids handed out since the last one).
        newcomer_file = os.path.join(self.s.root, "newcomer.pid")
        self.s.tmux_cmd("new-window", "-d", "-c", self.project, f"{self.agent} '{newcomer_file}' 0")
        newcomer = self.s.read_pid(newcomer_file)
        self.assertTrue(self.s.wait_for_log(rf"agents:[^\n]* \[{newcomer}\] ", 7), self.s.log_text())

        tray.click(self.s, item, working.replace("_", ""))  # tray.click drops mnemonic underscores
        self.assertTrue(self.s.wait_for_log(re.escape(f"jump to the terminal of Claude Code [{pid}] in tmux"), 5),
                        self.s.log_text())
        self.assertEqual(self.s.stop_tovami(), 0)
