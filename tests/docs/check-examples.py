#!/usr/bin/env python3
"""Runs the examples of Markdown documents through the real interpreter.

Usage: check-examples.py TOLVA DOCUMENT... [--vocabulary DOCUMENT]

Two kinds of fenced code block are examples; all other blocks are left alone.

```tolva
    An interactive session. A line that begins with the prompt "? " (or
    "... ", while a construct is open) is typed; the lines up to the next
    typed line are what the session prints in answer, standard output and
    standard error together, as a terminal shows them. Each block runs in a
    fresh `tolva` that reads the typed lines from a pipe. The banner is left
    out of the comparison unless the block begins with it.

```console
    Shell commands. "$ " starts a command and "> " continues it; the other
    lines are what it prints on both streams. The commands of a block run one
    after the other with bash, in a fresh empty directory, with the `tolva`
    under test first on PATH and no standard input.

Blanks at the ends of lines are not compared, since `.` and `..` end their
output with one that editors would strip from the document; everything else
is compared exactly.

With --vocabulary, DOCUMENT must also have a heading naming, in backquotes,
each word and alias the interpreter knows, and `Xname` for each sigil X.
"""
import difflib
import os
import re
import subprocess
import sys
import tempfile

PROMPT = re.compile(r"^(\?|\.\.\.)(?: |$)")
FENCE = re.compile(r"^( *)(```+|~~~+)\s*([^\s`]*)")
TIMEOUT = 20


def closes(line, fence):
    line = line.strip()
    return len(line) >= len(fence) and set(line) == {fence[0]}


def blocks(path):
    """Yields (line number of the opening fence, info word, lines), for
    fences at any indentation (inside list items, say)."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    i = 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        indent, fence, info, start = len(m.group(1)), m.group(2), m.group(3), i
        body = []
        i += 1
        while i < len(lines) and not closes(lines[i], fence):
            body.append(lines[i][indent:] if lines[i][:indent].isspace() else lines[i].lstrip(" "))
            i += 1
        yield start + 1, info, body
        i += 1


def normalized(text):
    lines = [line.rstrip(" \t") for line in text.split("\n")]
    while lines and lines[-1] == "":
        lines.pop()
    return lines


def without_last_prompt(lines):
    """Drops the prompt that met the end of input (or the one of a last
    line that printed nothing, such as `bye`)."""
    return lines[:-1] if lines and lines[-1] in ("?", "...") else lines


def difference(expected, actual, label):
    if expected == actual:
        return None
    return "\n".join(difflib.unified_diff(expected, actual, "expected " + label, "actual", lineterm=""))


def check_session(tolva, body):
    banner = body[:3] if body and body[0].startswith("Welcome to ") else []
    body = body[len(banner):]
    if not body or not PROMPT.match(body[0]):
        return "a session must begin with a typed line (\"? ...\")"
    typed, expected = [], "\n".join(banner) + ("\n" if banner else "")
    for line in body:
        m = PROMPT.match(line)
        if m:
            typed.append(line[m.end():])
            expected += m.group(1) + " "  # what the pipe shows: the prompt, not the typing
        else:
            expected += line + "\n"
    run = subprocess.run([tolva], input="\n".join(typed) + "\n", stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, timeout=TIMEOUT)
    actual = normalized(run.stdout)
    if not banner:
        actual = actual[3:]
    return difference(without_last_prompt(normalized(expected)), without_last_prompt(actual),
                      "(prompts without the typed text)")


def check_console(tolva, body):
    commands = []
    for line in body:
        if line.startswith("$ "):
            commands.append([line[2:], []])
        elif line.startswith("> ") and commands and not commands[-1][1]:
            commands[-1][0] += "\n" + line[2:]
        elif commands:
            commands[-1][1].append(line)
        else:
            return "a console block must begin with a command (\"$ ...\")"
    env = dict(os.environ, PATH=os.path.dirname(os.path.abspath(tolva)) + os.pathsep + os.environ["PATH"],
               LC_ALL="C")
    with tempfile.TemporaryDirectory() as directory:
        for command, output in commands:
            run = subprocess.run(["bash", "-c", command], cwd=directory, env=env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=TIMEOUT)
            problem = difference(normalized("\n".join(output)), normalized(run.stdout), "($ " + command + ")")
            if problem:
                return problem
    return None


def check_vocabulary(tolva, path):
    listing = subprocess.run([tolva, "-e", "words sigils aliases"], stdout=subprocess.PIPE, text=True,
                             check=True).stdout.split("\n")
    words, sigils, aliases = (line.split() for line in listing[:3])
    with open(path, encoding="utf-8") as f:
        named = {name for line in f if line.startswith("#") for name in re.findall(r"`([^`]+)`", line)}
    missing = [w for w in words + aliases if w not in named]
    missing += [s + "name" for s in sigils if not any(n.startswith(s + "name") for n in named)]
    if not words or missing:
        return "no heading for: " + " ".join(missing) if missing else "the interpreter listed no words"
    return None


def main(argv):
    tolva, documents, vocabulary = argv[0], [], None
    arguments = iter(argv[1:])
    for argument in arguments:
        if argument == "--vocabulary":
            vocabulary = next(arguments)
        else:
            documents.append(argument)
    checked, failures = 0, []
    for path in documents:
        for line, info, body in blocks(path):
            check = {"tolva": check_session, "console": check_console}.get(info)
            if check is None:
                continue
            checked += 1
            try:
                problem = check(tolva, body)
            except subprocess.TimeoutExpired:
                problem = "did not finish within %d seconds" % TIMEOUT
            if problem:
                failures.append("%s:%d: %s example:\n%s" % (path, line, info, problem))
    if vocabulary:
        problem = check_vocabulary(tolva, vocabulary)
        if problem:
            failures.append("%s: %s" % (vocabulary, problem))
    for failure in failures:
        print(failure, end="\n\n")
    if checked == 0:
        print("no examples found")
        return 1
    print("%d of %d examples failed" % (len([f for f in failures if " example:" in f]), checked))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
