#!/usr/bin/python3
"""Runs the examples of a command reference on the simulated board: in each
```console block a "$ " line is a command (a trailing backslash continues
it) and the lines up to the next are what it prints, stdout and stderr
together.  They run in order, each in its own bash, on one board.  No
examples, an ipmitool command without an answer, or ipmitool outside a
console block is a failure too.
    commands_doc_test.py DOC.md         (inside the board sandbox only)
"""
import re
import subprocess
import sys

from sandbox_guard import require_sandbox


def examples(text):
    """The (line number, command, expected output) of each example."""
    found, problems = [], []
    block = current = None  # block: the fence's info string inside one
    for number, line in enumerate(text.splitlines(), 1):
        if fence := re.match(r"^\s*```(.*)$", line):
            block = fence.group(1).strip() if block is None else None
            current = None
        elif block is None:
            continue
        elif block != "console":
            if "ipmitool" in line:
                problems.append(f"line {number}: ipmitool outside a console block")
        elif current is not None and current[1].endswith("\\"):
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
            problems.append(f"line {number}: $ {command}\n  expected {expected!r}\n  printed  {got!r}")
    for problem in problems:
        print(f"{path}: {problem}", file=sys.stderr)
    print(f"{path}: {len(cases)} examples, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
