"""The island as a floating pill at the top centre: a click opens it without taking the focus, a click beside it
reaches the window below, hover, Ctrl+Alt+A, and the wake report after a nap (its timing: the controller's test)."""

import re
import unittest

import harness

BACKDROP = tuple(257 * v for v in (0x4a, 0x5a, 0x6a))  # 16-bit channels, as root_pixel reads them
BLACK = (0, 0, 0)
CENTRE = 720  # of a 1440-wide screen
PILL = (CENTRE, 36)  # the pill: 180 x 16 at 24 + 4 from the top
CARD = (CENTRE - 300, 70)  # inside the expanded card only


class IslandTest(unittest.TestCase):
    def test_pill_takes_the_pointer_without_the_focus(self):
        with harness.Session(screen="1440x900", openbox=True) as s:
            # The machine's own agents (a developer's, another test's) must not hold the island open.
            s.write_preferences("[General]\nislandOnNonNotch=true\nagentWatchEnabled=false\n")
            s.run(["xsetroot", "-solid", "#4a5a6a"], check=True)
            below, other = (s.xterm(title, "-geometry", geometry, "-bg", "#4a5a6a")
                            for title, geometry in (("below", "40x6+560+90"), ("other", "80x10+100+500")))
            s.start_and_wait(timeout=15)
            opened = lambda: s.root_pixel(*CARD) == BLACK
            closed = lambda: s.root_pixel(CENTRE, 60) == BACKDROP  # shrunk back to the pill, not on its way
            # Only the pill is drawn; the rest of the panel shows what is below. Waited for, since a loaded machine
            # may show the window's first, not yet painted, frame for a moment.
            at_rest = lambda: ([s.root_pixel(x, 36) for x in (CENTRE - 95, CENTRE, CENTRE + 95)]
                               + [s.root_pixel(CENTRE, 60)]) == [BACKDROP, BLACK, BACKDROP, BACKDROP]
            self.assertTrue(s.wait_for(at_rest, 10), s.log_text())
            s.screenshot(s.shot_path("island-pill.png"))

            s.xdotool("windowactivate", "--sync", other)
            s.xdotool("mousemove", *PILL, "click", 1)  # a click opens it at once
            self.assertTrue(s.wait_for(opened, 5))
            self.assertEqual(s.active_window(), other)
            s.xdotool("mousemove", CENTRE, 300)  # leaving closes it
            self.assertTrue(s.wait_for(closed, 5))
            # At rest the window, and the buffer it is drawn in, is only as tall as the pill and its shadow need.
            height = lambda: int(re.search(r"Height: (\d+)", s.run(["xwininfo", "-name", "Tovami island"]).stdout)[1])
            self.assertTrue(s.wait_for(lambda: height() < 100, 5), height())
            s.xdotool("mousemove", CENTRE, 110, "click", 1)  # below the pill, inside the panel
            self.assertTrue(s.wait_for(lambda: s.active_window() == below, 5), "the click missed the window below")

            s.xdotool("mousemove", *PILL)  # hovering opens it after 0.3 s
            self.assertTrue(s.wait_for(opened, 5))
            s.xdotool("mousemove", CENTRE, 600)
            self.assertTrue(s.wait_for(closed, 5))
            s.chord("a")
            self.assertTrue(s.wait_for(opened, 5))
            s.screenshot(s.shot_path("island-expanded.png"))
            s.chord("a")
            self.assertTrue(s.wait_for(closed, 5))

            s.chord("n")
            self.assertTrue(s.wait_for_log("nap began", 5), s.log_text())
            s.xdotool("key", "space")
            self.assertTrue(s.wait_for_log("nap ended", 5), s.log_text())
            self.assertTrue(s.wait_for(opened, 5), "the wake report never opened")
            s.screenshot(s.shot_path("island-report.png"))
            self.assertTrue(s.wait_for(closed, 12), "the wake report never closed")
