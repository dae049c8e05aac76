"""During a nap the desktop's screen saver and logind see Tovami's inhibitors, with the nap's
reason, and both are given back when the nap ends."""

import os
import re
import subprocess
import unittest

import harness

REASON = "Tovami nap in progress"


class NapPowerTest(unittest.TestCase):
    def test_inhibitors_are_taken_during_the_nap_and_released_after(self):
        with harness.Session(screen="1280x800", system_bus=True) as s:
            calls = os.path.join(s.root, "power-calls.txt")
            fake = subprocess.Popen(["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "nap_fake_power.py"),
                                     calls], env=s.env)
            try:
                read = lambda: open(calls).read() if os.path.exists(calls) else ""
                self.assertTrue(s.wait_for(lambda: "ready" in read()), "the fake services did not start")
                s.start_tovami()
                self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
                # Agents working on this machine may hold their own inhibitors: only the nap's count.
                self.assertNotIn(REASON, read())

                s.xdotool("keydown", "Control_L", "keydown", "Alt_L", "key", "n", "keyup", "Alt_L",
                          "keyup", "Control_L")
                self.assertTrue(s.wait_for_log("nap began"), s.log_text())
                reason = re.escape(REASON)
                cookie = s.wait_for(lambda: re.search(rf"screensaver inhibit (\d+) Tovami\|{reason}\n", read()))
                lock = s.wait_for(lambda: re.search(rf"logind inhibit (\d+) idle\|Tovami\|{reason}\|block", read()))
                self.assertTrue(cookie and lock, read())
                text = read()
                self.assertTrue(s.wait_for(lambda: "screensaver activity" in read()), read())
                self.assertNotIn(f"logind released {lock.group(1)}\n", text)
                self.assertNotIn(f"screensaver uninhibit {cookie.group(1)}\n", text)

                s.xdotool("key", "Escape")
                self.assertTrue(s.wait_for_log("nap ended"), s.log_text())
                self.assertTrue(s.wait_for(lambda: f"logind released {lock.group(1)}\n" in read()), read())
                self.assertTrue(s.wait_for(lambda: f"screensaver uninhibit {cookie.group(1)}\n" in read()), read())
                self.assertEqual(s.stop_tovami(), 0)
            finally:
                fake.terminate()
                fake.wait(5)


if __name__ == "__main__":
    unittest.main()
