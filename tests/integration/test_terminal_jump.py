"""The terminal jump under Xvfb and openbox: an agent's tray row selects its tmux pane and raises its xterm, the
window titled with its project, or the tab naming it; "--warp-jump" without Warp says so and fails."""

import os
import re
import signal
import subprocess
import unittest

import harness
import tray

class TerminalJumpTest(unittest.TestCase):
    def setUp(self):
        self.s = harness.session_for(self, openbox=True)
        self.agent = self.s.agent_program()  # an idle process with an agent's name

    def project(self, name):
        os.makedirs(path := os.path.join(self.s.root, "work", name))
        return path

    def windows_of(self, pid):
        return [int(w) for w in self.s.xdotool("search", "--all", "--pid", pid, "--onlyvisible", "--name", ".")
                .stdout.split()]

    def start_qterminal(self, project, *titles, env=None):
        """The fixture terminal with the agent as its child in `project`; returns both."""
        proc = subprocess.Popen([harness.QTERMINAL, f"cd '{self.project(project)}' && exec {self.agent} 600", *titles],
                                env={**self.s.env, **(env or {})}, stdout=subprocess.PIPE, start_new_session=True)
        self.addCleanup(lambda: (os.killpg(proc.pid, signal.SIGKILL), proc.wait(), proc.stdout.close()))
        self.assertEqual(proc.stdout.readline(), b"ready\n")
        return proc, int(self.s.wait_for(lambda: self.s.run(["pgrep", "-P", str(proc.pid)]).stdout.strip()))

    def jump(self, project, pid, outcome):
        """Clicks the project's tray row (starting the program first) and returns the logged jump time in ms."""
        if not self.s.tovami:
            self.item = tray.start_with_item(self.s, timeout=30)
            self.addCleanup(lambda: self.assertEqual(self.s.stop_tovami(), 0))
        label = self.s.wait_for(lambda: next((l for l in tray.labels_now(self.s, self.item)
                                              if l.startswith(project + " \u2014")), None), 30)
        self.assertTrue(label, self.s.log_text())
        tray.click(self.s, self.item, label.replace("_", ""))
        match = self.s.wait_for_log(re.escape(f"jump: [{pid}] {outcome} after ") + r"([0-9.]+) ms", 10)
        self.assertTrue(match, self.s.log_text())
        return float(match.group(1))

    def test_tmux_pane_then_titled_window_then_tab_in_one_session(self):
        # A private accessibility bus, switched on before the program starts (its group ends with the test: the
        # launcher's bus daemon outlives the launcher).
        bus = self.s._spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], start_new_session=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(os.killpg, bus.pid, signal.SIGKILL)
        a11y = ["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus"]
        self.assertTrue(self.s.wait_for(lambda: self.s.run(a11y + ["org.a11y.Bus.GetAddress"]).returncode == 0))
        self.s.run(a11y + ["org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status", "string:IsEnabled",
                           "variant:boolean:true"], check=True)

        pids, xterms = {}, {}
        for name in ("alpha", "beta"):
            self.s.tmux_cmd("-f", "/dev/null", "new-session", "-d", "-s", name, "-c", self.project(name),
                      f"exec {self.agent} 600")
            pids[name] = int(self.s.tmux_cmd("display", "-p", "-t", name, "#{pane_pid}"))
        beta_pane = self.s.tmux_cmd("display", "-p", "-t", "beta", "#{pane_id}")
        self.s.tmux_cmd("new-window", "-t", "beta")  # beta's agent pane is no longer in the current window
        for name in ("alpha", "beta"):
            proc = self.s._spawn(["xterm", "-T", name + "-term", "-e", "tmux", "-S", self.s.tmux, "attach", "-t",
                                  name], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            xterms[name] = self.s.wait_for(lambda: self.windows_of(proc.pid), 10)[0]
        # A terminal still being mapped may take the focus back once: activate until alpha keeps it.
        activate = lambda: self.s.xdotool("windowactivate", "--sync", xterms["alpha"]) and \
            self.s.active_window() == xterms["alpha"]
        self.assertTrue(self.s.wait_for(activate, 10), self.s.active_window())
        active = ["list-panes", "-a", "-F", "#{window_active}#{pane_active}", "-f", f"#{{==:#{{pane_id}},{beta_pane}}}"]
        self.assertEqual(self.s.tmux_cmd(*active), "01")

        elapsed = self.jump("beta", pids["beta"], "pane selected")
        self.assertEqual(self.s.tmux_cmd(*active), "11")
        self.assertTrue(self.s.wait_for(lambda: self.s.active_window() == xterms["beta"], 5), self.s.log_text())
        print(f"\nfigure: tray click to tmux pane active in {elapsed:.1f} ms")

        tabbed, delta = self.start_qterminal("delta", "zsh \u2014 alpha", "zsh \u2014 delta",
                                             env={"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"})
        # The program joins the accessibility registry a moment after its window shows.
        def dump_ax():
            return self.s.run([harness.BINARY, "--dump-ax", "qterminal"], timeout=30)
        dump = self.s.wait_for(lambda: d if "title='qterminal'" in (d := dump_ax()).stdout else None) or dump_ax()
        self.assertEqual(dump.returncode, 0, dump.stderr)
        self.assertTrue(dump.stdout.startswith("AX trusted: true\napplication title='qterminal'"), dump.stdout)
        self.assertRegex(dump.stdout, r"\n( +)page tab list title='[^']*' desc=''\n\1  \[AXTabs: 2\]\n")
        self.assertIn("page tab title='zsh \u2014 delta' desc=''", dump.stdout)

        # Three windows of one terminal, the one titled with the project behind another.
        windowed, gamma = self.start_qterminal("gamma", "--windows", "~/work/alpha", "~/work/GAMMA \u2014 zsh",
                                               "~/work/beta")
        windows = self.s.wait_for(lambda: len(self.windows_of(windowed.pid)) == 3 and self.windows_of(windowed.pid))
        managed = lambda: all(f"{w:#x}" in self.s.run(["xprop", "-root", "_NET_CLIENT_LIST"]).stdout for w in windows)
        self.assertTrue(self.s.wait_for(managed, 10), "the window manager does not list the three windows")
        titled = [w for w in windows if "GAMMA" in self.s.xdotool("getwindowname", w).stdout]
        self.s.xdotool("windowactivate", "--sync", [w for w in windows if w not in titled][0])
        self.jump("gamma", gamma, "window or tab brought forward")
        self.assertTrue(self.s.wait_for(lambda: self.s.active_window() == titled[0], 5), self.s.log_text())

        self.jump("delta", delta, "window or tab brought forward")
        self.assertEqual(tabbed.stdout.readline(), b"tab 1\n")

        result = self.s.run([harness.BINARY, "--warp-jump", "api"], timeout=30)
        self.assertEqual((result.returncode, result.stdout), (1, "Warp not running\n"), result.stderr)
