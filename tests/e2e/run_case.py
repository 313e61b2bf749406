#!/usr/bin/env python3
r"""Runs one end-to-end case, as tests/README.md describes: Tolva in the case's
folder, once with standard output and error apart and once merged, checking
each stream and the exit status byte for byte. Usage: run_case.py TOLVA CASE
[--siblings]. The case's \ args:, \ env:, \ in:, \ out:, \ err: and \ status: lines
say what to run and expect; with --siblings, NAME.out beside it holds the output.
Tolva's own variables (TOLVA_...) come only from \ env: lines, NAME=VALUE each."""
import difflib, os, re, shlex, signal, subprocess, sys, tempfile
from pathlib import Path

TIMEOUT = 5
DIRECTIVE = re.compile(r"(?:^|\s)\\ (args|env|in|out|err|status)( \(no newline\))?:(?: (.*))?$")


def parse(path, siblings):
    """Arguments, variables set, standard input (None for none), the expected (stream, bytes) pieces in order, status."""
    stem, args, env, stdin, pieces, status = path.removesuffix(".tv"), [os.path.basename(path)], {}, None, [], 0
    lines = [] if siblings else Path(path).read_bytes().decode("utf-8", "surrogateescape").split("\n")
    for match in filter(None, (DIRECTIVE.search(line.removesuffix("\r")) for line in lines)):
        key, text = match[1], match[3] or ""
        data = text.encode("utf-8", "surrogateescape") + b"\n" * (not match[2])
        if key == "args":
            args = shlex.split(text)
        elif key == "env":
            name, _, value = text.partition("=")
            env[name] = value
        elif key == "status":
            status = int(text)
        elif key == "in":
            stdin = (stdin or b"") + data
        else:
            pieces.append((key, data))
    if siblings:
        pieces = [("out", Path(stem + ".out").read_bytes())]
    if os.path.exists(stem + ".in"):
        if stdin is not None:
            sys.exit(f"{path}: both \\ in: lines and {stem}.in")
        stdin = Path(stem + ".in").read_bytes()
    return args, env, stdin, pieces, status


def run(tolva, args, env, stdin, cwd, merged):
    """Standard output, standard error (None when merged) and the status."""
    env = {name: value for name, value in os.environ.items() if not name.startswith("TOLVA_")} | env
    with tempfile.TemporaryFile() as file:
        file.write(stdin or b"")
        file.seek(0)
        process = subprocess.Popen(
            ["tolva", *args], executable=tolva, cwd=cwd, env=env, stdin=subprocess.DEVNULL if stdin is None else file,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT if merged else subprocess.PIPE, start_new_session=True)
        try:
            return *process.communicate(timeout=TIMEOUT), process.returncode
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)  # the whole group, so no child keeps the pipes open
            return *process.communicate(), f"none (killed after {TIMEOUT} s)"


def diff(name, expected, actual):
    """A unified diff that shows trailing blanks, control characters and a missing final newline."""
    def visible(data):
        text = data.decode("utf-8", "backslashreplace")
        text = re.sub(r"[\x00-\x08\x0b-\x1f\x7f]", lambda m: f"\\x{ord(m[0]):02x}", text)
        text = re.sub(r"[ \t]+$", lambda m: m[0].replace(" ", "·").replace("\t", "→"), text, flags=re.M)
        lines = text.split("\n")
        return lines[:-1] if lines[-1] == "" else lines + ["\\ no newline at the end"]
    return list(difflib.unified_diff(
        visible(expected), visible(actual), f"expected {name}", f"actual {name}", lineterm=""))


def main():
    siblings = "--siblings" in sys.argv
    tolva, path = (os.path.abspath(arg) for arg in sys.argv[1:] if arg != "--siblings")
    args, env, stdin, pieces, status = parse(path, siblings)
    cwd = os.path.dirname(path)
    out, err, out_status = run(tolva, args, env, stdin, cwd, False)
    merged, _, merged_status = run(tolva, args, env, stdin, cwd, True)
    expected = {stream: b"".join(data for key, data in pieces if key == stream) for stream in ("out", "err")}
    failures = diff("stdout", expected["out"], out) + diff("stderr", expected["err"], err)
    # Once the two streams agree, the merged one adds only their order.
    failures = failures or diff("merged stdout and stderr", b"".join(data for _, data in pieces), merged)
    if out_status != status or merged_status != status:
        failures.append(f"exit status {out_status} (merged run: {merged_status}), expected {status}")
    if failures:
        sys.stdout.reconfigure(errors="backslashreplace")
        source = "/dev/null" if stdin is None else "the case's input"
        settings = "".join(f"{name}={shlex.quote(value)} " for name, value in env.items())
        print(f"$ cd {cwd} && {settings}{shlex.join(['tolva', *args])} <{source}", *failures, sep="\n")
        sys.exit(1)


main()
