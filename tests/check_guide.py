#!/usr/bin/env python3
"""Runs every command of the user guide and compares what it prints with what
the guide quotes, so that the guide cannot drift from the program.

The guide's convention: a fenced block marked ```console holds commands, each on
a line beginning with "$ ", and below each command the lines its standard output
must print, exactly (trailing spaces aside). A command runs in bash from the
repository root with the built temra-cli first on PATH; its standard error is
not compared. A command that fails, or prints other lines, fails the test, which
names the command and the first line that differs. The guide's table of gas
constants is checked against the program's gas table, and its table of flags
against the table of flags that `temra-cli study --help` prints.

Blocks marked ```pycon are Python sessions: lines beginning with ">>> " (and
"... " for their continuations) run, in the order of the guide and sharing
their names, from the repository root with the built temra module importable
(the folder TEMRA_PYTHON_MODULE_DIR names); the lines below each are what it
must print, compared as doctest compares them. Without TEMRA_PYTHON_MODULE_DIR
(a build without the module) they are skipped, and said to be.

    check_guide.py REPOSITORY_ROOT TEMRA_CLI_DIRECTORY [GUIDE]
"""
import doctest
import os
import re
import subprocess
import sys


def commands(guide):
    """Each command of the guide's console blocks with its expected lines and
    the line of the guide it stands on."""
    found, block, current = [], False, None
    with open(guide, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not block:
                block = re.fullmatch(r"\s*```console\s*", line) is not None
                continue
            if line.strip() == "```":
                block, current = False, None
            elif line.startswith("$ "):
                current = {"command": line[2:], "line": number, "expected": []}
                found.append(current)
            elif current is None:
                sys.exit(f"{guide}:{number}: a console block's first line must be a command")
            else:
                current["expected"].append(line.rstrip())
    return found


def python_sessions(guide):
    """The guide's pycon blocks as one doctest text, each line's place kept: the
    lines outside them are left blank."""
    lines, block = [], False
    with open(guide, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not block:
                block = re.fullmatch(r"\s*```pycon\s*", line) is not None
                lines.append("")
            elif line.strip() == "```":
                block = False
                lines.append("")
            else:
                lines.append(line)
    return "\n".join(lines) + "\n"


def run_python_sessions(guide, root, cli_dir):
    """Runs the pycon blocks; returns (examples run, failures)."""
    text = python_sessions(guide)
    if ">>> " not in text:
        return 0, 0
    module_dir = os.environ.get("TEMRA_PYTHON_MODULE_DIR")
    if not module_dir:
        print("the Python sessions are skipped: TEMRA_PYTHON_MODULE_DIR is not set")
        return 0, 0
    sys.path.insert(0, module_dir)
    os.environ["PATH"] = cli_dir + os.pathsep + os.environ.get("PATH", "")
    os.chdir(root)
    test = doctest.DocTestParser().get_doctest(text, {}, os.path.basename(guide), guide, 0)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    result = runner.run(test)
    return result.attempted, result.failed


def run(command, root, env):
    done = subprocess.run(["bash", "-o", "pipefail", "-c", command], cwd=root, env=env,
                          capture_output=True, text=True, timeout=600)
    return done.returncode, [l.rstrip() for l in done.stdout.splitlines()], done.stderr


def constants_differences(guide, root):
    """The rows of the guide's table of gas constants (gas, z, A, B, C3, C2, C1,
    C0) that differ from the program's gas table, core/gas_table.h."""
    with open(os.path.join(root, "core", "gas_table.h"), encoding="utf-8") as f:
        source = f.read()
    program = {label: [float(v) for v in values.split(",")]
               for values, label in re.findall(r'\{\{([^{}]*)\},\s*"[^"]*",\s*"([^"]*)"', source)}
    if not program:
        return ["core/gas_table.h: no gas row found"]
    quoted = {}
    with open(guide, encoding="utf-8") as f:
        for line in f:
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if len(cells) == 8 and cells[0] in program:
                try:
                    quoted[cells[0]] = [float(c.replace("\u2212", "-")) for c in cells[1:]]
                except ValueError:
                    continue
    faults = []
    for gas, values in program.items():
        if gas not in quoted:
            faults.append(f"the table of gas constants has no row for {gas}")
        elif any(abs(a - b) > 1e-12 * max(abs(a), abs(b)) for a, b in zip(quoted[gas], values)):
            faults.append(f"{gas}: the guide gives {quoted[gas]}, the program {values}")
    return faults


def flags_differences(guide, root, env):
    """The flags whose row in the guide's table (| `name` | meaning |) differs
    from the table of flags as `temra-cli study --help` prints it."""
    status, lines, err = run("temra-cli study --help", root, env)
    if status != 0:
        return [f"temra-cli study --help failed: {err.strip()}"]
    program, listing = {}, False
    for line in lines:
        if line.startswith('The column "flags" holds'):
            listing = True
        elif listing and line.startswith("  "):
            name, meaning = line.strip().split("  ", 1)
            program[name] = meaning
        else:
            listing = False
    if not program:
        return ["temra-cli study --help lists no flag"]
    quoted = {}
    with open(guide, encoding="utf-8") as f:
        for line in f:
            row = re.fullmatch(r"\| `([^`]+)` \| (.*) \|", line.strip())
            if row:
                quoted[row.group(1)] = row.group(2)
    faults = []
    for name, meaning in program.items():
        if name not in quoted:
            faults.append(f"the table of flags has no row for {name}")
        elif quoted[name] != meaning:
            faults.append(f"{name}: the guide says \"{quoted[name]}\", the program \"{meaning}\"")
    return faults


def first_difference(expected, got):
    for k in range(max(len(expected), len(got))):
        want = expected[k] if k < len(expected) else "(nothing)"
        have = got[k] if k < len(got) else "(nothing)"
        if want != have:
            return k + 1, want, have
    return None


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    root, cli_dir = os.path.abspath(argv[0]), os.path.abspath(argv[1])
    guide = argv[2] if len(argv) > 2 else os.path.join(root, "docs", "guide.md")
    env = dict(os.environ, PATH=cli_dir + os.pathsep + os.environ.get("PATH", ""),
               LC_ALL="C.UTF-8")
    found = commands(guide)
    if not found:
        sys.exit(f"{guide}: no command in a console block")
    failures = 0
    for c in found:
        status, got, err = run(c["command"], root, env)
        where = f"{os.path.basename(guide)}:{c['line']}: $ {c['command']}"
        if status != 0:
            print(f"FAIL {where}\n  exit status {status}: {err.strip()}")
            failures += 1
            continue
        diff = first_difference(c["expected"], got)
        if diff:
            line, want, have = diff
            print(f"FAIL {where}\n  output line {line}:\n  guide:   {want}\n  program: {have}")
            failures += 1
    passed = len(found) - failures
    attempted, failed = run_python_sessions(guide, root, cli_dir)
    passed += attempted - failed
    failures += failed
    for fault in constants_differences(guide, root) + flags_differences(guide, root, env):
        print(f"FAIL {os.path.basename(guide)}: {fault}")
        failures += 1
    print(f"{passed} passed, {failures} failed")
    return 1 if failures else 0


sys.exit(main(sys.argv[1:]))
