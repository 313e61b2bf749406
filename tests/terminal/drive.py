#!/usr/bin/env python3
"""The interactive loop on a terminal, typed at through pexpect.

Usage: drive.py TOLVA CASE, CASE one of the functions at the end. Every
expectation waits a few seconds at most, so a fault fails fast. HOME and the
history file are in a scratch folder, never the user's.
"""
import os
import signal
import sys
import tempfile

import pexpect
from pexpect.popen_spawn import PopenSpawn

BANNER = ("Welcome to Tolva v4.1b (27 Feb 2024)\r\nWords: 64 Sigils: 9 Aliases: 2\r\n"
          "Enter code or 'bye' to exit:\r\n? ")
PROMPT = "\r\n? "
UP, RIGHT, LEFT, HOME, END, DELETE = "\x1b[A", "\x1b[C", "\x1b[D", "\x1b[H", "\x1b[F", "\x1b[3~"
CTRL_A, CTRL_C, CTRL_D, CTRL_K, CTRL_R, CTRL_U, CTRL_W = "\x01", "\x03", "\x04", "\x0b", "\x12", "\x15", "\x17"
ALT_B, ALT_F, BACKSPACE, TAB = "\x1bb", "\x1bf", "\x7f", "\t"


def environment(home, **settings):
    env = dict(os.environ, HOME=home, TERM="xterm", LC_ALL="C.UTF-8")
    env.pop("TOLVA_HISTORY", None)
    env.update(settings)
    return env


def start(*args, home=None, **settings):
    """tolva on an 80 x 24 terminal, past its banner."""
    term = pexpect.spawn(TOLVA, list(args), env=environment(home or SCRATCH, **settings),
                         dimensions=(24, 80), timeout=5, encoding="utf-8")
    term.expect_exact(BANNER)
    return term


def run(term, line, *results):
    """Enters `line`, expects the results in turn, the first just below it, then the prompt."""
    term.send(line + "\r")
    for text in ("\r\n" + results[0],) + results[1:] + (PROMPT,):
        term.expect_exact(text)


def end(term, keys=CTRL_D):
    term.send(keys)
    term.expect(pexpect.EOF)
    assert term.wait() == 0, term.signalstatus


def entries(path):
    with open(path, encoding="latin-1") as file:
        header, *lines = file.read().splitlines()
    assert header == "_HiStOrY_V2_" and header not in lines, (header, lines[:3])
    return lines


def plain():
    """Output not on a terminal: the plain loop byte for byte, its first
    prompt "? " whatever the included file left open; on pipes Ctrl-C ends
    the process."""
    out = os.path.join(SCRATCH, "out")
    term = pexpect.spawn("sh", ["-c", 'exec "$0" -i "$1" >"$2"', TOLVA, OPEN, out],
                         env=environment(SCRATCH), timeout=5)
    term.send("3 ]\r[ 4\r")
    term.sendeof()
    term.expect(pexpect.EOF)
    assert term.wait() == 0
    with open(out) as file:
        output = file.read()
    assert output == f"Included {OPEN}\n" + BANNER.replace("\r\n", "\n") + "ok\n? ok\n... ", output
    pipe = PopenSpawn([TOLVA], env=environment(SCRATCH), timeout=5)
    pipe.sendline("5 . cr [ 1 drop ] 2000000000 times")
    pipe.expect_exact("5 \n")
    pipe.kill(signal.SIGINT)
    pipe.expect(pexpect.EOF)
    assert pipe.wait() == -signal.SIGINT


def prompt():
    """The first prompt is "? " though the included file left a construct open."""
    term = start("-i", OPEN)
    run(term, "3 ]", "ok")
    term.send("[ 4\r")
    term.expect_exact("\r\nok\r\n... ")
    end(term)


def editing():
    term = start()
    run(term, "111 222 + . cr", "333 \r\nok")
    run(term, UP, "333 \r\nok")
    # Home, End, Ctrl-A and the arrows; Backspace over a two-byte character.
    run(term, "100 . cr" + HOME + "7" + END + " 5 . cr", "7100 \r\n5 \r\nok")
    run(term, "( añb ) .. cr" + CTRL_A + RIGHT * 4 + BACKSPACE + "ü" + LEFT + "€", "a€üb \r\nok")
    # Delete, Alt-F, Ctrl-W, Alt-B, Ctrl-K, Ctrl-U.
    run(term, "x5 . cr" + CTRL_A + DELETE + ALT_F + "5", "55 \r\nok")
    run(term, "1 . cr junk" + CTRL_W, "1 \r\nok")
    run(term, "2 . cr 3 . cr" + ALT_B * 3 + CTRL_K, "2 \r\nok")
    run(term, "junk" + CTRL_U + "4 . cr", "4 \r\nok")
    run(term, "nosuch", "Domain error: unknown word - nosuch")
    term.send(CTRL_R + "222")
    term.expect_exact("111 222")
    run(term, "", "333 \r\nok")
    # accept edits behind what the program printed on the line: the editor
    # draws that text again as its prompt.
    term.send("( Name? ) .. accept .input\r")
    term.expect_exact("\r\nName? \rName? ")
    term.send("Bob" + LEFT * 2 + "X" + CTRL_A + "Y")
    term.expect_exact("YBXob")
    run(term, "", "YBXob\r\nok")
    end(term)


def completion():
    term = start()
    run(term, "5 =velocity 6 =verbose :squarely dup * ; :alpha1 11 . ; :alpha2 22 . ;", "ok")
    # The candidates are the unit tests' concern; here, Tab completes whole
    # tokens, sigils included, and a second Tab lists the candidates.
    run(term, "3 squ" + TAB + ". cr", "9 \r\nok")
    run(term, "$vel" + TAB + ". cr", "5 \r\nok")
    run(term, "2 'squ" + TAB + "execute . cr", "4 \r\nok")
    term.send("alp" + TAB + TAB)
    term.expect_exact("\r\nalpha1  alpha2\r\n")
    run(term, "2", "22 ok")
    term.send("$v" + TAB + TAB)
    term.expect_exact("\r\n$velocity  $verbose\r\n")
    run(term, "r" + TAB + ". cr", "6 \r\nok")
    end(term)


def interrupt():
    term = start()
    run(term, ":keep 77 . ; :deep dup [ 1 - deep ] iftrue { } while { 1 } repeat ;", "ok")
    run(term, "1 2 3", "ok")
    # Ctrl-C stops the line within the expectation's few seconds and keeps
    # what it defined or left.
    for code in ["[ 1 drop ] 2000000000 times", "{ } while { 1 } repeat", "1000 deep", "accept"]:
        term.send("4 . cr " + code + "\r")
        term.expect_exact("\r\n4 \r\n")
        term.send(CTRL_C)
        term.expect_exact("Interrupted" + PROMPT)
        run(term, ".s keep cr", "1 2 3 ", "77 \r\nok")
        run(term, "clear 1 2 3", "ok")
    # At the prompt it throws the line away.
    term.send("99 . cr")
    term.expect_exact("99 . cr")
    term.send(CTRL_C)
    term.expect_exact(PROMPT)
    assert "99" not in term.before
    run(term, "8 . cr", "8 \r\nok")
    end(term)


def history():
    path = os.path.join(SCRATCH, "history")
    term = start(TOLVA_HISTORY=path)
    run(term, "31 11 + . cr", "42 \r\nok")
    run(term, "31 11 + . cr", "42 \r\nok")
    run(term, "   ", "ok")
    run(term, "6 6 * . cr", "36 \r\nok")
    run(term, UP, "36 \r\nok")
    term.kill(signal.SIGKILL)  # each line is in the file once entered
    term.wait()
    assert entries(path) == ["31\\04011\\040+\\040.\\040cr", "6\\0406\\040*\\040.\\040cr"], entries(path)
    term = start(TOLVA_HISTORY=path)
    run(term, UP * 2, "42 \r\nok")
    end(term, "bye\r")
    assert entries(path)[-1] == "bye"
    # By default the file is in the home folder; an empty TOLVA_HISTORY means
    # none, and a file that cannot be written is no error.
    for name, file, settings in [("default", ".tolva_history", {}), ("off", None, {"TOLVA_HISTORY": ""}),
                                 ("missing", None, {"TOLVA_HISTORY": os.path.join(SCRATCH, "no", "such")}),
                                 ("folder", None, {"TOLVA_HISTORY": SCRATCH})]:
        home = os.path.join(SCRATCH, name)
        os.mkdir(home)
        term = start(home=home, **settings)
        run(term, "7 . cr", "7 \r\nok")
        run(term, UP, "7 \r\nok")
        end(term)
        assert os.listdir(home) == ([file] if file else []), (name, os.listdir(home))
    # A file over the bound is cut to its latest 1000 lines.
    with open(path, "w") as file:
        file.write("_HiStOrY_V2_\n" + "".join(f"e{number}\n" for number in range(1, 1201)))
    term = start(TOLVA_HISTORY=path)
    run(term, UP, "Domain error: unknown word - e1200")
    end(term)
    assert entries(path) == [f"e{number}" for number in range(201, 1201)]


if __name__ == "__main__":
    TOLVA, case = sys.argv[1:]
    with tempfile.TemporaryDirectory() as SCRATCH:
        OPEN = os.path.join(SCRATCH, "open.tv")
        with open(OPEN, "w") as file:
            file.write("[ 1 2")
        {"plain": plain, "prompt": prompt, "editing": editing, "completion": completion,
         "interrupt": interrupt, "history": history}[case]()
