"""Quiet while the user looks: two Claude Code agents in one tmux session shown by a tmux client
in a focused xterm, one in the active window, one in a background window. Both finish a stretch of
over a minute (their live status files go from busy to idle): the one in the active pane is not
announced, the one in the background window is.
One terminal process with two windows (the fixture terminal, titled with folders), its tmux client
showing the agent's pane: a permission request pops while the other window is focused (notification,
no "quietly" in the log), and is quiet while the window showing the agent's pane is."""

import json
import os
import pathlib
import re
import signal
import subprocess
import time
import unittest

import fake_notifications
import harness

QTERMINAL = os.path.join(os.environ.get("TOVAMI_BUILD_DIR", "../../build"), "tests/fixtures/qterminal")
FIXTURE = next((pathlib.Path(__file__).parent / "../fixtures/claude-code/hooks").glob("*-PermissionRequest.json"))


class AgentAttentionTest(unittest.TestCase):
    def test_the_agent_in_the_focused_pane_is_not_announced(self):
        s = harness.session_for(self, openbox=True)
        agent, project = s.agent_program(), os.path.join(s.root, "project")
        os.makedirs(project)
        s.tmux_cmd("-f", "/dev/null", "new-session", "-d", "-c", project, f"exec '{agent}' 600")
        background = int(s.tmux_cmd("display", "-p", "#{pane_pid}"))
        s.tmux_cmd("new-window", "-c", project, f"exec '{agent}' 600")
        watched = int(s.tmux_cmd("display", "-p", "#{pane_pid}"))
        for pid in (background, watched):
            s.claude_status(pid, f"s-{pid}", "busy")

        s._spawn(["xterm", "-e", "tmux", "-S", s.tmux, "attach"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
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

    def test_one_terminal_process_two_windows_only_the_agents_own_pane_is_quiet(self):
        s = harness.session_for(self, openbox=True)
        project = os.path.join(s.root, "work", "api")
        os.makedirs(project)
        os.makedirs(os.path.join(s.home, ".claude"))
        s.tmux_cmd("-f", "/dev/null", "new-session", "-d", "-c", project, f"exec '{s.agent_program()}' 600")
        agent = int(s.tmux_cmd("display", "-p", "#{pane_pid}"))
        # Both windows belong to one process; its child is the tmux client (on a pty of its own).
        attach = f"TERM=xterm exec script -qfc \"tmux -S '{s.tmux}' attach\" /dev/null"
        terminal = subprocess.Popen([QTERMINAL, attach, "--windows", "~/work/web", "~/work/api"], env=s.env,
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
        active = lambda: re.search(r"# (0x[0-9a-f]+)", s.run(["xprop", "-root", "_NET_ACTIVE_WINDOW"]).stdout)
        for title, command, quiet in (("~/work/web", "make web", False), ("~/work/api", "make api", True)):
            focus = lambda: s.xdotool("windowactivate", "--sync", windows[title]) and \
                (m := active()) and int(m.group(1), 16) == windows[title]
            self.assertTrue(s.wait_for(focus, 10), title)
            lines = lambda: re.findall(r"approval asked by Claude Code \(decision\)([^\n]*)", s.log_text())
            asked = len(lines()) + 1
            payload = json.loads(FIXTURE.read_text().splitlines()[0])
            payload.update(cwd=project, session_id="s-api", tool_input={"command": command})
            client = subprocess.Popen([harness.BINARY, "--hook", "permission-request"], env=s.env,
                                      stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            client.stdin.write(json.dumps(payload).encode())
            client.stdin.close()
            self.addCleanup(lambda c=client: c.poll() is None and (c.kill(), c.wait()))
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


if __name__ == "__main__":
    unittest.main()
