#!/usr/bin/env python3
"""Opens each program in the language server and fails on any error or
warning: programs that run without error must analyse without one.

usage: quiet.py SERVER FILE... [--examples TOLVA DOCUMENT...]

With --examples, the typed lines of each ```tolva block of the documents
that run through TOLVA as a program without an error are programs too.
"""
import json
import pathlib
import re
import subprocess
import sys
import tempfile

from transcript import frame, read_message


BLOCK = re.compile(r"^ *```tolva[^\n]*\n(.*?)^ *```", re.M | re.S)
TYPED = re.compile(r"^(?:\?|\.\.\.) (.*)$", re.M)


def examples(tolva, documents, folder):
    """Writes each example that runs without an error into `folder`."""
    for document in documents:
        for number, block in enumerate(BLOCK.findall(pathlib.Path(document).read_text(encoding="utf-8"))):
            path = pathlib.Path(folder) / f"{pathlib.Path(document).stem}-{number}.tv"
            path.write_text("".join(line + "\n" for line in TYPED.findall(block)), encoding="utf-8")
            run = subprocess.run([tolva, str(path)], stdin=subprocess.DEVNULL, capture_output=True, timeout=5)
            if run.returncode == 0 and not run.stderr:
                yield str(path)


def main():
    server, files = sys.argv[1], sys.argv[2:]
    folder = tempfile.TemporaryDirectory()
    if "--examples" in files:
        at = files.index("--examples")
        files = files[:at] + list(examples(files[at + 1], files[at + 2:], folder.name))
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
