"""--render-overlay and --render-island write PNGs without a display; a failure says "render failed", ends with
status 1 and leaves no file behind."""

import os
import pathlib
import stat
import struct
import subprocess
import tempfile
import unittest

import harness


def render(path, extra_env, switch="--render-overlay"):
    # No display at all; the program chooses the off-screen platform itself.
    env = {key: value for key, value in os.environ.items()
           if key not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    return subprocess.run([harness.BINARY, switch, path], env={**env, **extra_env}, capture_output=True, text=True,
                          timeout=60)


def png_size(path):
    with open(path, "rb") as handle:
        head = handle.read(24)
    return struct.unpack(">II", head[16:24]) if head.startswith(b"\x89PNG\r\n\x1a\n") else None


class RenderOverlayTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(prefix="tovami-render-")
        self.addCleanup(self.scratch.cleanup)
        self.runtime = os.path.join(self.scratch.name, "runtime")
        os.makedirs(self.runtime, mode=0o700)
        self.env = {"HOME": self.scratch.name, "XDG_RUNTIME_DIR": self.runtime,
                    "XDG_CONFIG_HOME": os.path.join(self.scratch.name, "config")}

    def test_writes_the_overlay_and_the_island_as_pngs_of_their_sizes(self):
        for switch, name, size in (("--render-overlay", "overlay.png", (1600, 840)),
                                   ("--render-island", "island.png", (1320, 1120))):
            with self.subTest(switch):
                path = os.path.join(self.scratch.name, name)
                result = render(path, self.env, switch)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(png_size(path), size)
                self.assertEqual(sorted(os.listdir(self.scratch.name)), [name, "runtime"])
                os.remove(path)

    def test_every_failure_says_render_failed_and_ends_with_status_1(self):
        locked = os.path.join(self.scratch.name, "locked.png")
        pathlib.Path(locked).write_bytes(b"keep me")
        os.chmod(locked, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        cases = {
            "missing folder": os.path.join(self.scratch.name, "no", "such", "overlay.png"),
            "read-only file": locked,
            "full device": "/dev/full",
            "a folder": self.scratch.name,
        }
        for what, path in cases.items():
            with self.subTest(what):
                result = render(path, self.env)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn("\nrender failed\n", "\n" + result.stderr)  # a line of its own
        self.assertEqual(pathlib.Path(locked).read_bytes(), b"keep me")
        self.assertEqual(sorted(os.listdir(self.scratch.name)), ["locked.png", "runtime"])
