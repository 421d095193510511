#!/usr/bin/env python3
"""Mutation testing of the daemon and the card library.

Picks a seeded, re-runnable sample of mutants of the product code (frame/,
service/, base/, card/, sections/, cardlib/), builds each one incrementally in a
build tree of its own and runs the unit and end-to-end tests until the first
failure. A mutant that makes a test fail is killed; one that passes them all
survived. Results go to a JSON-lines file, one mutant a line, so that runs
of single directories can be merged.

  scripts/mutation.py run [--dirs frame,service] [--count 150] [--seed 1]
                          [--out FILE] [--build DIR] [--list] [--resume]
  scripts/mutation.py report FILE [FILE...]
  scripts/mutation.py replay FILE [FILE...] [--out FILE] [--build DIR] [--resume]
  scripts/mutation.py matrix FILE [FILE...] [--out FILE] [--build DIR] [--resume] [--jobs 8]
  scripts/mutation.py by-file MATRIX [MATRIX...] [--drop LINES] [--cases]

`replay` runs again the mutants that earlier results killed, against the
tests of HEAD: after tests are shortened or moved, a mutant that survives
names a fault they no longer catch.

`matrix` runs each mutant that earlier results killed against every test,
not only until the first failure, and writes the tests that failed: which
tests catch which faults, and which catch a fault no other test does.
`by-file` sums a matrix up by test file. With --drop it also estimates what
dropping that many test lines would cost: whole test files (with --cases,
single test cases too) are chosen to lose the fewest kills of one half of
the mutants, and the kills lost in the other half, which the choice never
saw, are counted; the mean over 200 random halves is printed.

The source tree is copied (git archive of HEAD) into the build directory;
the working tree is never touched.
"""
import argparse
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DIRS = ["frame", "service", "base", "card", "sections", "cardlib"]

# Binary operators stand between blanks in this formatted tree, which keeps
# templates, shifts and arrows out.
RELATIONAL = [(" == ", " != "), (" != ", " == "), (" <= ", " < "), (" >= ", " > "),
              (" < ", " <= "), (" > ", " >= ")]
LOGICAL = [(" && ", " || "), (" || ", " && ")]
ARITHMETIC = [(" + ", " - "), (" - ", " + "), (" * ", " / ")]

STRING = re.compile(r'"(?:[^"\\]|\\.)*"')
NUMBER = re.compile(r"(?<![\w.])(0x[0-9A-Fa-f]+|\d+)(?![\w.])")
CALL_STATEMENT = re.compile(r"^\s*(?:[\w:]+(?:\.|->))*[\w:]+\(.*\);\s*$")
IF_CONDITION = re.compile(r"^(\s*(?:\}\s*else\s+)?if\s*)\((.*)\)(\s*\{?\s*)$")
TWO_ARGS = re.compile(r"\b([\w:]+)\(([\w.&*>-]+), ([\w.&*>-]+)\)")


def code_part(line):
    """The line with string literals blanked and any // comment cut."""
    blanked = STRING.sub(lambda m: '"' + " " * (len(m.group(0)) - 2) + '"', line)
    cut = blanked.find("//")
    return blanked if cut < 0 else blanked[:cut]


def skip_line(line):
    s = line.strip()
    return (not s or s.startswith(("#", "//", "*", "/*", "static_assert", "template", "using ",
                                   "namespace", "}", "{", "case ", "default:"))
            or "operator" in s)


def starts_statement(lines, n):
    """Whether line n (1-based) begins a statement rather than continuing one."""
    for previous in reversed(lines[:n - 1]):
        code = code_part(previous).strip()
        if code:
            return code.endswith((";", "{", "}", ":")) or code == "else"
    return True


def sites_in(path, rel):
    """Every mutation this file offers: (line number, kind, old text, new text)."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    in_comment = False
    for n, line in enumerate(lines, 1):
        if "/*" in line and "*/" not in line:
            in_comment = True
        if in_comment:
            if "*/" in line:
                in_comment = False
            continue
        if skip_line(line):
            continue
        code = code_part(line)
        for kind, pairs in (("relational", RELATIONAL), ("logical", LOGICAL),
                            ("arithmetic", ARITHMETIC)):
            for old, new in pairs:
                for m in re.finditer(re.escape(old), code):
                    yield (n, kind, m.start(), old, new)
        for m in NUMBER.finditer(code):
            text = m.group(1)
            value = int(text, 16) if text.startswith("0x") else int(text)
            new = (hex(value + 1) if text.startswith("0x") else str(value + 1))
            yield (n, "constant", m.start(1), text, new)
        if (CALL_STATEMENT.match(code) and not re.match(r"^\s*(return|if|while|for)\b", code)
                and starts_statement(lines, n)):
            yield (n, "removed call", 0, line, "")
        m = IF_CONDITION.match(code)
        if m:
            yield (n, "negated condition", 0, line, m.group(1) + "(!(" + m.group(2) + "))" + m.group(3))
        for m in TWO_ARGS.finditer(code):
            if (m.group(1) in ("if", "while", "for", "switch", "sizeof", "return")
                    or m.group(2) == m.group(3)):
                continue
            yield (n, "swapped arguments", m.start(2),
                   m.group(2) + ", " + m.group(3), m.group(3) + ", " + m.group(2))
        for m in STRING.finditer(line):
            text = m.group(0)
            if len(text) > 4 and ("\\n" in text or text.startswith('"/')):
                inner = text[1:-1]
                at = next((i for i, c in enumerate(inner)
                           if c.isalpha() and (i == 0 or inner[i - 1] not in "\\%")), None)
                if at is not None:
                    c = inner[at]
                    changed = inner[:at] + (c.upper() if c.islower() else c.lower()) + inner[at + 1:]
                    yield (n, "text", m.start(), text, '"' + changed + '"')


def mutate(line, kind, at, old, new):
    if kind == "removed call":
        return re.match(r"^\s*", line).group(0) + ";"
    if kind == "negated condition":
        return new
    if line[at:at + len(old)] != old:
        return None
    return line[:at] + new + line[at + len(old):]


def all_sites(dirs):
    sites = []
    for d in dirs:
        for root, _, files in os.walk(os.path.join(TOP, d)):
            for name in sorted(files):
                if not name.endswith(".cpp"):
                    continue
                rel = os.path.relpath(os.path.join(root, name), TOP)
                for n, kind, at, old, new in sites_in(os.path.join(TOP, rel), rel):
                    sites.append({"file": rel, "line": n, "kind": kind, "at": at, "old": old, "new": new})
    return sites


def sample(sites, count, seed, dirs):
    """`count` mutants spread over the directories by their share of sites."""
    rng = random.Random(seed)
    by_dir = {d: [s for s in sites if s["file"].split("/")[0] == d] for d in dirs}
    total = sum(len(v) for v in by_dir.values()) or 1
    chosen = []
    for d in dirs:
        share = max(1, round(count * len(by_dir[d]) / total)) if by_dir[d] else 0
        chosen += rng.sample(by_dir[d], min(share, len(by_dir[d])))
    return sorted(chosen, key=lambda s: (s["file"], s["line"], s["at"]))


def run(cmd, cwd, timeout):
    try:
        return subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return None


def sync_tree(staged, src):
    """Makes `src` hold what `staged` holds, writing only the files that differ:
    the unchanged ones keep their times and their objects stay built, while a
    file an interrupted run left mutated differs from HEAD and is built again."""
    wanted = set()
    for root, _, files in os.walk(staged):
        for name in files:
            rel = os.path.relpath(os.path.join(root, name), staged)
            wanted.add(rel)
            target = os.path.join(src, rel)
            with open(os.path.join(root, name), "rb") as f:
                data = f.read()
            if os.path.isfile(target):
                with open(target, "rb") as f:
                    if f.read() == data:
                        continue
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)
            shutil.copymode(os.path.join(root, name), target)
    for root, _, files in os.walk(src):
        for name in files:
            if os.path.relpath(os.path.join(root, name), src) not in wanted:
                os.remove(os.path.join(root, name))


def prepare(build):
    src = os.path.join(build, "src")
    staged = os.path.join(build, "head")
    shutil.rmtree(staged, ignore_errors=True)
    os.makedirs(staged)
    archive = subprocess.run(["git", "archive", "HEAD"], cwd=TOP, check=True, capture_output=True).stdout
    subprocess.run(["tar", "-x", "-C", staged], input=archive, check=True)
    sync_tree(staged, src)
    obj = os.path.join(build, "obj")
    subprocess.run(["cmake", "-S", src, "-B", obj, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                    "-DKVT_BENCH=OFF", "-DKVT_WERROR=OFF"], check=True, stdout=subprocess.DEVNULL)
    if run(["cmake", "--build", obj], src, 3600) != 0:
        sys.exit("mutation: the unmutated tree does not build")
    if not tests_pass(obj):
        sys.exit("mutation: the unmutated tree fails its tests")
    return src, obj


TEST_COMMAND = ["ctest", "-L", "unit|e2e", "--stop-on-failure", "-j", "2", "--timeout", "120"]

# The model and torn-write tests take most of a full run, and ctest starts the
# longest first and lets them finish after another test has failed. The quick
# tests run first, then the long ones only for a mutant the quick ones missed:
# the same tests judge every mutant, in a fraction of the time.
LONG_TESTS = "InteropModel|TornCard|StatusOfThePulledCard"


def tests_pass(obj):
    return (run(TEST_COMMAND + ["-E", LONG_TESTS], obj, 1800) == 0
            and run(TEST_COMMAND + ["-R", LONG_TESTS], obj, 1800) == 0)


RESULT_LINE = re.compile(r"Test +#\d+: (.+?) \.+ *(\S+)")


def failing_tests(obj, jobs, limit=240):
    """Runs every unit and end-to-end test; the names of those that failed,
    and whether the run was cut at `limit` seconds (a mutant that hangs many
    tests), leaving the tests still running out. Most tests wait on the
    simulated SP's clock rather than compute, so they run well beyond the
    core count."""
    log = os.path.join(obj, "matrix-ctest.log")
    with open(log, "w", encoding="utf-8") as out:
        ctest = subprocess.Popen(["ctest", "-L", "unit|e2e", "-j", str(jobs), "--timeout", "60"],
                                 cwd=obj, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        try:
            ctest.wait(timeout=limit)
            cut = False
        except subprocess.TimeoutExpired:
            os.killpg(ctest.pid, signal.SIGKILL)
            ctest.wait()
            cut = True
    # Daemons the tests started leave the group; their command lines name
    # the build tree.
    subprocess.run(["pkill", "-KILL", "-f", obj], check=False)
    with open(log, encoding="utf-8") as f:
        results = [m.groups() for m in map(RESULT_LINE.search, f) if m]
    # ctest adds the parameter's printout to a name ("  # GetParam() = ...").
    failed = [name.split("  #")[0] for name, result in results
              if result not in ("Passed", "***Skipped")]
    return sorted(failed), cut


def pass_or_fail(obj):
    return {"status": "survived" if tests_pass(obj) else "killed"}


def every_failure(jobs):
    def judge(obj):
        failed, cut = failing_tests(obj, jobs)
        return {"status": "killed" if failed or cut else "survived", "failed": failed, "cut": cut}
    return judge


def test_mutant(site, src, obj, judge):
    """Builds the mutant and lets `judge` run the tests; the mutant's result."""
    path = os.path.join(src, site["file"])
    with open(path, encoding="utf-8") as f:
        original = f.read()
    lines = original.split("\n")
    changed = mutate(lines[site["line"] - 1], site["kind"], site["at"], site["old"], site["new"])
    if changed is None:
        return {"status": "not applied"}
    lines[site["line"] - 1] = changed
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n".join(lines))
        if run(["cmake", "--build", obj], src, 1200) != 0:
            return {"status": "not compiled"}
        return judge(obj)
    finally:
        with open(path, "w", encoding="utf-8") as f:
            f.write(original)
        os.utime(path)


def site_key(site):
    return (site["file"], site["line"], site["at"], site["kind"])


def load(files):
    results = []
    for name in files:
        with open(name, encoding="utf-8") as f:
            results += [json.loads(l) for l in f if l.strip()]
    return results


def report(files):
    results = load(files)
    killed = [r for r in results if r["status"] == "killed"]
    survived = [r for r in results if r["status"] == "survived"]
    other = len(results) - len(killed) - len(survived)
    tried = len(killed) + len(survived)
    rate = 100.0 * len(killed) / tried if tried else 0.0
    print(f"mutants: {len(results)}, compiled and run: {tried}, killed: {len(killed)}, "
          f"survived: {len(survived)}, not compiled or not applied: {other}")
    print(f"kill rate: {rate:.1f}%")
    for r in survived:
        print(f"survived: {r['file']}:{r['line']}: {r['kind']}: {r['old'].strip()} -> {r['new'].strip() or '(removed)'}")
    return rate


TEST_MACRO = re.compile(r"^(?:TEST|TEST_F|TEST_P|TYPED_TEST|TYPED_TEST_P)\((\w+),\s*(\w+)\)", re.M)


def counted(lines):
    return sum(1 for l in lines if l.strip() and not l.strip().startswith("//"))


def body_end(text, start):
    """The offset of the brace that closes the body opening after `start`."""
    depth = 0
    for i in range(start, len(text)):
        if text[i] == "{":
            depth += 1
        elif text[i] == "}":
            depth -= 1
            if depth == 0:
                return i
    return len(text)


def test_sources():
    """Each test case's file and counted lines, keyed (suite, name); each
    test file's counted lines outside its cases (fixtures, helpers, rows)."""
    cases, rest = {}, {}
    for root, _, files in os.walk(os.path.join(TOP, "tests")):
        for name in files:
            if not name.endswith(".cpp"):
                continue
            path = os.path.join(root, name)
            rel = os.path.relpath(path, TOP)
            with open(path, encoding="utf-8") as f:
                text = f.read()
            text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
            lines = text.split("\n")
            inside = 0
            for m in TEST_MACRO.finditer(text):
                first = text.count("\n", 0, m.start())
                last = text.count("\n", 0, body_end(text, m.end()))
                n = counted(lines[first:last + 1])
                cases[(m.group(1), m.group(2))] = (rel, n)
                inside += n
            rest[rel] = counted(lines) - inside
    return cases, rest


def case_of(test):
    """(suite, name) of a ctest name such as "Rows/Suite.Name/row"."""
    suite, _, name = test.split("  ")[0].split("<")[0].partition(".")
    return suite.split("/")[-1], name.split("/")[0]


def by_file(files, drop=0, cases_too=False):
    """Per test file: the killed mutants it catches, and those no other file
    catches; then the fewest files, fewest lines first, that catch them all."""
    cases, rest = test_sources()
    lines = {f: rest[f] + sum(n for g, n in cases.values() if g == f) for f in rest}
    caught, case_catchers = {}, []
    killed = [r for r in load(files) if r["status"] == "killed"]
    for r in killed:
        mutant = site_key(r)
        found = set()
        for test in r.get("failed", []):
            case = case_of(test)
            found.add(case if case in cases else ("(other)", test))
            name = cases[case][0] if case in cases else "(unknown) " + test
            caught.setdefault(name, set()).add(mutant)
        if found:
            case_catchers.append(found)
    every = set().union(*caught.values()) if caught else set()
    print(f"killed mutants: {len(killed)}, caught by a named test: {len(every)}")
    files_per_mutant = [sum(m in v for v in caught.values()) for m in every]
    print("caught by one file: {}, by two or three: {}, by four or more: {}".format(
        files_per_mutant.count(1), sum(n in (2, 3) for n in files_per_mutant),
        sum(n >= 4 for n in files_per_mutant)))
    print(f"{'alone':>5} {'all':>5} {'lines':>5}  test file")
    for name in sorted(lines, key=lambda n: (-len(caught.get(n, ())), n)):
        others = set().union(*(v for k, v in caught.items() if k != name))
        mine = caught.get(name, set())
        print(f"{len(mine - others):5} {len(mine):5} {lines[name]:5}  {name}")
    left, cover = set(every), []
    while left:
        best = max(caught, key=lambda n: len(caught[n] & left) / max(lines.get(n, 1), 1))
        cover.append(best)
        left -= caught[best]
    print(f"{len(cover)} files of {len(lines)} catch them all, in "
          f"{sum(lines.get(n, 0) for n in cover)} of {sum(lines.values())} lines")
    if not drop:
        return
    # A unit is a set of cases; a file's own lines go once all its cases have.
    per_file = {}
    for case, (f, _) in cases.items():
        if not f.startswith("tests/support/"):
            per_file.setdefault(f, set()).add(case)
    units = [frozenset(v) for v in per_file.values()]
    if cases_too:
        units += [frozenset([c]) for v in per_file.values() for c in v]

    def saved(dropped):
        return (sum(cases[c][1] for c in dropped) +
                sum(rest[f] for f, v in per_file.items() if v <= dropped))
    seen, unseen = drop_estimate(case_catchers, units, saved, drop)
    what = "test cases or whole files" if cases_too else "whole test files"
    print(f"dropping {drop} lines of {what} loses {seen:.1%} of the kills it was "
          f"chosen on and {unseen:.1%} of those it never saw")


def drop_estimate(catchers, units, saved, drop, rounds=200):
    """The mean share of kills lost by dropping `drop` lines of tests, units
    chosen on one random half of the mutants (fewest kills lost per line
    saved): on that half, and on the other."""
    seen = unseen = 0.0
    for seed in range(rounds):
        order = list(range(len(catchers)))
        random.Random(seed).shuffle(order)
        chosen_on = [catchers[i] for i in order[:len(order) // 2]]
        held_out = [catchers[i] for i in order[len(order) // 2:]]
        dropped = set()
        while saved(dropped) < drop:
            lost = sum(c <= dropped for c in chosen_on)
            best, best_cost = None, None
            for unit in units:
                gain = saved(dropped | unit) - saved(dropped)
                if gain <= 0:
                    continue
                # Kills lost per line saved; among units that lose none,
                # those that catch least, as they are likeliest to catch
                # nothing unseen either.
                catches = sum(bool(c & unit) for c in chosen_on)
                cost = ((sum(c <= dropped | unit for c in chosen_on) - lost) / gain, catches / gain)
                if best_cost is None or cost < best_cost:
                    best, best_cost = unit, cost
            if best is None:
                break
            dropped |= best
        seen += sum(c <= dropped for c in chosen_on) / len(chosen_on)
        unseen += sum(c <= dropped for c in held_out) / len(held_out)
    return seen / rounds, unseen / rounds


def main():
    # A stopped run puts the mutated file back (test_mutant's finally).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    r = sub.add_parser("run")
    r.add_argument("--dirs", default=",".join(DIRS))
    r.add_argument("--count", type=int, default=150)
    r.add_argument("--seed", type=int, default=1)
    r.add_argument("--out", default=os.path.join(TOP, "build", "mutation", "results.jsonl"))
    r.add_argument("--build", default=os.path.join(TOP, "build", "mutation"))
    r.add_argument("--list", action="store_true", help="list the sample, run nothing")
    r.add_argument("--resume", action="store_true",
                   help="keep the results already in --out and run only the rest")
    p = sub.add_parser("report")
    p.add_argument("files", nargs="+")
    b = sub.add_parser("by-file")
    b.add_argument("files", nargs="+")
    b.add_argument("--drop", type=int, default=0, help="test lines to drop in the estimate")
    b.add_argument("--cases", action="store_true",
                   help="let the estimate drop single test cases as well as whole files")
    y = sub.add_parser("replay")
    y.add_argument("files", nargs="+")
    y.add_argument("--out", default=os.path.join(TOP, "build", "mutation", "replay.jsonl"))
    y.add_argument("--build", default=os.path.join(TOP, "build", "mutation"))
    y.add_argument("--resume", action="store_true")
    m = sub.add_parser("matrix")
    m.add_argument("files", nargs="+")
    m.add_argument("--out", default=os.path.join(TOP, "build", "mutation", "matrix.jsonl"))
    m.add_argument("--build", default=os.path.join(TOP, "build", "mutation"))
    m.add_argument("--resume", action="store_true")
    m.add_argument("--jobs", type=int, default=8)
    args = parser.parse_args()
    if args.command == "report":
        report(args.files)
        return
    if args.command == "by-file":
        by_file(args.files, args.drop, args.cases)
        return
    if args.command in ("replay", "matrix"):
        keep = ("file", "line", "kind", "at", "old", "new")
        killed = [{k: r[k] for k in keep} for r in load(args.files) if r["status"] == "killed"]
        if args.command == "matrix":
            # A matrix stopped early is then a fair sample of the whole.
            random.Random(0).shuffle(killed)
        play(killed, args)
        return
    dirs = [d for d in args.dirs.split(",") if d]
    # The sample is drawn from all directories, so that a run of one
    # directory tests exactly its part of the full sample.
    chosen = [s for s in sample(all_sites(DIRS), args.count, args.seed, DIRS)
              if s["file"].split("/")[0] in dirs]
    if args.list:
        for s in chosen:
            print(f"{s['file']}:{s['line']}: {s['kind']}: {s['old'].strip()} -> {s['new'].strip()}")
        return
    play(chosen, args)


def play(chosen, args):
    """Runs each mutant of `chosen` against HEAD and reports."""
    done = set()
    if args.resume and os.path.exists(args.out):
        done = {site_key(r) for r in load([args.out])}
    src, obj = prepare(os.path.abspath(args.build))
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    judge = every_failure(args.jobs) if args.command == "matrix" else pass_or_fail
    with open(args.out, "a" if args.resume else "w", encoding="utf-8") as out:
        for i, site in enumerate(chosen, 1):
            if site_key(site) in done:
                continue
            start = time.time()
            result = test_mutant(site, src, obj, judge)
            out.write(json.dumps(dict(site, **result)) + "\n")
            out.flush()
            print(f"[{i}/{len(chosen)}] {result['status']:12} {site['file']}:{site['line']} {site['kind']} "
                  f"({time.time() - start:.0f} s)", flush=True)
    run(["cmake", "--build", obj], src, 3600)  # leave the tree built unmutated
    report([args.out])


if __name__ == "__main__":
    main()
