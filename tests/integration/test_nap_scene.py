"""The nap scene in the real program under Xvfb: the cat sleeps on every nap, a key press shows the
wake hint, which is gone about 3.5 s after the last touch, and an idle scene costs next to no CPU."""

import hashlib
import os
import re
import subprocess
import time
import unittest

import harness

WIDTH, HEIGHT = 1280, 800
HINT_BAND = (WIDTH // 2 - 200, HEIGHT - 64 - 30, 400, 30)  # around the bottom-anchored hint


def brightest(session, x, y, w, h):
    """The brightest grey level (0-255) in a rectangle of the root window."""
    out = session.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "-depth", "8", "txt:-"],
                      check=True).stdout
    return max((sum(int(v) for v in m.groups()) // 3 for m in re.finditer(r"\((\d+),(\d+),(\d+)", out)), default=0)


def count_terracotta(session, x, y, w, h):
    out = session.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "-depth", "8", "txt:-"],
                      check=True).stdout
    return len(re.findall(r"#D97757", out, re.I))


def crop_digest(session, x, y, w, h):
    out = subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "-depth", "8", "rgb:-"],
                         env=session.env, capture_output=True, check=True, timeout=30).stdout
    return hashlib.sha1(out).hexdigest()


def start_settings_portal(session, animations):
    here = os.path.dirname(os.path.abspath(__file__))
    proc = session._spawn(["/usr/bin/python3", f"{here}/fake_settings_portal.py", animations], stdout=subprocess.PIPE)
    ready = proc.stdout.readline().strip() == b"ready"
    proc.stdout.close()
    if not ready:
        raise RuntimeError("fake settings portal did not start")


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class NapSceneTest(unittest.TestCase):
    def test_hint_follows_touches_and_an_idle_scene_is_cheap(self):
        with harness.Session(screen=f"{WIDTH}x{HEIGHT}") as s:
            s.start_tovami()
            self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
            s.xdotool("key", "ctrl+alt+n")
            self.assertTrue(s.wait_for_log("nap began"), s.log_text())
            # The sleeping cat, terracotta, around the middle of the screen.
            self.assertTrue(s.wait_for(lambda: count_terracotta(s, WIDTH // 2 - 200, HEIGHT // 2 - 150, 400, 200) > 50),
                            "no cat on screen")
            self.assertLess(brightest(s, *HINT_BAND), 60, "the hint shows before any touch")

            s.xdotool("key", "a")
            touched = time.monotonic()
            self.assertTrue(s.wait_for(lambda: brightest(s, *HINT_BAND) > 100, timeout=3), "no hint after a key")
            shown_after = time.monotonic() - touched
            self.assertLess(shown_after, 2.5)  # each screen read takes a while
            # Still there well before 3.5 s, gone (faded) a little after.
            time.sleep(max(0, 2.5 - (time.monotonic() - touched)))
            self.assertGreater(brightest(s, *HINT_BAND), 100, "the hint left too early")
            self.assertTrue(s.wait_for(lambda: brightest(s, *HINT_BAND) < 60, timeout=4), "the hint never left")
            gone_after = time.monotonic() - touched
            self.assertGreater(gone_after, 3.4)
            self.assertLess(gone_after, 5.5)

            # Idle: the cat breathes, strolls and the dots twinkle; the whole program stays under 1 %.
            pid = s.tovami.pid
            start_cpu, start = cpu_seconds(pid), time.monotonic()
            time.sleep(15)
            share = (cpu_seconds(pid) - start_cpu) / (time.monotonic() - start)
            print(f"idle nap: {100 * share:.2f} % of one core over 15 s")
            self.assertLess(share, 0.01)

            s.xdotool("key", "space")
            self.assertTrue(s.wait_for_log("nap ended"), s.log_text())

    def test_with_reduce_motion_the_cat_sleeps_still_under_three_marks(self):
        with harness.Session(screen=f"{WIDTH}x{HEIGHT}") as s:
            start_settings_portal(s, "false")
            s.start_tovami()
            self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
            s.xdotool("key", "ctrl+alt+n")
            self.assertTrue(s.wait_for_log("nap began"), s.log_text())
            scene = (WIDTH // 2 - 320, HEIGHT // 2 - 160, 640, 200)
            self.assertTrue(s.wait_for(lambda: count_terracotta(s, *scene) > 50), "no cat on screen")
            # All three soft blue marks beside the cat: the centre of each one's top-left dot (dot i + 3,
            # the column's bottom level with the cat's feet, 8 points right of the cat, indented 10 per mark).
            for (x, y) in ((688, 328), (698, 346), (709, 368)):
                r, g, b = s.root_pixel(x, y)
                self.assertGreater(b, r + 40, f"no sleep mark at {x},{y}: {(r, g, b)}")
            before = crop_digest(s, *scene)
            time.sleep(4)  # longer than a breath (0.9 s) and a twinkle (1.4 s)
            self.assertEqual(crop_digest(s, *scene), before, "something moved")

            s.xdotool("key", "a")  # the hint appears without a fade
            self.assertTrue(s.wait_for(lambda: brightest(s, *HINT_BAND) > 100, timeout=3), "no hint after a key")
            s.xdotool("key", "space")
            self.assertTrue(s.wait_for_log("nap ended"), s.log_text())


if __name__ == "__main__":
    unittest.main()
