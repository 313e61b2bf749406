#!/usr/bin/env python3
"""Checks the editor support against the interpreter: check-editors.py TOLVA VIM_SYNTAX TEXTMATE_GRAMMAR
Both must know exactly the words and aliases the interpreter lists, apart from the delimiters each handles with
patterns of its own. The first TextMate pattern to match a token must give it the meaning the interpreter gives
it: words before sigils (-rot is a word, -5 a sigil token), numbers read from the start of a token."""
import json, re, subprocess, sys

# The scope each token gets, without the ".tolva" at its end.
SCOPES = {"support.function.stack": "-rot", "support.function.output": ".s", "keyword.operator": "1+ /mod - =",
          "keyword.operator.variable": "-5 +a $x", "keyword.operator.reference": "'dup /name", "comment.block": "/*",
          "keyword.other.definition": ":sq ;", "comment.line.backslash": "\\", "string.unquoted": "(",
          "punctuation.section.brackets": "[", "constant.language.boolean": "true",
          "constant.numeric": "12abc 0x1F .5 3.5e2 nan", None: "prime? (x)"}

tolva, vim_path, textmate_path = sys.argv[1:]
known = set(subprocess.run([tolva, "-e", "words aliases"], stdout=subprocess.PIPE, text=True, check=True).stdout.split())
failures = []


def compare(name, listed, apart):
    failures.extend("%s %s: %s" % (name, problem, " ".join(sorted(names))) for problem, names in [
        ("lacks", known - listed - set(apart.split())), ("lists words the interpreter lacks", listed - known)] if names)


# Vim: the words of every `syn keyword` line but contained groups (TODO).
compare("the Vim syntax", {word for fields in map(str.split, open(vim_path, encoding="utf-8"))
                           if fields[:2] == ["syn", "keyword"] and "contained" not in fields for word in fields[3:]},
        "/* */ ( ) [ ] { }")

# TextMate: every expression, wherever it sits, compiles; the words are the alternatives of the "words" patterns.
expressions = []
grammar = json.load(open(textmate_path, encoding="utf-8"), object_hook=lambda node: expressions.extend(
    node[key] for key in ("match", "begin", "end") if key in node) or node)
for expression in expressions:
    try:
        re.compile(expression)
    except re.error as error:
        failures.append("expression %r does not compile: %s" % (expression, error))
words = set()
for pattern in grammar["repository"]["words"]["patterns"]:
    if alternatives := re.fullmatch(r"\(\?:\^\|\(\?<=\\s\)\)\(\?:(.*)\)\(\?=\\s\|\$\)", pattern["match"]):
        words.update(re.sub(r"\\(.)", r"\1", word) for word in alternatives[1].split("|"))
    else:
        failures.append("unexpected word pattern: " + pattern["match"])
compare("the TextMate grammar", words, "/* */ ( )")

order = [pattern for group in ("comments", "strings", "words", "numbers", "sigils")
         for pattern in grammar["repository"][group]["patterns"]]
for wanted, tokens in SCOPES.items():
    wanted = wanted and wanted + ".tolva"
    for token in tokens.split():
        found = next((pattern.get("name") or pattern["captures"]["1"]["name"] for pattern in order
                      if re.match(pattern.get("match") or pattern["begin"], token)), None)
        if found != wanted:
            failures.append("the TextMate grammar gives %r the scope %s, not %s" % (token, found, wanted))

sys.exit("\n".join("FAIL: " + failure for failure in failures) or None)
