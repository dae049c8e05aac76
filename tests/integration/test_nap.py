"""The nap in the real program under Xvfb: covering every monitor, counting pokes, the ways it ends, input held
by another program never taken for the nap's, and hot keys owned by another client."""

import os
import pathlib
import re
import subprocess
import tempfile
import time
import unittest

import harness
import nap_fake_power
import nap_x11
import tray

MONITORS = [(1280, 800, 0, 0), (1024, 768, 1280, 0)]
SCREEN = "2304x800"


def pixel8(session, x, y):
    return session.root_pixels(x, y, 1, 1)[0][0]


def is_blackout(rgb):
    """The nap's near-black (the bare Xvfb root is pure black, so the two differ)."""
    return rgb != (0, 0, 0) and max(rgb) < 40


class NapTest(unittest.TestCase):
    def test_hot_key_covers_both_monitors_counts_pokes_and_keeps_the_machine_awake(self):
        with harness.Session(screen=SCREEN, monitors=MONITORS, system_bus=True) as s:
            power = nap_fake_power.start(s)
            s.start_and_wait()
            s.xdotool("mousemove", 400, 300)
            corners = [(x + dx, y + dy) for (w, h, x, y) in MONITORS for (dx, dy) in
                       ((2, 2), (w - 3, 2), (2, h - 3), (w - 3, h - 3), (w // 2, h // 2))]
            dark = lambda: [is_blackout(pixel8(s, *p)) for p in corners]  # noqa: E731
            self.assertFalse(any(dark()), "covered before the nap")
            self.assertTrue(nap_x11.pointer_visible(s.display))

            s.chord("n")
            self.assertTrue(s.wait_for_log("nap began"), s.log_text())
            self.assertTrue(s.wait_for(lambda: all(dark())), [pixel8(s, *p) for p in corners])
            # The desktop's screen saver and logind see the nap's inhibitors, with its reason.
            self.assertTrue(s.wait_for(lambda: "screensaver activity" in power()), power())
            # Agents working on this machine may hold inhibitors of their own: match the nap's by its reason.
            cookie = re.search(r"screensaver inhibit (\d+) Tovami\|Tovami nap in progress\n", power())
            lock = re.search(r"logind inhibit (\d+) idle\|Tovami\|Tovami nap in progress\|block", power())
            self.assertTrue(cookie and lock, power())
            self.assertNotIn(f"logind released {lock.group(1)}\n", power())
            self.assertNotIn(f"screensaver uninhibit {cookie.group(1)}\n", power())
            self.assertTrue(s.wait_for(lambda: not nap_x11.pointer_visible(s.display)), "the pointer still shows")
            s.screenshot(s.shot_path("nap.png"))

            s.xdotool("key", "a")  # one poke
            s.xdotool("keydown", "b")  # held past the repeat delay: still one poke
            time.sleep(1.2)
            s.xdotool("keyup", "b")
            s.xdotool("mousemove", 900, 500)  # movement is no poke and no wake
            s.xdotool("keydown", "Shift_L", "keyup", "Shift_L")  # a modifier alone is no poke
            time.sleep(0.3)
            self.assertNotIn("nap ended", s.log_text())

            s.xdotool("key", "space")
            self.assertTrue(s.wait_for_log(r"nap ended: Napped under a minute, 2 pokes ignored \("), s.log_text())
            self.assertTrue(s.wait_for(lambda: not any(dark())), "the blackout stayed")
            self.assertTrue(nap_x11.pointer_visible(s.display))
            self.assertTrue(s.wait_for(lambda: f"logind released {lock.group(1)}\n" in power()), power())
            self.assertIn(f"screensaver uninhibit {cookie.group(1)}", power())

            # The kept windows cover both monitors again; a click wakes; quitting reports the nap.
            for nap, end in ((2, "click"), (3, "quit")):
                s.chord("n")
                self.assertTrue(s.wait_for(lambda: all(dark())), nap)
                self.assertTrue(s.wait_for(lambda: not nap_x11.pointer_visible(s.display)), nap)
                s.xdotool("key", "x")
                time.sleep(0.3)
                if end == "click":
                    s.xdotool("click", "1")
                    self.assertTrue(s.wait_for(lambda: s.log_text().count("nap ended") == nap), s.log_text())
                    self.assertTrue(s.wait_for(lambda: nap_x11.pointer_visible(s.display)), "the pointer stayed hidden")
                else:
                    self.assertEqual(s.stop_tovami(), 0)  # SIGTERM runs the orderly end
                self.assertEqual(s.log_text().count("nap ended: Napped under a minute, 1 poke ignored"), nap - 1)
            self.assertNotIn("internal error", s.log_text())  # Qt's word for covers mapped ahead of its show

    def test_a_hot_key_owned_elsewhere(self):
        # Without the nap key neither key is held (another client can take both); the island key is optional.
        for held, naps in (("n", False), ("a", True)):
            with self.subTest(held=held), harness.Session(screen="1280x800") as s:
                holder, line = nap_x11.grab(s.env, held)
                self.assertEqual(line, held + "=ok")
                try:
                    s.start_and_wait()
                    if naps:
                        s.chord("n")
                        self.assertTrue(s.wait_for_log("nap began"), s.log_text())
                        s.xdotool("key", "Return")
                        self.assertTrue(s.wait_for_log("nap ended"), s.log_text())
                finally:
                    holder.kill()
                    holder.wait()
                if not naps:
                    self.assertEqual(nap_x11.grab(s.env, "na", hold=False)[1], "n=ok a=ok")
                    s.chord("n")
                    time.sleep(1)
                    self.assertNotIn("nap began", s.log_text())

    def test_input_held_by_another_program_is_never_taken_for_the_nap(self):
        # (grab held elsewhere, wake requirement). The nap starts from the tray: a held keyboard stops hot keys.
        for device, requirement in (("keyboard", "none"), ("keyboard", "auth"), ("pointer", "none")):
            with self.subTest(device=device, requirement=requirement), harness.Session(screen="1280x800") as s:
                s.write_preferences(f"[General]\nwakeRequirement={requirement}\n")
                item = tray.start_with_item(s, timeout=20)
                holder, line = nap_x11.grab(s.env, device)
                try:
                    self.assertEqual(line, "grabbed")
                    tray.click(s, item, "Start Nap")
                    self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 20, 20))), s.log_text())
                    self.assertTrue(s.wait_for_log("input grab refused"), s.log_text())
                    s.xdotool("key", "q")
                    if device == "pointer":  # the keyboard is the nap's alone
                        self.assertEqual(nap_x11.grab(s.env, "keyboard", hold=False)[1], "refused 1")
                    elif requirement == "none":  # a click on the blackout still wakes; the key was not ours
                        s.xdotool("click", "1")
                        self.assertTrue(s.wait_for_log("nap ended: .*, nobody poked"), s.log_text())
                    else:  # no password card while typing goes elsewhere; the nap ends, saying why
                        s.xdotool("click", "1")
                        self.assertTrue(s.wait_for_log("ending the nap: the keyboard could not be grabbed"),
                                        s.log_text())
                        self.assertTrue(s.wait_for_log("nap ended: .*, nobody poked"), s.log_text())
                        self.assertNotIn("asking for the password", s.log_text())
                    self.assertEqual(s.log_text().count("input grab refused"), 1)  # warned once
                finally:
                    holder.kill()
                    holder.wait()
                if device == "pointer":  # once the other program lets go, the retry takes the pointer too
                    self.assertTrue(s.wait_for_log("keyboard and pointer grabbed"), s.log_text())
                    s.xdotool("key", "space")
                    self.assertTrue(s.wait_for_log("nap ended: .*, 1 poke ignored"), s.log_text())

    def test_keys_typed_as_the_display_darkens_stay_with_the_nap_and_later_windows_and_displays_are_covered(self):
        # The grabs go to the server with the windows' maps: a key typed once the dark shows is the nap's.
        with harness.Session(screen=SCREEN, monitors=MONITORS[:1]) as s, tempfile.TemporaryDirectory() as folder:
            ready, typed = os.path.join(folder, "ready"), os.path.join(folder, "typed")
            window = s.xterm("typing", "-geometry", "80x10+0+0", "-e", "sh", "-c",
                             f"stty -icanon -echo && touch {ready} && exec cat > {typed}")
            self.assertTrue(s.wait_for(lambda: os.path.exists(ready)), "no xterm")
            s.xdotool("windowfocus", "--sync", window)
            s.start_and_wait()
            text = lambda: pathlib.Path(typed).read_text() if os.path.exists(typed) else ""  # noqa: E731
            s.xdotool("type", "a")
            self.assertTrue(s.wait_for(lambda: text() == "a"), "the xterm does not take keys")

            self.assertEqual(nap_x11.nap_then_type(s.env, "xyz"), "typed")
            s.xdotool("key", "space")
            self.assertTrue(s.wait_for_log(r"nap ended: .*, 3 pokes ignored"), s.log_text())
            self.assertEqual(text(), "a")

            # A window mapped above the nap is covered, and shows again once the nap ends.
            s.chord("n")
            self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 20, 20))), s.log_text())
            intruder = subprocess.Popen(["xlogo", "-geometry", "300x300+100+100", "-bg", "white"], env=s.env)
            try:
                time.sleep(1.5)
                self.assertTrue(is_blackout(pixel8(s, 250, 250)), pixel8(s, 250, 250))
                s.xdotool("key", "Return")
                self.assertTrue(s.wait_for(lambda: pixel8(s, 250, 250) == (255, 255, 255)), pixel8(s, 250, 250))
            finally:
                intruder.kill()
                intruder.wait()

            s.chord("n")
            self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 20, 20))), s.log_text())
            s.set_monitors(MONITORS)
            self.assertTrue(s.wait_for_log("nap: displays changed; covering 2 displays", timeout=3), s.log_text())
            self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 1280 + 512, 384))))
