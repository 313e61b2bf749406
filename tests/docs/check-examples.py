#!/usr/bin/env python3
"""Runs the examples of Markdown documents through tolva: check-examples.py [--vocabulary] TOLVA DOCUMENT...

A ```tolva block is a session: a line that begins with the prompt "? " (or "... " while a construct is open) is
typed, the lines up to the next typed one are what it prints on both streams. Each block runs in a fresh tolva
reading the typed lines from a pipe; the banner is compared only when the block begins with it. A ```console block
holds shell commands: "$ " starts one, "> " continues it, the other lines are what it prints on both streams; they
run in turn with bash in a fresh empty folder, this tolva first on PATH, no input. Blanks at line ends are not
compared: `.` prints one that editors strip. With --vocabulary, each DOCUMENT must also have a heading naming in
backquotes every word and alias the interpreter knows, and `Xname` for each sigil X."""
import difflib, os, re, subprocess, sys, tempfile

TIMEOUT = 5
BLOCK = re.compile(r"^( *)```(\S*)[^\n]*\n(.*?)^ *```[ \t]*$", re.M | re.S)  # fences indented in lists too
PROMPT = re.compile(r"(\?|\.\.\.)(?: |$)")
COMMAND = re.compile(r"^\$ (.*(?:\n> .*)*)\n((?:(?!\$ ).*\n)*)", re.M)  # the command, its continuations, its output


def run(command, **options):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          timeout=TIMEOUT, **options).stdout


def lines(text, skip=0, prompt=False):
    result = [line.rstrip(" \t") for line in text.split("\n")]
    while result and not result[-1]:
        result.pop()
    # With `prompt`, not the one that met the end of input, or followed a last line that printed nothing (bye).
    return result[skip:-1] if prompt and result[skip:][-1:] in (["?"], ["..."]) else result[skip:]


def compare(expected, actual, label):
    if expected != actual:
        return "\n".join(difflib.unified_diff(expected, actual, "expected " + label, "actual", lineterm=""))


def session(tolva, body):
    start = 3 if body and body[0].startswith("Welcome to ") else 0
    if len(body) <= start or not PROMPT.match(body[start]):
        return 'a session must begin with a typed line ("? ...")'
    typed = [line[prompt.end():] for line in body if (prompt := PROMPT.match(line))]
    # The pipe shows the prompt, not the typing.
    expected = "".join(prompt[1] + " " if (prompt := PROMPT.match(line)) else line + "\n" for line in body)
    actual = run([tolva], input="\n".join(typed) + "\n")
    return compare(lines(expected, 0, True), lines(actual, 3 - start, True), "(prompts without the typed text)")


def console(tolva, body):
    if body and not body[0].startswith("$ "):
        return 'a console block must begin with a command ("$ ...")'
    env = dict(os.environ, PATH=os.path.dirname(os.path.abspath(tolva)) + os.pathsep + os.environ["PATH"], LC_ALL="C")
    with tempfile.TemporaryDirectory() as folder:
        for command in COMMAND.finditer("".join(line + "\n" for line in body)):
            actual = run(["bash", "-c", command[1].replace("\n> ", "\n")], cwd=folder, env=env, input="")
            if problem := compare(lines(command[2]), lines(actual), "($ " + command[1] + ")"):
                return problem


def unnamed(tolva, text):
    words, sigils, aliases = (line.split() for line in run([tolva, "-e", "words sigils aliases"]).split("\n")[:3])
    named = {name for line in text.split("\n") if line.startswith("#") for name in re.findall(r"`([^`]+)`", line)}
    missing = [name for name in words + aliases if name not in named]
    missing += [sigil + "name" for sigil in sigils if not any(name.startswith(sigil + "name") for name in named)]
    return missing if words else ["(the interpreter listed no words)"]


vocabulary = sys.argv[1] == "--vocabulary"
tolva, *documents = sys.argv[1 + vocabulary:]
checked = failed = unlisted = 0
for path in documents:
    text = open(path, encoding="utf-8").read()
    for block in BLOCK.finditer(text):
        if check := {"tolva": session, "console": console}.get(block[2]):
            checked += 1
            try:
                problem = check(tolva, re.sub(r"(?m)^ {0,%d}" % len(block[1]), "", block[3]).split("\n")[:-1])
            except subprocess.TimeoutExpired:  # a hang: the others would only hang too
                sys.exit("%s:%d: did not finish within %d seconds" % (path, text.count("\n", 0, block.start()) + 1, TIMEOUT))
            if problem:
                failed += 1
                print("%s:%d: %s example:\n%s\n" % (path, text.count("\n", 0, block.start()) + 1, block[2], problem))
    if vocabulary and (missing := unnamed(tolva, text)):
        unlisted += 1
        print("%s: no heading for: %s\n" % (path, " ".join(missing)))
print("%d of %d examples failed" % (failed, checked) if checked else "no examples found")
sys.exit(1 if failed or unlisted or not checked else 0)
