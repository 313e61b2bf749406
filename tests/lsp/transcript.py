#!/usr/bin/env python3
"""Runs a transcript against the language server and compares its answers:
transcript.py SERVER CASE. The format of a case is in tests/README.md."""
import json
import pathlib
import subprocess
import sys
import tempfile


def frame(body: bytes) -> bytes:
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


def read_message(stream):
    length = None
    while True:
        line = stream.readline()
        if not line:
            return None
        line = line.rstrip(b"\r\n")
        if not line:
            break
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value)
    return json.loads(stream.read(length))


def matches(expected, actual, path="$"):
    if isinstance(expected, dict):
        if not isinstance(actual, dict):
            return f"{path}: expected an object, got {json.dumps(actual)}"
        for key, value in expected.items():
            if key not in actual:
                return f"{path}.{key}: missing in {json.dumps(actual)}"
            problem = matches(value, actual[key], f"{path}.{key}")
            if problem:
                return problem
        return None
    if isinstance(expected, list):
        if expected and expected[-1] == "..." and isinstance(actual, list):
            expected, actual = expected[:-1], actual[:len(expected) - 1]
        if not isinstance(actual, list) or len(actual) != len(expected):
            return f"{path}: expected {json.dumps(expected)}, got {json.dumps(actual)}"
        for index, (one, other) in enumerate(zip(expected, actual)):
            problem = matches(one, other, f"{path}[{index}]")
            if problem:
                return problem
        return None
    return None if expected == actual else f"{path}: expected {json.dumps(expected)}, got {json.dumps(actual)}"


def main():
    server, case = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as folder:
        sys.exit(run(server, case, pathlib.Path(folder)))


def run(server, case, folder):
    process = subprocess.Popen([server], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    failures = 0
    here = pathlib.Path(case).resolve().parent.as_uri()
    # Files a case makes at run time, with names awkward to commit, go in
    # a fresh folder: {tmp} is its URI, escaped as RFC 3986 says.
    tmp = folder.resolve().as_uri()
    for number, line in enumerate(open(case, encoding="utf-8"), 1):
        line = line.rstrip("\n").replace("{here}", here).replace("{tmp}", tmp)
        if not line or line.startswith("#"):
            continue
        kind, _, rest = line.partition(" ")
        if kind == "+++":
            for name, text in json.loads(rest).items():
                path = folder / name
                path.parent.mkdir(parents=True, exist_ok=True)
                path.write_text(text, encoding="utf-8")
        elif kind == "-->":
            process.stdin.write(frame(json.dumps(json.loads(rest)).encode()))
            process.stdin.flush()
        elif kind == "==>":
            process.stdin.write(rest.replace("\\r", "\r").replace("\\n", "\n").encode())
            process.stdin.flush()
        elif kind == "<--" and rest.startswith("exit "):
            process.stdin.close()
            status = process.wait(timeout=10)
            if status != int(rest.split()[1]):
                print(f"{case}:{number}: exit status {status}, expected {rest.split()[1]}")
                failures += 1
        elif kind == "<--":
            actual = read_message(process.stdout)
            problem = matches(json.loads(rest), actual) if actual is not None else "the server said nothing more"
            if problem:
                print(f"{case}:{number}: {problem}")
                failures += 1
        else:
            print(f"{case}:{number}: not a transcript line")
            failures += 1
    if process.poll() is None:
        process.kill()
    return 1 if failures else 0


if __name__ == "__main__":
    main()
