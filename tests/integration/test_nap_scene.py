"""The nap scene in the real program under Xvfb: the cat sleeps on every nap, a key press shows the
wake hint, which leaves again, and the desktop's reduce-motion switch stills the scene."""

import signal
import time
import unittest

import harness

WIDTH, HEIGHT = 1280, 800
HINT_BAND = (WIDTH // 2 - 200, HEIGHT - 64 - 30, 400, 30)  # around the bottom-anchored hint


def brightest(session, x, y, w, h):
    """The brightest grey level (0-255) in a rectangle of the root window."""
    return max(sum(pixel) // 3 for row in session.root_pixels(x, y, w, h) for pixel in row)


def count_terracotta(session, x, y, w, h):
    return sum(row.count((0xD9, 0x77, 0x57)) for row in session.root_pixels(x, y, w, h))


class NapSceneTest(unittest.TestCase):
    def test_the_cat_sleeps_on_every_nap_a_touch_shows_the_hint_and_reduce_motion_stills_it(self):
        # The hint's timing is the unit tests' (OverlayStateHint); the idle scene's cost is bench/nap_latency.py's.
        for animations in ("true", "false"):
            with self.subTest(animations=animations), harness.Session(screen=f"{WIDTH}x{HEIGHT}") as s:
                reduce = animations == "false"
                portal = s.start_helper("fake_settings_portal.py", animations)
                s.start_and_wait()
                if reduce:
                    self.assertTrue(s.wait_for_log("reduce motion: on"), s.log_text())  # read once, at launch
                s.xdotool("key", "ctrl+alt+n")
                scene = (WIDTH // 2 - 320, HEIGHT // 2 - 160, 640, 200)
                self.assertTrue(s.wait_for(lambda: count_terracotta(s, *scene) > 50), "no cat on screen")
                self.assertLess(brightest(s, *HINT_BAND), 60, "the hint shows before any touch")
                before = s.root_pixels(*scene)
                time.sleep(4)  # longer than a breath (0.9 s) and a twinkle (1.4 s)
                self.assertEqual(s.root_pixels(*scene) == before, reduce, "moved" if reduce else "still")

                s.xdotool("key", "a")
                self.assertTrue(s.wait_for(lambda: brightest(s, *HINT_BAND) > 100, timeout=3), "no hint after a key")
                self.assertTrue(s.wait_for(lambda: brightest(s, *HINT_BAND) < 60, timeout=8), "the hint never left")
                s.xdotool("key", "space")
                self.assertTrue(s.wait_for_log("nap ended"), s.log_text())
                if reduce:
                    portal.send_signal(signal.SIGUSR1)  # the desktop's switch changes: followed without asking
                    self.assertTrue(s.wait_for_log("reduce motion: off"), s.log_text())
