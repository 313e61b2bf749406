#!/usr/bin/env python3
"""Checks the editor support in editors/ against the interpreter.

Usage: check-editors.py TOLVA VIM_SYNTAX TEXTMATE_GRAMMAR

Both must know exactly the words and aliases that the interpreter lists,
apart from the brackets and comment and string delimiters that each handles
with patterns of its own. The TextMate grammar must load, its expressions
must compile, and its patterns must give tokens the meaning the interpreter
gives them: words before sigils (-rot is a word, -5 a sigil token), numbers
read from the start of a token.
"""
import json
import re
import subprocess
import sys

tolva, vim_path, textmate_path = sys.argv[1:4]
listing = subprocess.run([tolva, "-e", "words aliases"], stdout=subprocess.PIPE, text=True, check=True)
known = set(listing.stdout.split())
failures = []


def compare(name, listed, handled_apart):
    missing = sorted(known - listed - handled_apart)
    unknown = sorted(listed - known)
    if missing:
        failures.append("%s lacks: %s" % (name, " ".join(missing)))
    if unknown:
        failures.append("%s lists words the interpreter does not know: %s" % (name, " ".join(unknown)))


# Vim: the words of every `syn keyword` line, except contained groups (TODO).
vim_words = set()
with open(vim_path, encoding="utf-8") as f:
    for line in f:
        fields = line.split()
        if fields[:2] == ["syn", "keyword"] and "contained" not in fields:
            vim_words.update(fields[3:])
compare("the Vim syntax", vim_words, {"/*", "*/", "(", ")", "[", "]", "{", "}"})

# TextMate: the alternatives of the patterns in the "words" group.
with open(textmate_path, encoding="utf-8") as f:
    grammar = json.load(f)
word_patterns = grammar["repository"]["words"]["patterns"]
textmate_words = set()
for pattern in word_patterns:
    m = re.fullmatch(r"\(\?:\^\|\(\?<=\\s\)\)\(\?:(.*)\)\(\?=\\s\|\$\)", pattern["match"])
    if not m:
        failures.append("unexpected word pattern: " + pattern["match"])
        continue
    textmate_words.update(re.sub(r"\\(.)", r"\1", word) for word in m.group(1).split("|"))
compare("the TextMate grammar", textmate_words, {"/*", "*/", "(", ")"})


def expressions(node):
    if isinstance(node, dict):
        for key, value in node.items():
            if key in ("match", "begin", "end"):
                yield value
            else:
                yield from expressions(value)
    elif isinstance(node, list):
        for value in node:
            yield from expressions(value)


for expression in expressions(grammar):
    try:
        re.compile(expression)
    except re.error as error:
        failures.append("expression %r does not compile: %s" % (expression, error))

# The first pattern (in the grammar's order) that matches a whole token
# decides its scope.
order = [p for group in ("comments", "strings", "words", "numbers", "sigils")
         for p in grammar["repository"][group]["patterns"]]


def scope(token):
    for pattern in order:
        m = re.match(pattern.get("match") or pattern["begin"], token)
        if m:
            return pattern.get("name") or pattern["captures"]["1"]["name"]
    return None


expected = {
    "-rot": "support.function.stack.tolva", "1+": "keyword.operator.tolva", "/mod": "keyword.operator.tolva",
    "-": "keyword.operator.tolva", "=": "keyword.operator.tolva", ".s": "support.function.output.tolva",
    "-5": "keyword.operator.variable.tolva", "+a": "keyword.operator.variable.tolva",
    "$x": "keyword.operator.variable.tolva", "'dup": "keyword.operator.reference.tolva",
    "/name": "keyword.operator.reference.tolva", ":sq": "keyword.other.definition.tolva",
    ";": "keyword.other.definition.tolva", "/*": "comment.block.tolva", "\\": "comment.line.backslash.tolva",
    "(": "string.unquoted.tolva", "[": "punctuation.section.brackets.tolva", "true": "constant.language.boolean.tolva",
    "12abc": "constant.numeric.tolva", "0x1F": "constant.numeric.tolva", ".5": "constant.numeric.tolva",
    "3.5e2": "constant.numeric.tolva", "nan": "constant.numeric.tolva", "prime?": None, "(x)": None,
}
for token, wanted in expected.items():
    if scope(token) != wanted:
        failures.append("the TextMate grammar gives %r the scope %s, not %s" % (token, scope(token), wanted))

for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
