#!/usr/bin/python3
"""A small stand-in for the Responses API on loopback, to run Codex offline through a custom provider:
every turn whose last input is the user's prompt is answered with one call of Codex's shell tool (what
follows "run: " on a line of the prompt, else the command from --command; it asks to run outside the
sandbox, so Codex asks for approval), streamed as server-sent events; the turn after the tool's output
gets a short text. Requests are appended to --log as JSON lines (with the tools' outputs, so a trial can
tell a command that ran from one that was blocked).

    fake_responses_api.py --port 8788 --command 'touch /tmp/asked' --log requests.jsonl

and in $CODEX_HOME/config.toml:

    model = "fake-model"
    model_provider = "fake"
    approval_policy = "on-request"
    sandbox_mode = "workspace-write"
    [model_providers.fake]
    name = "fake"
    base_url = "http://127.0.0.1:8788/v1"
    env_key = "FAKE_API_KEY"
    wire_api = "responses"

The server stops by itself after --lifetime seconds (default 1800).
"""

import argparse
import json
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

# Codex's config.toml for a provider on this server: no sign-in, the project trusted.
CODEX_CONFIG = """model = "fake-model"
model_provider = "fake"
approval_policy = "on-request"
sandbox_mode = "workspace-write"

[model_providers.fake]
name = "fake"
base_url = "http://127.0.0.1:{port}/v1"
env_key = "FAKE_API_KEY"
wire_api = "responses"

[projects."{project}"]
trust_level = "trusted"
"""

ARGS = None
LOCK = threading.Lock()
COUNTER = [0]


def next_id(prefix):
    with LOCK:
        COUNTER[0] += 1
        return f"{prefix}_{COUNTER[0]:06d}"


def asked_command(items):
    """The command the user's latest prompt names on a line "run: COMMAND", else --command."""
    for item in reversed(items):
        if isinstance(item, dict) and item.get("role") == "user":
            content = item.get("content")
            texts = [content] if isinstance(content, str) else \
                [c.get("text", "") for c in content or [] if isinstance(c, dict)]
            for text in texts:
                for line in str(text).splitlines():
                    if line.strip().startswith("run: "):
                        return line.strip()[len("run: "):]
            break
    return ARGS.command


def tool_call(tools, command):
    """The call of the shell tool Codex offers in this version: `shell_command` (a string), `exec_command`
    (`cmd`) or the older `shell` (an argument list); None when it offers none of them."""
    names = {t.get("name"): t for t in tools if isinstance(t, dict)}
    escalate = {"sandbox_permissions": "require_escalated",
                "justification": "The trial asks to run this outside the sandbox"}
    if "shell_command" in names:
        return "shell_command", {"command": command, **escalate}
    if "exec_command" in names:
        return "exec_command", {"cmd": command, **escalate}
    if "shell" in names:
        return "shell", {"command": ["bash", "-lc", command], **escalate}
    return None


def reply_items(body):
    """The output items of this turn: a shell call after the user's prompt, text after a tool's output."""
    items = body.get("input") or []
    last = items[-1] if items and isinstance(items[-1], dict) else {}
    if last.get("type") in ("function_call_output", "custom_tool_call_output"):
        return [message_item("Done.")]
    call = tool_call(body.get("tools") or [], asked_command(items))
    if last.get("role") == "user" and call:
        name, arguments = call
        return [{"type": "function_call", "id": next_id("fc"), "call_id": next_id("call"), "name": name,
                 "arguments": json.dumps(arguments)}]
    return [message_item("Done.")]


def message_item(text):
    return {"type": "message", "id": next_id("msg"), "role": "assistant", "status": "completed",
            "content": [{"type": "output_text", "text": text, "annotations": []}]}


def events(body, items):
    response = {"id": next_id("resp"), "object": "response", "model": body.get("model", "fake-model"),
                "status": "in_progress", "output": []}
    yield "response.created", {"type": "response.created", "response": response}
    for index, item in enumerate(items):
        yield "response.output_item.added", {"type": "response.output_item.added", "output_index": index,
                                             "item": item}
        if item["type"] == "message":
            yield "response.output_text.delta", {"type": "response.output_text.delta", "output_index": index,
                                                 "item_id": item["id"], "content_index": 0,
                                                 "delta": item["content"][0]["text"]}
        yield "response.output_item.done", {"type": "response.output_item.done", "output_index": index,
                                            "item": item}
    usage = {"input_tokens": 100, "input_tokens_details": {"cached_tokens": 0}, "output_tokens": 12,
             "output_tokens_details": {"reasoning_tokens": 0}, "total_tokens": 112}
    yield "response.completed", {"type": "response.completed",
                                 "response": {**response, "status": "completed", "output": items, "usage": usage}}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_json(self, status, payload):
        data = json.dumps(payload).encode()
        self.send_response(status)
        self.send_header("content-type", "application/json")
        self.send_header("content-length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        if self.path.rstrip("/").endswith("/models"):
            return self.send_json(200, {"object": "list", "data": [], "models": []})
        self.send_json(404, {"error": {"message": "not here"}})

    def do_POST(self):
        length = int(self.headers.get("content-length") or 0)
        raw = self.rfile.read(length) if length else b"{}"
        try:
            body = json.loads(raw or b"{}")
        except ValueError:
            return self.send_json(400, {"error": {"message": "not JSON"}})
        if not self.path.rstrip("/").endswith("/responses"):
            return self.send_json(404, {"error": {"message": "not here"}})
        items = reply_items(body)
        if ARGS.log:
            inputs = body.get("input") or []
            outputs = [i.get("output") for i in inputs if isinstance(i, dict)
                       and i.get("type") in ("function_call_output", "custom_tool_call_output")]
            with LOCK, open(ARGS.log, "a") as log:
                log.write(json.dumps({"path": self.path, "model": body.get("model"),
                                      "tools": [t.get("name") for t in body.get("tools") or []
                                                if isinstance(t, dict)],
                                      "inputs": len(inputs), "tool_outputs": outputs,
                                      "answer": [i.get("name") or i["type"] for i in items]}) + "\n")
        self.send_response(200)
        self.send_header("content-type", "text/event-stream")
        self.send_header("cache-control", "no-cache")
        self.send_header("connection", "close")
        self.end_headers()
        for name, data in events(body, items):
            self.wfile.write(f"event: {name}\ndata: {json.dumps(data)}\n\n".encode())
            self.wfile.flush()
        self.close_connection = True


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--command", default="touch /tmp/fake-api-asked")
    parser.add_argument("--log")
    parser.add_argument("--lifetime", type=float, default=1800)
    ARGS = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", ARGS.port), Handler)  # loopback only
    print(server.server_address[1], flush=True)
    threading.Timer(ARGS.lifetime, server.shutdown).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
