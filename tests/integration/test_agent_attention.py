"""Quiet while the user looks: two Claude Code agents in one tmux session shown by a tmux client
in a focused xterm, one in the active window, one in a background window. Both finish a stretch of
over a minute (their live status files go from busy to idle): the one in the active pane is not
announced, the one in the background window is."""

import os
import subprocess
import time
import unittest

import harness


class AgentAttentionTest(unittest.TestCase):
    def test_the_agent_in_the_focused_pane_is_not_announced(self):
        s = harness.session_for(self)
        agent, project = s.agent_program(), os.path.join(s.root, "project")
        os.makedirs(project)
        s.tmux_cmd("-f", "/dev/null", "new-session", "-d", "-c", project, f"exec '{agent}' 600")
        background = int(s.tmux_cmd("display", "-p", "#{pane_pid}"))
        s.tmux_cmd("new-window", "-c", project, f"exec '{agent}' 600")
        watched = int(s.tmux_cmd("display", "-p", "#{pane_pid}"))
        for pid in (background, watched):
            s.claude_status(pid, f"s-{pid}", "busy")

        quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
        s._spawn(["openbox"], **quiet)
        time.sleep(1)
        s._spawn(["xterm", "-e", "tmux", "-S", s.tmux, "attach"], **quiet)
        self.assertTrue(s.wait_for(lambda: s.tmux_cmd("list-clients"), 10))
        found = s.run(["xdotool", "search", "--sync", "--class", "xterm"], timeout=10).stdout.split()
        self.assertTrue(found, "no xterm window")
        s.run(["xdotool", "windowactivate", "--sync", found[0]], timeout=10)

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


if __name__ == "__main__":
    unittest.main()
