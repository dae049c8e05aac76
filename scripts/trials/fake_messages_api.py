#!/usr/bin/python3
"""A small stand-in for the Messages API on loopback, to run a real coding agent offline: every
conversation turn that offers the Bash tool is answered with one Bash tool call (what follows "run: " on a
line of the user's prompt, else the command from --command), streamed as server-sent events; the turn
after its result, and any request without tools, gets a short text. Requests are appended to --log as JSON lines.

    fake_messages_api.py --port 8787 --command 'touch /tmp/asked' --log requests.jsonl
    ANTHROPIC_BASE_URL=http://127.0.0.1:8787 ANTHROPIC_API_KEY=dummy claude
"""

import argparse
import json
import time
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ARGS = None
LOCK = threading.Lock()
COUNTER = [0]


def next_id(prefix):
    with LOCK:
        COUNTER[0] += 1
        return f"{prefix}_{COUNTER[0]:06d}"


def reply_blocks(body):
    """The content this turn answers with: a Bash call after a prompt, text once a tool result came back.
    A prompt typed after a denied call may share its message with the call's result: it is still a prompt."""
    # Recent versions may end the list with a "system" message: the turn is answered after the last other one.
    messages = [m for m in body.get("messages", []) if not isinstance(m, dict) or m.get("role") != "system"]
    tools = [t.get("name") for t in body.get("tools", []) if isinstance(t, dict)]
    last = messages[-1] if messages else {}
    content = last.get("content") if isinstance(last, dict) else None
    after_tool = isinstance(content, list) and any(isinstance(c, dict) and c.get("type") == "tool_result"
                                                   for c in content)
    command = asked_command(messages)
    if "Bash" in tools and (command or not after_tool):
        return [{"type": "tool_use", "id": next_id("toolu"), "name": "Bash",
                 "input": {"command": command or ARGS.command, "description": "Run the requested command"}}], \
            "tool_use"
    return [{"type": "text", "text": "Done."}], "end_turn"


def asked_command(messages):
    """The command the user's latest prompt names on a line "run: COMMAND", else None. A prompt may be
    followed by further user messages (reminders the agent adds), so every one since the last reply is
    read."""
    texts = []
    for message in reversed(messages):
        if not isinstance(message, dict) or message.get("role") != "user":
            break
        content = message.get("content")
        texts += [content] if isinstance(content, str) else \
            [c.get("text", "") for c in content or [] if isinstance(c, dict) and c.get("type") == "text"]
    for text in texts:
        for line in str(text).splitlines():
            if line.strip().startswith("run: "):
                return line.strip()[len("run: "):]
    return None


def events(message, blocks, stop):
    yield "message_start", {"type": "message_start", "message": {**message, "content": [], "stop_reason": None}}
    for index, block in enumerate(blocks):
        if block["type"] == "text":
            yield "content_block_start", {"type": "content_block_start", "index": index,
                                          "content_block": {"type": "text", "text": ""}}
            yield "content_block_delta", {"type": "content_block_delta", "index": index,
                                          "delta": {"type": "text_delta", "text": block["text"]}}
        else:
            yield "content_block_start", {"type": "content_block_start", "index": index,
                                          "content_block": {**block, "input": {}}}
            yield "content_block_delta", {"type": "content_block_delta", "index": index,
                                          "delta": {"type": "input_json_delta",
                                                    "partial_json": json.dumps(block["input"])}}
        yield "content_block_stop", {"type": "content_block_stop", "index": index}
    yield "message_delta", {"type": "message_delta", "delta": {"stop_reason": stop, "stop_sequence": None},
                            "usage": {"output_tokens": 12}}
    yield "message_stop", {"type": "message_stop"}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def end_headers(self):
        # A subscription's plan windows, as the real API reports them on each message (fractions, Unix seconds).
        if ARGS.rate_limits and "/v1/messages" in self.path and "count_tokens" not in self.path:
            five, seven = ARGS.rate_limits.split(",")
            now = int(time.time())
            for claim, used, reset in (("5h", five, now + 3 * 3600), ("7d", seven, now + 4 * 86400)):
                self.send_header(f"anthropic-ratelimit-unified-{claim}-utilization", used)
                self.send_header(f"anthropic-ratelimit-unified-{claim}-reset", str(reset))
            self.send_header("anthropic-ratelimit-unified-status", "allowed")
        super().end_headers()

    def send_json(self, status, payload):
        data = json.dumps(payload).encode()
        self.send_response(status)
        self.send_header("content-type", "application/json")
        self.send_header("content-length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_HEAD(self):
        self.send_response(200)
        self.send_header("content-length", "0")
        self.end_headers()

    def do_GET(self):
        self.send_json(200, {"data": [], "has_more": False})

    def do_POST(self):
        length = int(self.headers.get("content-length") or 0)
        raw = self.rfile.read(length) if length else b"{}"
        try:
            body = json.loads(raw or b"{}")
        except ValueError:
            return self.send_json(400, {"type": "error", "error": {"type": "invalid_request_error",
                                                                    "message": "not JSON"}})
        if ARGS.log:
            with LOCK, open(ARGS.log, "a") as log:
                log.write(json.dumps({"path": self.path, "model": body.get("model"), "stream": body.get("stream"),
                                      "tools": len(body.get("tools", [])), "messages": len(body.get("messages", []))})
                          + "\n")
        if "count_tokens" in self.path:
            return self.send_json(200, {"input_tokens": 100})
        if "/v1/messages" not in self.path:
            return self.send_json(404, {"type": "error", "error": {"type": "not_found_error", "message": "no"}})
        blocks, stop = reply_blocks(body)
        message = {"id": next_id("msg"), "type": "message", "role": "assistant", "model": body.get("model", "x"),
                   "stop_sequence": None, "usage": {"input_tokens": 100, "output_tokens": 12,
                                                    "cache_creation_input_tokens": 0, "cache_read_input_tokens": 0}}
        if not body.get("stream"):
            return self.send_json(200, {**message, "content": blocks, "stop_reason": stop})
        self.send_response(200)
        self.send_header("content-type", "text/event-stream")
        self.send_header("cache-control", "no-cache")
        self.send_header("connection", "close")
        self.end_headers()
        for name, data in events(message, blocks, stop):
            self.wfile.write(f"event: {name}\ndata: {json.dumps(data)}\n\n".encode())
            self.wfile.flush()
        self.close_connection = True


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--command", default="touch /tmp/fake-api-asked")
    parser.add_argument("--log")
    parser.add_argument("--rate-limits", help="FIVE,SEVEN: the plan windows' use (0-1) sent with each message")
    ARGS = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", ARGS.port), Handler)  # loopback only
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
