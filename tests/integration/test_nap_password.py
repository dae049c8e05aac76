"""Waking with the password under pam_wrapper: the prompt over the nap, a wrong password back to the nap with one
more poke, the right one ending it; a check PAM cannot make ends the nap with the reason in the log."""

import getpass
import os
import pathlib
import unittest

import harness
import nap_x11
import tray
from test_nap import is_blackout, pixel8

CARD = (30, 25, 21)  # the prompt's background


def card_shown(s):
    return pixel8(s, 640 - 200, 400) == CARD


@unittest.skipUnless(os.path.exists(harness.PAM_MATRIX), "libpam-wrapper is not installed")
class NapPasswordTest(unittest.TestCase):
    def start_nap(self, s, auth_module=None, allowed_service="tovami", env=None):
        s.start_and_wait(env={**s.password_env(auth_module=auth_module, service=allowed_service), **(env or {})})
        s.chord("n")
        self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 20, 20))), s.log_text())

    def test_a_hand_edit_asks_for_the_password_and_only_the_right_one_ends_the_nap(self):
        with harness.Session(screen="1280x800") as s:
            # Asked for by hand while the program runs: the edit survives a switch made in the menu.
            env = s.password_env()
            path = pathlib.Path(s.write_preferences("[General]\nwakeRequirement=none\n"))
            item = tray.start_with_item(s, env=env)
            self.assertTrue(s.wait_for(lambda: "usageTracking" in s.preferences()))  # seeded
            edited = "; asked for by hand\n" + path.read_text().replace("wakeRequirement=none", "wakeRequirement=auth")
            path.write_text(edited)
            tray.click(s, item, "Island")  # no notch here: the switch of the other displays
            self.assertTrue(s.wait_for(lambda: s.preferences().get("islandOnNonNotch") == "true"), s.log_text())
            self.assertEqual(path.read_text(), edited + "islandOnNonNotch=true\n")
            s.chord("n")
            self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 20, 20))), s.log_text())
            self.assertTrue(s.wait_for(lambda: not nap_x11.pointer_visible(s.display)))
            # Escape in the prompt, a second wake gesture and a wrong password each leave one more poke.
            for open_key, close in (("Escape", ("key", "Escape")), ("KP_Enter", ("mousemove", 30, 30, "click", "1"))):
                s.xdotool("key", open_key)
                self.assertTrue(s.wait_for(lambda: card_shown(s)))
                s.xdotool(*close)
                self.assertTrue(s.wait_for(lambda: not card_shown(s)))
            s.xdotool("key", "space")
            self.assertTrue(s.wait_for(lambda: card_shown(s)), s.log_text())
            self.assertTrue(nap_x11.pointer_visible(s.display), "the pointer stays hidden for the prompt")
            s.xdotool("type", "wrong horse")  # the space inside is typed, not a wake gesture
            s.screenshot(s.shot_path("nap-password.png"))
            s.xdotool("key", "Return")
            self.assertTrue(s.wait_for_log("password refused", timeout=15), s.log_text())
            self.assertTrue(s.wait_for(lambda: not card_shown(s)), "the prompt stayed")
            self.assertTrue(s.wait_for(lambda: not nap_x11.pointer_visible(s.display)))
            s.xdotool("key", "Return")
            self.assertTrue(s.wait_for(lambda: s.log_text().count("asking for the password") == 4), s.log_text())
            self.assertTrue(s.wait_for(lambda: card_shown(s)))
            s.xdotool("type", "hunter2")
            s.xdotool("key", "Return")
            match = s.wait_for_log(r"nap ended: Napped under a minute, ([^(]*) \(", timeout=15)
            self.assertTrue(match, s.log_text())
            self.assertEqual(match.group(1), "3 pokes ignored")
            self.assertIn("password accepted", s.log_text())
            self.assertTrue(s.wait_for(lambda: not is_blackout(pixel8(s, 20, 20))))
            self.assertEqual(s.stop_tovami(), 0)

    def test_a_check_pam_cannot_make_ends_the_nap_and_says_why(self):
        # "passwd -l" leaves the account check passing and pam_unix refusing every password, the right
        # one too: only the account's own status ("passwd -S") tells it from a typo, and only where
        # pam_unix alone checks the password (here pam_matrix may accept it whatever that status says).
        locked = "the account's password is locked"
        cases = (("a missing module", "/nonexistent/pam_gone.so", "tovami", "P", "pam_authenticate: Module is unknown"),
                 ("an expired account", None, "sshd", "P", "pam_acct_mgmt: Permission denied"),
                 ("a password locked with passwd -l", "pam_unix.so", "tovami", "L", locked),
                 ("the same, as other systems word it", "pam_unix.so", "tovami", "LK", locked),
                 ("a locked local password another module checks past", None, "tovami", "L", None))
        for name, auth_module, service, status, reason in cases:
            with self.subTest(name), harness.Session(screen="1280x800") as s:
                script = pathlib.Path(s.root, "fake-bin", "passwd")  # passwd -S as the account's owner sees it
                script.parent.mkdir()
                script.write_text('#!/bin/sh\n[ "$1" = -S ] && '
                                  f'echo "{getpass.getuser()} {status} 2026-01-01 0 99999 7 -1"\n')
                script.chmod(0o755)
                self.start_nap(s, auth_module, service, env={"PATH": f"{script.parent}:{s.env['PATH']}"})
                s.xdotool("key", "space")
                if auth_module == "/nonexistent/pam_gone.so" or not reason:  # asked: the stack answers then
                    self.assertTrue(s.wait_for(lambda: card_shown(s)), s.log_text())
                    s.xdotool("type", "hunter2")
                    s.xdotool("key", "Return")
                self.assertTrue(s.wait_for_log("nap ended", timeout=15), s.log_text())
                if reason:
                    self.assertIn(reason, s.log_text())
                else:
                    self.assertIn("password accepted", s.log_text())
                self.assertTrue(s.wait_for(lambda: not is_blackout(pixel8(s, 20, 20))))
                self.assertEqual(s.stop_tovami(), 0)
