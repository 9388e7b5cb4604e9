#!/usr/bin/python3
"""Runs the examples of a command reference on the simulated board.

Every ```console block of the document is an example: a line starting with
"$ " is a command (a line ending in a backslash continues it), the lines up
to the next command are what it prints, standard output and standard error
together.  The commands run in document order, each in its own bash, on the
one board this runs on (sim/board-inside), and each must print exactly its
lines.  A document without examples, an ipmitool command with no answer
line, or an ipmitool command outside a console block is a failure too.

    commands_doc_test.py DOC.md         (inside the board sandbox only)
"""
import os
import re
import subprocess
import sys

from sandbox_guard import require_sandbox


def examples(text):
    """The (line number, command, expected output) of each example."""
    found, problems = [], []
    block = None  # None outside a fence, else the fence's info string
    current = None
    for number, line in enumerate(text.splitlines(), 1):
        fence = re.match(r"^\s*```(.*)$", line)
        if fence:
            block = fence.group(1).strip() if block is None else None
            current = None
            continue
        if block is None:
            continue
        if block != "console":
            if "ipmitool" in line:
                problems.append(f"line {number}: ipmitool outside a console block")
            continue
        if current is not None and current[1].endswith("\\"):
            current[1] += "\n" + line
        elif line.startswith("$ "):
            current = [number, line[2:], []]
            found.append(current)
        elif current is None:
            problems.append(f"line {number}: output before any command")
        else:
            current[2].append(line)
    if not found:
        problems.append("no examples")
    for number, command, lines in found:
        if re.search(r"\bipmitool\b", command) and not lines:
            problems.append(f"line {number}: no expected answer: {command}")
    return [(n, c, "".join(l + "\n" for l in lines)) for n, c, lines in found], problems


def main(path):
    require_sandbox("commands_doc_test")
    with open(path) as f:
        cases, problems = examples(f.read())
    for number, command, expected in cases:
        try:
            got = subprocess.run(["bash", "-c", command], stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                 text=True, timeout=30).stdout
        except subprocess.TimeoutExpired:
            got = "(no answer in 30 s)\n"
        if got != expected:
            problems.append(f"line {number}: $ {command}\n  expected {expected!r}\n"
                            f"  printed  {got!r}")
    for problem in problems:
        print(f"{path}: {problem}", file=sys.stderr)
    print(f"{path}: {len(cases)} examples, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
