"""The island's window under Xvfb and openbox, through a bare probe: a black capsule at the top centre; a click on
it leaves the user's window active, a click elsewhere in the 700-point panel reaches the window below, and without
a compositor the rest of the panel is not drawn as a dark block."""

import os
import select
import subprocess
import unittest

import harness

PROBE = os.path.join(os.environ.get("TOVAMI_BUILD_DIR", "../../build"), "tests/fixtures/tovami_island_probe")
BLUE = tuple(257 * v for v in (32, 64, 96))  # #204060 in the screenshot's 16-bit channels


class IslandWindowTest(unittest.TestCase):
    def test_capsule_takes_clicks_without_focus_and_lets_the_rest_through(self):
        with harness.Session(openbox=True) as s:
            def xterm(title, geometry, colour):
                s._spawn(["xterm", "-title", title, "-geometry", geometry, "-bg", colour],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                return int(s.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", f"^{title}$"],
                                 timeout=15).stdout.split()[0])
            below, other = xterm("below", "120x20+200+0", "#204060"), xterm("other", "80x10+200+500", "white")
            probe = s._spawn([PROBE], stdout=subprocess.PIPE, bufsize=0)  # unbuffered: select() sees every line

            def line():
                ready = select.select([probe.stdout], [], [], 10)[0]
                return ready and probe.stdout.readline().decode().strip()
            self.assertEqual(line(), "ready plain")
            self.assertTrue(s.wait_for(lambda: s.root_pixel(640, 16) == (0, 0, 0)), "the capsule never showed")
            self.assertEqual(s.root_pixel(640, 100), BLUE)  # the panel around the capsule shows what is below
            s.screenshot(os.path.join(os.environ.get("TOVAMI_SHOTS", s.root), "island-window.png"))

            active = lambda: int(s.run(["xprop", "-root", "_NET_ACTIVE_WINDOW"]).stdout.split("#")[1], 16)
            s.xdotool("windowactivate", "--sync", other)
            s.xdotool("mousemove", 640, 100, "click", 1)
            self.assertTrue(s.wait_for(lambda: active() == below), "the click did not reach the window below")
            s.xdotool("mousemove", 640, 16, "click", 1)
            self.assertEqual((line(), line()), ("hover 1", "click 350 16"))
            self.assertEqual(active(), below)
