"""Quiet while the user looks: two Claude Code agents in one tmux session shown by a tmux client
in a focused xterm, one in the active window, one in a background window. Both finish a stretch of
over a minute (their live status files go from busy to idle): the one in the active pane is not
announced, the one in the background window is."""

import json
import os
import shutil
import subprocess
import time
import unittest

import harness


class AgentAttentionTest(unittest.TestCase):
    def setUp(self):
        self.session = harness.Session()
        self.s = self.session.__enter__()
        self.addCleanup(self.session.__exit__, None, None, None)

    def popen(self, argv):
        proc = subprocess.Popen(argv, env=self.s.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (proc.kill(), proc.wait()))
        return proc

    def status(self, pid, state):
        with open(f"/proc/{pid}/stat") as f:
            proc_start = f.read().rsplit(")", 1)[1].split()[19]
        path = os.path.join(self.s.home, ".claude", "sessions", f"{pid}.json")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path + ".tmp", "w") as f:
            json.dump({"pid": pid, "sessionId": f"s-{pid}", "procStart": proc_start, "status": state}, f)
        os.replace(path + ".tmp", path)

    def test_the_agent_in_the_focused_pane_is_not_announced(self):
        agent, project = os.path.join(self.s.root, "bin", "claude"), os.path.join(self.s.root, "project")
        os.makedirs(os.path.dirname(agent))
        os.makedirs(project)
        shutil.copy("/bin/sleep", agent)
        sock = os.path.join(self.s.root, "tmux.sock")
        tmux = ["tmux", "-S", sock]
        self.addCleanup(lambda: self.s.run(tmux + ["kill-server"]))
        self.s.run(tmux + ["-f", "/dev/null", "new-session", "-d", "-c", project, f"exec '{agent}' 600"], check=True)
        background = int(self.s.run(tmux + ["display", "-p", "#{pane_pid}"], check=True).stdout)
        self.s.run(tmux + ["new-window", "-c", project, f"exec '{agent}' 600"], check=True)
        watched = int(self.s.run(tmux + ["display", "-p", "#{pane_pid}"], check=True).stdout)
        for pid in (background, watched):
            self.status(pid, "busy")

        self.popen(["openbox"])
        time.sleep(1)
        self.popen(["xterm", "-e", "tmux", "-S", sock, "attach"])
        self.assertTrue(self.s.wait_for(lambda: self.s.run(tmux + ["list-clients"]).stdout.strip(), 10))
        found = self.s.run(["xdotool", "search", "--sync", "--class", "xterm"], timeout=10).stdout.split()
        self.assertTrue(found, "no xterm window")
        self.s.run(["xdotool", "windowactivate", "--sync", found[0]], timeout=10)

        self.s.start_tovami()
        self.assertTrue(self.s.wait_for_log(rf"\[{watched}\] [^\n]*working", 20), self.s.log_text())
        time.sleep(63)  # a stretch over the minute an announcement needs
        for pid in (background, watched):
            self.status(pid, "idle")
        self.assertTrue(self.s.wait_for_log(rf"Claude Code \[{background}\] finished its work\n", 10), self.s.log_text())
        self.assertTrue(self.s.wait_for_log(rf"Claude Code \[{watched}\] finished its work while the user looks", 5),
                        self.s.log_text())
        self.assertNotRegex(self.s.log_text(), rf"Claude Code \[{watched}\] finished its work\n")
        self.assertEqual(self.s.stop_tovami(), 0)


if __name__ == "__main__":
    unittest.main()
