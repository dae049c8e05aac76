"""The keystroke road of an approval with real parts (the decision road: test_approval_answers.py). The
installed Notification hook command, run by `sh -c`, leaves at once, silently; the island opens with the request
and the tray's cat shows a dot; Allow puts Return and Deny puts Escape into the tmux pane of the asking agent while
it shows its prompt, and into no other pane; a prompt already answered gets nothing; then the island closes and
the dot goes."""

import json
import os
import pathlib
import time
import unittest

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


class ApprovalsTest(unittest.TestCase):
    def test_hook_to_island_to_pane(self):
        with harness.Session(screen="1440x900", openbox=True) as s:
            project, agent = os.path.join(s.root, "work", "api"), s.agent_program("claude", FAKE_AGENT)
            for folder in (project, os.path.join(s.home, ".claude")):
                os.makedirs(folder)
            settings_path = pathlib.Path(s.home, ".claude", "settings.json")
            settings_path.write_text(json.dumps({"model": "opus", "hooks": {"Stop": []}}))
            s.write_preferences("[General]\nnotchApprovals=true\nislandOnNonNotch=true\n")
            tmux = s.tmux_cmd
            tray.start_fake_host(s)
            tmux("-f", "/dev/null", "new-session", "-d", "-x", "100", "-y", "20", "-c", project, agent)
            tmux("split-window", "-c", project, "cat -v")  # another pane: must stay untouched
            agent_pane, other_pane = tmux("list-panes", "-F", "#{pane_id}").split()
            capture = lambda pane: tmux("capture-pane", "-p", "-t", pane)
            self.assertTrue(s.wait_for(lambda: "ready" in capture(agent_pane), 10))

            s.start_tovami()
            self.assertTrue(s.wait_for_log("approval server listening", 15), s.log_text())
            self.assertTrue(s.wait_for_log("hook installed", 15), s.log_text())  # once the server listens
            socket = os.path.join(s.env["XDG_DATA_HOME"], "Tovami", "agent.sock")
            settings = json.loads(settings_path.read_text())
            self.assertEqual((settings["model"], "Stop" in settings["hooks"]), ("opus", True))
            command = settings["hooks"]["Notification"][0]["hooks"][0]["command"]
            entry = os.path.realpath(harness.BINARY)
            self.assertEqual(command, f"'{entry}' --hook notification # tovami-notch-approvals")
            item = tray.find_item(s, timeout=30)
            self.assertIsNotNone(item, s.log_text())

            def hook():
                """Runs the hook as Claude Code does; it must end at once and silently."""
                payload = {"session_id": "0f3c", "transcript_path": "/dev/null", "cwd": project, "prompt_id": "p1",
                           "hook_event_name": "Notification", "message": "Claude needs your permission"}
                began = time.monotonic()
                result = s.run(["sh", "-c", command], input=json.dumps(payload), timeout=20)
                self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""), s.log_text())
                self.assertLess(time.monotonic() - began, 5)

            self.assertTrue(s.wait_for(lambda: "api \u2014 Claude" in s.log_text(), 20), s.log_text())
            self.assertFalse(tray.icon_has_dot(s, item))
            for choice, seen in (("Allow", "got:[]"), ("Deny", "^[")):
                hook()
                buttons = s.wait_for(lambda: island_buttons(s), 10)
                self.assertTrue(buttons, f"no approval card\n{s.log_text()}")
                self.assertTrue(tray.icon_has_dot(s, item))
                s.screenshot(s.shot_path("island-approval.png"))
                s.xdotool("mousemove", *buttons[choice == "Deny"], "click", 1)
                self.assertTrue(s.wait_for(lambda: seen in capture(agent_pane), 10),
                                f"{choice}: {capture(agent_pane)!r}\n{s.log_text()}")
                self.assertTrue(s.wait_for(lambda: not tray.icon_has_dot(s, item), 10))
                s.xdotool("mousemove", 720, 600)  # the island closes 0.5 s after the answer, once left
                self.assertTrue(s.wait_for(lambda: not island_buttons(s), 10))
            self.assertEqual(capture(agent_pane).count("got:[]"), 1)
            self.assertEqual(capture(other_pane).strip(), "")
            self.assertEqual(s.log_text().count("answer sent to the agent's tmux pane"), 2)

            # The prompt was answered in the terminal: Allow types nothing.
            tmux("send-keys", "-t", agent_pane, "C-u", "answered", "Enter")  # C-u: drop the Escape read so far
            self.assertTrue(s.wait_for(lambda: "Do you want" not in capture(agent_pane), 10))
            hook()
            buttons = s.wait_for(lambda: island_buttons(s), 10)
            self.assertTrue(buttons, f"no approval card\n{s.log_text()}")
            s.xdotool("mousemove", *buttons[0], "click", 1)
            self.assertTrue(s.wait_for_log("no longer shows a permission prompt", 10), s.log_text())
            self.assertNotIn("got:[]", capture(agent_pane))
            s.xdotool("mousemove", 720, 600)
            self.assertTrue(s.wait_for(lambda: not island_buttons(s), 10))

            self.assertEqual(s.stop_tovami(), 0)
            self.assertFalse(os.path.exists(socket))
            hook()  # without a server the hook still ends at once, silently


if __name__ == "__main__":
    unittest.main()
