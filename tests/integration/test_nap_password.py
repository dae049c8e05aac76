"""Waking with the password ("wakeRequirement" = "auth") under pam_wrapper: a wake key opens
Tovami's own prompt above the nap with the pointer shown; a wrong password returns to the nap
with one more poke and the pointer hidden; the right one ends the nap."""

import getpass
import os
import unittest

import harness
import nap_x11
from test_nap import is_blackout, pixel8, press_nap_key

PAM_MATRIX = "/usr/lib/x86_64-linux-gnu/pam_wrapper/pam_matrix.so"
ARTIFACTS = os.environ.get("TOVAMI_ARTIFACTS_DIR")
CARD = (30, 25, 21)  # the prompt's background


@unittest.skipUnless(os.path.exists(PAM_MATRIX), "libpam-wrapper is not installed")
class NapPasswordTest(unittest.TestCase):
    def pam_env(self, session):
        services = os.path.join(session.root, "pam-services")
        os.makedirs(services)
        passdb = os.path.join(session.root, "passdb")
        with open(passdb, "w") as f:
            f.write(f"{getpass.getuser()}:hunter2:tovami\n")
        with open(os.path.join(services, "tovami"), "w") as f:
            f.write(f"auth required {PAM_MATRIX} passdb={passdb}\naccount required {PAM_MATRIX} passdb={passdb}\n")
        conf = os.path.join(session.config_dir, "tovami")
        os.makedirs(conf, exist_ok=True)
        with open(os.path.join(conf, "tovami.conf"), "w") as f:
            f.write("[General]\nwakeRequirement=auth\n")
        return {"LD_PRELOAD": "libpam_wrapper.so", "PAM_WRAPPER": "1", "PAM_WRAPPER_SERVICE_DIR": services}

    def test_wrong_password_keeps_the_nap_and_the_right_one_ends_it(self):
        with harness.Session(screen="1280x800") as s:
            s.start_tovami(env=self.pam_env(s))
            self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
            press_nap_key(s)
            self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 20, 20))), s.log_text())
            self.assertTrue(s.wait_for(lambda: not nap_x11.pointer_visible(s.display)))

            s.xdotool("key", "space")
            self.assertTrue(s.wait_for_log("asking for the password"), s.log_text())
            self.assertTrue(s.wait_for(lambda: pixel8(s, 640 - 200, 400) == CARD), pixel8(s, 640 - 200, 400))
            self.assertTrue(nap_x11.pointer_visible(s.display), "the pointer stays hidden for the prompt")
            s.xdotool("type", "wrong horse")  # the space inside is typed, not a wake gesture
            if ARTIFACTS:
                s.screenshot(os.path.join(ARTIFACTS, "nap-password.png"))
            s.xdotool("key", "Return")
            self.assertTrue(s.wait_for_log("password refused", timeout=15), s.log_text())
            self.assertTrue(s.wait_for(lambda: pixel8(s, 640 - 200, 400) != CARD), "the prompt stayed")
            self.assertTrue(s.wait_for(lambda: not nap_x11.pointer_visible(s.display)))
            self.assertNotIn("nap ended", s.log_text())

            s.xdotool("key", "Return")
            self.assertTrue(s.wait_for(lambda: s.log_text().count("asking for the password") == 2), s.log_text())
            self.assertTrue(s.wait_for(lambda: pixel8(s, 640 - 200, 400) == CARD))
            s.xdotool("type", "hunter2")
            s.xdotool("key", "Return")
            match = s.wait_for_log(r"nap ended: Napped under a minute, ([^(]*) \(", timeout=15)
            self.assertTrue(match, s.log_text())
            self.assertEqual(match.group(1), "1 poke ignored")
            self.assertTrue(s.wait_for(lambda: not is_blackout(pixel8(s, 20, 20))))
            self.assertEqual(s.stop_tovami(), 0)

    def test_escape_cancels_the_prompt_and_a_click_outside_it_does_too(self):
        with harness.Session(screen="1280x800") as s:
            s.start_tovami(env=self.pam_env(s))
            self.assertTrue(s.wait_for_log("tovami started"), s.log_text())
            press_nap_key(s)
            self.assertTrue(s.wait_for(lambda: is_blackout(pixel8(s, 20, 20))), s.log_text())
            s.xdotool("key", "Escape")
            self.assertTrue(s.wait_for(lambda: pixel8(s, 640 - 200, 400) == CARD))
            s.xdotool("key", "Escape")
            self.assertTrue(s.wait_for(lambda: pixel8(s, 640 - 200, 400) != CARD))
            s.xdotool("key", "KP_Enter")
            self.assertTrue(s.wait_for(lambda: pixel8(s, 640 - 200, 400) == CARD))
            s.xdotool("mousemove", 30, 30, "click", "1")  # a second wake gesture
            self.assertTrue(s.wait_for(lambda: pixel8(s, 640 - 200, 400) != CARD))
            self.assertEqual(s.stop_tovami(), 0)
            self.assertIn("nap ended: Napped under a minute, 2 pokes ignored", s.log_text())


if __name__ == "__main__":
    unittest.main()
