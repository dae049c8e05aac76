"""Each agent row tells its own session's story: processes named like Claude Code, Codex (beside its shared
app-server) and Gemini CLI, two to a folder, each bound to its own log whichever was prompted last, in the one-shot
listing and in the running watcher. Other agents may run on the machine: the test looks at its own pids only."""

import datetime
import json
import os
import pathlib
import subprocess
import time
import unittest

import harness

# A Codex stand-in: writes its pid to argv[1]. With argv[2] ("child" or "orphan") it first starts the shared
# app-server as Codex does: without a terminal, its child or adopted by init, holding open every file listed in
# argv[3] (the list may grow), its pid written to argv[3] + ".pid".
CODEX = """#!/usr/bin/python3
import os, sys, time
if sys.argv[1] == "app-server":
    with open(sys.argv[3] + ".pid", "w") as f:
        f.write(str(os.getpid()))
    held = {}
    while True:
        with open(sys.argv[3]) as listing:
            for path in listing.read().split():
                held.setdefault(path, open(path))
        time.sleep(0.05)
if len(sys.argv) > 2:
    child = os.fork()
    if child == 0:
        os.setsid()
        if sys.argv[2] == "orphan" and os.fork() != 0:
            os._exit(0)
        null = os.open("/dev/null", os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(null, fd)
        os.execv(sys.argv[0], [sys.argv[0], "app-server", "--listen", sys.argv[3]])
    if sys.argv[2] == "orphan":
        os.waitpid(child, 0)
with open(sys.argv[1], "w") as f:
    f.write(str(os.getpid()))
while True:
    time.sleep(60)
"""


def line(record):
    return json.dumps(record) + "\n"


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    pathlib.Path(path).write_text(text)


def iso(seconds):
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3] + "Z"


class AgentSessionsTest(unittest.TestCase):
    def setUp(self):
        self.s = harness.session_for(self)
        self.project = os.path.join(self.s.root, "work", "api")
        os.makedirs(self.project)
        self.listing = os.path.join(self.s.root, "held.txt")
        pathlib.Path(self.listing).write_text("")
        write(os.path.join(self.s.home, ".gemini", "projects.json"), json.dumps({"projects": {self.project: "api"}}))

    def start(self, name, *args):
        """The stand-in `name` in a tmux window of its own in the project; its pid, once it runs."""
        self.s.agent_program(name, CODEX if name == "codex" else harness.FAKE_AGENT)
        pid_file = os.path.join(self.s.root, f"{name}-{time.monotonic_ns()}.pid")
        self.s.start_agent(name, self.project, (pid_file, *args))
        pid = self.s.read_pid(pid_file)
        self.assertTrue(pid, f"{name} did not start")
        return pid

    def list_agents(self):
        """--list-agents json as rows by pid (the one-shot listing must succeed), and as printed."""
        result = self.s.run([harness.BINARY, "--list-agents", "json"], timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        return {a["pid"]: a for a in json.loads(result.stdout)}, result.stdout

    def claude_session(self, pid, session_id, prompt, status, **extra):
        folder = os.path.join(self.s.home, ".claude", "projects", self.project.replace("/", "-"))
        write(os.path.join(folder, session_id + ".jsonl"),
              line({"type": "user", "message": {"role": "user", "content": prompt}}))
        self.s.claude_status(pid, session_id, status, cwd=self.project, **extra)

    def test_each_claude_process_shows_its_own_session(self):
        # Codex's and Gemini CLI's: the tests below (their logs' forms: agent_logs_test).
        first, second = self.start("claude"), self.start("claude")
        self.claude_session(first, "aaaa-1", "first session's prompt", "idle", name="named-by-status")
        self.claude_session(second, "bbbb-2", "second session's prompt", "waiting", waitingFor="permission prompt")
        rows, listing = self.list_agents()
        for pid in (first, second):
            self.assertIn(pid, rows, listing)

        def story(pid):
            t = rows[pid]["transcript"] or {}
            return (rows[pid]["agent"], t.get("you"), t.get("reply"), t.get("model"), rows[pid]["session"])

        self.assertEqual(story(first), ("Claude Code", "first session's prompt", None, None,
                                        {"id": "aaaa-1", "name": "named-by-status", "waitingFor": None}))
        self.assertEqual(story(second), ("Claude Code", "second session's prompt", None, None,
                                         {"id": "bbbb-2", "name": "api", "waitingFor": "permission prompt"}))
        text = self.s.run([harness.BINARY, "--list-agents", "text"], timeout=30).stdout
        self.assertIn("    session: named-by-status\n", text)
        self.assertIn("    needs you: permission prompt\n", text)

    def start_pair(self, name, *helper):
        """Two sessions of one agent in one folder: A, then B a moment later, each with the time its session
        starts (just after its process)."""
        first = self.start(name, *helper)
        if helper:  # the helper outlives its agent when adopted: ended here
            helper_pid = int(harness.wait_for(lambda: pathlib.Path(self.listing + ".pid").read_text().strip()
                                              if os.path.exists(self.listing + ".pid") else None))
            os.remove(self.listing + ".pid")
            self.addCleanup(lambda: subprocess.run(["kill", str(helper_pid)], capture_output=True))
        first_session = time.time()
        time.sleep(1.5)
        second = self.start(name)
        return (first, first_session), (second, time.time())

    def codex_session(self, pid_and_start, session_id):
        start = pid_and_start[1]
        folder = datetime.datetime.now(datetime.timezone.utc).strftime("%Y/%m/%d")
        path = os.path.join(self.s.home, ".codex", "sessions", folder, f"rollout-{session_id}.jsonl")
        write(path, line({"timestamp": iso(start), "type": "session_meta",
                          "payload": {"id": session_id, "timestamp": iso(start), "cwd": self.project}}) +
              line({"type": "response_item", "payload": {"type": "message", "role": "user", "content": [
                  {"type": "input_text", "text": "<environment_context>"},
                  {"type": "input_text", "text": session_id + " prompt"}]}}) +
              line({"type": "response_item", "payload": {"type": "message", "role": "assistant", "content": [
                  {"type": "output_text", "text": session_id + " reply"}]}}))
        with open(self.listing, "a") as f:
            f.write(path + "\n")
        time.sleep(0.3)  # the helper opens it, and the next one is written later

    def gemini_session(self, pid_and_start, session_id):
        write(os.path.join(self.s.home, ".gemini", "tmp", "api", "chats", f"session-{session_id}.jsonl"),
              line({"sessionId": session_id, "projectHash": "h", "startTime": iso(pid_and_start[1]),
                    "kind": "main"}) +
              line({"id": "u", "type": "user", "content": [{"text": session_id + " prompt"}]}) +
              line({"id": "g", "type": "gemini", "content": session_id + " reply", "model": "gemini-3-pro"}))
        time.sleep(0.3)

    def assert_own_sessions(self, *sessions):
        rows, listing = self.list_agents()
        for pid, session_id in sessions:
            self.assertIn(pid, rows, listing)
            t = rows[pid]["transcript"] or {}
            self.assertEqual((t.get("you"), t.get("reply"), rows[pid]["session"]["id"]),
                             (session_id + " prompt", session_id + " reply", session_id), listing)

    def test_each_session_keeps_its_own_log_whichever_was_prompted_last(self):
        log_of = {"codex": self.codex_session, "gemini": self.gemini_session}
        cases = [("codex", ("child", self.listing), True), ("codex", ("orphan", self.listing), False),
                 ("codex", ("child", self.listing), False), ("gemini", (), True), ("gemini", (), False)]
        for n, (name, helper, b_first) in enumerate(cases):
            with self.subTest(agent=name, helper=helper[:1], b_first=b_first):
                a, b = self.start_pair(name, *helper)
                pairs = [(b, f"b{n}"), (a, f"a{n}")]
                for who, session_id in pairs if b_first else reversed(pairs):
                    log_of[name](who, session_id)
                self.assert_own_sessions((a[0], f"a{n}"), (b[0], f"b{n}"))

    def test_the_watcher_keeps_each_row_on_its_own_session(self):
        codex_a, codex_b = self.start_pair("codex", "child", self.listing)
        gemini_a, gemini_b = self.start_pair("gemini")
        self.s.start_tovami()
        follows = lambda pid, session: rf"agent \[{pid}\] follows session {session}\n"
        # B prompted first: its log alone is there, and it is B's.
        self.codex_session(codex_b, "codex-b")
        self.gemini_session(gemini_a, "gemini-a")
        self.assertTrue(self.s.wait_for_log(follows(codex_b[0], "codex-b"), 20), self.s.log_text())
        self.assertTrue(self.s.wait_for_log(follows(gemini_a[0], "gemini-a"), 20), self.s.log_text())
        self.codex_session(codex_a, "codex-a")
        self.gemini_session(gemini_b, "gemini-b")
        self.assertTrue(self.s.wait_for_log(follows(codex_a[0], "codex-a"), 20), self.s.log_text())
        self.assertTrue(self.s.wait_for_log(follows(gemini_b[0], "gemini-b"), 20), self.s.log_text())
        time.sleep(16)  # past the time a binding is looked for again
        text = self.s.log_text()
        for pid, other in ((codex_a[0], "codex-b"), (codex_b[0], "codex-a"), (gemini_a[0], "gemini-b"),
                           (gemini_b[0], "gemini-a")):
            self.assertNotRegex(text, follows(pid, other))
        self.assert_own_sessions((codex_a[0], "codex-a"), (codex_b[0], "codex-b"), (gemini_a[0], "gemini-a"),
                                 (gemini_b[0], "gemini-b"))
        self.assertEqual(self.s.stop_tovami(), 0)
