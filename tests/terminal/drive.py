#!/usr/bin/env python3
"""The interactive loop on a terminal, driven through a pseudo-terminal the
way a person types. Usage: drive.py TOLVA CASE, CASE one of the case_
functions below without its prefix.

Every expectation waits for output (never a fixed time), patiently enough for
a sanitizer build on a busy machine. Each case runs with HOME and the history
file in a scratch folder of its own.
"""
import fcntl
import os
import pty
import re
import select
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

PATIENCE = 60.0  # seconds to wait for expected output
PROMPT = "\r\n? "
BANNER = ("Welcome to Tolva v4.1b (27 Feb 2024)\r\nWords: 64 Sigils: 9 Aliases: 2\r\n"
          "Enter code or 'bye' to exit:\r\n? ")
UP, RIGHT, LEFT, HOME, END, DELETE = "\x1b[A", "\x1b[C", "\x1b[D", "\x1b[H", "\x1b[F", "\x1b[3~"
CTRL_A, CTRL_C, CTRL_D, CTRL_K, CTRL_R, CTRL_U, CTRL_W = "\x01", "\x03", "\x04", "\x0b", "\x12", "\x15", "\x17"
ALT_B, ALT_F, BACKSPACE, TAB = "\x1bb", "\x1bf", "\x7f", "\t"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def environment(home, **settings):
    """The test's environment with HOME and the given variables; None removes one."""
    env = dict(os.environ, HOME=home, TERM="xterm", LC_ALL="C.UTF-8")
    env.pop("TOLVA_HISTORY", None)
    for name, value in settings.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    return env


class Terminal:
    """tolva on an 80 x 24 pseudo-terminal."""

    def __init__(self, tolva, env):
        pid, fd = pty.fork()
        if pid == 0:
            try:
                fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
                os.execve(tolva, ["tolva"], env)
            finally:
                os._exit(127)
        self.pid, self.fd = pid, fd
        self.output = b""
        self.seen = 0  # what expectations have matched so far ends here
        self.closed = False

    def type(self, keys):
        os.write(self.fd, keys.encode())

    def expect(self, text):
        """Waits until `text` appears after what was matched before; returns the time it took."""
        wanted, start = text.encode(), time.monotonic()
        while True:
            found = self.output.find(wanted, self.seen)
            if found >= 0:
                self.seen = found + len(wanted)
                return time.monotonic() - start
            waited = time.monotonic() - start
            check(not self.closed and waited < PATIENCE,
                  f"expected {text!r}; the terminal showed after the last match:\n{self.output[self.seen:]!r}")
            self._read(PATIENCE - waited)

    def wait_for_editor(self):
        """Waits until the line editor has the terminal: out of cooked mode,
        where the terminal itself would echo keys."""
        deadline = time.monotonic() + PATIENCE
        while termios.tcgetattr(self.fd)[3] & termios.ICANON:
            check(time.monotonic() < deadline, "the editor never took the terminal")
            time.sleep(0.01)

    def run(self, line, *results):
        """Enters `line` and waits for the results in turn, the first just below
        the line, then for the prompt."""
        self.type(line + "\r")
        self.expect("\r\n" + results[0])
        for result in results[1:]:
            self.expect(result)
        self.expect(PROMPT)

    def _read(self, timeout):
        if select.select([self.fd], [], [], timeout)[0]:
            try:
                data = os.read(self.fd, 65536)
            except OSError:  # the program has ended and closed the terminal
                data = b""
            self.output += data
            self.closed = not data

    def finish(self):
        """Reads to the end and returns the exit status."""
        deadline = time.monotonic() + PATIENCE
        while not self.closed:
            if time.monotonic() > deadline:
                os.kill(self.pid, signal.SIGKILL)
                raise Failure(f"the program did not end; the terminal showed:\n{self.output[self.seen:]!r}")
            self._read(deadline - time.monotonic())
        os.close(self.fd)
        return os.waitstatus_to_exitcode(os.waitpid(self.pid, 0)[1])

    def expect_exit(self, status=0):
        actual = self.finish()
        check(actual == status, f"exit status {actual}, not {status}; the terminal showed at the end:\n"
                                f"{self.output[-2000:]!r}")

    def kill(self):
        os.kill(self.pid, signal.SIGKILL)
        return self.finish()

    def screen(self):
        """The rows the output draws, for the cursor motions the editor uses under TERM=xterm."""
        rows, row, column = [[]], 0, 0
        for match in re.finditer(r"\x1b\[(\d*)([A-Za-z])|\x1b.|(.)", self.output.decode(errors="replace"), re.S):
            count, command, character = int(match[1] or 1), match[2], match[3]
            if command == "G":
                column = count - 1
            elif command == "C":
                column += count
            elif command == "D":
                column = max(0, column - count)
            elif command == "K":
                del rows[row][column:]
            elif character == "\r":
                column = 0
            elif character == "\n":
                row += 1
                rows.extend([] for _ in range(row + 1 - len(rows)))
            elif character == "\b":
                column = max(0, column - 1)
            elif character is not None and character >= " ":
                line = rows[row]
                line.extend(" " * (column + 1 - len(line)))
                line[column] = character
                column += 1
        return ["".join(line).rstrip() for line in rows]


def history_entries(path):
    with open(path, encoding="latin-1") as file:
        lines = file.read().splitlines()
    check(lines[:1] == ["_HiStOrY_V2_"] and "_HiStOrY_V2_" not in lines[1:], f"history file header: {lines[:3]}")
    return lines[1:]


def case_editing(tolva, scratch):
    term = Terminal(tolva, environment(scratch))
    term.expect(BANNER)
    term.run("111 222 + . cr", "333 \r\nok")
    term.type(UP)
    term.run("", "333 \r\nok")
    # Into the middle of a line and back: Home and End, Ctrl-A, arrows, and
    # Backspace over a two-byte character.
    term.run("100 . cr" + HOME + "7" + END + " 5 . cr", "7100 \r\n5 \r\nok")
    term.run("( añb ) .. cr" + CTRL_A + RIGHT * 4 + BACKSPACE + "ü" + LEFT + "€", "a€üb \r\nok")
    # Words and the rest of the line: Delete, Alt-F, Ctrl-W, Alt-B and
    # Ctrl-K, Ctrl-U.
    term.run("x5 . cr" + CTRL_A + DELETE + ALT_F + "5", "55 \r\nok")
    term.run("1 . cr junk" + CTRL_W, "1 \r\nok")
    term.run("2 . cr 3 . cr" + ALT_B * 3 + CTRL_K, "2 \r\nok")
    term.run("junk" + CTRL_U + "4 . cr", "4 \r\nok")
    term.run("nosuch", "Domain error: unknown word - nosuch")
    # Ctrl-R finds an earlier line.
    term.type(CTRL_R + "222")
    term.expect("111 222")
    term.run("", "333 \r\nok")
    # accept after text without a newline edits behind that text, not over it.
    term.type("( Name? ) .. accept .input\r")
    term.expect("\r\nName? ")
    term.wait_for_editor()
    term.type("Bob" + LEFT * 2 + "X" + CTRL_A + "Y")
    term.expect("YBXob")
    check("Name? YBXob" in term.screen(), f"the accept line on the screen: {term.screen()[-3:]}")
    term.type("\r")
    term.expect("\r\nYBXob\r\nok" + PROMPT)
    term.type(CTRL_D)
    term.expect_exit()


def case_completion(tolva, scratch):
    term = Terminal(tolva, environment(scratch))
    term.expect(BANNER)
    term.run("5 =velocity 6 =verbose :squarely dup * ; :alpha1 11 . ; :alpha2 22 . ;", "ok")
    # What the candidates are is left to the unit tests; here, that Tab
    # completes whole tokens, sigils included.
    term.run("3 squ" + TAB + ". cr", "9 \r\nok")
    term.run("$vel" + TAB + ". cr", "5 \r\nok")
    term.run("2 'squ" + TAB + "execute . cr", "4 \r\nok")
    # A second Tab lists what the token can become.
    term.type("alp" + TAB + TAB)
    term.expect("\r\nalpha1  alpha2\r\n")
    term.run("2", "22 ok")
    term.type("$v" + TAB + TAB)
    term.expect("\r\n$velocity  $verbose\r\n")
    term.run("r" + TAB + ". cr", "6 \r\nok")


def case_interrupt(tolva, scratch):
    term = Terminal(tolva, environment(scratch))
    term.expect(BANNER)
    term.run(":keep 77 . ; :deep dup [ 1 - deep ] iftrue { } while { 1 } repeat ;", "ok")
    term.run("1 2 3", "ok")
    for code in ["[ 1 drop ] 2000000000 times", "{ } while { 1 } repeat", "1000 deep", "accept"]:
        term.type("4 . cr " + code + "\r")
        term.expect("\r\n4 \r\n")
        term.type(CTRL_C)
        took = term.expect("Interrupted" + PROMPT)
        check(took < 10, f"{code}: stopped {took:.1f} s after Ctrl-C")
        term.run(".s keep cr", "1 2 3 ", "77 \r\nok")
        term.run("clear 1 2 3", "ok")
    # At the prompt Ctrl-C throws the line away.
    term.type("99 . cr")
    term.expect("99 . cr")
    term.type(CTRL_C)
    term.expect(PROMPT)
    term.run("8 . cr", "8 \r\nok")
    check(b"99 \r\n" not in term.output, "the line that Ctrl-C discarded ran")
    term.type(CTRL_D)
    term.expect_exit()


def case_history(tolva, scratch):
    path = os.path.join(scratch, "history")
    first = Terminal(tolva, environment(scratch, TOLVA_HISTORY=path))
    first.expect(BANNER)
    first.run("31 11 + . cr", "42 \r\nok")
    first.run("31 11 + . cr", "42 \r\nok")
    first.run("   ", "ok")
    first.run("6 6 * . cr", "36 \r\nok")
    first.type(UP)
    first.run("", "36 \r\nok")
    first.kill()  # lines are in the file as soon as they are entered
    check(history_entries(path) == ["31\\04011\\040+\\040.\\040cr", "6\\0406\\040*\\040.\\040cr"],
          f"no blank lines or repeats: {history_entries(path)}")

    second = Terminal(tolva, environment(scratch, TOLVA_HISTORY=path))
    second.expect(BANNER)
    second.type(UP * 2)
    second.run("", "42 \r\nok")
    second.type("bye\r")
    second.expect_exit()
    check(history_entries(path)[-1] == "bye", "the second session appends")

    # By default the file is in the home directory; an empty TOLVA_HISTORY
    # means none, and a file that cannot be written is no error.
    for home, settings, file in [("default", {}, ".tolva_history"),
                                 ("off", {"TOLVA_HISTORY": ""}, None),
                                 ("missing", {"TOLVA_HISTORY": os.path.join(scratch, "no", "such")}, None),
                                 ("directory", {"TOLVA_HISTORY": scratch}, None)]:
        home = os.path.join(scratch, home)
        os.mkdir(home)
        term = Terminal(tolva, environment(home, **settings))
        term.expect(BANNER)
        term.run("7 . cr", "7 \r\nok")
        term.type(UP)
        term.run("", "7 \r\nok")
        term.type(CTRL_D)
        term.expect_exit()
        check(os.listdir(home) == ([file] if file else []), f"{settings}: {os.listdir(home)} in the home directory")

    # A file over the bound keeps its latest 1000 lines.
    with open(path, "w") as file:
        file.write("_HiStOrY_V2_\n" + "".join(f"e{number}\n" for number in range(1, 1201)))
    term = Terminal(tolva, environment(scratch, TOLVA_HISTORY=path))
    term.expect(BANNER)
    term.type(UP)
    term.run("", "Domain error: unknown word - e1200")
    term.type(CTRL_D)
    term.expect_exit()
    check(history_entries(path) == [f"e{number}" for number in range(201, 1201)], "the file is cut to 1000 lines")


def case_plain(tolva, scratch):
    """Not both on a terminal: the plain loop, byte for byte, and Ctrl-C ends the process."""
    controller, terminal = pty.openpty()
    with subprocess.Popen([tolva], stdin=terminal, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          env=environment(scratch)) as process:
        os.write(controller, b"1 2 + . cr\n" + CTRL_D.encode())
        output, _ = process.communicate(timeout=PATIENCE)
        check(output == BANNER.replace("\r\n", "\n").encode() + b"3 \nok\n? ", f"stdin on a terminal: {output!r}")
    os.close(controller)
    os.close(terminal)
    with subprocess.Popen([tolva], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=environment(scratch)) as process:
        process.stdin.write(b"5 . cr [ 1 drop ] 2000000000 times\n")
        process.stdin.flush()
        line = b"?"
        while line and not line.endswith(b"5 \n"):  # the loop runs
            line = process.stdout.readline()
        process.send_signal(signal.SIGINT)
        check(process.wait(timeout=PATIENCE) == -signal.SIGINT, "SIGINT ends a session on a pipe")


def main():
    tolva, case = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as scratch:
        try:
            globals()["case_" + case](tolva, scratch)
        except Failure as failure:
            print(f"{case}: {failure}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
