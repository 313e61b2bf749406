#!/usr/bin/env python3
"""The interactive loop on a terminal, typed at through pexpect: drive.py TOLVA CASE, CASE a function below.
Each expectation waits a few seconds at most, so a fault fails fast; HOME and history are in a scratch folder."""
import os, pathlib, signal, sys, tempfile
import pexpect.popen_spawn

BANNER = "Welcome to Tolva v4.1b (27 Feb 2024)\r\nWords: 64 Sigils: 9 Aliases: 2\r\nEnter code or 'bye' to exit:\r\n? "
TALKING_BANNER = BANNER.replace("? ", "Type help to learn more.\r\n? ")
PROMPT = "\r\n? "
UP, RIGHT, LEFT, HOME, END, DELETE = "\x1b[A", "\x1b[C", "\x1b[D", "\x1b[H", "\x1b[F", "\x1b[3~"
CTRL_A, CTRL_C, CTRL_D, CTRL_K, CTRL_R, CTRL_U, CTRL_W = "\x01", "\x03", "\x04", "\x0b", "\x12", "\x15", "\x17"
ALT_B, ALT_F, BACKSPACE, TAB = "\x1bb", "\x1bf", "\x7f", "\t"


def start(*args, home=None, talking=False, **settings):
    """tolva on an 80 x 24 terminal, past its banner; quiet (TOLVA_WHERE=0) unless `talking`."""
    env = dict(ENV, HOME=home or SCRATCH, **settings)
    if talking:
        del env["TOLVA_WHERE"]
    term = pexpect.spawn(TOLVA, list(args), env=env, dimensions=(24, 80), timeout=5, encoding="utf-8")
    term.expect_exact(TALKING_BANNER if talking else BANNER)
    return term


def line(keys, *results):
    """A step: the keys and Enter, the results in turn, the first just below the line, then the prompt."""
    return (keys + "\r", "\r\n" + results[0], *results[1:], PROMPT)


def exact(keys, result):
    """A step whose result is all that comes between the line and the next prompt."""
    return (keys + "\r", "\r\n" + result + PROMPT)


def play(term, *steps, end=CTRL_D):
    """Sends each step's keys and expects its texts in turn; then `end` must end the process with status 0."""
    for keys, *texts in steps:
        term.send(keys)
        for text in texts:
            term.expect_exact(text)
    if end:
        term.send(end)
        term.expect(pexpect.EOF)
        assert term.wait() == 0, term.signalstatus


def entries(path):
    header, *lines = pathlib.Path(path).read_text(encoding="latin-1").splitlines()
    assert header == "_HiStOrY_V2_" and header not in lines, (header, lines[:3])
    return lines


def plain():
    """Output not on a terminal: the plain loop byte for byte, though standard input and standard error are
    terminals, its first prompt "? " whatever the included file left open; on pipes Ctrl-C ends the process."""
    play(pexpect.spawn("sh", ["-c", 'exec "$0" -i "$1" >"$1.out"', TOLVA, OPEN], env=TALKING_ENV,
                       timeout=5, encoding="utf-8"), ("3 ]\r[ 4\r",))
    assert (output := pathlib.Path(OPEN + ".out").read_text()) == \
        f"Included {OPEN}\n" + BANNER.replace("\r\n", "\n") + "ok\n? ok\n... ", output
    pipe = pexpect.popen_spawn.PopenSpawn([TOLVA], env=ENV, timeout=5, encoding="utf-8")
    play(pipe, ("5 . cr [ 1 drop ] 2000000000 times\n", "5 \n"), end=None)
    pipe.kill(signal.SIGINT)
    pipe.expect(pexpect.EOF)
    assert pipe.wait() == -signal.SIGINT


def prompt():
    """The first prompt is "? " though the included file left a construct open."""
    play(start("-i", OPEN), line("3 ]", "ok"), ("[ 4\r", "\r\nok\r\n... "))


def editing():
    play(start(), line("111 222 + . cr", "333 \r\nok"), line(UP, "333 \r\nok"),
         # Home, End, Ctrl-A and the arrows; Backspace over a two-byte character.
         line("100 . cr" + HOME + "7" + END + " 5 . cr", "7100 \r\n5 \r\nok"),
         line("( añb ) .. cr" + CTRL_A + RIGHT * 4 + BACKSPACE + "ü" + LEFT + "€", "a€üb \r\nok"),
         # Delete, Alt-F, Ctrl-W, Alt-B, Ctrl-K, Ctrl-U.
         line("x5 . cr" + CTRL_A + DELETE + ALT_F + "5", "55 \r\nok"), line("1 . cr junk" + CTRL_W, "1 \r\nok"),
         line("2 . cr 3 . cr" + ALT_B * 3 + CTRL_K, "2 \r\nok"), line("junk" + CTRL_U + "4 . cr", "4 \r\nok"),
         line("nosuch", "Domain error: unknown word - nosuch"), (CTRL_R + "222", "111 222"), line("", "333 \r\nok"),
         # accept edits behind what the program printed on the line: the
         # editor draws that text again as its prompt.
         ("( Name? ) .. accept .input\r", "\r\nName? \rName? "), ("Bob" + LEFT * 2 + "X" + CTRL_A + "Y", "YBXob"),
         line("", "YBXob\r\nok"))


def completion():
    # The candidates are the unit tests' concern; here, Tab completes whole
    # tokens, sigils included, and a second Tab lists the candidates.
    play(start(), line("5 =velocity 6 =verbose :squarely dup * ; :alpha1 11 . ; :alpha2 22 . ;", "ok"),
         line("3 squ" + TAB + ". cr", "9 \r\nok"), line("$vel" + TAB + ". cr", "5 \r\nok"),
         line("2 'squ" + TAB + "execute . cr", "4 \r\nok"),
         ("alp" + TAB * 2, "\r\nalpha1  alpha2\r\n"), line("2", "22 ok"),
         ("$v" + TAB * 2, "\r\n$velocity  $verbose\r\n"), line("r" + TAB + ". cr", "6 \r\nok"))


def interrupt():
    play(term := start(), line(":keep 77 . ; :deep dup [ 1 - deep ] iftrue { } while { 1 } repeat ;", "ok"),
         line("1 2 3", "ok"), end=None)
    # Ctrl-C stops the line within the expectation's few seconds and keeps
    # what it defined or left.
    for code in ["[ 1 drop ] 2000000000 times", "{ } while { 1 } repeat", "1000 deep", "accept"]:
        play(term, ("4 . cr " + code + "\r", "\r\n4 \r\n"), (CTRL_C, "Interrupted" + PROMPT),
             line(".s keep cr", "1 2 3 ", "77 \r\nok"), line("clear 1 2 3", "ok"), end=None)
    # At the prompt it throws the line away.
    play(term, ("99 . cr", "99 . cr"), (CTRL_C, PROMPT), end=None)
    assert "99" not in term.before
    play(term, line("8 . cr", "8 \r\nok"))


def history():
    path = os.path.join(SCRATCH, "history")
    play(term := start(TOLVA_HISTORY=path), line("31 11 + . cr", "42 \r\nok"), line("31 11 + . cr", "42 \r\nok"),
         line("   ", "ok"), line("6 6 * . cr", "36 \r\nok"), line(UP, "36 \r\nok"), end=None)
    term.kill(signal.SIGKILL)  # each line is in the file once entered
    term.wait()
    assert entries(path) == ["31\\04011\\040+\\040.\\040cr", "6\\0406\\040*\\040.\\040cr"], entries(path)
    play(start(TOLVA_HISTORY=path), line(UP * 2, "42 \r\nok"), end="bye\r")
    assert entries(path)[-1] == "bye"
    # By default the file is in the home folder; an empty TOLVA_HISTORY means
    # none, and a file that cannot be written is no error.
    for settings, files in [({}, [".tolva_history"]), ({"TOLVA_HISTORY": ""}, []), ({"TOLVA_HISTORY": SCRATCH}, []),
                            ({"TOLVA_HISTORY": os.path.join(SCRATCH, "no", "such")}, [])]:
        home = tempfile.mkdtemp(dir=SCRATCH)
        play(start(home=home, **settings), line("7 . cr", "7 \r\nok"), line(UP, "7 \r\nok"))
        assert os.listdir(home) == files, (settings, os.listdir(home))
    # A file over the bound is cut to its latest 1000 lines.
    pathlib.Path(path).write_text("_HiStOrY_V2_\n" + "".join(f"e{number}\n" for number in range(1, 1201)))
    play(start(TOLVA_HISTORY=path), line(UP, "Domain error: unknown word - e1200"))
    assert entries(path) == [f"e{number}" for number in range(201, 1201)]


def talking():
    """A person at a terminal is told what went wrong and where, and how to learn more; TOLVA_WHERE=0 turns
    it all off. Pipes and files are the end-to-end tests' concern."""
    play(start(talking=True),
         exact("$total . cr", "Out of range: _Map_base::at\r\n  the variable total was fetched before any value was "
              "stored in it: store one first, as in 0 =total\r\n  at <input>:1: $total"),
         exact("3 dpu", "Domain error: unknown word - dpu\r\n  dpu is no word defined here: did you mean dup?\r\n"
              "  at <input>:2: dpu\r\n  the stack still holds 1 value: 3; clear empties it"),
         exact("clear :avg + 2 / ; 5 avg", "Out of range: stack underflow\r\n  + takes 2 values from the stack, "
              "which held fewer: it took what there was\r\n  at <input>:3: +\r\n  from <input>:3: avg"),
         line("1 2 3 ] . cr", "Warning: ] at <input>:4 closes nothing: no construct is open\r\n3 \r\nok"),
         exact("clear ( nofile.tv ) included", "Runtime error: can't open file\r\n  the file nofile.tv cannot be "
              "opened: No such file or directory\r\n  at <input>:5: included"),
         # The slip inside a body is said as the body is written, not only when typed at the prompt.
         line(":f { 1 { 2 } iftrue } iftrue ;", "Warning: { collected inside an open { at <input>:6; the next } "
              "ends the outer one\r\nok"),
         line(": sq dup * ; 3 sq", "Warning: : at <input>:7 followed by a blank", "Domain error: unknown word - sq",
              "(a : followed by a blank defined the word with the empty name)"),
         line("help", "Each word and number runs", "TOLVA_WHERE=0", "TOLVA_TRACE=1", "tutorial.md"),
         line("?dup ?f", "(native code)  ( x -- x x )\r\n{ 1 { 2 } iftrue } iftrue\r\nok"),
         line(":help 42 . cr ;", "ok"), line("help", "42 \r\nok"))
    play(start(), exact("3 dpu", "Domain error: unknown word - dpu"), line("?dup", "(native code)\r\nok"),
         exact("help", "Domain error: unknown word - help"), line("clear 1 ] . cr", "1 \r\nok"))
    # A program that cannot be opened is named to a person, and stays silent to scripts.
    for env, said in [(TALKING_ENV, "Error: can't open nofile.tv: No such file or directory\r\n"), (ENV, "")]:
        term = pexpect.spawn(TOLVA, ["nofile.tv"], env=env, timeout=5, encoding="utf-8")
        term.expect(pexpect.EOF)
        assert term.before == said and term.wait() == 2, (term.before, term.exitstatus)


def ending():
    """SIGTERM, SIGHUP and SIGQUIT, at the prompt and while code runs, end tolva as the signal does, with the
    terminal's modes put back: dash, which runs it, does not restore them itself. Entered lines stay. The
    running code prints first, so that the signal comes once the line is entered, not as it is."""
    path = os.path.join(SCRATCH, "history")
    for number, (code, expected) in enumerate([("", ""), ("2 . cr [ 1 drop ] 2000000000 times", "\r\n2 \r\n")]):
        for sent in (signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
            term = pexpect.spawn("dash", ["-c", 'ulimit -c 0; "$0"; echo "status $?"; stty -a', TOLVA],
                                 env=dict(ENV, TOLVA_HISTORY=path), dimensions=(24, 80), timeout=5, encoding="utf-8")
            term.expect_exact(BANNER)
            play(term, line(f"{number} . cr", f"{number} \r\nok"), (code + "\r" if code else "", expected), end=None)
            children = pathlib.Path(f"/proc/{term.pid}/task/{term.pid}/children").read_text().split()
            os.kill(int(children[0]), sent)
            term.expect_exact(f"status {128 + sent}")
            term.expect(pexpect.EOF)
            assert " icanon " in term.before and " echo " in term.before, (sent, code, term.before)
    assert entries(path)[-2:] == ["1\\040.\\040cr", "2\\040.\\040cr\\040[\\0401\\040drop\\040]\\0402000000000\\040times"], entries(path)


TOLVA, case = sys.argv[1:]
with tempfile.TemporaryDirectory() as SCRATCH:
    ENV = dict({name: value for name, value in os.environ.items() if name != "TOLVA_HISTORY"},
               HOME=SCRATCH, TERM="xterm", LC_ALL="C.UTF-8", TOLVA_WHERE="0")
    TALKING_ENV = {name: value for name, value in ENV.items() if name != "TOLVA_WHERE"}
    OPEN = os.path.join(SCRATCH, "open.tv")
    pathlib.Path(OPEN).write_text("[ 1 2")
    globals()[case]()
