"""Quiet while the user looks: an agent finishing its work in the pane a focused terminal shows is not announced,
one in a background tmux window is; a permission request pops unless the window showing the agent's pane is focused."""

import os
import re
import signal
import subprocess
import time
import unittest

import fake_notifications
import harness


class AgentAttentionTest(unittest.TestCase):
    def test_the_agent_in_the_focused_pane_is_not_announced(self):
        s = harness.session_for(self, openbox=True)
        background, watched = s.start_agent(), s.start_agent()  # the second in the active window
        for pid in (background, watched):
            s.claude_status(pid, f"s-{pid}", "busy")

        window = s.xterm("attached", "-e", "tmux", "-S", s.tmux, "attach")
        self.assertTrue(s.wait_for(lambda: s.tmux_cmd("list-clients"), 10))
        s.run(["xdotool", "windowactivate", "--sync", str(window)], timeout=10)

        s.start_tovami()
        self.assertTrue(s.wait_for_log(rf"\[{watched}\] [^\n]*working", 20), s.log_text())
        time.sleep(63)  # a stretch over the minute an announcement needs
        for pid in (background, watched):
            s.claude_status(pid, f"s-{pid}", "idle")
        self.assertTrue(s.wait_for_log(rf"Claude Code \[{background}\] finished its work\n", 10), s.log_text())
        self.assertTrue(s.wait_for_log(rf"Claude Code \[{watched}\] finished its work while the user looks", 5),
                        s.log_text())
        self.assertNotRegex(s.log_text(), rf"Claude Code \[{watched}\] finished its work\n")
        self.assertEqual(s.stop_tovami(), 0)

    def test_one_terminal_process_two_windows_only_the_agents_own_pane_is_quiet(self):
        s = harness.session_for(self, openbox=True)
        project = os.path.join(s.root, "work", "api")
        os.makedirs(os.path.join(s.home, ".claude"))
        agent = s.start_agent(project=project)
        # Both windows belong to one process; its child is the tmux client (on a pty of its own).
        attach = f"TERM=xterm exec script -qfc \"tmux -S '{s.tmux}' attach\" /dev/null"
        terminal = subprocess.Popen([harness.QTERMINAL, attach, "--windows", "~/work/web", "~/work/api"], env=s.env,
                                    stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(lambda: (os.killpg(terminal.pid, signal.SIGKILL), terminal.wait(), terminal.stdout.close()))
        self.assertEqual(terminal.stdout.readline(), b"ready\n")
        self.assertTrue(s.wait_for(lambda: s.tmux_cmd("list-clients"), 10), "no tmux client")
        found = lambda: (w := s.run(["xdotool", "search", "--all", "--pid", str(terminal.pid), "--onlyvisible",
                                     "--name", "."]).stdout.split()) and len(w) == 2 and w
        windows = {s.run(["xdotool", "getwindowname", w]).stdout.strip(): int(w) for w in s.wait_for(found, 10)}
        self.assertEqual(sorted(windows), ["~/work/api", "~/work/web"])

        s.write_preferences("[General]\nnotchApprovals=true\n")
        fake_notifications.start(s)
        s.start_tovami()
        self.assertTrue(s.wait_for_log("approval server listening", 15), s.log_text())
        self.assertTrue(s.wait_for_log(rf"\[{agent}\]", 20), s.log_text())
        for title, command, quiet in (("~/work/web", "make web", False), ("~/work/api", "make api", True)):
            focus = lambda: s.xdotool("windowactivate", "--sync", windows[title]) and \
                s.active_window() == windows[title]
            self.assertTrue(s.wait_for(focus, 10), title)
            lines = lambda: re.findall(r"approval asked by Claude Code \(decision\)([^\n]*)", s.log_text())
            asked = len(lines()) + 1
            client = s.ask_permission(project, "s-api", command)
            self.assertTrue(s.wait_for(lambda: len(lines()) >= asked, 15), s.log_text())
            self.assertEqual("quietly" in lines()[-1], quiet, f"{title}\n{s.log_text()}")
            notified = lambda: [c for c in fake_notifications.calls(s) if c["call"] == "Notify" and command in c["body"]]
            if quiet:
                time.sleep(1)
                self.assertEqual(notified(), [])
            else:
                self.assertTrue(s.wait_for(notified, 10), fake_notifications.calls(s))
            client.kill()
            client.wait()
        self.assertEqual(s.stop_tovami(), 0)
