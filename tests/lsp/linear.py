#!/usr/bin/env python3
"""Documents that once took the server time in the square of their size, each at a size where that took over
a minute and a linear reading takes well under a second: openers inside an open list, definitions inside an
open definition, a closer after a long string, many definitions under a long comment. Each must be opened and
hovered within 20 s, even in an instrumented build on a loaded machine: linear.py SERVER."""
import json
import subprocess
import sys


def frame(message):
    body = json.dumps(message).encode()
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


def opened(text):
    uri = "file:///linear.tv"
    return b"".join(frame(message) for message in [
        {"jsonrpc": "2.0", "id": 1, "method": "initialize", "params": {}},
        {"jsonrpc": "2.0", "method": "textDocument/didOpen",
         "params": {"textDocument": {"uri": uri, "languageId": "tolva", "version": 1, "text": text}}},
        {"jsonrpc": "2.0", "id": 2, "method": "textDocument/hover",
         "params": {"textDocument": {"uri": uri}, "position": {"line": 0, "character": 0}}},
        {"jsonrpc": "2.0", "id": 3, "method": "shutdown"},
        {"jsonrpc": "2.0", "method": "exit"}])


documents = {
    "openers in a list": "{ " + "[ " * 200000 + "] }",
    "definitions in a definition": "[ " + ":x\n" * 400000,
    "closers after a string": "( " + "x " * 200000 + ") " + ") " * 200000,
    "definitions under a comment": "\\ c\n" * 100000 + " ".join(f":w{i} ;" for i in range(100000)),
}
failed = False
for name, text in documents.items():
    try:
        done = subprocess.run([sys.argv[1]], input=opened(text), capture_output=True, timeout=20)
        answered = done.returncode == 0 and b'"id":3' in done.stdout
    except subprocess.TimeoutExpired:
        answered = False
    if not answered:
        print(f"FAIL {name}")
        failed = True
sys.exit(1 if failed else 0)
