#!/usr/bin/env python3
"""Measures every stack effect the server claims against a run: each word
that a program defines and the server gives an effect is called in tolva
after the program, on as many values as it claims to take, and the depth it
leaves must be what it claims to leave. Fails on any wrong claim, and on
more than a tenth of the words measured left unknown.

usage: claims.py SERVER TOLVA FILE... [--if-clean FILE...] [--examples DOCUMENT...]
(the files as quiet.py takes them)
"""
import pathlib
import re
import subprocess
import sys

from quiet import Programs

EFFECT = re.compile(r"^\( ((?:\S+ )*)--((?: \S+)*) \)$")


def measured(tolva, path, words):
    """Runs the program, then each word on ones: how much each changed the
    depth, for those that ran without an error."""
    probes = "".join(f"( #{n}: ) .. depth . {'1 ' * takes}{word} ( #{n}# ) .. depth . cr\n"
                     for n, (word, takes) in enumerate(words))
    try:
        run = subprocess.run([tolva, "-i", path.name], cwd=path.parent, input=probes, capture_output=True, errors="replace",
                             text=True, timeout=20)
    except subprocess.TimeoutExpired:
        return {}
    found = {}
    for n, (word, takes) in enumerate(words):
        if match := re.search(rf"#{n}: (\S+) .*?#{n}# (\S+) \n", run.stdout, re.S):
            found[word] = round(float(match.group(2)) - float(match.group(1)))
    return found


def main():
    programs = Programs()
    tolva = programs.tolva
    wrong = known = unknown = 0
    for path in map(pathlib.Path, programs.files):
        text = path.read_text(encoding="utf-8", errors="replace")
        if "accept" in text:
            continue  # it would read the probes
        message, _ = programs.open(path, text, str(path), "textDocument/inlayHint", range={
            "start": {"line": 0, "character": 0}, "end": {"line": 1 << 30, "character": 0}})
        lines = text.split("\n")
        claims = {}
        for hint in message["result"]:
            at = hint["position"]
            name = lines[at["line"]][:at["character"]].split()[-1][1:]
            claims[name] = EFFECT.match(hint["label"])
        # A name a probe can call: one token, as the file spelt it.
        probed = [(word, len(claim.group(1).split()) if claim else 1) for word, claim in claims.items()
                  if word and "\ufffd" not in word and not any(c.isspace() for c in word)]
        for word, change in measured(tolva, path.resolve(), probed).items():
            claim = claims[word]
            if claim is None:
                unknown += 1
                continue
            known += 1
            takes, leaves = len(claim.group(1).split()), len(claim.group(2).split())
            if change != leaves:
                print(f"{path}: {word}: claimed to take {takes} and leave {leaves}; changed the depth by {change}")
                wrong += 1
    programs.end()
    print(f"{known + unknown} words measured: {known} claimed, {wrong} wrong, {unknown} unknown")
    sys.exit(1 if wrong or unknown * 10 > known + unknown else 0)


if __name__ == "__main__":
    main()
