"""The road of one approval with real parts: the installed hook command, run by `sh -c` with a Notification
payload, reaches Tovami through nc and leaves at once, silently; while the request waits, the tray's cat shows a
dot instead of its "Z"."""

import json
import os
import pathlib
import time
import unittest

import harness
import tray


class ApprovalsTest(unittest.TestCase):
    def test_hook_to_waiting_request(self):
        with harness.Session() as s:
            project = os.path.join(s.root, "work", "api")
            for folder in (project, os.path.join(s.home, ".claude")):
                os.makedirs(folder)
            settings_path = pathlib.Path(s.home, ".claude", "settings.json")
            settings_path.write_text(json.dumps({"model": "opus", "hooks": {"Stop": []}}))
            s.write_preferences("[General]\nnotchApprovals=true\nhasCompletedOnboarding=true\n")
            tray.start_fake_host(s)

            s.start_tovami()
            self.assertTrue(s.wait_for_log("approval server listening", 15), s.log_text())
            socket = os.path.join(s.env["XDG_DATA_HOME"], "Tovami", "agent.sock")
            settings = json.loads(settings_path.read_text())
            self.assertEqual((settings["model"], "Stop" in settings["hooks"]), ("opus", True))
            command = settings["hooks"]["Notification"][0]["hooks"][0]["command"]
            self.assertIn(f'S="{socket}"', command)
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

            self.assertFalse(tray.icon_has_dot(s, item))
            hook()
            self.assertTrue(s.wait_for(lambda: tray.icon_has_dot(s, item), 10), s.log_text())
            self.assertIn("Tovami \u2014 Claude Code asks for permission", tray.tooltip(s, item))
            self.assertNotIn("Allow", tray.labels(s, item))  # the island offers the answer

            self.assertEqual(s.stop_tovami(), 0)
            self.assertFalse(os.path.exists(socket))
            hook()  # without a server the hook still ends at once, silently


if __name__ == "__main__":
    unittest.main()
