#!/usr/bin/python3
"""The installed desktop program in a private desktop (Xvfb, openbox, D-Bus session with a stand-in
tray host, temporary HOME): its tray item registers, "Start Tovami at login" writes an autostart entry
that starts the installed entry, and SIGTERM ends it with status 0.
package_desktop_check.py ENTRY (the installed entry, /usr/bin/tovami)."""

import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../tests/integration"))
import harness  # noqa: E402
import tray  # noqa: E402


def say(text):
    print(f"package-test: {text}", flush=True)


def fail(text, session):
    say(f"FAIL: {text}\n--- the program's log ---\n{session.log_text()}")
    sys.exit(1)


def main(entry):
    harness.BINARY = entry
    with harness.Session(openbox=True) as s:
        tray.start_fake_host(s)
        s.start_tovami()
        item = tray.find_item(s, timeout=30)
        if not item:
            fail("the tray item never registered", s)
        # The entry executes the desktop program in its own process.
        program = os.readlink(f"/proc/{s.tovami.pid}/exe")
        say(f"tray item registered by {program} (pid {s.tovami.pid})")
        if program != "/usr/libexec/tovami/tovami-desktop":
            fail(f"the running program is {program}", s)

        # Settings → General → "Start Tovami at login": the page list has the focus, the checkbox is next.
        tray.click(s, item, "Settings\u2026")
        if not s.wait_for(lambda: "Tovami Settings" in s.window_names()):
            fail("no settings window", s)
        s.xdotool("search", "--sync", "--name", "^Tovami Settings$", "windowactivate", "--sync")
        s.xdotool("key", "--delay", "100", "End", "Tab", "space")
        autostart = os.path.join(s.config_dir, "autostart", "app.tovami.Tovami.desktop")
        if not s.wait_for(lambda: os.path.exists(autostart)):
            fail("\"Start Tovami at login\" wrote no autostart entry", s)
        if os.environ.get("TOVAMI_SHOTS"):
            say(f"screenshot: {s.screenshot(s.shot_path('package-settings.png'))}")
        exec_line = re.search(r"^Exec=(.*)$", open(autostart).read(), re.M)
        say(f"autostart entry: Exec={exec_line and exec_line[1]}")
        if not exec_line or exec_line[1] != entry:
            fail(f"the autostart entry does not start {entry}", s)

        status = s.stop_tovami()
        say(f"SIGTERM: exit status {status}")
        if status != 0:
            fail(f"SIGTERM ended the program with status {status}", s)


if __name__ == "__main__":
    main(sys.argv[1])
