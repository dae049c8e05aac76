"""Hot keys in a Wayland session through a stand-in GlobalShortcuts portal: binding, activations, a refusal, keys the
desktop changed, and binding again when the portal comes back."""

import unittest

import dbus

import harness

BLACK = (0, 0, 0)
CARD = (420, 70)  # inside the expanded island of a 1440-wide screen only


def start_portal(session, *args):
    return session.start_helper("fake_shortcuts_portal.py", *args)


def control(session):
    bus = dbus.bus.BusConnection(session.env["DBUS_SESSION_BUS_ADDRESS"])
    portal = bus.get_object("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop")
    return dbus.Interface(portal, "app.tovami.test.PortalControl")


class PortalHotKeysTest(unittest.TestCase):
    def test_binds_both_keys_each_activation_does_its_work_and_the_desktops_choice_is_followed(self):
        with harness.Session(screen="1440x900", openbox=True) as s:
            s.write_preferences("[General]\nislandOnNonNotch=true\n")
            portal = start_portal(s)
            s.start_tovami(env=harness.WAYLAND)
            self.assertTrue(s.wait_for_log("island key bound to Ctrl\\+Alt\\+A", 15), s.log_text())
            self.assertTrue(s.wait_for_log("nap key bound to Ctrl\\+Alt\\+N"), s.log_text())
            calls = [str(c) for c in control(s).Calls()]
            self.assertEqual(calls, ["Register app.tovami.Tovami", "CreateSession",
                                     "BindShortcuts nap=CTRL+ALT+n island=CTRL+ALT+a"])

            control(s).Press("island")
            self.assertTrue(s.wait_for(lambda: s.root_pixel(*CARD) == BLACK, 10), s.log_text())
            control(s).Press("nap")
            self.assertTrue(s.wait_for_log("nap began"), s.log_text())
            self.assertTrue(s.wait_for_log("locks nothing and wakes without a password"), s.log_text())
            s.xdotool("key", "space")
            self.assertTrue(s.wait_for_log("nap ended"), s.log_text())

            # The portal comes back with the keys the user chose in the desktop's dialog, then changes them.
            portal.kill()
            portal.wait()
            self.assertTrue(s.wait_for_log("the portal left the bus"), s.log_text())
            start_portal(s, "--rebind", "nap=Meta+Shift+N")
            self.assertTrue(s.wait_for_log("the portal is back"), s.log_text())
            self.assertTrue(s.wait_for_log("nap key bound to Meta\\+Shift\\+N"), s.log_text())
            control(s).Rebind("nap", "Ctrl+Alt+Z")
            self.assertTrue(s.wait_for_log("nap key bound to Ctrl\\+Alt\\+Z"), s.log_text())
            control(s).Press("nap")
            self.assertTrue(s.wait_for(lambda: s.log_text().count("nap began") == 2), s.log_text())
            self.assertEqual(s.stop_tovami(), 0)

    def test_a_refusal_is_said_as_for_a_held_key(self):
        with harness.Session(tour=True) as s:
            start_portal(s, "--refuse")
            s.start_tovami(env=harness.WAYLAND)
            self.assertTrue(s.wait_for_log("nap key refused", 15), s.log_text())
            self.assertTrue(s.wait_for_log("tour: step welcome"), s.log_text())
            s.xdotool("key", "Return")  # "Show me"
            self.assertTrue(s.wait_for_log("tour: step hotkey"), s.log_text())
            # No ten-second wait for a key that cannot come.
            self.assertTrue(s.wait_for_log("tour: a later try offered", 3), s.log_text())
            self.assertEqual(s.stop_tovami(), 0)
