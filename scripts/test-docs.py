#!/usr/bin/env python3
"""Runs the shell transcripts of the docs and checks their output.

A transcript is a fenced block with the info string `console`: lines that
begin with `$ ` are commands (`> ` continues one), the lines after a command
are what it prints (standard output and error together), and a last line
`[N]` is its exit status when that is not 0. An output line `...` stands for
any number of lines. A test runs in a fresh temporary directory ($HOME) that
holds a fresh simulated SP root (`KVT_SP_ROOT`, not yet made) with the built
tools on PATH, at KVT_SIM_TIME_SCALE=0.02.

A shell block that cannot run here begins with the line
`# not runnable here: <why>` and is skipped; every other `console`, `sh`,
`shell` or `bash` block must be a transcript.

A block whose commands make a simulated SP (`kvtsim init`) starts a test of its
own; any other block goes on in the shell and the SP of the block before it.

Before comparing, both the expected and the actual output are normalised
(see SUBSTITUTIONS): the test's SP root reads `$KVT_SP_ROOT`, and times and
process ids read as placeholders, so a doc may show real values.

  test-docs.py [--build DIR] [--jobs N] [--keep] [--update] [--list-skipped] [DOC.md...]
"""
import argparse
import concurrent.futures
import difflib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

DOCS = ["README.md", "docs/operator-guide.md", "docs/kvtcard.md", "docs/simulated-sp.md",
        "docs/porting-guide.md"]
SHELL_INFOS = {"console", "sh", "shell", "bash"}
NOT_HERE = "# not runnable here:"
MARKER = "@@doc-test@@"
TIME_LIMIT = 240  # seconds for one test; a test waits on what it needs, never on a clock

# Applied in order to each line of both sides.
SUBSTITUTIONS = [
    (re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d"), "<time>"),          # status, service log
    (re.compile(r"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d"), "<time>"),          # critical log
    (re.compile(r"(\bpid: |\bPID[ =]|\"pid\": )\d+"), r"\1<pid>"),      # process ids
]
# bash running a transcript as a script reports a command that a signal ended with its line
# and PID; an interactive shell, as the docs show it, prints the signal's name alone.
AS_A_TERMINAL = (re.compile(r"^bash: line \d+: +\d+ (Killed|Terminated|Aborted)\b.*"), r"\1")


class Block:
    def __init__(self, doc, line, heading, info, lines, indent):
        self.doc, self.line, self.heading, self.info, self.lines = doc, line, heading, info, lines
        self.indent = indent


def blocks_of(doc, text):
    heading, fence, start, info, body = "", None, 0, "", []
    for number, line in enumerate(text.split("\n"), 1):
        if fence is None:
            if line.startswith("#"):
                heading = line.lstrip("#").strip()
            found = re.match(r"^(\s*)(```+)\s*(\S*)", line)
            if found:
                fence, start, info, body = found.group(1) + found.group(2), number, found.group(3), []
            continue
        if line.strip() == fence.strip():
            yield Block(doc, start, heading, info, body, fence[:len(fence) - len(fence.lstrip())])
            fence = None
            continue
        body.append(line[len(fence) - len(fence.lstrip()):] if line.startswith(" ") else line)


class Command:
    def __init__(self, text, line, indent):
        self.text, self.line, self.expected, self.status = text, line, [], 0
        self.indent, self.end = indent, line + 1  # the doc's lines [line, end) hold it
        self.actual, self.failed = None, False


def parse(block):
    commands = []
    for offset, line in enumerate(block.lines, block.line + 1):
        if line.startswith("$ "):
            commands.append(Command(line[2:], offset, block.indent))
        elif line.startswith("> ") and commands and not commands[-1].expected:
            commands[-1].text += "\n" + line[2:]
        elif not commands:
            raise ValueError(f"{block.doc}:{offset}: a transcript begins with a `$ ` command")
        elif re.fullmatch(r"\[\d+\]", line):
            commands[-1].status = int(line[1:-1])
        else:
            commands[-1].expected.append(line)
        if commands:
            commands[-1].end = offset + 1
    return commands


def normalise(line):
    for pattern, replacement in SUBSTITUTIONS:
        line = pattern.sub(replacement, line)
    return line


def matches(expected, actual):
    """Whether the lines match, `...` standing for any number of lines."""
    memo = {}

    def at(i, j):
        if (i, j) not in memo:
            if i == len(expected):
                memo[(i, j)] = j == len(actual)
            elif expected[i] == "...":
                memo[(i, j)] = at(i + 1, j) or (j < len(actual) and at(i, j + 1))
            else:
                memo[(i, j)] = j < len(actual) and expected[i] == actual[j] and at(i + 1, j + 1)
        return memo[(i, j)]
    return at(0, 0)


def own_processes(work):
    """The processes started for a test: their SP root lies in its directory."""
    pids = []
    wanted = ("KVT_SP_ROOT=" + work + "/").encode()
    for entry in os.listdir("/proc"):
        if entry.isdigit() and int(entry) != os.getpid():
            try:
                with open(f"/proc/{entry}/environ", "rb") as f:
                    if any(v.startswith(wanted) for v in f.read().split(b"\0")):
                        pids.append(int(entry))
            except OSError:
                pass
    return pids


class Test:
    def __init__(self, doc, heading):
        self.doc, self.heading, self.commands, self.line = doc, heading, [], 0

    def name(self):
        return f"{self.doc}:{self.line} ({self.heading})"

    def run(self, build, source, keep):
        work = tempfile.mkdtemp(prefix="kvt-doc-")
        root = os.path.join(work, "sp")
        os.makedirs(os.path.join(work, "build"))
        os.symlink(build, os.path.join(work, "build", "release"))
        env = dict(os.environ, KVT_SP_ROOT=root, KVT_SIM_TIME_SCALE="0.02", HOME=work,
                   PATH=build + ":" + os.environ["PATH"], KVT_SOURCE=source, LC_ALL="C")
        env.pop("XDG_RUNTIME_DIR", None)
        script = "".join(f"{c.text}\nprintf '\\n{MARKER} %d\\n' $?\n" for c in self.commands)
        output_path = os.path.join(work, ".output")
        try:
            with open(output_path, "w") as output:
                process = subprocess.Popen(["bash", "-c", script], cwd=work, env=env,
                                           stdin=subprocess.DEVNULL, stdout=output,
                                           stderr=subprocess.STDOUT, start_new_session=True)
                try:
                    process.wait(timeout=TIME_LIMIT)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()
            with open(output_path, errors="replace") as f:
                text = f.read()
        finally:
            for pid in own_processes(work):
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
            if not keep:
                shutil.rmtree(work, ignore_errors=True)
        return self.compare(text.replace(root, "$KVT_SP_ROOT").replace(work, "$HOME"))

    def compare(self, text):
        chunks = re.split(r"\n" + re.escape(MARKER) + r" (\d+)\n", text)
        report = []
        for index, command in enumerate(self.commands):
            if 2 * index + 1 >= len(chunks):
                report.append(f"line {command.line}: `{command.text}` did not finish "
                              f"(a test has {TIME_LIMIT} s)")
                break
            chunk = chunks[2 * index]
            chunk = chunk[:-1] if chunk.endswith("\n") else chunk
            lines = [AS_A_TERMINAL[0].sub(AS_A_TERMINAL[1], l) for l in chunk.split("\n")] \
                if chunk else []
            status = int(chunks[2 * index + 1])
            expected = [normalise(l) for l in command.expected]
            actual = [normalise(l) for l in lines]
            command.actual = lines + status_line(status)
            if status != command.status or not matches(expected, actual):
                command.failed = True
                diff = difflib.unified_diff(command.expected + status_line(command.status),
                                            lines + status_line(status),
                                            "documented", "actual", lineterm="", n=2)
                report.append(f"line {command.line}: $ {command.text}\n" + "\n".join(diff))
        return report


def status_line(status):
    return [f"[{status}]"] if status else []


def collect(paths):
    tests, skipped, errors = [], [], []
    for path in paths:
        doc = path
        with open(doc) as f:
            blocks = list(blocks_of(doc, f.read()))
        current = None
        for block in blocks:
            if block.info not in SHELL_INFOS:
                continue
            if block.lines and block.lines[0].startswith(NOT_HERE):
                skipped.append(f"{doc}:{block.line}: {block.lines[0][len(NOT_HERE):].strip()}")
                continue
            if block.info != "console":
                errors.append(f"{doc}:{block.line}: a ```{block.info} block: make it a "
                              f"```console transcript or mark it `{NOT_HERE} <why>`")
                continue
            try:
                commands = parse(block)
            except ValueError as error:
                errors.append(str(error))
                continue
            fresh = any(re.search(r"\bkvtsim init\b", c.text) for c in commands)
            if current is None or current.doc != doc or fresh:
                current = Test(doc, block.heading)
                current.line = block.line
                tests.append(current)
            current.commands += commands
    return tests, skipped, errors


def update(tests):
    """Writes each failed command's actual output into its doc."""
    edits = {}
    for test in tests:
        for command in test.commands:
            if command.failed and command.actual is not None:
                edits.setdefault(test.doc, []).append(command)
    for doc, commands in edits.items():
        with open(doc) as f:
            lines = f.read().split("\n")
        for command in sorted(commands, key=lambda c: -c.line):
            first = command.line + command.text.count("\n")  # 1-based: the last command line
            lines[first:command.end - 1] = [command.indent + l if l else l for l in command.actual]
        with open(doc, "w") as f:
            f.write("\n".join(lines))
        print(f"updated {doc}: {len(commands)} command(s)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--keep", action="store_true", help="keep each test's directory")
    parser.add_argument("--list-skipped", action="store_true")
    parser.add_argument("--update", action="store_true",
                        help="write the actual output of each failing command into its doc")
    parser.add_argument("docs", nargs="*", default=DOCS)
    args = parser.parse_args()
    source = os.getcwd()
    build = os.path.abspath(args.build)
    tests, skipped, errors = collect(args.docs)
    for error in errors:
        print(f"FORMAT {error}")
    if args.list_skipped:
        for line in skipped:
            print(f"skipped {line}")
    failed = 0
    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        runs = {pool.submit(t.run, build, source, args.keep): t for t in tests}
        for future in concurrent.futures.as_completed(runs):
            test, report = runs[future], future.result()
            print(f"{'FAIL' if report else 'ok  '} {test.name()}", flush=True)
            for entry in report:
                print("    " + entry.replace("\n", "\n    "))
            failed += bool(report)
    took = time.monotonic() - started
    if args.update:
        update(tests)
    print(f"doc examples: {len(tests)} tests ({sum(len(t.commands) for t in tests)} commands) "
          f"in {took:.0f} s, {len(skipped)} blocks not runnable here")
    print(f"{len(tests) - failed} passed, {failed + len(errors)} failed, {len(skipped)} skipped")
    return 1 if failed or errors else 0


if __name__ == "__main__":
    sys.exit(main())
