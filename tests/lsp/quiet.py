#!/usr/bin/env python3
"""Opens each program in the language server and fails on any error or
warning: programs that run without error must analyse without one.

usage: quiet.py SERVER TOLVA FILE... [--if-clean FILE...] [--examples DOCUMENT...]

Each FILE is a program that runs without an error. Each FILE after
--if-clean, and each ```tolva block's typed lines in the DOCUMENTs, is
analysed when it runs through TOLVA, in its own folder, without an error
or a warning under TOLVA_WHERE.
"""
import argparse
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile

from transcript import frame, read_message


BLOCK = re.compile(r"^ *```tolva[^\n]*\n(.*?)^ *```", re.M | re.S)
TYPED = re.compile(r"^(?:\?|\.\.\.) (.*)$", re.M)


def runs_cleanly(tolva, path):
    """Whether TOLVA runs the program in its folder without an error, and
    without a warning where TOLVA_WHERE asks for them."""
    try:
        run = subprocess.run([tolva, path.name], cwd=path.parent, stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=5, env={**os.environ, "TOLVA_WHERE": "1"})
    except subprocess.TimeoutExpired:
        return False
    return run.returncode == 0 and not run.stderr


def examples(documents, folder):
    """Writes each example into `folder`."""
    for document in documents:
        for number, block in enumerate(BLOCK.findall(pathlib.Path(document).read_text(encoding="utf-8"))):
            path = pathlib.Path(folder) / f"{pathlib.Path(document).stem}-{number}.tv"
            path.write_text("".join(line + "\n" for line in TYPED.findall(block)), encoding="utf-8")
            yield str(path)


class Programs:
    """The command line both checks take: the server, tolva, and the programs
    to open (those after --if-clean and the documents' examples only when
    they run cleanly); and the server started and initialised."""

    def __init__(self):
        parser = argparse.ArgumentParser()
        for name in ("server", "tolva", "files"):
            parser.add_argument(name, nargs="*" if name == "files" else None)
        parser.add_argument("--if-clean", nargs="*", default=[])
        parser.add_argument("--examples", nargs="*", default=[])
        args = parser.parse_args()
        # Each program runs in its own folder.
        self.tolva = os.path.abspath(args.tolva) if os.sep in args.tolva else args.tolva
        self.folder = tempfile.TemporaryDirectory()
        maybe = args.if_clean + list(examples(args.examples, self.folder.name))
        self.files = args.files + [path for path in maybe if runs_cleanly(self.tolva, pathlib.Path(path).resolve())]
        self.process = subprocess.Popen([args.server], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.send({"jsonrpc": "2.0", "id": 0, "method": "initialize", "params": {}})
        read_message(self.process.stdout)

    def send(self, message):
        self.process.stdin.write(frame(json.dumps(message).encode()))
        self.process.stdin.flush()

    def read(self):
        return read_message(self.process.stdout)

    def open(self, path, text, id, method, **params):
        """Opens the program and asks `method` about it: the answer, and the
        diagnostics published last before it, which hold them all."""
        uri = pathlib.Path(path).resolve().as_uri()
        self.send({"jsonrpc": "2.0", "method": "textDocument/didOpen",
                   "params": {"textDocument": {"uri": uri, "languageId": "tolva", "version": 1, "text": text}}})
        self.send({"jsonrpc": "2.0", "id": id, "method": method, "params": {"textDocument": {"uri": uri}, **params}})
        published = []
        while (message := self.read()).get("id") != id:
            published = message["params"]["diagnostics"]
        return message, published

    def end(self):
        self.send({"jsonrpc": "2.0", "id": 1, "method": "shutdown"})
        self.send({"jsonrpc": "2.0", "method": "exit"})
        self.process.stdin.close()
        self.process.wait(timeout=10)


def main():
    programs = Programs()
    failures = 0
    for path in programs.files:
        # The diagnostics are all published once a request sent after the
        # document is answered.
        text = pathlib.Path(path).read_text(encoding="utf-8", errors="replace")
        _, published = programs.open(path, text, path, "textDocument/documentSymbol")
        for diagnostic in published:
            if diagnostic["severity"] == 3:
                continue  # a note that the run stopped at its budget says nothing wrong
            start = diagnostic["range"]["start"]
            print(f"{path}:{start['line'] + 1}:{start['character'] + 1}: {diagnostic['message']}")
            failures += 1
    programs.end()
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
