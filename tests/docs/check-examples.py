#!/usr/bin/env python3
"""Runs the examples of Markdown documents through the interpreter.

Usage: check-examples.py [--vocabulary] TOLVA DOCUMENT...

A ```tolva block is a session: a line that begins with the prompt "? " (or
"... " while a construct is open) is typed, and the lines up to the next
typed one are what the session prints on both streams. Each block runs in a
fresh tolva that reads the typed lines from a pipe; the banner is compared
only when the block begins with it.

A ```console block holds shell commands: "$ " starts one, "> " continues it,
and the other lines are what it prints on both streams. They run in turn
with bash in a fresh empty folder, this tolva first on PATH, no input.

Blanks at line ends are not compared: `.` prints one that editors strip.
With --vocabulary, each DOCUMENT must also have a heading naming in
backquotes every word and alias the interpreter knows, and `Xname` for each
sigil X.
"""
import difflib
import os
import re
import subprocess
import sys
import tempfile

TIMEOUT = 5
BLOCK = re.compile(r"^( *)```(\S*)[^\n]*\n(.*?)^ *```[ \t]*$", re.M | re.S)  # fences indented in lists too
PROMPT = re.compile(r"(\?|\.\.\.)(?: |$)")


def run(command, **options):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          timeout=TIMEOUT, **options).stdout


def lines(text):
    result = [line.rstrip(" \t") for line in text.split("\n")]
    while result and not result[-1]:
        result.pop()
    return result


def compare(expected, actual, label):
    if expected != actual:
        return "\n".join(difflib.unified_diff(expected, actual, "expected " + label, "actual", lineterm=""))


def session(tolva, body):
    banner = body[:3] if body and body[0].startswith("Welcome to ") else []
    if len(body) == len(banner) or not PROMPT.match(body[len(banner)]):
        return 'a session must begin with a typed line ("? ...")'
    typed, expected = [], "".join(line + "\n" for line in banner)
    for line in body[len(banner):]:
        prompt = PROMPT.match(line)
        if prompt:
            typed.append(line[prompt.end():])
            expected += prompt[1] + " "  # the pipe shows the prompt, not the typing
        else:
            expected += line + "\n"
    actual = lines(run([tolva], input="\n".join(typed) + "\n"))[0 if banner else 3:]
    expected = lines(expected)
    # The prompt that met the end of input, or followed a last line that
    # printed nothing (such as bye).
    for shown in expected, actual:
        if shown and shown[-1] in ("?", "..."):
            shown.pop()
    return compare(expected, actual, "(prompts without the typed text)")


def console(tolva, body):
    commands = []
    for line in body:
        if line.startswith("$ "):
            commands.append([line[2:], []])
        elif line.startswith("> ") and commands and not commands[-1][1]:
            commands[-1][0] += "\n" + line[2:]
        elif commands:
            commands[-1][1].append(line)
        else:
            return 'a console block must begin with a command ("$ ...")'
    env = dict(os.environ, PATH=os.path.dirname(os.path.abspath(tolva)) + os.pathsep + os.environ["PATH"], LC_ALL="C")
    with tempfile.TemporaryDirectory() as folder:
        for command, output in commands:
            actual = run(["bash", "-c", command], cwd=folder, env=env, stdin=subprocess.DEVNULL)
            problem = compare(lines("\n".join(output)), lines(actual), "($ " + command + ")")
            if problem:
                return problem


def unnamed(tolva, text):
    words, sigils, aliases = (line.split() for line in run([tolva, "-e", "words sigils aliases"]).split("\n")[:3])
    named = {name for line in text.split("\n") if line.startswith("#") for name in re.findall(r"`([^`]+)`", line)}
    missing = [name for name in words + aliases if name not in named]
    missing += [sigil + "name" for sigil in sigils if not any(name.startswith(sigil + "name") for name in named)]
    return missing if words else ["(the interpreter listed no words)"]


def main(args):
    vocabulary = args[0] == "--vocabulary"
    tolva, *documents = args[vocabulary:]
    checked, failed, unlisted = 0, 0, False
    for path in documents:
        with open(path, encoding="utf-8") as file:
            text = file.read()
        for block in BLOCK.finditer(text):
            check = {"tolva": session, "console": console}.get(block[2])
            if not check:
                continue
            checked += 1
            body = re.sub(r"(?m)^ {0,%d}" % len(block[1]), "", block[3]).split("\n")[:-1]
            try:
                problem = check(tolva, body)
            except subprocess.TimeoutExpired:
                problem = "did not finish within %d seconds" % TIMEOUT
            if problem:
                failed += 1
                print("%s:%d: %s example:\n%s\n" % (path, text.count("\n", 0, block.start()) + 1, block[2], problem))
        missing = unnamed(tolva, text) if vocabulary else []
        if missing:
            unlisted = True
            print("%s: no heading for: %s\n" % (path, " ".join(missing)))
    print("%d of %d examples failed" % (failed, checked) if checked else "no examples found")
    return 1 if failed or unlisted or not checked else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
