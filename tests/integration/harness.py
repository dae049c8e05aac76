"""A private desktop for integration tests: Xvfb, a D-Bus session bus, optional openbox,
and temporary HOME and XDG folders, so that nothing touches the user's own files."""

import configparser
import getpass
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

BINARY = os.environ.get("TOVAMI_BINARY", os.path.join(os.path.dirname(__file__), "../../build/tovami"))
PAM_MATRIX = "/usr/lib/x86_64-linux-gnu/pam_wrapper/pam_matrix.so"
NO_BUS = {"DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/bus"}


def wait_for(predicate, timeout=10.0, interval=0.05):
    """Polls `predicate` until it returns a true value (returned) or `timeout` seconds pass (None)."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


class Session:
    def __init__(self, screen="1280x800", monitors=None, openbox=False, system_bus=False):
        self.screen = screen
        self.monitors = monitors or []
        self.openbox = openbox
        self.system_bus = system_bus
        self._processes = []
        self.tovami = None
        self.tmux = None

    # ---- lifecycle ---------------------------------------------------------------------------
    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="tovami-it-")
        dirs = {name: os.path.join(self.root, name) for name in ("home", "config", "data", "cache", "runtime")}
        for path in dirs.values():
            os.makedirs(path, mode=0o700)
        self.home = dirs["home"]
        self.config_dir = dirs["config"]
        self.log_path = os.path.join(self.root, "tovami.log")
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": dirs["home"],
            "XDG_CONFIG_HOME": dirs["config"],
            "XDG_DATA_HOME": dirs["data"],
            "XDG_CACHE_HOME": dirs["cache"],
            "XDG_RUNTIME_DIR": dirs["runtime"],
            "LANG": "C.UTF-8",
            "TOVAMI_LOG_STDERR": "1",
        }
        try:
            self._start_xvfb()
            self._start_bus("session", "DBUS_SESSION_BUS_ADDRESS")
            if self.system_bus:
                self._start_bus("system", "DBUS_SYSTEM_BUS_ADDRESS")
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
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(3)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        if os.environ.get("TOVAMI_KEEP_TEST_DIRS") != "1":
            shutil.rmtree(self.root, ignore_errors=True)
        return False

    def _spawn(self, argv, **kwargs):
        proc = subprocess.Popen(argv, env=self.env, stdin=subprocess.DEVNULL, **kwargs)
        self._processes.append(proc)
        return proc

    def kill_display(self):
        xvfb = self._processes[0]
        xvfb.kill()
        xvfb.wait()

    def _start_xvfb(self):
        read_fd, write_fd = os.pipe()
        proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.screen + "x24", "-nolisten", "tcp",
             "+extension", "RANDR"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._processes.append(proc)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        self.env["DISPLAY"] = self.display
        for index, (w, h, x, y) in enumerate(self.monitors):
            # millimetre sizes at ~96 dpi keep Qt's scale at 1
            geometry = f"{w}/{round(w * 0.2646)}x{h}/{round(h * 0.2646)}+{x}+{y}"
            self.run(["xrandr", "--setmonitor", f"M{index}", geometry, "none"], check=True)

    def _start_bus(self, kind, variable):
        # A session-configured daemon also stands in for the system bus (fake logind and friends).
        proc = self._spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        address = proc.stdout.readline().decode().strip()
        if not address:
            raise RuntimeError("dbus-daemon did not start")
        self.env[variable] = address

    # ---- the program -------------------------------------------------------------------------
    def start_tovami(self, *args, env=None, output=None):
        """Starts the program with its log in log_path (or `output`, such as subprocess.PIPE)."""
        full_env = dict(self.env)
        full_env.update(env or {})
        self._log = open(self.log_path, "ab")
        self.tovami = subprocess.Popen([BINARY, *args], env=full_env, stdin=subprocess.DEVNULL,
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
        status = self.tovami.returncode
        self.tovami = None
        self._log.close()
        return status

    def write_preferences(self, text):
        folder = os.path.join(self.config_dir, "tovami")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "tovami.conf"), "w") as f:
            f.write(text)
        return os.path.join(folder, "tovami.conf")

    def preferences(self):
        parser = configparser.ConfigParser()
        parser.optionxform = str
        parser.read(os.path.join(self.config_dir, "tovami", "tovami.conf"))
        return dict(parser["General"]) if parser.has_section("General") else {}

    def password_env(self, password="hunter2"):
        """The nap asks for the password, checked by pam_wrapper against `password`."""
        services, passdb = os.path.join(self.root, "pam-services"), os.path.join(self.root, "passdb")
        os.makedirs(services, exist_ok=True)
        with open(passdb, "w") as f:
            f.write(f"{getpass.getuser()}:{password}:tovami\n")
        with open(os.path.join(services, "tovami"), "w") as f:
            f.write(f"auth required {PAM_MATRIX} passdb={passdb}\naccount required {PAM_MATRIX} passdb={passdb}\n")
        self.write_preferences("[General]\nwakeRequirement=auth\n")
        return {"LD_PRELOAD": "libpam_wrapper.so", "PAM_WRAPPER": "1", "PAM_WRAPPER_SERVICE_DIR": services}

    def start_agent(self, name="claude"):
        """A process named `name` idling in a tmux pane of its own server; returns its pid."""
        agent, project = os.path.join(self.root, "bin", name), os.path.join(self.root, "project")
        os.makedirs(os.path.dirname(agent), exist_ok=True)
        os.makedirs(project, exist_ok=True)
        shutil.copy("/bin/sleep", agent)
        self.tmux = os.path.join(self.root, "tmux.sock")
        self.run(["tmux", "-S", self.tmux, "-f", "/dev/null", "new-session", "-d", "-c", project,
                  f"exec '{agent}' 600"], check=True)
        return int(self.run(["tmux", "-S", self.tmux, "display", "-p", "#{pane_pid}"], check=True).stdout)

    def log_text(self):
        try:
            with open(self.log_path, encoding="utf-8", errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def wait_for_log(self, pattern, timeout=10):
        return wait_for(lambda: re.search(pattern, self.log_text()), timeout)

    # ---- looking and touching ----------------------------------------------------------------
    def run(self, argv, check=False, timeout=30, env=None, **kwargs):
        full_env = dict(self.env)
        full_env.update(env or {})
        return subprocess.run(argv, env=full_env, capture_output=True, text=True, check=check, timeout=timeout,
                              **kwargs)

    def xdotool(self, *args):
        return self.run(["xdotool", *map(str, args)])

    def screenshot(self, path):
        self.run(["import", "-window", "root", path], check=True)
        return path

    def root_pixel(self, x, y):
        out = self.run(["import", "-window", "root", "-crop", f"1x1+{x}+{y}", "txt:-"], check=True).stdout
        match = re.search(r"\((\d+),(\d+),(\d+)", out.splitlines()[-1])
        return tuple(int(v) for v in match.groups())

    def window_names(self):
        """Names of the mapped top-level windows (xwininfo's tree)."""
        out = self.run(["xwininfo", "-root", "-tree"]).stdout
        return re.findall(r'^\s+0x[0-9a-f]+ "([^"]*)"', out, re.M)

    def wait_for(self, predicate, timeout=10):
        return wait_for(predicate, timeout)
