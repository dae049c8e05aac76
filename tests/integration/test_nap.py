"""The nap in the real program under Xvfb with two monitors: the hot key covers both monitors
and hides the pointer, pokes are counted (a held key once), Space ends the nap with a report,
and a combination owned by another client leaves both hot keys unregistered."""

import os
import re
import subprocess
import time
import unittest

import harness
import nap_x11

MONITORS = [(1280, 800, 0, 0), (1024, 768, 1280, 0)]
SCREEN = "2304x800"
ARTIFACTS = os.environ.get("TOVAMI_ARTIFACTS_DIR")


def pixel8(session, x, y):
    out = session.run(["import", "-window", "root", "-crop", f"1x1+{x}+{y}", "-depth", "8", "txt:-"],
                      check=True).stdout
    return tuple(int(v) for v in re.search(r"\((\d+),(\d+),(\d+)", out.splitlines()[-1]).groups())


def is_blackout(rgb):
    """The nap's near-black (the bare Xvfb root is pure black, so the two differ)."""
    return rgb != (0, 0, 0) and max(rgb) < 40


def press_nap_key(session):
    session.xdotool("keydown", "Control_L", "keydown", "Alt_L", "key", "n", "keyup", "Alt_L", "keyup", "Control_L")


class NapTest(unittest.TestCase):
    def test_hot_key_covers_both_monitors_and_counts_pokes(self):
        with harness.Session(screen=SCREEN, monitors=MONITORS) as s:
            s.start_tovami()
            self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
            s.xdotool("mousemove", 400, 300)
            corners = [(x + dx, y + dy) for (w, h, x, y) in MONITORS for (dx, dy) in
                       ((2, 2), (w - 3, 2), (2, h - 3), (w - 3, h - 3), (w // 2, h // 2))]
            self.assertFalse(any(is_blackout(pixel8(s, *p)) for p in corners), "covered before the nap")
            self.assertTrue(nap_x11.pointer_visible(s.display))

            press_nap_key(s)
            self.assertTrue(s.wait_for_log("nap began"), s.log_text())
            self.assertTrue(s.wait_for(lambda: all(is_blackout(pixel8(s, *p)) for p in corners)),
                            [pixel8(s, *p) for p in corners])
            self.assertTrue(s.wait_for(lambda: not nap_x11.pointer_visible(s.display)), "the pointer still shows")
            if ARTIFACTS:
                s.screenshot(os.path.join(ARTIFACTS, "nap.png"))

            s.xdotool("key", "a")  # one poke
            s.xdotool("keydown", "b")  # held past the repeat delay: still one poke
            time.sleep(1.2)
            s.xdotool("keyup", "b")
            s.xdotool("mousemove", 900, 500)  # movement is no poke and no wake
            s.xdotool("keydown", "Shift_L", "keyup", "Shift_L")  # a modifier alone is no poke
            time.sleep(0.3)
            self.assertNotIn("nap ended", s.log_text())

            s.xdotool("key", "space")
            match = s.wait_for_log(r"nap ended: Napped under a minute, ([^(]*) \(")
            self.assertTrue(match, s.log_text())
            self.assertEqual(match.group(1), "2 pokes ignored")
            self.assertTrue(s.wait_for(lambda: not any(is_blackout(pixel8(s, *p)) for p in corners)),
                            "the blackout stayed")
            self.assertTrue(nap_x11.pointer_visible(s.display))
            self.assertEqual(s.stop_tovami(), 0)

    def test_click_wakes_and_quitting_during_a_nap_reports_it(self):
        with harness.Session(screen="1280x800") as s:
            s.start_tovami()
            self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
            press_nap_key(s)
            self.assertTrue(s.wait_for_log("nap began"), s.log_text())
            self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 640, 400))))
            s.xdotool("click", "1")
            self.assertTrue(s.wait_for_log("nap ended: Napped under a minute, nobody poked"), s.log_text())

            press_nap_key(s)
            self.assertTrue(s.wait_for(lambda: s.log_text().count("nap began") == 2), s.log_text())
            self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 640, 400))))
            s.xdotool("key", "x")
            time.sleep(0.3)
            self.assertEqual(s.stop_tovami(), 0)  # SIGTERM runs the orderly end
            self.assertIn("nap ended: Napped under a minute, 1 poke ignored", s.log_text())

    def test_nap_key_owned_elsewhere_leaves_both_keys_unregistered(self):
        with harness.Session(screen="1280x800") as s:
            holder, line = nap_x11.grab_keys(s.env, "n", hold=True)
            self.assertEqual(line, "n=ok")
            try:
                s.start_tovami()
                self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
            finally:
                holder.kill()
                holder.wait()
            # Neither combination is held by Tovami: another client can take both now.
            _, line = nap_x11.grab_keys(s.env, "na", hold=False)
            self.assertEqual(line, "n=ok a=ok")
            press_nap_key(s)
            time.sleep(1)
            self.assertNotIn("nap began", s.log_text())

    def test_island_key_owned_elsewhere_keeps_the_nap_key(self):
        with harness.Session(screen="1280x800") as s:
            holder, line = nap_x11.grab_keys(s.env, "a", hold=True)
            self.assertEqual(line, "a=ok")
            try:
                s.start_tovami()
                self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
                press_nap_key(s)
                self.assertTrue(s.wait_for_log("nap began"), s.log_text())
                s.xdotool("key", "Return")
                self.assertTrue(s.wait_for_log("nap ended"), s.log_text())
            finally:
                holder.kill()
                holder.wait()

    def test_refused_grab_is_retried_and_wake_keys_still_work(self):
        with harness.Session(screen="1280x800") as s:
            s.start_tovami()
            self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
            holder, line = nap_x11.hold_pointer(s.env)
            try:
                self.assertEqual(line, "grabbed")
                press_nap_key(s)
                self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 20, 20))), s.log_text())
                self.assertTrue(s.wait_for_log("input grab refused"), s.log_text())
                # Without our grabs the keys still reach the focused blackout window.
                s.xdotool("key", "q")
                s.xdotool("key", "Escape")
                self.assertTrue(s.wait_for_log("nap ended: Napped under a minute, 1 poke ignored"), s.log_text())

                press_nap_key(s)
                self.assertTrue(s.wait_for(lambda: s.log_text().count("input grab refused") == 2), s.log_text())
            finally:
                holder.kill()
                holder.wait()
            # Once the other client lets go, the retry takes both grabs.
            self.assertTrue(s.wait_for_log("keyboard and pointer grabbed"), s.log_text())
            s.xdotool("key", "Escape")
            self.assertTrue(s.wait_for(lambda: s.log_text().count("nap ended") == 2), s.log_text())

    def test_a_window_that_appears_above_the_nap_is_covered_again(self):
        with harness.Session(screen="1280x800") as s:
            s.start_tovami()
            self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
            press_nap_key(s)
            self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 20, 20))), s.log_text())
            intruder = subprocess.Popen(["xlogo", "-geometry", "300x300+100+100", "-bg", "white"], env=s.env)
            try:
                time.sleep(1.5)
                self.assertTrue(is_blackout(pixel8(s, 250, 250)), pixel8(s, 250, 250))
                s.xdotool("key", "Return")
                self.assertTrue(s.wait_for_log("nap ended"), s.log_text())
                self.assertTrue(s.wait_for(lambda: pixel8(s, 250, 250) == (255, 255, 255)), pixel8(s, 250, 250))
            finally:
                intruder.kill()
                intruder.wait()

    def test_a_display_added_during_the_nap_is_covered_after_the_debounce(self):
        with harness.Session(screen=SCREEN, monitors=MONITORS[:1]) as s:
            s.start_tovami()
            self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
            press_nap_key(s)
            self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 20, 20))), s.log_text())
            self.assertNotIn("displays changed", s.log_text())
            added = ["xrandr", "--setmonitor", "M1", "1024/271x768/203+1280+0", "none"]
            s.run(added, check=True)
            self.assertTrue(s.wait_for_log("nap: displays changed; covering 2 displays", timeout=3), s.log_text())
            self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 1280 + 512, 384))))
            # Unplugged and plugged back within the debounce: the same frames, nothing rebuilt.
            s.run(["sh", "-c", "xrandr --delmonitor M1 && " + " ".join(added)], check=True)
            time.sleep(1)
            self.assertEqual(s.log_text().count("displays changed"), 1, s.log_text())
            s.xdotool("key", "space")
            self.assertTrue(s.wait_for_log("nap ended"), s.log_text())


if __name__ == "__main__":
    unittest.main()
