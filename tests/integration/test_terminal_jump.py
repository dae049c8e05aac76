"""The terminal jump against real terminals under Xvfb and openbox: two tmux sessions (a private
server) shown in two xterm windows, an agent in each; choosing the second agent's tray row selects
its pane and raises its xterm. A terminal with three windows gets the one whose title names the
project. "--warp-jump" without Warp says so and fails."""

import os
import re
import signal
import subprocess
import time
import unittest

import harness
import tray
from test_agent_watch import FAKE_AGENT

# A stand-in terminal: three windows titled by argv[1..3] (with _NET_WM_PID), then runs argv[4].
THREE_WINDOWS = r"""
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <xcb/xcb.h>
static xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), 0);
  xcb_atom_t a = r ? r->atom : 0; free(r); return a;
}
int main(int argc, char** argv) {
  xcb_connection_t* c = xcb_connect(0, 0);
  xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_atom_t pid = atom(c, "_NET_WM_PID"), name = atom(c, "_NET_WM_NAME"), utf8 = atom(c, "UTF8_STRING");
  uint32_t me = getpid();
  for (int i = 1; i <= 3; ++i) {
    xcb_window_t w = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, s->root, 40 * i, 40 * i, 300, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual, 0, 0);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, pid, XCB_ATOM_CARDINAL, 32, 1, &me);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, name, utf8, 8, strlen(argv[i]), argv[i]);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 4, "term");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, 10, "foot\0foot\0");
    xcb_map_window(c, w);
  }
  xcb_flush(c);
  if (fork() == 0) { execl("/bin/sh", "sh", "-c", argv[4], (char*)0); _exit(127); }
  for (;;) { xcb_generic_event_t* e = xcb_wait_for_event(c); if (!e) return 0; free(e); }
}
"""


class TerminalJumpTest(unittest.TestCase):
    def setUp(self):
        self.session = harness.Session(openbox=True)
        self.s = self.session.__enter__()
        self.addCleanup(self.session.__exit__, None, None, None)
        self.bin = os.path.join(self.s.root, "bin")
        os.makedirs(self.bin)
        self.agent = os.path.join(self.bin, "claude")
        with open(self.agent, "w") as f:
            f.write(FAKE_AGENT)
        os.chmod(self.agent, 0o755)
        self.socket = os.path.join(self.s.root, "tmux.sock")
        self.addCleanup(lambda: self.s.run(["tmux", "-S", self.socket, "kill-server"]))

    def compile(self, name, source, libraries):
        path = os.path.join(self.bin, name)
        with open(path + ".c", "w") as f:
            f.write(source)
        subprocess.run(["cc", "-O0", "-o", path, path + ".c", *libraries], check=True)
        return path

    def read_pid(self, path):
        def read():
            try:
                with open(path) as f:
                    return f.read().strip()
            except FileNotFoundError:
                return None
        text = self.s.wait_for(read, 10)
        self.assertTrue(text, "the fake agent did not start")
        pid = int(text)
        self.addCleanup(self.kill_quietly, pid)
        return pid

    @staticmethod
    def kill_quietly(pid):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

    def project(self, name):
        path = os.path.join(self.s.root, "work", name)
        os.makedirs(path, exist_ok=True)
        return path

    def tmux(self, *args):
        return self.s.run(["tmux", "-S", self.socket, *args], check=True).stdout.strip()

    def active_window(self):
        out = self.s.run(["xprop", "-root", "_NET_ACTIVE_WINDOW"]).stdout
        match = re.search(r"window id # (0x[0-9a-f]+)", out)
        return int(match.group(1), 16) if match else 0

    def windows_of(self, pid):
        out = self.s.run(["xdotool", "search", "--all", "--pid", str(pid), "--onlyvisible", "--name", "."]).stdout
        return [int(w) for w in out.split()]

    def start_tovami_with_rows(self, projects):
        tray.start_fake_host(self.s)
        self.s.start_tovami()
        item = tray.find_item(self.s, timeout=30)
        self.assertIsNotNone(item, self.s.log_text())

        def rows():
            try:
                found = {p: l for p in projects for l in tray.labels(self.s, item) if l.startswith(p + " \u2014")}
            except Exception:  # the menu may be rebuilt while it is read
                return None
            return found if len(found) == len(projects) else None
        found = self.s.wait_for(rows, 30)
        self.assertTrue(found, self.s.log_text())
        return item, found

    def jump_time(self, pid, outcome):
        match = self.s.wait_for_log(re.escape(f"jump: [{pid}] {outcome} after ") + r"([0-9.]+) ms", 10)
        self.assertTrue(match, self.s.log_text())
        return float(match.group(1))

    def test_tmux_pane_in_the_second_xterm(self):
        pids = {}
        for name in ("alpha", "beta"):
            pid_file = os.path.join(self.s.root, name + ".pid")
            self.tmux("-f", "/dev/null", "new-session", "-d", "-s", name, "-x", "80", "-y", "24",
                      "-c", self.project(name), f"{self.agent} 0 '{pid_file}'")
            pids[name] = self.read_pid(pid_file)
        # beta's agent pane is not the current one: a second window in front of it.
        beta_pane = self.tmux("display", "-p", "-t", "beta", "#{pane_id}")
        self.tmux("new-window", "-t", "beta", "-d")
        self.tmux("select-window", "-t", "beta:1")
        xterms = {}
        for name in ("alpha", "beta"):
            proc = self.s._spawn(["xterm", "-T", name + "-term", "-e", "tmux", "-S", self.socket, "attach", "-t",
                                  name], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            xterms[name] = self.s.wait_for(lambda: self.windows_of(proc.pid), 10)[0]
        self.s.xdotool("windowactivate", "--sync", xterms["alpha"])
        self.assertEqual(self.active_window(), xterms["alpha"])
        self.assertEqual(self.tmux("list-panes", "-a", "-F", "#{pane_id}#{window_active}", "-f",
                                   f"#{{==:#{{pane_id}},{beta_pane}}}"), beta_pane + "0")

        item, rows = self.start_tovami_with_rows(["alpha", "beta"])
        tray.click(self.s, item, rows["beta"].replace("_", ""))
        elapsed = self.jump_time(pids["beta"], "pane selected")
        self.assertEqual(self.tmux("list-panes", "-a", "-F", "#{pane_id}#{window_active}#{pane_active}", "-f",
                                   f"#{{==:#{{pane_id}},{beta_pane}}}"), beta_pane + "11")
        self.assertTrue(self.s.wait_for(lambda: self.active_window() == xterms["beta"], 5), self.s.log_text())
        # Baseline from the same run: one tmux command and one window activation, run directly.
        start = time.monotonic()
        self.tmux("select-pane", "-t", beta_pane)
        self.s.xdotool("windowactivate", xterms["beta"])
        baseline = (time.monotonic() - start) * 1000
        print(f"\nfigure: tray click to tmux pane active in {elapsed:.1f} ms "
              f"(baseline: tmux select-pane + xdotool windowactivate {baseline:.1f} ms)")
        self.assertEqual(self.s.stop_tovami(), 0)

    def test_window_titled_with_the_project_among_three(self):
        pid_file = os.path.join(self.s.root, "gamma.pid")
        fake_terminal = self.compile("foot", THREE_WINDOWS, ["-lxcb"])
        proc = self.s._spawn([fake_terminal, "~/work/alpha", "~/work/GAMMA \u2014 zsh", "~/work/beta",
                              f"cd '{self.project('gamma')}' && exec {self.agent} 0 '{pid_file}'"])
        windows = self.s.wait_for(lambda: len(self.windows_of(proc.pid)) == 3 and self.windows_of(proc.pid), 10)
        self.assertTrue(windows)
        agent = self.read_pid(pid_file)
        def managed():
            listed = self.s.run(["xprop", "-root", "_NET_CLIENT_LIST"]).stdout
            return all(f"{w:#x}" in listed for w in windows)
        self.assertTrue(self.s.wait_for(managed, 10), "the window manager does not list the three windows")
        titled = [w for w in windows if "GAMMA" in self.s.xdotool("getwindowname", w).stdout]
        self.s.xdotool("windowactivate", "--sync", [w for w in windows if w not in titled][0])

        item, rows = self.start_tovami_with_rows(["gamma"])
        tray.click(self.s, item, rows["gamma"].replace("_", ""))
        self.jump_time(agent, "window or tab brought forward")
        self.assertTrue(self.s.wait_for(lambda: self.active_window() == titled[0], 5), self.s.log_text())
        self.assertEqual(self.s.stop_tovami(), 0)

    def test_tab_found_in_the_accessibility_tree(self):
        # A private accessibility bus, switched on, and a Qt "terminal" exporting its tabs.
        self.s._spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        a11y = ["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus"]
        self.assertTrue(self.s.wait_for(lambda: self.s.run(a11y + ["org.a11y.Bus.GetAddress"]).returncode == 0))
        self.s.run(a11y + ["org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status", "string:IsEnabled",
                           "variant:boolean:true"], check=True)
        pid_file = os.path.join(self.s.root, "delta.pid")
        terminal = os.path.join(os.environ.get("TOVAMI_BUILD_DIR", "../../build"), "tests/fixtures/qterminal")
        env = dict(self.s.env, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        proc = subprocess.Popen([terminal, f"cd '{self.project('delta')}' && exec {self.agent} 0 '{pid_file}'",
                                 "zsh \u2014 alpha", "zsh \u2014 delta"], env=env, stdout=subprocess.PIPE)
        self.addCleanup(lambda: (proc.kill(), proc.wait(), proc.stdout.close()))
        self.assertEqual(proc.stdout.readline(), b"ready\n")
        agent = self.read_pid(pid_file)

        dump = self.s.run([harness.BINARY, "--dump-ax", "qterminal"], timeout=30)
        self.assertEqual(dump.returncode, 0, dump.stderr)
        self.assertTrue(dump.stdout.startswith("AX trusted: true\napplication title='qterminal'"), dump.stdout)
        self.assertRegex(dump.stdout, r"\n( +)page tab list title='[^']*' desc=''\n\1  \[AXTabs: 2\]\n")
        self.assertIn("page tab title='zsh \u2014 delta' desc=''", dump.stdout)

        item, rows = self.start_tovami_with_rows(["delta"])
        tray.click(self.s, item, rows["delta"].replace("_", ""))
        self.jump_time(agent, "window or tab brought forward")
        self.assertEqual(proc.stdout.readline(), b"tab 1\n")
        self.assertEqual(self.s.stop_tovami(), 0)

    def test_warp_jump_without_warp(self):
        result = self.s.run([harness.BINARY, "--warp-jump", "api"], timeout=30)
        self.assertEqual((result.returncode, result.stdout), (1, "Warp not running\n"), result.stderr)


if __name__ == "__main__":
    unittest.main()
