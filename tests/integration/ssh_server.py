"""A real OpenSSH server for a test session, unprivileged, on loopback ports of its own, with its own host
key and authorized key. The "remote" side is this machine under another HOME and runtime folder (set by
sshd's SetEnv); the desktop program reaches it as a user would, through a generated ~/.ssh/config."""

import os
import pathlib
import shutil
import socket
import subprocess

import harness

# The system's sshd, or openssh-server's files unpacked beside the build (scripts/install-deps.sh).
SSHD = next((path for path in (os.environ.get("TOVAMI_TEST_SSHD"), "/usr/sbin/sshd",
                               str(pathlib.Path(__file__).resolve().parents[2] / "build-tools/openssh-server/usr/sbin/sshd"))
             if path and os.access(path, os.X_OK)), "")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


class Remote:
    """A "remote" user: its HOME (with ~/.local/bin/tovami, the build's entry) and runtime folder."""

    def __init__(self, s, name="remote"):
        self.home = os.path.join(s.root, f"{name}-home")
        self.run = os.path.join(s.root, f"{name}-run")
        for folder in (os.path.join(self.home, ".local", "bin"), self.run):
            os.makedirs(folder, mode=0o700)
        os.symlink(os.path.abspath(harness.BINARY), os.path.join(self.home, ".local", "bin", "tovami"))
        # For the benchmarks and trials that reach this side's socket and files as it does.
        self.socket = os.path.join(self.home, ".local", "share", "Tovami", "agent.sock")
        self.env = {**s.env, "HOME": self.home, "XDG_RUNTIME_DIR": self.run,
                    "XDG_DATA_HOME": os.path.join(self.home, ".local", "share")}

    def set_env(self):
        return (f"SetEnv HOME={self.home} XDG_RUNTIME_DIR={self.run} "
                f"XDG_DATA_HOME={self.home}/.local/share\n")


def start(s, remote, hosts, extra_config="", host_options=None):
    """Starts sshd for `remote` and names `hosts` in the session's ~/.ssh/config: (alias, address, port, key,
    known_hosts file) where key is "user" (authorized) or "stranger", and a port of None is the server's main
    port. `extra_config` ends sshd's config (Match blocks); `host_options` adds lines to an alias's entry.
    Returns the main port; sshd ends with the session."""
    root = s.root
    keys = os.path.join(root, "keys")
    os.makedirs(keys)
    for name in ("host", "user", "stranger"):
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(keys, name)], check=True)
    shutil.copy(os.path.join(keys, "user.pub"), os.path.join(keys, "authorized"))
    port = free_port()
    hosts = [(alias, address, p or port, key, known) for alias, address, p, key, known in hosts]
    addresses = dict.fromkeys([f"{address}:{p}" for _, address, p, _, _ in hosts if address != "localhost"]
                              + [f"127.0.0.1:{port}"])
    config = os.path.join(root, "sshd_config")
    with open(config, "w") as f:
        f.write("".join(f"ListenAddress {a}\n" for a in addresses) + f"HostKey {keys}/host\nAcceptEnv TOVAMI_FAKE\n"
                f"AuthorizedKeysFile {keys}/authorized\nStrictModes no\nPidFile {root}/sshd.pid\nUsePAM no\n"
                "PermitRootLogin prohibit-password\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                + remote.set_env() + extra_config)
    if os.getuid() == 0:  # sshd started by root wants its privilege separation folder
        os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
    with open(os.path.join(root, "sshd.log"), "wb") as log:
        sshd = subprocess.Popen([SSHD, "-D", "-e", "-f", config], stdout=subprocess.DEVNULL, stderr=log)
    s._processes.append(sshd)  # ends with the session
    # The desktop side: each alias names the server differently, so that none shares another's connection.
    ssh_dir = os.path.join(s.home, ".ssh")
    os.makedirs(ssh_dir, mode=0o700, exist_ok=True)
    with open(os.path.join(keys, "host.pub")) as f:
        host_key = " ".join(f.read().split()[:2])
    with open(os.path.join(ssh_dir, "known_hosts"), "w") as f:
        f.write("".join(f"[{address}]:{p} {host_key}\n" for _, address, p, _, _ in hosts))
    with open(os.path.join(ssh_dir, "config"), "w") as f:
        for alias, address, p, key, known in hosts:
            f.write(f"Host {alias}\n  HostName {address}\n  Port {p}\n  IdentityFile {keys}/{key}\n"
                    f"  IdentitiesOnly yes\n  UserKnownHostsFile {ssh_dir}/{known}\n  SetEnv TOVAMI_FAKE={alias}\n")
            if alias in (host_options or {}):
                f.write(f"  {host_options[alias]}\n")
    # ssh reads the config of the account's home in the password database, not $HOME: a stand-in `ssh`
    # first on PATH hands it the session's own.
    wrapper = os.path.join(root, "ssh-bin", "ssh")
    os.makedirs(os.path.dirname(wrapper))
    with open(wrapper, "w") as f:
        f.write('#!/bin/sh\nexec /usr/bin/ssh -F "$HOME/.ssh/config" "$@"\n')
    os.chmod(wrapper, 0o755)
    s.env["PATH"] = os.path.dirname(wrapper) + ":" + s.env["PATH"]
    if not harness.wait_for(lambda: listening(port), 10):
        raise RuntimeError("sshd did not start:\n" + pathlib.Path(root, "sshd.log").read_text(errors="replace"))
    return port
