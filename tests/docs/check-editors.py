#!/usr/bin/env python3
"""Checks the editor support against the interpreter.

Usage: check-editors.py TOLVA VIM_SYNTAX TEXTMATE_GRAMMAR

Both must know exactly the words and aliases the interpreter lists, apart
from the delimiters each handles with patterns of its own. The TextMate
grammar's expressions must compile, and the first of its patterns to match a
token must give it the meaning the interpreter gives it: words before sigils
(-rot is a word, -5 a sigil token), numbers read from the start of a token.
"""
import json
import re
import subprocess
import sys

# The scope each token gets, without the ".tolva" at its end.
SCOPES = {
    "support.function.stack": "-rot", "support.function.output": ".s", "keyword.operator": "1+ /mod - =",
    "keyword.operator.variable": "-5 +a $x", "keyword.operator.reference": "'dup /name",
    "keyword.other.definition": ":sq ;", "comment.block": "/*", "comment.line.backslash": "\\",
    "string.unquoted": "(", "punctuation.section.brackets": "[", "constant.language.boolean": "true",
    "constant.numeric": "12abc 0x1F .5 3.5e2 nan", None: "prime? (x)",
}

tolva, vim_path, textmate_path = sys.argv[1:]
known = set(subprocess.run([tolva, "-e", "words aliases"], stdout=subprocess.PIPE, text=True, check=True).stdout.split())
failures = []


def compare(name, listed, apart):
    for problem, names in (("lacks:", known - listed - set(apart.split())),
                           ("lists words the interpreter does not know:", listed - known)):
        if names:
            failures.append("%s %s %s" % (name, problem, " ".join(sorted(names))))


# Vim: the words of every `syn keyword` line but contained groups (TODO).
with open(vim_path, encoding="utf-8") as file:
    lines = [line.split() for line in file]
compare("the Vim syntax", {word for fields in lines if fields[:2] == ["syn", "keyword"] and "contained" not in fields
                           for word in fields[3:]}, "/* */ ( ) [ ] { }")

expressions = []


def collect(node):
    expressions.extend(node[key] for key in ("match", "begin", "end") if key in node)
    return node


with open(textmate_path, encoding="utf-8") as file:
    grammar = json.load(file, object_hook=collect)
for expression in expressions:
    try:
        re.compile(expression)
    except re.error as error:
        failures.append("expression %r does not compile: %s" % (expression, error))

# TextMate: the alternatives of the patterns in the "words" group.
words = set()
for pattern in grammar["repository"]["words"]["patterns"]:
    alternatives = re.fullmatch(r"\(\?:\^\|\(\?<=\\s\)\)\(\?:(.*)\)\(\?=\\s\|\$\)", pattern["match"])
    if alternatives:
        words.update(re.sub(r"\\(.)", r"\1", word) for word in alternatives[1].split("|"))
    else:
        failures.append("unexpected word pattern: " + pattern["match"])
compare("the TextMate grammar", words, "/* */ ( )")

order = [pattern for group in ("comments", "strings", "words", "numbers", "sigils")
         for pattern in grammar["repository"][group]["patterns"]]


def scope(token):
    for pattern in order:
        if re.match(pattern.get("match") or pattern["begin"], token):
            return pattern.get("name") or pattern["captures"]["1"]["name"]


for wanted, tokens in SCOPES.items():
    wanted = wanted and wanted + ".tolva"
    for token in tokens.split():
        if scope(token) != wanted:
            failures.append("the TextMate grammar gives %r the scope %s, not %s" % (token, scope(token), wanted))

for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
