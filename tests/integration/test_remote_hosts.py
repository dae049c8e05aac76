"""Agents on other machines through a real OpenSSH server (ssh_server.py). Other ports stand for a host without
Tovami, one with a hostile remote side, and one behind a relay whose network the test drops."""

import json
import os
import pathlib
import signal
import socket
import subprocess
import time
import unittest

import harness
import ssh_server
import tray

# A broken or hostile remote side, by the mode its host's alias sends (TOVAMI_FAKE).
HOSTILE = """#!/usr/bin/python3
import os, sys
mode = os.environ.get("TOVAMI_FAKE")
out = sys.stdout.buffer
out.write(b'{"protocol": 99}\\n' if mode == "version" else b'{"protocol": 1, "time": 0}\\n')
if mode == "garbage":
    out.write(b"\\x00\\xff not json\\n")
elif mode == "flood":
    out.write(b'{"gone": "1:1"}\\n' * 200000)
elif mode == "huge":
    for _ in range(100):
        out.write(b"x" * (1 << 20))
out.flush()
sys.stdin.read()
"""
# ssh's ProxyCommand for the host "lan": a relay between ssh and sshd, which the test stops to make
# the bytes stop without a FIN, as a dropped network does.
RELAY = """#!/usr/bin/python3
import os, socket, sys, threading
server = socket.create_connection((sys.argv[1], int(sys.argv[2])))
with open(sys.argv[3], "a") as f:
    f.write(f"{os.getpid()}\\n")
def up():
    while data := os.read(0, 65536):
        server.sendall(data)
    server.shutdown(socket.SHUT_WR)
threading.Thread(target=up, daemon=True).start()
while data := server.recv(65536):
    os.write(1, data)
"""


def proc_file(pid, name):
    """/proc/PID/NAME, or nothing once the process is gone."""
    try:
        return pathlib.Path(f"/proc/{pid}/{name}").read_bytes()
    except OSError:
        return b""


@unittest.skipUnless(ssh_server.SSHD, "no sshd: scripts/install-deps.sh unpacks openssh-server into build-tools/")
class RemoteHostsTest(unittest.TestCase):
    def setUp(self):
        self.s = harness.session_for(self, system_bus=True)  # for the resume signal
        root = self.s.root
        remote, lan = ssh_server.Remote(self.s), ssh_server.Remote(self.s, "lan")  # lan: behind a relay
        self.remote_home, self.lan_home = remote.home, lan.home
        bare_home = self.bare_home = os.path.join(root, "bare-home")
        hostile_bin = os.path.join(root, "hostile-home", ".local", "bin")
        for folder in (os.path.join(lan.home, ".claude"), bare_home, hostile_bin):
            os.makedirs(folder, mode=0o700)
        for path, text in ((os.path.join(hostile_bin, "tovami"), HOSTILE), (os.path.join(root, "relay"), RELAY)):
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, 0o755)
        self.relay_path, self.relay_pids = os.path.join(root, "relay"), os.path.join(root, "relay.pids")
        bare_port, hostile_port, lan_port = (ssh_server.free_port() for _ in range(3))
        # Each alias names the server differently, so that none shares another's connection; only newbox's
        # host key is not known.
        hosts = [("devbox", "127.0.0.1", None, "user", "known_hosts"), ("bare", "127.0.0.1", bare_port, "user", "known_hosts"),
                 ("newbox", "localhost", None, "user", "nothing_known"), ("refused", "127.0.0.2", None, "stranger", "known_hosts"),
                 ("lan", "127.0.0.1", lan_port, "user", "known_hosts"),
                 *((mode, f"127.0.0.{n}", hostile_port, "user", "known_hosts")
                   for n, mode in enumerate(("garbage", "flood", "huge", "version"), 3))]
        ssh_server.start(self.s, remote, hosts,
                         f"Match LocalPort {bare_port}\n  SetEnv HOME={bare_home} PATH=/usr/bin:/bin\n"
                         f"Match LocalPort {lan_port}\n  {lan.set_env()}"
                         f"Match LocalPort {hostile_port}\n  SetEnv HOME={root}/hostile-home PATH=/usr/bin:/bin\n",
                         {"lan": f"ProxyCommand {self.relay_path} %h %p {self.relay_pids}"})

    def start(self, preferences):
        self.s.write_preferences("[General]\n" + preferences)
        return tray.start_with_item(self.s, timeout=30)

    def ask(self, command, home):
        """The real hook client on a remote side, as Claude Code runs it there."""
        return self.s.ask_permission(os.path.join(home, "api"), "r1", command, "--socket", self.socket_of(home),
                                     env={"HOME": home})

    @staticmethod
    def socket_of(home):
        return os.path.join(home, ".local", "share", "Tovami", "agent.sock")

    @staticmethod
    def remote_stream_of(home):
        """The pid of the remote side running under `home` (only this test's: other tests may run one)."""
        found = []
        for pid in subprocess.run(["pgrep", "-f", "tovami --remote-stream$"], capture_output=True, text=True).stdout.split():
            if b"HOME=" + home.encode() in proc_file(pid, "environ").split(b"\0"):
                found.append(int(pid))
        return found

    def cut_link(self, host):
        """Kills the ssh that carries `host`'s link."""
        ssh = subprocess.run(["pgrep", "-f", "-P", str(self.s.tovami.pid), host], capture_output=True, text=True)
        self.assertTrue(ssh.stdout.split(), f"no ssh child for {host}")
        for pid in ssh.stdout.split():
            os.kill(int(pid), 9)

    def test_remote_agents_appear_tagged_and_each_failure_has_its_words(self):
        # A stand-in agent on the "remote" side, in a project folder of its own.
        project = os.path.join(self.remote_home, "remote_api")
        os.makedirs(project)
        agent = self.s.agent_program("claude", harness.FAKE_AGENT)
        pid_file = os.path.join(self.s.root, "remote-agent.pid")
        proc = subprocess.Popen([agent, pid_file, "30"], cwd=project, env={**self.s.env, "HOME": self.remote_home})
        self.addCleanup(lambda: (proc.kill(), proc.wait()))
        self.assertTrue(self.s.read_pid(pid_file))

        item = self.start("remoteHosts=devbox, bare,newbox , refused, lan\nremoteApprovalHosts=lan,devbox\n")
        labels = lambda: tray.labels_now(self.s, item)  # noqa: E731
        row = "devbox \u00b7 remote_api \u2014 Claude \u00b7 working"
        self.assertTrue(self.s.wait_for(lambda: row in labels(), 30), f"{labels()}\n{self.s.log_text()}")
        # From here on the agent may have turned idle (it works for 30 s): its row, whatever its state.
        shown = lambda: any(label.startswith(row.rsplit(" \u00b7 ", 1)[0]) for label in labels())  # noqa: E731
        # The one-shot listing shows it too, from the desktop's file, beside the same process's local row.
        # (The file follows the rows within a second.)
        listed = lambda: json.loads(self.s.run([harness.BINARY, "--list-agents", "json"], check=True).stdout)  # noqa: E731
        mine = lambda: [(a.get("host"), a["project"]) for a in listed() if a["pid"] == self.s.read_pid(pid_file)]  # noqa: E731
        self.assertTrue(self.s.wait_for(lambda: ("devbox", "remote_api") in mine(), 5), listed())
        self.assertIn((None, "remote_api"), mine(), listed())
        for words in (r"devbox: connected",
                      r"bare: Tovami is not installed on bare",
                      r"newbox: newbox's host key is not known yet: run `ssh newbox` once",
                      r"refused: permission denied"):
            self.assertTrue(self.s.wait_for_log(words, 30), f"no '{words}':\n{self.s.log_text()}")

        # The link cut: its rows go, and it comes back on its own.
        self.cut_link("devbox")
        self.assertTrue(self.s.wait_for_log(r"devbox: the link to devbox was cut\n(.|\n)*devbox: connected", 30),
                        self.s.log_text())
        self.assertTrue(self.s.wait_for(shown, 30), self.s.log_text())

        # Two requests of lan's agent wait on cards here.
        self.assertTrue(self.s.wait_for(lambda: os.path.exists(self.socket_of(self.lan_home)), 30), self.s.log_text())
        clicked = self.ask("make deploy", self.lan_home)
        card = "Allow: lan \u00b7 api \u2014 Bash make deploy"
        self.assertTrue(self.s.wait_for(lambda: card in labels(), 15), f"{labels()}\n{self.s.log_text()}")
        waiting = self.ask("make clean", self.lan_home)
        self.assertTrue(self.s.wait_for(lambda: "1 more request waits" in labels(), 15), labels())
        # And one of devbox's, whose remote side is about to stop.
        self.assertTrue(self.s.wait_for(lambda: os.path.exists(self.socket_of(self.remote_home)), 30))
        stalled = self.ask("make stall", self.remote_home)
        self.assertTrue(self.s.wait_for(lambda: "2 more requests wait" in labels(), 15), labels())

        # At once, for one wait: devbox's remote side stops behind a live ssh (its heartbeats stop), and lan's
        # network drops (its relay stops: no byte, no FIN). A click on lan's first card meanwhile goes nowhere.
        stream = self.remote_stream_of(self.remote_home)
        self.assertEqual(len(stream), 1, stream)
        relays = [int(pid) for pid in pathlib.Path(self.relay_pids).read_text().split()
                  if self.relay_path.encode() in proc_file(pid, "cmdline")]
        for pid in (*stream, *relays):
            os.kill(pid, signal.SIGSTOP)
            self.addCleanup(lambda pid=pid: self.s.run(["kill", "-CONT", str(pid)]))
        tray.click(self.s, item, card)
        second = "Allow: lan \u00b7 api \u2014 Bash make clean"
        self.assertTrue(self.s.wait_for(lambda: second in labels(), 5), labels())
        # The row and the other card go within the 45 s of silence; devbox's hook client, hearing no keep-alive,
        # gives no verdict after as long, while its side stays stopped.
        self.assertTrue(self.s.wait_for(lambda: not shown() and second not in labels(), 55), self.s.log_text())
        self.assertEqual(stalled.communicate(timeout=10), (b"", b""))
        self.assertEqual(proc_file(stream[0], "stat").rsplit(b")", 1)[1].split()[0], b"T")
        self.assertTrue(self.s.wait_for_log(r"devbox: devbox stopped answering", 5), self.s.log_text())
        self.assertTrue(self.s.wait_for_log(r"lan: (lan stopped answering|the network is down)", 5), self.s.log_text())
        # lan's side hears no heartbeat from here for as long, and ends: its clients give no verdict, the clicked
        # one included, while the network is still down.
        for old in (clicked, waiting):
            self.assertEqual(old.communicate(timeout=15), (b"", b""))

        # The network back: lan connects again; its next request, asking the same, waits for its own answer.
        for pid in relays:
            os.kill(pid, signal.SIGCONT)
        self.assertTrue(self.s.wait_for_log(r"lan: (lan stopped answering|the network is down)(.|\n)*lan: connected", 60),
                        self.s.log_text())
        self.assertTrue(self.s.wait_for(lambda: os.path.exists(self.socket_of(self.lan_home)), 15), self.s.log_text())
        newer = self.ask("make deploy", self.lan_home)
        self.assertTrue(self.s.wait_for(lambda: card in labels(), 15), f"{labels()}\n{self.s.log_text()}")
        time.sleep(1)
        self.assertIsNone(newer.poll(), "the newer request was answered by the old click")
        tray.click(self.s, item, "Deny")
        self.assertEqual(json.loads(newer.communicate(timeout=15)[0])["hookSpecificOutput"]["decision"]["behavior"], "deny")

        # The listing's file (lan's rows, a second after its side's first scan) goes with the program.
        rows_file = os.path.join(self.s.env["XDG_RUNTIME_DIR"], "tovami", "remote-rows.json")
        self.assertTrue(self.s.wait_for(lambda: os.path.exists(rows_file), 10), self.s.log_text())
        self.s.stop_tovami()
        self.assertFalse(os.path.exists(rows_file))

    def test_a_hostile_remote_side_is_closed_with_words_and_the_tray_stays_responsive(self):
        item = self.start("remoteHosts=garbage,flood,huge,version\n")
        for words in (r"garbage: garbage sent what the remote protocol does not allow: a line is not JSON",
                      r"flood: flood sent more than the remote protocol allows in a second",
                      r"huge: huge sent a line longer than 256 KiB",
                      r"version: version speaks remote protocol 99; this Tovami speaks 1"):
            self.assertTrue(self.s.wait_for_log(words, 30), f"no '{words}':\n{self.s.log_text()}")
        started = time.monotonic()
        self.assertIn("Settings\u2026", tray.labels_now(self.s, item))
        self.assertLess(time.monotonic() - started, 2)
        self.assertEqual(self.s.tovami.poll(), None, "the program ended")

    def test_a_remote_request_is_answered_here_and_a_cut_link_leaves_no_verdict(self):
        os.makedirs(os.path.join(self.remote_home, ".claude"))
        # The side of an earlier link still holds the socket there while it ends: this side waits for it.
        remote_socket = self.socket_of(self.remote_home)
        os.makedirs(os.path.dirname(remote_socket), mode=0o700)
        predecessor = socket.socket(socket.AF_UNIX)
        predecessor.bind(remote_socket)
        predecessor.listen()
        item = self.start("remoteHosts=devbox\nremoteApprovalHosts=devbox\n")
        self.assertTrue(self.s.wait_for_log("devbox: connected", 30), self.s.log_text())
        time.sleep(1.5)
        settings = pathlib.Path(self.remote_home, ".claude", "settings.json")
        self.assertFalse(settings.exists())
        predecessor.close()
        # Then the remote side put its hook into Claude Code's settings there, naming that socket.
        self.assertTrue(self.s.wait_for(lambda: settings.exists() and remote_socket in settings.read_text(), 10))
        self.assertIn("--hook permission-request", settings.read_text())

        ask = lambda command: self.ask(command, self.remote_home)  # noqa: E731
        labels = lambda: tray.labels_now(self.s, item)
        first = ask("make test")
        row = "Allow: devbox \u00b7 api \u2014 Bash make test"
        self.assertTrue(self.s.wait_for(lambda: row in labels(), 15), f"{labels()}\n{self.s.log_text()}")
        tray.click(self.s, item, row)
        out, err = first.communicate(timeout=15)
        self.assertEqual((first.returncode, err), (0, b""))
        self.assertEqual(json.loads(out)["hookSpecificOutput"]["decision"]["behavior"], "allow")

        # Answered in the remote terminal: the client leaves, and the card goes.
        answered = ask("ls")
        row = "Allow: devbox \u00b7 api \u2014 Bash ls"
        self.assertTrue(self.s.wait_for(lambda: row in labels(), 15), f"{labels()}\n{self.s.log_text()}")
        answered.kill()
        self.assertTrue(self.s.wait_for(lambda: row not in labels(), 10), labels())

        second = ask("rm -rf build")
        row = "Allow: devbox \u00b7 api \u2014 Bash rm -rf build"
        self.assertTrue(self.s.wait_for(lambda: row in labels(), 15), f"{labels()}\n{self.s.log_text()}")
        self.cut_link("devbox")
        self.assertEqual(second.communicate(timeout=15), (b"", b""))  # no verdict: the agent's prompt decides
        self.assertTrue(self.s.wait_for(lambda: row not in labels(), 10), labels())

        # Approvals off for the host (the link back meanwhile): its hook goes from the settings there.
        self.assertTrue(self.s.wait_for_log(r"cut(.|\n)*devbox: connected", 15), self.s.log_text())
        self.s.write_preferences("[General]\nremoteHosts=devbox\n")
        self.assertTrue(self.s.wait_for(lambda: remote_socket not in settings.read_text(), 15), settings.read_text())

    def test_a_resume_retries_a_waiting_link_at_once(self):
        item = self.start("remoteHosts=bare\n")
        retries = lambda: self.s.log_text().count("; connecting again")  # noqa: E731
        failures = lambda: self.s.log_text().count("error: bare: Tovami is not installed")  # noqa: E731
        # Tries at 0, 2 and 6 s, all failed: waiting for the next, 8 s on.
        self.assertTrue(self.s.wait_for(lambda: failures() == 3, 20), self.s.log_text())
        self.s.run(["dbus-send", "--system", "--type=signal", "/org/freedesktop/login1",
                    "org.freedesktop.login1.Manager.PrepareForSleep", "boolean:false"], check=True)
        self.assertTrue(self.s.wait_for(lambda: retries() == 3, 2), self.s.log_text())

        # Settings → Other machines, "Install on bare" (Alt+I): this Tovami goes to ~/.local/bin there,
        # which neither exists yet nor is on bare's PATH, and the link connects at once.
        tray.click(self.s, item, "Settings\u2026")
        self.assertTrue(self.s.wait_for(lambda: "Tovami Settings" in self.s.window_names()), self.s.log_text())
        self.s.xdotool("search", "--sync", "--name", "^Tovami Settings$", "windowactivate", "--sync")
        self.s.xdotool("key", "--delay", "100", *["Down"] * 5, "alt+i")
        self.assertTrue(self.s.wait_for_log(r"install on bare: Tovami is in ~/.local/bin(.|\n)*bare: connected", 30),
                        self.s.log_text())
        installed = pathlib.Path(self.bare_home, ".local", "bin", "tovami")
        self.assertEqual(installed.stat().st_mode & 0o777, 0o755)
        self.assertEqual(installed.read_bytes(), pathlib.Path(harness.BINARY).read_bytes())
        self.assertEqual(os.listdir(installed.parent), ["tovami"])  # no temporary file left

    def test_a_jump_needs_a_local_terminal_on_the_host_and_selects_the_remote_pane(self):
        # On the "remote" side, the agent in window 1 of a tmux server of its own; window 0 in front.
        project = os.path.join(self.remote_home, "remote_api")
        os.makedirs(project)
        agent = self.s.agent_program("claude", harness.FAKE_AGENT)
        remote_tmux = ["tmux", "-S", os.path.join(self.remote_home, "tmux.sock"), "-f", "/dev/null"]
        remote_env = {**self.s.env, "HOME": self.remote_home}
        self.addCleanup(lambda: self.s.run([*remote_tmux, "kill-server"]))
        self.s.run([*remote_tmux, "new-session", "-d", "sleep 600"], env=remote_env, check=True)
        pid_file = os.path.join(self.s.root, "remote-agent.pid")
        self.s.run([*remote_tmux, "new-window", "-c", project, f"{agent} {pid_file}"], env=remote_env, check=True)
        self.s.run([*remote_tmux, "select-window", "-t", ":0"], check=True)
        self.assertTrue(self.s.read_pid(pid_file))
        window = lambda: self.s.run([*remote_tmux, "display", "-p", "#{window_index}"]).stdout.strip()  # noqa: E731

        item = self.start("remoteHosts=devbox\n")
        row = lambda: next((label for label in tray.labels_now(self.s, item)  # noqa: E731
                            if label.startswith("devbox \u00b7 remote_api \u2014 Claude")), None)
        self.assertTrue(self.s.wait_for(row, 30), self.s.log_text())
        tray.click(self.s, item, row().replace("_", ""))  # tray.click drops mnemonic underscores
        self.assertTrue(self.s.wait_for_log("jump: open a terminal on devbox first"), self.s.log_text())
        self.assertEqual(window(), "0")

        # The user's own ssh to devbox in a local terminal (a tmux pane here): the jump goes through.
        self.s.tmux_cmd("-f", "/dev/null", "new-session", "-d", "ssh devbox")
        mine = ["pgrep", "-f", f"ssh -F {self.s.home}/.ssh/config devbox$"]
        self.assertTrue(self.s.wait_for(lambda: subprocess.run(mine, capture_output=True).returncode == 0))
        tray.click(self.s, item, row().replace("_", ""))  # tray.click drops mnemonic underscores
        self.assertTrue(self.s.wait_for_log("jump: the terminal of ssh"), self.s.log_text())
        self.assertTrue(self.s.wait_for(lambda: window() == "1", 10), self.s.log_text())
