"""The real program in a private desktop: it starts as a tray item, seeds its preferences, opens its
settings window from the tray menu, and ends cleanly with its preferences on disk."""

import configparser
import os
import signal
import unittest

import harness
import tray


def read_preferences(session):
    path = os.path.join(session.config_dir, "tovami", "tovami.conf")
    parser = configparser.ConfigParser()
    parser.optionxform = str
    parser.read(path)
    return dict(parser["General"]) if parser.has_section("General") else {}


class AppLifecycleTest(unittest.TestCase):
    def test_starts_seeds_opens_settings_and_ends_cleanly(self):
        with harness.Session() as s:
            tray.start_fake_host(s)
            s.start_tovami()
            item = tray.find_item(s)
            self.assertIsNotNone(item, "the tray item never registered:\n" + s.log_text())
            self.assertIn("Settings\u2026", tray.labels(s, item))
            self.assertIn("Quit Tovami", tray.labels(s, item))

            prefs = read_preferences(s)
            for key in ("agentWatchEnabled", "agentKeepAwake", "agentShowSnippets", "agentOpensIsland",
                        "agentQuietSound", "usageTracking"):
                self.assertEqual(prefs.get(key), "true", key)
            self.assertEqual(prefs.get("islandEnabled"), "false")  # no notch on these displays
            self.assertNotIn("Tovami Settings", s.window_names())  # no main window at launch

            tray.click(s, item, "Settings\u2026")
            self.assertTrue(s.wait_for(lambda: "Tovami Settings" in s.window_names()),
                            "the settings window did not open")
            shot = s.screenshot(os.path.join(s.root, "settings.png"))
            self.assertTrue(os.path.getsize(shot) > 0)

            self.assertEqual(s.stop_tovami(), 0)
            self.assertIn("tovami ended", s.log_text())

    def test_relaunch_keeps_a_switch_the_user_turned_off(self):
        with harness.Session() as s:
            path = os.path.join(s.config_dir, "tovami")
            os.makedirs(path)
            with open(os.path.join(path, "tovami.conf"), "w") as f:
                f.write("[General]\nagentWatchEnabled=false\n")
            s.start_tovami()
            self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
            s.tovami.send_signal(signal.SIGINT)
            s.tovami.wait(10)
            self.assertEqual(s.tovami.returncode, 0)
            s.tovami = None
            prefs = read_preferences(s)
            self.assertEqual(prefs.get("agentWatchEnabled"), "false")
            self.assertEqual(prefs.get("usageTracking"), "true")

    def test_malformed_preferences_keep_readable_values(self):
        with harness.Session() as s:
            path = os.path.join(s.config_dir, "tovami")
            os.makedirs(path)
            conf = os.path.join(path, "tovami.conf")
            with open(conf, "w") as f:
                f.write("[General]\nagentKeepAwake=false\n\x00\x01 this is not a setting\n[unclosed\n")
            s.start_tovami()
            self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
            self.assertEqual(s.stop_tovami(), 0)
            self.assertIn("malformed", s.log_text())
            self.assertTrue(os.path.exists(conf + ".malformed"))
            self.assertEqual(read_preferences(s).get("agentKeepAwake"), "false")


if __name__ == "__main__":
    unittest.main()
