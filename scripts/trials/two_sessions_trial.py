#!/usr/bin/python3
"""Tries Tovami's agent watch with two real sessions of one agent in one project folder, offline: is each
row bound to its own conversation? Codex and Gemini CLI run in tmux (a private server) with HOME,
CODEX_HOME and the XDG folders in a temporary folder, against stand-ins on loopback whose every reply
names the prompt it answers ("Answer to <prompt>"): for Codex a custom provider and
scripts/trials/fake_responses_api.py's Responses API (no sign-in), for Gemini CLI a small Gemini API
here (GOOGLE_GEMINI_BASE_URL, GEMINI_API_KEY, the folder trusted in trustedFolders.json).

Each round starts session A, then B, either once A's session has begun ("ready": Codex made its thread,
Gemini CLI wrote its chat) or as soon as A's composer is drawn ("quick", as a terminal restoring two tabs
does); it prompts them in one order ("prompt for B" then "prompt for A", or the other way), waits for
each reply, and runs `tovami --list-agents json` once. Each session's row must show its own prompt,
reply and session id (the id in the log that holds its prompt: the rollout's session_meta, the chat's
header). A and B are told apart by their tmux panes (the pane's process and its children). Each round
runs in fresh folders and prints each session's process start, its log's start and id, its row, and
PASS or FAIL; the status is 1 when a round fails. Started "quick", Codex may begin both sessions after both
processes started: a row may then show no conversation (which is whose cannot be told), never the other's.

    scripts/trials/two_sessions_trial.py [--binary build/tovami] [--keep] [--agent codex|gemini ...]
                                         [--start ready|quick ...] [--order BA|AB ...]

Needs tmux, `codex` on PATH (npm install -g @openai/codex) and, for its rounds, `gemini`
(npm install -g @google/gemini-cli); builds nothing (build/tovami unless --binary or $TOVAMI_BINARY
names another `tovami`)."""

import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path.insert(0, str(HERE))
from fake_responses_api import CODEX_CONFIG  # noqa: E402



def prompt_text(content):
    """The text of a message's content: a string or a list of parts."""
    if isinstance(content, str):
        return content
    return "\n".join(str(c.get("text", "")) for c in content or [] if isinstance(c, dict))


def serve_responses(lifetime):
    """The stand-in Responses API, answering each prompt with a text that names it."""
    sys.path.insert(0, str(HERE))
    import fake_responses_api as api

    def reply_items(body):
        items = body.get("input") or []
        for item in reversed(items):
            if isinstance(item, dict) and item.get("role") == "user":
                text = prompt_text(item.get("content")).strip()
                if text and not text.startswith("<"):
                    return [api.message_item(f"Answer to {text}")]
        return [api.message_item("Answer to nothing")]

    api.reply_items = reply_items
    sys.argv = [sys.argv[0], "--lifetime", str(lifetime)]
    api.main()


def serve_gemini(lifetime, log):
    """A stand-in Gemini API on loopback: streamGenerateContent (server-sent events) and generateContent
    answer the last user text with "Answer to <prompt>"; a request for JSON (Gemini CLI's own checks)
    gets an empty object; countTokens a count; the rest 404. Requests are appended to `log`."""
    import threading
    from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

    def answer(body):
        wants_json = (body.get("generationConfig") or body.get("config") or {}).get("responseMimeType") == \
            "application/json"
        if wants_json:
            return "{}"
        for content in reversed(body.get("contents") or []):
            if isinstance(content, dict) and content.get("role", "user") == "user":
                texts = [p.get("text") for p in content.get("parts") or [] if isinstance(p, dict) and p.get("text")]
                if texts:
                    return f"Answer to {texts[-1].strip()}"
        return "Answer to nothing"

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def reply(self, status, payload, content_type="application/json"):
            data = payload if isinstance(payload, bytes) else json.dumps(payload).encode()
            self.send_response(status)
            self.send_header("content-type", content_type)
            self.send_header("content-length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def do_GET(self):
            self.reply(404, {"error": {"code": 404, "message": "not here", "status": "NOT_FOUND"}})

        def do_POST(self):
            length = int(self.headers.get("content-length") or 0)
            try:
                body = json.loads(self.rfile.read(length) or b"{}")
            except ValueError:
                body = {}
            path = self.path.split("?")[0]
            with open(log, "a") as out:
                out.write(json.dumps({"path": self.path, "body": body})[:4000] + "\n")
            usage = {"promptTokenCount": 10, "candidatesTokenCount": 5, "totalTokenCount": 15}
            if path.endswith(":countTokens"):
                return self.reply(200, {"totalTokens": 10})
            if path.endswith(":generateContent") or path.endswith(":streamGenerateContent"):
                chunk = {"candidates": [{"content": {"role": "model", "parts": [{"text": answer(body)}]},
                                         "finishReason": "STOP", "index": 0}],
                         "usageMetadata": usage, "modelVersion": path.split("/")[-1].split(":")[0]}
                if path.endswith(":generateContent"):
                    return self.reply(200, chunk)
                return self.reply(200, f"data: {json.dumps(chunk)}\r\n\r\n".encode(), "text/event-stream")
            self.reply(404, {"error": {"code": 404, "message": "not here", "status": "NOT_FOUND"}})

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)  # loopback only
    print(server.server_address[1], flush=True)
    threading.Timer(lifetime, server.shutdown).start()
    server.serve_forever()


class Trial:
    """One order in fresh folders: a home, a project, a tmux server, a stand-in API."""

    def __init__(self, binary, name, keep):
        self.binary, self.name, self.keep = binary, name, keep
        self.root = pathlib.Path(tempfile.mkdtemp(prefix=f"tovami-two-{name}-"))
        self.home = self.root / "home"
        self.project = self.home / "work" / "demo"
        self.project.mkdir(parents=True)
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8", "TERM": "xterm-256color",
                    "HOME": str(self.home), "USER": os.environ.get("USER", "root"),
                    "XDG_CONFIG_HOME": str(self.home / ".config"), "XDG_DATA_HOME": str(self.home / ".local/share"),
                    "XDG_STATE_HOME": str(self.home / ".local/state"), "XDG_CACHE_HOME": str(self.home / ".cache"),
                    "XDG_RUNTIME_DIR": str(self.root / "run")}
        (self.root / "run").mkdir(mode=0o700)
        self.socket = f"tovami-two-{os.getpid()}-{name}"
        self.servers = []

    def tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.socket, *args], env=self.env, capture_output=True, text=True,
                              check=True).stdout

    def screen(self, session):
        return self.tmux("capture-pane", "-p", "-t", f"={session}:")

    def start_server(self, args, lifetime=600):
        server = subprocess.Popen([sys.executable, str(pathlib.Path(__file__).resolve()), *args, "--lifetime",
                                   str(lifetime)], stdout=subprocess.PIPE, text=True, env=self.env)
        self.servers.append(server)
        return int(server.stdout.readline())

    def start(self, session, command, drawn, begun=None, timeout=60):
        """Starts a session in its own tmux session; returns once `drawn` is on its screen and, when
        `begun` is given, once begun() is true too (up to 20 s more)."""
        if session == "A":
            self.tmux("-f", "/dev/null", "new-session", "-d", "-s", session, "-x", "160", "-y", "45", "-c",
                      str(self.project), *command)
        else:
            self.tmux("new-session", "-d", "-s", session, "-x", "160", "-y", "45", "-c", str(self.project),
                      *command)
        began = time.monotonic()
        while drawn not in self.screen(session):
            if time.monotonic() - began > timeout:
                raise RuntimeError(f"{session} not ready in {timeout} s:\n{self.screen(session)}")
            time.sleep(0.2)
        shown = time.monotonic() - began
        if begun:
            while not begun() and time.monotonic() - began < shown + 20:
                time.sleep(0.2)
        return shown, time.monotonic() - began

    def prompt(self, session, text, composer=None, timeout=60):
        self.tmux("send-keys", "-t", f"={session}:", "-l", text)
        time.sleep(0.5)
        self.tmux("send-keys", "-t", f"={session}:", "Enter")
        began, entered = time.monotonic(), 1
        while time.monotonic() - began < timeout:
            if f"Answer to {text}" in self.screen(session):
                return time.monotonic() - began
            if composer and time.monotonic() - began > 5 * entered and entered < 3 and any(
                    line.strip() == f"{composer} {text}" for line in self.screen(session).splitlines()[-6:]):
                # Still in the composer: the Enter came too early.
                print(f"   {session}: the prompt still waits in the composer, Enter again")
                self.tmux("send-keys", "-t", f"={session}:", "Enter")
                entered += 1
            time.sleep(0.3)
        raise RuntimeError(f"no reply in {session} in {timeout} s:\n{self.screen(session)}")

    def pids(self, session):
        """The pane's process and every descendant of it."""
        pane = int(self.tmux("list-panes", "-t", f"={session}:", "-F", "#{pane_pid}").split()[0])
        children = {}
        for line in subprocess.run(["ps", "-eo", "pid=,ppid="], capture_output=True, text=True).stdout.splitlines():
            pid, ppid = map(int, line.split())
            children.setdefault(ppid, []).append(pid)
        found, todo = [], [pane]
        while todo:
            pid = todo.pop()
            found.append(pid)
            todo.extend(children.get(pid, []))
        return found

    def list_agents(self):
        out = subprocess.run([self.binary, "--list-agents", "json"], env=self.env, capture_output=True, text=True,
                             timeout=30)
        return json.loads(out.stdout)

    def end(self):
        try:
            for session in ("A", "B"):
                subprocess.run(["tmux", "-L", self.socket, "send-keys", "-t", f"={session}:", "C-c"],
                               env=self.env, capture_output=True)
            time.sleep(0.5)
            subprocess.run(["tmux", "-L", self.socket, "kill-server"], env=self.env, capture_output=True)
        finally:
            # Codex's shared app-server outlives its sessions (re-parented to init): end this trial's only,
            # found by the home in its environment.
            time.sleep(0.5)
            for proc in pathlib.Path("/proc").iterdir():
                if not proc.name.isdigit():
                    continue
                try:
                    environ = (proc / "environ").read_bytes().split(b"\0")
                except OSError:
                    continue
                if f"HOME={self.home}".encode() in environ:
                    try:
                        os.kill(int(proc.name), 9)
                    except OSError:
                        pass
            for server in self.servers:
                server.kill()
                server.wait()
            if self.keep:
                print("   kept:", self.root)
            else:
                shutil.rmtree(self.root, ignore_errors=True)


def process_start(pid):
    """A process's start as Unix seconds, from /proc (to the clock tick)."""
    fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rpartition(")")[2].split()
    boot = next(float(line.split()[1]) for line in open("/proc/stat") if line.startswith("btime "))
    return boot + int(fields[19]) / os.sysconf("SC_CLK_TCK")


def clock(seconds):
    return time.strftime("%H:%M:%S", time.gmtime(seconds)) + f"{seconds % 1:.2f}"[1:]


def iso_seconds(text):
    """Unix seconds of an ISO time such as 2026-12-07T19:49:45.366Z; None when unreadable."""
    try:
        from datetime import datetime
        return datetime.fromisoformat(str(text).replace("Z", "+00:00")).timestamp()
    except ValueError:
        return None


def codex_logs(codex_home):
    """Every rollout: its session_meta id and the prompts in it."""
    logs = []
    for path in sorted((codex_home / "sessions").rglob("rollout-*.jsonl")):
        meta, started, prompts = None, None, []
        for line in path.read_text(errors="replace").splitlines():
            try:
                record = json.loads(line)
            except ValueError:
                continue
            payload = record.get("payload") or {}
            if record.get("type") == "session_meta" and meta is None:
                meta, started = payload.get("id"), iso_seconds(payload.get("timestamp"))
            if (record.get("type") == "response_item" and payload.get("type") == "message"
                    and payload.get("role") == "user"):
                prompts.append(prompt_text(payload.get("content")))
            if record.get("type") == "event_msg" and payload.get("type") == "user_message":
                prompts.append(str(payload.get("message")))
        logs.append({"path": path, "id": meta, "started": started, "prompts": prompts})
    return logs


def check(trial, rows, expected, blank_allowed=False):
    """expected: session -> (prompt, session id, or None when its log names none). Prints each row; True when
    each row shows its own prompt, reply and session id, or (with `blank_allowed`, for agents started too close
    together to tell their sessions apart) no conversation at all: never another session's."""
    ok = True
    for session in ("A", "B"):
        prompt, session_id = expected[session]
        pids = trial.pids(session)
        mine = [r for r in rows if r.get("pid") in pids]
        if len(mine) != 1:
            print(f"   {session}: {len(mine)} rows for pids {pids}: WRONG")
            ok = False
            continue
        row = mine[0]
        transcript = row.get("transcript") or {}
        got = (row["pid"], (row.get("session") or {}).get("id"), transcript.get("you"), transcript.get("reply"))
        right = got[1] == session_id and got[2] == prompt and got[3] == f"Answer to {prompt}"
        blank = blank_allowed and got[1:] == (None, None, None)
        ok = ok and (right or blank)
        note = " (its log names no session id)" if session_id is None else ""
        if blank:
            right, note = True, " (no conversation: too close to tell, never another's)"
        print(f"   {session}: pid {got[0]} ({row.get('agent')}) session {got[1]} | you: {got[2]!r} | "
              f"reply: {got[3]!r} -> {'right' + note if right else 'WRONG, expected ' + repr((session_id, prompt))}")
    return ok


def gemini_logs(gemini_home):
    """Every Gemini CLI chat: its sessionId, start and the prompts in it (JSON lines, or one JSON object)."""
    logs = []
    for path in sorted((gemini_home / "tmp").glob("*/chats/session-*.json*")):
        text = path.read_text(errors="replace")
        try:
            records = [json.loads(text)] if path.suffix == ".json" else []
        except ValueError:
            records = []
        if path.suffix == ".jsonl":
            for line in text.splitlines():
                try:
                    records.append(json.loads(line))
                except ValueError:
                    pass
        meta, started, prompts = None, None, []
        for record in records:
            if not isinstance(record, dict):
                continue
            if meta is None and record.get("sessionId"):
                meta, started = record["sessionId"], iso_seconds(record.get("startTime"))
            for message in [record] + list(record.get("messages") or (record.get("$set") or {}).get("messages")
                                            or []):
                if isinstance(message, dict) and message.get("type") == "user":
                    prompts.append(prompt_text(message.get("content")))
        logs.append({"path": path, "id": meta, "started": started, "prompts": prompts})
    return logs


def run_order(binary, agent, order, keep, quick):
    """Starts A, then B (once A's session has begun, or at once when `quick`), prompts them in `order`,
    lists the agents and checks each row."""
    trial = Trial(binary, f"{agent}-{order}", keep)
    try:
        if agent == "codex":
            home = trial.home / ".codex"
            home.mkdir()
            trial.env["CODEX_HOME"] = str(home)
            port = trial.start_server(["--serve-responses"])
            (home / "config.toml").write_text(CODEX_CONFIG.format(port=port, project=trial.project))
            command, drawn, composer = ["env", "FAKE_API_KEY=dummy", "codex"], "Ask Codex to do anything", "\u203a"
            # Codex draws its composer before its session exists (the first one starts the shared
            # app-server meanwhile) and drops keys typed until then. The session has begun once Codex 0.171
            # made a file named by its id in tui-thread-reference-capabilities/ (an undocumented detail:
            # else 20 s pass).
            threads = home / "tui-thread-reference-capabilities"
            names = lambda: {p.name for p in threads.iterdir()} if threads.is_dir() else set()
            logs, kind = lambda: codex_logs(home), "rollout"
        else:
            home = trial.home / ".gemini"
            home.mkdir()
            port = trial.start_server(["--serve-gemini", str(trial.root / "gemini-api.jsonl")])
            # No first-run questions: the folder trusted, the API key chosen (read from GEMINI_API_KEY).
            (home / "trustedFolders.json").write_text(json.dumps({str(trial.project): "TRUST_FOLDER"}))
            (home / "settings.json").write_text(json.dumps({"security": {"auth": {"selectedType": "gemini-api-key"}}}))
            command = ["env", f"GOOGLE_GEMINI_BASE_URL=http://127.0.0.1:{port}", "GEMINI_API_KEY=dummy", "gemini"]
            drawn, composer = "Type your message", None
            # Gemini CLI writes its chat's header when the session begins (a later session in the folder
            # deletes it again while it holds no prompt).
            names = lambda: {p.name for p in (home / "tmp").glob("*/chats/session-*")}
            logs, kind = lambda: gemini_logs(home), "chat"
        name = "Codex" if agent == "codex" else "Gemini CLI"
        for session in ("A", "B"):
            wait = not quick or session == "B"
            before = names()
            shown, ready = trial.start(session, command, drawn, (lambda: bool(names() - before)) if wait else None)
            print(f"   {name} {session}: composer after {shown:.1f} s, " +
                  (f"session begun after {ready:.1f} s" if wait else "B started at once") +
                  f" (pids {trial.pids(session)})")
        for session in order:
            took = trial.prompt(session, f"prompt for {session}", composer)
            print(f"   prompted {session}, replied after {took:.1f} s")
        time.sleep(1)
        found = logs()
        expected = {}
        for session in ("A", "B"):
            prompt = f"prompt for {session}"
            holding = [log for log in found if any(p.strip() == prompt for p in log["prompts"])]
            print(f"   {session}: process started {clock(process_start(trial.pids(session)[0]))}; {kind} " +
                  (", ".join(f"{log['path'].name} (id {log['id']}, session started "
                             f"{clock(log['started']) if log['started'] else '?'})" for log in holding) or "none"))
            if len(holding) == 1 and not holding[0]["id"]:
                print(f"   {session}'s {kind} names no session id: its header is gone (Gemini CLI deletes a "
                      "chat without a prompt of another session in the folder when it starts, and the first "
                      "prompt then starts a file without one)")
            expected[session] = (prompt, holding[0]["id"] if len(holding) == 1 else "?")
        return check(trial, trial.list_agents(), expected, blank_allowed=quick)
    finally:
        trial.end()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", help="the `tovami` to try (default: $TOVAMI_BINARY, else build/tovami)")
    parser.add_argument("--keep", action="store_true", help="keep each order's folder")
    parser.add_argument("--order", action="append", choices=["AB", "BA"], help="prompt order (default: BA, AB)")
    parser.add_argument("--start", action="append", choices=["ready", "quick"],
                        help="B started once A's session has begun, or as soon as A's composer is drawn "
                             "(default: both)")
    parser.add_argument("--agent", action="append", choices=["codex", "gemini"],
                        help="default: codex, and gemini when it is on PATH")
    parser.add_argument("--serve-responses", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--serve-gemini", help=argparse.SUPPRESS)
    parser.add_argument("--lifetime", type=float, default=600, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.serve_responses:
        return serve_responses(args.lifetime)
    if args.serve_gemini:
        return serve_gemini(args.lifetime, args.serve_gemini)
    binary = os.path.abspath(args.binary or os.environ.get("TOVAMI_BINARY") or ROOT / "build" / "tovami")
    if not os.access(binary, os.X_OK):
        sys.exit(f"no tovami at {binary}")
    version = lambda *c: subprocess.run(c, capture_output=True, text=True).stdout.strip()
    print("tovami:", binary, version(binary, "--version"), "| codex:", version("codex", "--version"),
          "|", version("tmux", "-V"))
    results = {}
    agents = args.agent or ["codex"] + (["gemini"] if shutil.which("gemini") else [])
    if "gemini" in agents:
        print("gemini:", version("gemini", "--version"))
    for agent in agents:
        for start in args.start or ["ready", "quick"]:
            for order in args.order or ["BA", "AB"]:
                name = (f"{'Codex' if agent == 'codex' else 'Gemini CLI'}, B started "
                        f"{'once A is ready' if start == 'ready' else 'at once'}, prompted {order}")
                print(f"-- {name}", flush=True)
                try:
                    results[name] = run_order(binary, agent, order, args.keep, start == "quick")
                except RuntimeError as error:
                    print("  ", error)
                    results[name] = False
    for name, ok in results.items():
        print(f"{name}: {'PASS' if ok else 'FAIL'}")
    sys.exit(0 if all(results.values()) else 1)


if __name__ == "__main__":
    main()
