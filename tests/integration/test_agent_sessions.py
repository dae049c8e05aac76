"""Each agent row tells its own session's story, with real processes named like the agents: two
Claude Code sessions in one folder (each with its live status file), a Codex and a Gemini CLI, their
logs under the temporary HOME. --list-agents json must bind each process to its own log. Other
agents may run on the machine: the test looks at its own pids only."""

import datetime
import json
import os
import subprocess
import time
import unittest

import harness

def line(record):
    return json.dumps(record) + "\n"


class AgentSessionsTest(unittest.TestCase):
    def setUp(self):
        self.s = harness.session_for(self)
        self.project = os.path.join(self.s.root, "work", "api")
        os.makedirs(self.project)

    def start(self, name):
        path = self.s.agent_program(name, harness.FAKE_AGENT)
        pid_file = os.path.join(self.s.root, f"{name}-{time.monotonic_ns()}.pid")
        proc = subprocess.Popen([path, pid_file], cwd=self.project)
        self.addCleanup(lambda: (proc.kill(), proc.wait()))
        self.assertEqual(self.s.read_pid(pid_file), proc.pid)
        return proc.pid

    def write(self, path, text):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)

    def claude_session(self, pid, session_id, prompt, status, **extra):
        folder = os.path.join(self.s.home, ".claude", "projects", self.project.replace("/", "-"))
        self.write(os.path.join(folder, session_id + ".jsonl"),
                   line({"type": "user", "message": {"role": "user", "content": prompt}}))
        self.s.claude_status(pid, session_id, status, cwd=self.project, **extra)

    def test_each_process_shows_its_own_session(self):
        first, second = self.start("claude"), self.start("claude")
        self.claude_session(first, "aaaa-1", "first session's prompt", "idle", name="named-by-status")
        self.claude_session(second, "bbbb-2", "second session's prompt", "waiting", waitingFor="permission prompt")

        codex = self.start("codex")
        now = datetime.datetime.now(datetime.timezone.utc)
        rollout = os.path.join(self.s.home, ".codex", "sessions", now.strftime("%Y/%m/%d"),
                               "rollout-" + now.strftime("%Y-%m-%dT%H-%M-%S") + "-cccc-3.jsonl")
        stamp = now.strftime("%Y-%m-%dT%H:%M:%S.000Z")
        self.write(rollout,
                   line({"timestamp": stamp, "type": "session_meta",
                         "payload": {"id": "cccc-3", "timestamp": stamp, "cwd": self.project}}) +
                   line({"type": "turn_context", "payload": {"model": "gpt-6.2-sol"}}) +
                   line({"type": "event_msg", "payload": {"type": "user_message", "message": "codex prompt"}}) +
                   line({"type": "event_msg", "payload": {"type": "agent_message", "message": "codex reply"}}))

        gemini = self.start("gemini")
        self.write(os.path.join(self.s.home, ".gemini", "projects.json"),
                   json.dumps({"projects": {self.project: "api"}}))
        self.write(os.path.join(self.s.home, ".gemini", "tmp", "api", "chats", "session-1.jsonl"),
                   line({"sessionId": "dddd-4", "kind": "main"}) +
                   line({"type": "user", "content": [{"text": "gemini prompt"}]}) +
                   line({"type": "gemini", "content": "gemini reply", "model": "gemini-3-pro"}))

        result = self.s.run([harness.BINARY, "--list-agents", "json"], timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        rows = {a["pid"]: a for a in json.loads(result.stdout)}
        for pid in (first, second, codex, gemini):
            self.assertIn(pid, rows, result.stdout)

        def story(pid):
            t = rows[pid]["transcript"] or {}
            return (rows[pid]["agent"], t.get("you"), t.get("reply"), t.get("model"), rows[pid]["session"])

        self.assertEqual(story(first), ("Claude Code", "first session's prompt", None, None,
                                        {"id": "aaaa-1", "name": "named-by-status", "waitingFor": None}))
        self.assertEqual(story(second), ("Claude Code", "second session's prompt", None, None,
                                         {"id": "bbbb-2", "name": "api", "waitingFor": "permission prompt"}))
        self.assertEqual(story(codex), ("Codex", "codex prompt", "codex reply", "gpt-6.2-sol",
                                        {"id": "cccc-3", "name": "api", "waitingFor": None}))
        self.assertEqual(story(gemini), ("Gemini CLI", "gemini prompt", "gemini reply", "gemini-3-pro",
                                         {"id": None, "name": "api", "waitingFor": None}))
        text = self.s.run([harness.BINARY, "--list-agents", "text"], timeout=30).stdout
        self.assertIn("    session: named-by-status\n", text)
        self.assertIn("    needs you: permission prompt\n", text)


if __name__ == "__main__":
    unittest.main()
