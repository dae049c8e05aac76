"""The island benchmarks' session: Tovami under Xvfb with the island off, collapsed, or opened over one Claude Code
stand-in that works for `busy_seconds` (0: idles from the start)."""

import os

import harness


def start_island(s, island, opened, busy_seconds=0):
    """Starts Tovami in session `s` and returns its process once the island is as asked."""
    s.write_preferences(f"[General]\nislandOnNonNotch={'true' if island else 'false'}\nhasCompletedOnboarding=true\n")
    if opened:
        agent = s.agent_program("claude", harness.FAKE_AGENT)
        s.tmux_cmd("-f", "/dev/null", "new-session", "-d",
                   f"{agent} {os.path.join(s.root, 'claude.pid')} {busy_seconds}")
    s.start_and_wait(timeout=15)
    if opened:
        if not s.wait_for_log("Claude", 15):
            raise RuntimeError("the agent was never seen:\n" + s.log_text())
        s.chord("a")
    return s.tovami
