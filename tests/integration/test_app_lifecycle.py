"""The real program in a private desktop: start, seeded preferences, settings window, single instance, orderly
ends (signals, a lost display), and what runs in a Wayland session or with no display at all."""

import os
import signal
import subprocess
import time
import unittest

import harness
import tray

SEEDED = ("agentWatchEnabled", "agentKeepAwake", "agentShowSnippets", "agentOpensIsland", "agentQuietSound",
          "usageTracking")


class AppLifecycleTest(unittest.TestCase):
    def assert_second_start_refused(self, s, env=None):
        second = s.run([harness.BINARY], env=env)
        self.assertEqual((second.returncode, second.stdout), (0, "Tovami is already running\n"), second.stderr)

    def test_starts_seeds_opens_settings_stays_single_and_ends_cleanly(self):
        with harness.Session() as s:
            s.start_tovami()  # before the panel, as an early login item may
            self.assertTrue(s.wait_for_log("no system tray yet"), s.log_text())
            tray.start_fake_host(s)
            item = tray.find_item(s, timeout=3)  # well before the next look: the host's arrival is followed
            self.assertIsNotNone(item, "the tray item never registered:\n" + s.log_text())
            self.assertEqual(tray.tooltip(s, item), "Tovami")  # an X11 session has nothing to warn of
            prefs = s.preferences()
            self.assertEqual({key: prefs.get(key) for key in SEEDED}, dict.fromkeys(SEEDED, "true"))
            self.assertEqual(prefs.get("islandEnabled"), "false")  # no notch on these displays
            self.assertNotIn("Tovami Settings", s.window_names())  # no main window at launch
            self.assert_second_start_refused(s)
            tray.click(s, item, "Settings\u2026")
            self.assertTrue(s.wait_for(lambda: "Tovami Settings" in s.window_names()), "no settings window")
            mapped = lambda: s.xdotool("search", "--onlyvisible", "--name", "^Tovami Settings$").stdout.split()
            shown = s.wait_for(mapped)
            s.xdotool("key", "Escape")  # closing hides it; the tray shows the same window again
            self.assertTrue(s.wait_for(lambda: not mapped()), "Escape left it open")
            tray.click(s, item, "Settings\u2026")
            self.assertTrue(s.wait_for(lambda: mapped() == shown), "not the same window again")
            self.assertEqual(s.stop_tovami(), 0)  # its orderly end: the next test

    def test_every_ending_signal_runs_the_orderly_end_and_a_closed_log_pipe_does_not_kill(self):
        with harness.Session() as s:
            s.write_preferences("[General]\nagentWatchEnabled=false\n")
            for started, sig in enumerate((signal.SIGHUP, signal.SIGQUIT, signal.SIGINT, signal.SIGTERM), 1):
                with self.subTest(sig.name):
                    if sig == signal.SIGTERM:  # read up to the start, then nobody reads the log any more
                        proc = s.start_tovami(output=subprocess.PIPE)
                        while b"tovami started" not in proc.stdout.readline():
                            pass
                        proc.stdout.close()
                    else:
                        s.start_tovami()
                        self.assertTrue(s.wait_for(lambda: s.log_text().count("tovami started") == started))
                    self.assertEqual(s.stop_tovami(sig=sig), 0, s.log_text())
                    prefs = s.preferences()
                    self.assertEqual((prefs.get("agentWatchEnabled"), prefs.get("usageTracking")), ("false", "true"))
            self.assertEqual(s.log_text().count("tovami ended"), 3)

    def test_a_silent_accessibility_bus_or_a_fifo_for_the_login_file_holds_up_neither_start_nor_end(self):
        with harness.Session() as s:
            s.start_helper("fake_silent_a11y_bus.py")  # owns org.a11y.Bus, never answers
            claude = os.path.join(s.home, ".claude")
            os.makedirs(claude)
            os.mkfifo(os.path.join(claude, ".credentials.json"))  # nobody ever writes to it
            s.write_preferences("[General]\nusageTracking=true\nnotchApprovals=true\nagentWatchEnabled=false\n")
            tray.start_fake_host(s)
            began = time.monotonic()
            s.start_and_wait(timeout=8)
            self.assertLess(time.monotonic() - began, 5, s.log_text())
            self.assertIn("accessibility bus (org.a11y.Bus) does not answer", s.log_text())
            self.assertIsNotNone(tray.find_item(s, timeout=5), s.log_text())
            time.sleep(2)  # the first usage fetch (after 1 s) reads the login
            began = time.monotonic()
            self.assertEqual(s.stop_tovami(timeout=20), 0, s.log_text())
            self.assertLess(time.monotonic() - began, 8, s.log_text())

    def test_losing_the_display_with_an_agent_listed_and_the_password_card_open_ends_cleanly(self):
        with harness.Session() as s:
            pid = s.start_agent()
            s.start_tovami(env=s.password_env())
            self.assertTrue(s.wait_for_log(rf"agents:.*\[{pid}\]", 30), s.log_text())
            s.chord("n")
            self.assertTrue(s.wait_for_log("nap began"), s.log_text())
            s.xdotool("key", "space")
            self.assertTrue(s.wait_for_log("asking for the password"), s.log_text())
            s.kill_display()
            self.assertGreaterEqual(s.tovami.wait(15), 0, "ended by a signal:\n" + s.log_text())
            self.assertIn("the display connection is gone", s.log_text())
            self.assertIn("nap ended: Napped under a minute", s.log_text())

    def test_a_wayland_session_says_what_works_and_runs_without_any_display(self):
        with harness.Session() as s:
            item = tray.start_with_item(s, env=harness.WAYLAND)
            self.assertIn("Wayland session: the tray, agent watch and keep-awake work", tray.tooltip(s, item))
            self.assertEqual(s.log_text().count("Wayland session:"), 1, s.log_text())
            self.assertEqual(s.stop_tovami(), 0)
            # No X display and no session bus: agent watch still runs, and the lock keeps one instance.
            pid = s.start_agent()
            bare = dict(harness.WAYLAND, DISPLAY="", **harness.NO_BUS)
            s.start_tovami(env=bare)
            self.assertTrue(s.wait_for_log(rf"agents:.*\[{pid}\]", 30), s.log_text())
            self.assertIn("No display: agent watch and keep-awake run without a tray", s.log_text())
            self.assert_second_start_refused(s, bare)
            self.assertEqual(s.stop_tovami(), 0)

    def test_help_version_and_a_missing_value_need_no_display(self):
        env = {"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}  # no display, no bus, no runtime folder
        for argv, status, out, err in ((["--help"], 0, "--list-agents text|json", ""), (["--version"], 0, "tovami ", ""),
                                       (["--list-agents"], 2, "", "--list-agents needs a value"),
                                       (["--bogus"], 2, "", "unknown argument \"--bogus\""),
                                       (["--list-agents", "xml"], 2, "", 'takes "text" or "json", not "xml"'),
                                       (["--list-agents", "json"], 0, "[", "")):
            with self.subTest(argv):
                result = subprocess.run([harness.BINARY, *argv], env=env, capture_output=True, text=True, timeout=30)
                self.assertEqual((result.returncode, out in result.stdout, err in result.stderr), (status, True, True),
                                 result.stdout + result.stderr)
