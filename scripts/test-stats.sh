#!/usr/bin/env bash
# Prints the test-to-code figure and the mutation kill rates.
#   test lines: non-blank, non-comment lines of *.cpp, *.hpp and *.h under tests/
#   code lines: the same count for every other such file of the tree
# The kill rates come from the mutation results kept in docs/mutation/
# (scripts/mutation.py writes them; docs/testing.md says how).
set -euo pipefail
cd "$(dirname "$0")/.."
python3 - "$@" <<'PY'
import glob, os, re, subprocess, sys

def code_lines(path):
    text = open(path, encoding="utf-8", errors="replace").read()
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    return sum(1 for line in text.split("\n") if line.strip() and not line.strip().startswith("//"))

files = subprocess.run(["git", "ls-files", "*.cpp", "*.hpp", "*.h"], capture_output=True,
                       text=True, check=True).stdout.split()
files = [f for f in files if os.path.exists(f)]  # deleted, not yet committed
tests = sum(code_lines(f) for f in files if f.startswith("tests/"))
code = sum(code_lines(f) for f in files if not f.startswith("tests/"))
print(f"test lines: {tests}, code lines: {code}, ratio: {tests / code:.2f}")

for name in sorted(glob.glob("docs/mutation/*.jsonl")):
    import json
    results = [json.loads(l) for l in open(name) if l.strip()]
    killed = sum(r["status"] == "killed" for r in results)
    survived = sum(r["status"] == "survived" for r in results)
    rate = 100.0 * killed / (killed + survived) if killed + survived else 0.0
    print(f"{os.path.basename(name)}: {len(results)} mutants, {killed} killed, "
          f"{survived} survived, kill rate {rate:.1f}%")
PY
