"""Approvals with the real program and the real hook client: keystrokes into the asking agent's tmux pane (and
no other), decisions from the notification, the tray rows or the island's card, and a notice no key could answer."""

import json
import os
import pathlib
import signal
import subprocess
import time
import unittest

import fake_notifications
import harness
import tray

# A stand-in for Claude Code: a script named `claude` that shows a permission prompt and echoes each line it reads;
# the line "answered" clears the prompt away, as answering in the terminal does.
FAKE_AGENT = """#!/bin/sh
prompt() { printf ' Do you want to proceed?\\n > 1. Yes\\n   2. No (esc)\\n'; }
echo ready; prompt
while IFS= read -r line; do
  if [ "$line" = answered ]; then printf '\\033[2J\\033[H> \\n'; else printf 'got:[%s]\\n' "$line" | cat -v; prompt; fi
done
"""
TERRACOTTA = (217, 119, 87)
CARD = (390, 46, 660, 160)  # x, y, width, height: the expanded pill's card on a 1440-wide screen


def island_buttons(s):
    """Where Allow and Deny are drawn: Allow is the widest terracotta row of the card, Deny the outlined chip
    just left of it. None while the card is not shown."""
    x, y, width, height = CARD
    rows = s.root_pixels(x, y, width, height)
    best = max(range(height), key=lambda r: rows[r].count(TERRACOTTA))
    lit = [c for c, pixel in enumerate(rows[best]) if pixel == TERRACOTTA]
    if len(lit) < 30:
        return None
    gap = next((c for c in range(lit[0] - 1, 0, -1) if rows[best][c] == (0, 0, 0)), 0)  # past Allow's rim
    deny_edge = next((c for c in range(gap, 0, -1) if rows[best][c] != (0, 0, 0)), None)
    if deny_edge is None:
        return None
    return (x + (lit[0] + lit[-1]) // 2, y + best), (x + deny_edge - 6, y + best)


SETTLE = 0.7  # a button takes clicks once its content has been up this long (0.5 s)


class ApprovalsTest(unittest.TestCase):
    def setUp(self):
        self.s = harness.session_for(self, screen="1440x900", openbox=True)
        self.project = os.path.join(self.s.root, "work", "api")
        os.makedirs(self.project)
        os.makedirs(os.path.join(self.s.home, ".claude"))

    def start(self, island, capabilities=("body", "actions")):
        extra = "islandOnNonNotch=true\n" if island else ""
        self.s.write_preferences("[General]\nnotchApprovals=true\n" + extra)
        fake_notifications.start(self.s, capabilities)
        self.item = tray.start_with_item(self.s, timeout=30)
        self.assertTrue(self.s.wait_for_log("approval server listening", 15), self.s.log_text())

    def ask(self, command, session_id, suggestions=True, env=None):
        return self.s.ask_permission(self.project, session_id, command, env=env, suggestions=suggestions)

    def decision(self, client):
        out, err = client.communicate(timeout=15)
        self.assertEqual((client.returncode, err), (0, b""), self.s.log_text())
        self.assertTrue(out, f"no decision printed\n{self.s.log_text()}")
        return json.loads(out)["hookSpecificOutput"]["decision"]

    def card(self, timeout=10):
        """Where the shown card's Allow and Deny are, once it shows (the test fails if it never does)."""
        buttons = self.s.wait_for(lambda: island_buttons(self.s), timeout)
        self.assertTrue(buttons, f"no approval card\n{self.s.log_text()}")
        return buttons

    def notified(self, text):
        """The last Notify call whose body holds `text`, once one arrived."""
        def find():
            hits = [c for c in fake_notifications.calls(self.s) if c["call"] == "Notify" and text in c["body"]]
            return hits[-1] if hits else None
        return self.s.wait_for(find, 15)

    def test_hook_to_island_to_pane(self):
        s, project, tmux = self.s, self.project, self.s.tmux_cmd
        tmux("-f", "/dev/null", "new-session", "-d", "-x", "100", "-y", "20", "-c", project,
             s.agent_program("claude", FAKE_AGENT))
        tmux("split-window", "-c", project, "cat -v")  # another pane: must stay untouched
        agent_pane, other_pane = tmux("list-panes", "-F", "#{pane_id}").split()
        capture = lambda pane: tmux("capture-pane", "-p", "-t", pane)  # noqa: E731
        self.assertTrue(s.wait_for(lambda: "ready" in capture(agent_pane), 10))
        self.start(island=True)
        self.assertTrue(s.wait_for_log("hook installed", 15), s.log_text())  # once the server listens
        settings = json.loads(pathlib.Path(s.home, ".claude", "settings.json").read_text())
        command = settings["hooks"]["Notification"][0]["hooks"][0]["command"]  # its text: hook_installer_test
        # The agent's shell sets another data folder than Tovami's (a line in ~/.bashrc): the hook still
        # reaches Tovami, since its command names the socket.
        agent_data = os.path.join(s.root, "agent-data")
        os.makedirs(agent_data)

        def hook():
            """Runs the hook as Claude Code does; it must end at once and silently."""
            payload = {"session_id": "0f3c", "transcript_path": "/dev/null", "cwd": project, "prompt_id": "p1",
                       "hook_event_name": "Notification", "message": "Claude needs your permission"}
            began = time.monotonic()
            result = s.run(["sh", "-c", command], input=json.dumps(payload), timeout=20,
                           env={"XDG_DATA_HOME": agent_data})
            self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""), s.log_text())
            self.assertLess(time.monotonic() - began, 5)

        self.assertTrue(s.wait_for(lambda: "api \u2014 Claude" in s.log_text(), 20), s.log_text())
        self.assertFalse(tray.icon_has_dot(s, self.item))
        for choice, seen in (("Allow", "got:[]"), ("Deny", "^[")):
            hook()
            buttons = self.card()
            self.assertTrue(tray.icon_has_dot(s, self.item))
            s.screenshot(s.shot_path("island-approval.png"))
            s.xdotool("mousemove", *buttons[choice == "Deny"], "click", 1)
            self.assertTrue(s.wait_for(lambda: seen in capture(agent_pane), 10),
                            f"{choice}: {capture(agent_pane)!r}\n{s.log_text()}")
            self.assertTrue(s.wait_for(lambda: not tray.icon_has_dot(s, self.item), 10))
            s.xdotool("mousemove", 720, 600)  # the island closes 0.5 s after the answer, once left
            self.assertTrue(s.wait_for(lambda: not island_buttons(s), 10))
        self.assertEqual(capture(agent_pane).count("got:[]"), 1)
        self.assertEqual(capture(other_pane).strip(), "")
        self.assertEqual(s.log_text().count("answer sent to the agent's tmux pane"), 2)

        # The prompt was answered in the terminal: Allow types nothing.
        tmux("send-keys", "-t", agent_pane, "C-u", "answered", "Enter")  # C-u: drop the Escape read so far
        self.assertTrue(s.wait_for(lambda: "Do you want" not in capture(agent_pane), 10))
        hook()
        s.xdotool("mousemove", *self.card()[0], "click", 1)
        self.assertTrue(s.wait_for_log("no longer shows a permission prompt", 10), s.log_text())
        self.assertNotIn("got:[]", capture(agent_pane))
        s.xdotool("mousemove", 720, 600)
        self.assertTrue(s.wait_for(lambda: not island_buttons(s), 10))

        self.assertEqual(s.stop_tovami(), 0)
        self.assertFalse(os.path.exists(os.path.join(s.env["XDG_DATA_HOME"], "Tovami", "agent.sock")))
        hook()  # without a server the hook still ends at once, silently

    def test_with_the_island_off_the_notification_and_the_tray_rows_answer(self):
        self.start(island=False)
        first = self.ask("ls -la /tmp", "s1")
        shown = self.notified("Bash ls -la /tmp")
        self.assertIsNotNone(shown, self.s.log_text())  # its texts and actions: approval_presentation_test
        self.assertEqual((shown["urgency"], shown["timeout"]), (2, 0))
        self.assertTrue(self.s.wait_for(lambda: tray.icon_has_dot(self.s, self.item), 10))
        time.sleep(SETTLE)
        fake_notifications.invoke(self.s, shown["id"], shown["actions"][0])  # "Allow"
        self.assertEqual(self.decision(first)["behavior"], "allow")

        # Two wait: the notification and the rows show the first, and how many more wait.
        second = self.ask("make test", "s2")
        self.assertIsNotNone(self.notified("Bash make test"), self.s.log_text())
        third = self.ask("rm -rf build", "s3")
        replaced = self.notified("1 more request waits")
        self.assertIsNotNone(replaced, self.s.log_text())
        self.assertEqual(replaced["replaces"], self.notified("Bash make test")["id"])  # one notification, replaced
        labels = lambda: tray.labels(self.s, self.item)
        self.assertTrue(self.s.wait_for(lambda: "1 more request waits" in labels(), 10), labels())
        self.assertEqual(labels()[:3], ["Allow: api \u2014 Bash make test",
                                        "Always allow `Read(//var/scratch/**)` for this session", "Deny"])
        tray.click(self.s, self.item, "Deny")
        denied = self.decision(second)
        self.assertEqual((denied["behavior"], denied["message"]), ("deny", "Denied from Tovami by the user."))
        self.assertTrue(third.poll() is None)  # the click answered the row it was made on only
        self.assertTrue(self.s.wait_for(lambda: labels()[0] == "Allow: api \u2014 Bash rm -rf build", 10), labels())
        tray.click(self.s, self.item, "Allow: api \u2014 Bash rm -rf build")
        self.assertEqual(self.decision(third)["behavior"], "allow")

        # Nothing waits: the notification is closed, the rows and the dot are gone.
        last = self.notified("rm -rf build")["id"]
        self.assertTrue(self.s.wait_for(lambda: {"call": "CloseNotification", "id": last}
                                        in fake_notifications.calls(self.s), 10), fake_notifications.calls(self.s))
        self.assertTrue(self.s.wait_for(lambda: not tray.icon_has_dot(self.s, self.item), 10))
        self.assertEqual(labels()[0], "Start Nap")
        self.assertEqual(self.s.stop_tovami(), 0)

    def test_with_the_island_on_a_click_answers_the_card_it_was_made_on(self):
        self.start(island=True)
        first = self.ask("ls -la /tmp", "s1", suggestions=False)
        buttons = self.card(15)
        second = self.ask("make test", "s2", suggestions=False)
        self.assertTrue(self.s.wait_for(lambda: self.s.log_text().count("approval asked") == 2, 10), self.s.log_text())
        time.sleep(SETTLE)
        self.s.screenshot(self.s.shot_path("island-approval-queue.png"))
        self.assertEqual(fake_notifications.calls(self.s), [])  # the island shows it: no notification
        self.s.xdotool("mousemove", *buttons[0], "click", 1)
        self.assertEqual(self.decision(first)["behavior"], "allow")
        self.assertIsNone(second.poll())  # the card that arrived since waits for its own answer
        time.sleep(SETTLE)
        self.s.xdotool("mousemove", *self.card()[1], "click", 1)
        self.assertEqual(self.decision(second)["behavior"], "deny")

        # A stopped desktop (SIGSTOP) sends no keep-alive: its waiting client ends without a verdict once it
        # has heard nothing for its silence bound (45 s, cut to 3 s by the test knob), and once the desktop
        # goes on, that card goes.
        stopped = self.ask("make deploy", "s3", suggestions=False, env={"TOVAMI_HOOK_SILENCE_SECONDS": "3"})
        self.assertTrue(self.s.wait_for(lambda: self.s.log_text().count("approval asked") == 3, 10), self.s.log_text())
        desktop = self.s.tovami.pid  # the entry executes the desktop program in its place
        os.kill(desktop, signal.SIGSTOP)
        try:
            out, err = stopped.communicate(timeout=20)
        finally:
            os.kill(desktop, signal.SIGCONT)
        self.assertEqual((stopped.returncode, out, err), (0, b"", b""))
        self.assertTrue(self.s.wait_for_log("approval withdrawn: its client left", 10), self.s.log_text())
        self.assertEqual(self.s.stop_tovami(), 0)

    def test_a_notice_no_key_could_answer_asks_for_the_terminal(self):
        self.start(island=False, capabilities=("body",))
        agent = self.s.agent_program()  # runs in no terminal: no key can reach it
        sleeper = subprocess.Popen([agent, "600"], cwd=self.project)
        self.addCleanup(lambda: (sleeper.kill(), sleeper.wait()))
        self.assertTrue(self.s.wait_for(lambda: "api \u2014 Claude" in self.s.log_text(), 20), self.s.log_text())
        notice = {"session_id": "n1", "cwd": self.project, "hook_event_name": "Notification",
                  "message": "Claude needs your permission to use Bash"}
        result = self.s.run([harness.BINARY, "--hook", "notification"], input=json.dumps(notice), timeout=20)
        self.assertEqual((result.returncode, result.stdout), (0, ""))
        # No window shows its session, so no key could be typed: the card offers no answer at all.
        shown = self.notified("Claude needs your permission")
        self.assertIsNotNone(shown, self.s.log_text())
        self.assertEqual(shown["actions"], [])
        self.assertIn("Answer in the terminal.", shown["body"])
        self.assertEqual(tray.labels(self.s, self.item)[0],
                         "api \u2014 Claude needs your permission to use Bash: answer in the terminal")
