"""A private desktop for integration tests: Xvfb, a D-Bus session bus, optional openbox,
and temporary HOME and XDG folders, so that nothing touches the user's own files."""

import configparser
import getpass
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import tempfile
import time

SANITIZER_REPORT = re.compile(r"ERROR: (Address|Leak)Sanitizer|runtime error: ")
BINARY = os.environ.get("TOVAMI_BINARY", os.path.join(os.path.dirname(__file__), "../../build/tovami"))
PAM_MATRIX = "/usr/lib/x86_64-linux-gnu/pam_wrapper/pam_matrix.so"
NO_BUS = {"DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/bus"}
WAYLAND = {"WAYLAND_DISPLAY": "wayland-fake", "XDG_SESSION_TYPE": "wayland"}  # XWayland: DISPLAY stays set
HERE = os.path.dirname(os.path.abspath(__file__))
QTERMINAL = os.path.join(os.environ.get("TOVAMI_BUILD_DIR", os.path.join(HERE, "../../build")),
                         "tests/fixtures/qterminal")
# A recorded request whose suggestion is a Read rule for the session.
PERMISSION_REQUEST = sorted(pathlib.Path(HERE, "../fixtures/claude-code/hooks").glob("*-PermissionRequest.json"))[0]
# An agent stand-in: writes its pid to argv[1], burns CPU for argv[2] seconds (if given), then idles.
FAKE_AGENT = """#!/usr/bin/python3
import os, sys, time
with open(sys.argv[1], "w") as f:
    f.write(str(os.getpid()))
end = time.monotonic() + float(sys.argv[2] if len(sys.argv) > 2 else 0)
while time.monotonic() < end:
    pass
while True:
    time.sleep(60)
"""


def wait_for(predicate, timeout=10.0, interval=0.05):
    """Polls `predicate` until it returns a true value (returned) or `timeout` seconds pass (None)."""
    deadline = time.monotonic() + timeout
    while not (value := predicate()):
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)
    return value


def session_for(test, **options):
    """A Session open for the whole of `test`, closed by its cleanup."""
    session = Session(**options).__enter__()
    test.addCleanup(session.__exit__, None, None, None)
    return session


def proc_start(pid):
    """The process's start time in clock ticks, as Claude Code's status files record it."""
    with open(f"/proc/{pid}/stat") as f:
        return f.read().rsplit(")", 1)[1].split()[19]


class Session:
    def __init__(self, screen="1280x800", monitors=(), openbox=False, system_bus=False, tour=False):
        """`tour`: a true first launch, which shows the welcome tour; other sessions start with it done."""
        self.screen, self.monitors, self.openbox, self.system_bus = screen, monitors, openbox, system_bus
        self.tour = tour
        self._processes, self.tovami, self.tmux = [], None, None

    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="tovami-it-")
        dirs = {name: os.path.join(self.root, name) for name in ("home", "config", "data", "cache", "runtime")}
        for path in dirs.values():
            os.makedirs(path, mode=0o700)
        self.home, self.config_dir = dirs["home"], dirs["config"]
        self.log_path = os.path.join(self.root, "tovami.log")
        if not self.tour:
            self.write_preferences("[General]\n")
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": dirs["home"],
                    "XDG_CONFIG_HOME": dirs["config"], "XDG_DATA_HOME": dirs["data"], "XDG_CACHE_HOME": dirs["cache"],
                    "XDG_RUNTIME_DIR": dirs["runtime"], "LANG": "C.UTF-8", "TOVAMI_LOG_STDERR": "1"}
        try:
            self._start_xvfb()
            self._start_bus("DBUS_SESSION_BUS_ADDRESS")
            if self.system_bus:  # a session-configured daemon stands in for the system bus (fake logind)
                self._start_bus("DBUS_SYSTEM_BUS_ADDRESS")
            if self.openbox:
                self._spawn(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                wait_for(lambda: "_NET_SUPPORTING_WM_CHECK" in self.run(["xprop", "-root"]).stdout, 10)
        except Exception:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        self.stop_tovami()
        if self.tmux:
            self.run(["tmux", "-S", self.tmux, "kill-server"])
        for proc in reversed(self._processes):
            proc.kill()
            proc.wait()
            for stream in (proc.stdout, proc.stderr):
                if stream:
                    stream.close()
        if os.environ.get("TOVAMI_KEEP_TEST_DIRS") != "1":
            shutil.rmtree(self.root, ignore_errors=True)
        return False

    def _spawn(self, argv, **kwargs):
        proc = subprocess.Popen(argv, env=self.env, stdin=subprocess.DEVNULL, **kwargs)
        self._processes.append(proc)
        return proc

    def kill_display(self):
        self._processes[0].kill()
        self._processes[0].wait()

    def _start_xvfb(self):
        read_fd, write_fd = os.pipe()
        self._processes.append(subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.screen + "x24", "-nolisten", "tcp",
             "+extension", "RANDR"], pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = self.env["DISPLAY"] = ":" + number
        self._monitor_holder = None
        if self.monitors:
            self.set_monitors(self.monitors)

    def set_monitors(self, monitors):
        """Makes the display's RandR monitors exactly `monitors` ((width, height, x, y) each), held by x_monitors.py."""
        if not self._monitor_holder:
            self._monitor_holder = subprocess.Popen(
                ["/usr/bin/python3", os.path.join(HERE, "x_monitors.py")], env=self.env, stdin=subprocess.PIPE,
                stdout=subprocess.PIPE, text=True)
            self._processes.append(self._monitor_holder)
        self._monitor_holder.stdin.write(json.dumps([list(m) for m in monitors]) + "\n")
        self._monitor_holder.stdin.flush()
        if self._monitor_holder.stdout.readline().strip() != "ready":
            raise RuntimeError("x_monitors.py did not set the monitors")

    def _start_bus(self, variable):
        proc = self._spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.env[variable] = proc.stdout.readline().decode().strip()
        if not self.env[variable]:
            raise RuntimeError("dbus-daemon did not start")

    def start_tovami(self, *args, env=None, output=None):
        """Starts the program with its log in log_path (or `output`, such as subprocess.PIPE)."""
        self._log = open(self.log_path, "ab")
        self.tovami = subprocess.Popen([BINARY, *args], env={**self.env, **(env or {})}, stdin=subprocess.DEVNULL,
                                       stdout=output or self._log, stderr=subprocess.STDOUT)
        return self.tovami

    def stop_tovami(self, timeout=10, sig=signal.SIGTERM):
        """Sends `sig` and returns the exit status (None if it was not running)."""
        if not self.tovami:
            return None
        if self.tovami.poll() is None:
            self.tovami.send_signal(sig)
            try:
                self.tovami.wait(timeout)
            except subprocess.TimeoutExpired:
                self.tovami.kill()
                self.tovami.wait()
        status, self.tovami = self.tovami.returncode, None
        self._log.close()
        # In the sanitized build a report fails the test even where the exit status is not checked.
        report = SANITIZER_REPORT.search(self.log_text())
        if report:
            raise AssertionError("sanitizer report in the program's log:\n" + self.log_text()[report.start():][:6000])
        return status

    def write_preferences(self, text):
        if not self.tour and "hasCompletedOnboarding" not in text:
            text = text.replace("[General]\n", "[General]\nhasCompletedOnboarding=true\n", 1)
        path = pathlib.Path(self.config_dir, "tovami", "tovami.conf")
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
        return str(path)

    def preferences(self):
        parser = configparser.ConfigParser()
        parser.optionxform = str
        parser.read(os.path.join(self.config_dir, "tovami", "tovami.conf"))
        return dict(parser["General"]) if parser.has_section("General") else {}

    def password_env(self, password="hunter2", auth_module=None, service="tovami"):
        """The nap asks for the password, checked by pam_wrapper against `password`. `auth_module`
        replaces the password check; a passdb entry for another `service` locks the account."""
        services, passdb = pathlib.Path(self.root, "pam-services"), pathlib.Path(self.root, "passdb")
        services.mkdir(exist_ok=True)
        passdb.write_text(f"{getpass.getuser()}:{password}:{service}\n")
        matrix = f"{PAM_MATRIX} passdb={passdb}"
        (services / "tovami").write_text(f"auth required {auth_module or matrix}\naccount required {matrix}\n")
        self.write_preferences("[General]\nwakeRequirement=auth\n")
        # Without RTLD_DEEPBIND (the switch carries uid_wrapper's name): the sanitizers refuse it.
        return {"LD_PRELOAD": "libpam_wrapper.so", "PAM_WRAPPER": "1", "PAM_WRAPPER_SERVICE_DIR": str(services),
                "UID_WRAPPER_DISABLE_DEEPBIND": "1"}

    def start_helper(self, script, *args):
        """Runs one of the fake services beside this file; returns it once it printed "ready"."""
        proc = self._spawn(["/usr/bin/python3", os.path.join(HERE, script), *args], stdout=subprocess.PIPE)
        if proc.stdout.readline().strip() != b"ready":
            raise RuntimeError(f"{script} did not start")
        return proc

    def start_and_wait(self, *args, env=None, timeout=10):
        """Starts the program and waits for its "tovami started" (an AssertionError with the log if it never comes)."""
        self.start_tovami(*args, env=env)
        if not self.wait_for_log("tovami started", timeout):
            raise AssertionError("the program never started:\n" + self.log_text())

    def chord(self, key):
        """Ctrl+Alt+`key`, pressed and released as a person does."""
        self.xdotool("keydown", "Control_L", "keydown", "Alt_L", "key", key, "keyup", "Alt_L", "keyup", "Control_L")

    def agent_program(self, name="claude", script=None):
        """An executable named like an agent in root/bin: `script`, or else a copy of sleep."""
        path = os.path.join(self.root, "bin", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if os.path.exists(path):  # a running copy cannot be written over
            return path
        if script is None:
            shutil.copy("/bin/sleep", path)
        else:
            pathlib.Path(path).write_text(script)
            os.chmod(path, 0o755)
        return path

    def read_pid(self, pid_file):
        """The pid a FAKE_AGENT wrote, once it did (None after ten seconds)."""
        text = wait_for(lambda: os.path.exists(pid_file) and pathlib.Path(pid_file).read_text().strip(), 10)
        return int(text) if text else None

    def claude_status(self, pid, session_id, status, **fields):
        """Claude Code's live status file of the process `pid`, written whole as Claude Code does."""
        path = pathlib.Path(self.home, ".claude", "sessions", f"{pid}.json")
        path.parent.mkdir(parents=True, exist_ok=True)
        record = {"pid": pid, "sessionId": session_id, "procStart": proc_start(pid), "status": status, **fields}
        temporary = path.with_name(path.name + ".tmp")
        temporary.write_text(json.dumps(record))
        temporary.replace(path)

    def tmux_cmd(self, *args):
        """Runs tmux on the session's own server (killed at the end); returns its output."""
        self.tmux = self.tmux or os.path.join(self.root, "tmux.sock")
        return self.run(["tmux", "-S", self.tmux, *args], check=True).stdout.strip()

    def start_agent(self, name="claude", project=None, args=("600",)):
        """The agent_program `name` (given `args`) in `project` (root/project) in a tmux pane of the session's
        server, in a new window once the server runs; returns its pid."""
        project = project or os.path.join(self.root, "project")
        os.makedirs(project, exist_ok=True)
        start = ("new-window",) if self.tmux else ("-f", "/dev/null", "new-session", "-d")
        self.tmux_cmd(*start, "-c", project, "exec " + " ".join(f"'{a}'" for a in (self.agent_program(name), *args)))
        return int(self.tmux_cmd("display", "-p", "#{pane_pid}"))

    def ask_permission(self, project, session_id, command, *args, env=None, suggestions=True):
        """The hook client (`--hook permission-request`, then `args`) as Claude Code runs it, asking about the
        Bash `command`; it waits for the decision on its stdout. Killed at the end."""
        payload = json.loads(PERMISSION_REQUEST.read_text().splitlines()[0])
        payload.update(cwd=project, session_id=session_id, tool_input={"command": command})
        if not suggestions:
            del payload["permission_suggestions"]
        client = subprocess.Popen([BINARY, "--hook", "permission-request", *args], env={**self.env, **(env or {})},
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._processes.append(client)
        client.stdin.write(json.dumps(payload).encode())
        client.stdin.close()
        client.stdin = None  # closed: the decision is all that is left to read
        return client

    def xterm(self, title, *args):
        """An xterm titled `title`, given xterm's `args`; its window once shown."""
        self._spawn(["xterm", "-title", title, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(self.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", f"^{title}$"],
                            timeout=15).stdout.split()[0])

    def active_window(self):
        match = re.search(r"# (0x[0-9a-f]+)", self.run(["xprop", "-root", "_NET_ACTIVE_WINDOW"]).stdout)
        return int(match.group(1), 16) if match else 0

    def log_text(self):
        path = pathlib.Path(self.log_path)
        return path.read_text(encoding="utf-8", errors="replace") if path.exists() else ""

    def wait_for_log(self, pattern, timeout=10):
        return wait_for(lambda: re.search(pattern, self.log_text()), timeout)

    def wait_for(self, predicate, timeout=10):
        return wait_for(predicate, timeout)

    def run(self, argv, check=False, timeout=30, env=None, **kwargs):
        return subprocess.run(argv, env={**self.env, **(env or {})}, capture_output=True, text=True, check=check,
                              timeout=timeout, **kwargs)

    def xdotool(self, *args):
        return self.run(["xdotool", *map(str, args)])

    def screenshot(self, path):
        self.run(["import", "-window", "root", path], check=True)
        return path

    def shot_path(self, name):
        """Where a test leaves a screenshot: $TOVAMI_SHOTS when set, else the session's folder."""
        return os.path.join(os.environ.get("TOVAMI_SHOTS", self.root), name)

    def root_pixel(self, x, y):
        out = self.run(["import", "-window", "root", "-crop", f"1x1+{x}+{y}", "txt:-"], check=True).stdout
        return tuple(int(v) for v in re.search(r"\((\d+),(\d+),(\d+)", out.splitlines()[-1]).groups())

    def root_pixels(self, x, y, width, height):
        """Rows of (r, g, b) tuples of a rectangle of the screen."""
        data = subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}", "-depth", "8",
                               "ppm:-"], env=self.env, capture_output=True, check=True, timeout=30).stdout
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+\d+\s", data)  # one whitespace byte ends the header
        w, h, pixels = int(header[1]), int(header[2]), data[header.end():]
        return [[tuple(pixels[(r * w + c) * 3:(r * w + c) * 3 + 3]) for c in range(w)] for r in range(h)]

    def window_names(self):
        """Names of the mapped top-level windows (xwininfo's tree)."""
        return re.findall(r'^\s+0x[0-9a-f]+ "([^"]*)"', self.run(["xwininfo", "-root", "-tree"]).stdout, re.M)
