#!/usr/bin/env python3
"""Opens each program in the language server and fails on any error or
warning: programs that run without error must analyse without one.

usage: quiet.py SERVER FILE...
"""
import json
import pathlib
import subprocess
import sys

from transcript import frame, read_message


def main():
    server, files = sys.argv[1], sys.argv[2:]
    process = subprocess.Popen([server], stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def send(message):
        process.stdin.write(frame(json.dumps(message).encode()))
        process.stdin.flush()

    send({"jsonrpc": "2.0", "id": 0, "method": "initialize", "params": {}})
    read_message(process.stdout)
    failures = 0
    for path in files:
        uri = pathlib.Path(path).resolve().as_uri()
        text = pathlib.Path(path).read_text(encoding="utf-8", errors="replace")
        send({"jsonrpc": "2.0", "method": "textDocument/didOpen",
              "params": {"textDocument": {"uri": uri, "languageId": "tolva", "version": 1, "text": text}}})
        # The diagnostics are all published once a request sent after the
        # document is answered; the last publication holds them all.
        send({"jsonrpc": "2.0", "id": path, "method": "textDocument/documentSymbol",
              "params": {"textDocument": {"uri": uri}}})
        published = []
        while (message := read_message(process.stdout)).get("id") != path:
            published = message["params"]["diagnostics"]
        for diagnostic in published:
            if diagnostic["severity"] == 3:
                continue  # a note that the run stopped at its budget says nothing wrong
            start = diagnostic["range"]["start"]
            print(f"{path}:{start['line'] + 1}:{start['character'] + 1}: {diagnostic['message']}")
            failures += 1
    send({"jsonrpc": "2.0", "id": 1, "method": "shutdown"})
    send({"jsonrpc": "2.0", "method": "exit"})
    process.stdin.close()
    process.wait(timeout=10)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
