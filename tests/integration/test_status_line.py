"""Claude Code's status line feed: the wrapped command prints the user's line unchanged (Tovami running or not) and
feeds the meter and the session's row within a second; the presence file goes while the screen is locked or napping."""

import json
import os
import pathlib
import subprocess
import time
import unittest

import harness

FIXTURE = pathlib.Path(harness.HERE, "../fixtures/claude-code/status-line/pro-with-rate-limits.json")
USER_LINE = "printf 'mine %s' \"$(wc -c)\"; echo ' it'\\''s'; exit 3"


class StatusLineTest(unittest.TestCase):
    def test_the_feed_reaches_the_meter_and_the_row_the_users_line_passes_and_presence_follows_the_desk(self):
        s = harness.session_for(self)
        settings = pathlib.Path(s.home, ".claude", "settings.json")
        settings.parent.mkdir(parents=True)
        original = json.dumps({"statusLine": {"type": "command", "command": USER_LINE, "padding": 1}}, indent=4)
        settings.write_text(original)
        s.write_preferences("[General]\nstatusLineFeed=true\nusageTracking=true\nphonePushWhileAway=true\n")
        payload = json.loads(FIXTURE.read_text())
        now = time.time()
        payload["rate_limits"]["five_hour"]["resets_at"] = int(now + 3600)
        payload["rate_limits"]["seven_day"]["resets_at"] = int(now + 86400)
        pid = s.start_agent()
        s.claude_status(pid, payload["session_id"], "idle", cwd=os.path.join(s.root, "project"))
        s.start_and_wait()
        entry = s.wait_for(lambda: (json.loads(settings.read_text()).get("statusLine") or {}).get("command", "")
                           .endswith("# tovami-status-line") and json.loads(settings.read_text())["statusLine"])
        self.assertTrue(entry, settings.read_text())  # the user's other keys stay: status_line_test
        self.assertTrue(s.wait_for_log("approval server listening"))

        text = json.dumps(payload)
        expected = subprocess.run(["/bin/sh", "-c", USER_LINE], input=text, capture_output=True, text=True)
        wrapped = subprocess.run(["/bin/sh", "-c", entry["command"]], input=text, capture_output=True, text=True,
                                 env=s.env)
        fed = time.monotonic()
        self.assertEqual((wrapped.stdout, wrapped.stderr, wrapped.returncode),
                         (expected.stdout, expected.stderr, expected.returncode))
        self.assertEqual(expected.stdout, f"mine {len(text.encode())} it's\n")
        self.assertTrue(s.wait_for_log("figures from Claude Code's status line", timeout=1), s.log_text())

        def row():
            listed = s.run([harness.BINARY, "--list-agents", "json"]).stdout
            rows = [r for r in json.loads(listed) if r["pid"] == pid]
            return rows and rows[0]["statusLine"]
        details = s.wait_for(row, timeout=1)
        self.assertLess(time.monotonic() - fed, 1.5)
        self.assertEqual((details["model"], details["contextPercent"], details["costUsd"], details["branch"]),
                         ("Opus 4.6", 43, 1.2034, "feature-albums"))

        # The presence file named in settings.json's env goes while the screen is locked and during a nap.
        named = s.wait_for(lambda: json.loads(settings.read_text()).get("env", {}).get("CLAUDE_CLIENT_PRESENCE_FILE"))
        self.assertTrue(named, s.log_text())
        present = lambda: os.path.exists(named)  # noqa: E731
        self.assertTrue(s.wait_for(present), named)

        def saver(active):
            s.run(["dbus-send", "--session", "--type=signal", "/org/freedesktop/ScreenSaver",
                   "org.freedesktop.ScreenSaver.ActiveChanged", f"boolean:{'true' if active else 'false'}"], check=True)
        saver(True)
        self.assertTrue(s.wait_for(lambda: not present()), "still there while the screen is locked")
        saver(False)
        self.assertTrue(s.wait_for(present))
        s.chord("n")
        self.assertTrue(s.wait_for(lambda: not present()), "still there during a nap")
        s.xdotool("key", "Escape")
        self.assertTrue(s.wait_for(present), "not back after the nap")

        s.stop_tovami()
        self.assertFalse(present())  # without Tovami nobody follows the desk
        start = time.monotonic()
        stopped = subprocess.run(["/bin/sh", "-c", entry["command"]], input=text, capture_output=True, text=True,
                                 env=s.env)
        self.assertLess(time.monotonic() - start, 0.5)
        self.assertEqual((stopped.stdout, stopped.stderr, stopped.returncode),
                         (expected.stdout, expected.stderr, expected.returncode))
