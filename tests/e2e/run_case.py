#!/usr/bin/env python3
r"""Runs one end-to-end case through the real binary, twice (standard output
and error apart, then merged as by 2>&1), and compares all three and the
exit status byte for byte. Usage: run_case.py TOLVA CASE [--unbounded] [--siblings]

A case is a Tolva file whose comments say what to run and what to expect:
  \ args: -i lib/x.tv   the command line, split like a shell (default: CASE)
  \ in: TEXT            a line of standard input (default: none; or NAME.in)
  \ out: TEXT           a line of expected standard output
  \ err: TEXT           a line of expected standard error
  \ status: N           the expected exit status (default: 0)
"\ KEY (no newline): TEXT" leaves out the newline. The out and err lines in
their order make the merged stream. A directive may end a code line; TEXT is
the rest of the line after one blank, trailing blanks included.

--siblings runs a program whose expected output is beside it instead
(examples/NAME.tv, NAME.out, NAME.in). --unbounded lifts the memory limit,
for AddressSanitizer, which reserves far more address space than it uses.
"""
import difflib
import os
import re
import resource
import shlex
import signal
import subprocess
import sys
import tempfile

TIMEOUT = 5
MEMORY = 1 << 30
DIRECTIVE = re.compile(r"(?:^|\s)\\ (args|in|out|err|status)( \(no newline\))?:(?: (.*))?$")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def parse(path, siblings):
    """args, standard input (None for /dev/null), the expected output as
    (stream, bytes) pieces in order, and the exit status."""
    args, stdin, pieces, status = [os.path.basename(path)], None, [], 0
    stem = path.removesuffix(".tv")
    if siblings:
        pieces.append(("out", read(stem + ".out")))
    else:
        for line in read(path).decode("utf-8", "surrogateescape").split("\n"):
            match = DIRECTIVE.search(line.removesuffix("\r"))
            if not match:
                continue
            key, text = match.group(1), match.group(3) or ""
            data = text.encode("utf-8", "surrogateescape") + (b"" if match.group(2) else b"\n")
            if key == "args":
                args = shlex.split(text)
            elif key == "status":
                status = int(text)
            elif key == "in":
                stdin = (stdin or b"") + data
            else:
                pieces.append((key, data))
    if os.path.exists(stem + ".in"):
        if stdin is not None:
            sys.exit(f"{path}: both \\ in: lines and {stem}.in")
        stdin = read(stem + ".in")
    return args, stdin, pieces, status


def run(tolva, args, stdin, cwd, merged, unbounded):
    """Standard output, standard error (None when merged) and the status,
    or a note that the run was killed."""
    def limit():
        if not unbounded:
            resource.setrlimit(resource.RLIMIT_AS, (MEMORY, MEMORY))

    with tempfile.TemporaryFile() as file:
        file.write(stdin or b"")
        file.seek(0)
        process = subprocess.Popen(
            ["tolva", *args], executable=tolva, cwd=cwd,
            stdin=subprocess.DEVNULL if stdin is None else file,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT if merged else subprocess.PIPE,
            preexec_fn=limit, start_new_session=True)
        try:
            return *process.communicate(timeout=TIMEOUT), process.returncode
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            return *process.communicate(), f"none (killed after {TIMEOUT} s)"


def visible(data):
    """Lines as the diff shows them: trailing blanks, control characters and
    a missing final newline made visible."""
    lines = data.decode("utf-8", "backslashreplace").split("\n")
    last = lines.pop()
    shown = []
    for line in lines + [last] * bool(last):
        line = re.sub(r"[\x00-\x08\x0b-\x1f\x7f]", lambda m: f"\\x{ord(m.group()):02x}", line)
        body = line.rstrip(" \t")
        shown.append(body + line[len(body):].replace(" ", "·").replace("\t", "→"))
    return shown + ["\\ no newline at the end"] * bool(last)


def diff(name, expected, actual):
    return list(difflib.unified_diff(
        visible(expected), visible(actual), f"expected {name}", f"actual {name}", lineterm=""))


def main():
    flags = {arg for arg in sys.argv[1:] if arg.startswith("--")}
    tolva, path = (os.path.abspath(arg) for arg in sys.argv[1:] if arg not in flags)
    unbounded = "--unbounded" in flags
    args, stdin, pieces, status = parse(path, "--siblings" in flags)
    expected = {stream: b"".join(data for key, data in pieces if key == stream) for stream in ("out", "err")}
    cwd = os.path.dirname(path)

    out, err, actual_status = run(tolva, args, stdin, cwd, False, unbounded)
    merged, _, merged_status = run(tolva, args, stdin, cwd, True, unbounded)
    failures = diff("stdout", expected["out"], out) + diff("stderr", expected["err"], err)
    # The merged stream mostly repeats the two; once they agree it checks their order.
    failures = failures or diff("merged stdout and stderr", b"".join(data for _, data in pieces), merged)
    if actual_status != status or merged_status != status:
        failures.append(f"exit status {actual_status} (merged run: {merged_status}), expected {status}")
    if failures:
        source = "/dev/null" if stdin is None else "the case's input"
        print(f"$ cd {cwd} && {shlex.join(['tolva', *args])} <{source}")
        sys.stdout.reconfigure(errors="backslashreplace")
        print("\n".join(failures))
        sys.exit(1)


if __name__ == "__main__":
    main()
