#!/usr/bin/env python3
"""Golden-output tests: run tdsdecode on every case of tests/golden/cases and compare what it
writes to standard output (and its exit status) with the expected file kept beside the input.

A case line reads   NAME  ARGUMENT...  INPUT   and runs   tdsdecode ARGUMENT... INPUT   in
tests/data. Its expected file is INPUT with its extension replaced by .NAME: the case
"packet.json --view packet -o json captures/tds5.pcap" expects captures/tds5.packet.json.
When tdsdecode exits with a status other than 0, the expected file ends with a line
"# exit status N" followed by what it wrote to standard error, each line as "# stderr: ...".
"""
import argparse
import concurrent.futures
import difflib
import os
import re
import shlex
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
DATA = HERE.parent / "data"
DIFF_LINES = 60
TIMEOUT = 300


class Case:
    def __init__(self, name, args, input_path, line):
        self.name, self.args, self.input, self.line = name, args, input_path, line
        inp = Path(input_path)
        self.expected_rel = (inp.parent / (inp.stem + "." + name)).as_posix()
        self.expected = DATA / self.expected_rel

    @property
    def id(self):
        return self.expected_rel


def read_cases(path):
    cases, seen = [], {}
    with open(path, encoding="utf-8") as fh:
        for lineno, line in enumerate(fh, 1):
            words = shlex.split(line, comments=True)
            if not words:
                continue
            if len(words) < 2:
                sys.exit(f"{path}:{lineno}: a case needs a name and an input file")
            case = Case(words[0], words[1:-1], words[-1], lineno)
            if case.id in seen:
                sys.exit(f"{path}:{lineno}: {case.id} is also the case of line {seen[case.id]}")
            seen[case.id] = lineno
            cases.append(case)
    return cases


def observe(binary, case):
    """What the case produces: standard output, then the exit status and standard error if not 0."""
    if not (DATA / case.input).exists():
        return None, f"input {case.input} does not exist"
    try:
        proc = subprocess.run([binary] + case.args + [case.input], cwd=DATA, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        return None, f"no answer after {TIMEOUT} s"
    out = proc.stdout
    if proc.returncode != 0:
        if out and not out.endswith(b"\n"):
            out += b"\n"
        out += b"# exit status %d\n" % proc.returncode
        for line in proc.stderr.decode("utf-8", "replace").splitlines():
            out += ("# stderr: " + line + "\n").encode("utf-8")
    return out, None


def clip_pair(a, b, width=160):
    """Two long lines cut around the column where they first differ."""
    i = 0
    while i < len(a) and i < len(b) and a[i] == b[i]:
        i += 1
    start = max(0, i - width // 2)

    def cut(s):
        return ("..." if start else "") + s[start:start + width] + ("..." if start + width < len(s) else "")
    return cut(a), cut(b)


def clip(s, width=200):
    return s if len(s) <= width else s[:width] + "..."


def show_diff(case, expected, actual):
    """The first lines of a unified diff; long outputs are compared around their first difference."""
    a = expected.decode("utf-8", "replace").splitlines()
    b = actual.decode("utf-8", "replace").splitlines()
    lo = 0
    while lo < len(a) and lo < len(b) and a[lo] == b[lo]:
        lo += 1
    tail = 0
    while tail < len(a) - lo and tail < len(b) - lo and a[-1 - tail] == b[-1 - tail]:
        tail += 1
    lo = max(0, lo - 3)
    window = 500
    a_mid, b_mid = a[lo:len(a) - max(0, tail - 3)][:window], b[lo:len(b) - max(0, tail - 3)][:window]
    lines = list(difflib.unified_diff(a_mid, b_mid, "expected " + case.id, "actual", lineterm=""))
    out = []
    for ln in lines:
        m = re.match(r"@@ -(\d+)(,\d+)? \+(\d+)(,\d+)? @@", ln)
        if m:
            ln = "@@ -%d%s +%d%s @@" % (int(m.group(1)) + lo, m.group(2) or "", int(m.group(3)) + lo, m.group(4) or "")
        out.append(ln)
    # pair each run of removed lines with the added lines that follow it, to cut long lines well
    i = 0
    while i < len(out):
        j = i
        while j < len(out) and out[j].startswith("-") and not out[j].startswith("---"):
            j += 1
        k = j
        while k < len(out) and out[k].startswith("+") and not out[k].startswith("+++"):
            k += 1
        if j > i and k - j == j - i:
            for n in range(j - i):
                x, y = clip_pair(out[i + n][1:], out[j + n][1:])
                out[i + n], out[j + n] = "-" + x, "+" + y
            i = k
        else:
            out[i] = clip(out[i])
            i += 1
    if len(out) > DIFF_LINES:
        out = out[:DIFF_LINES] + [f"... ({len(out) - DIFF_LINES} more diff lines)"]
    return "\n".join(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--binary", required=True, help="the tdsdecode to test")
    ap.add_argument("--cases", default=str(HERE / "cases"), help="the case list (default: %(default)s)")
    ap.add_argument("-k", metavar="PATTERN", help="run only the cases whose id (expected file) contains PATTERN")
    ap.add_argument("--update", action="store_true", help="rewrite the expected files with the actual output")
    ap.add_argument("-j", "--jobs", type=int, default=2, help="cases run in parallel (default: %(default)s)")
    ap.add_argument("-v", "--verbose", action="store_true", help="name every case as it passes")
    opts = ap.parse_args()

    binary = os.path.abspath(opts.binary)
    if not os.access(binary, os.X_OK):
        ap.error(f"{opts.binary}: not an executable")
    cases = read_cases(opts.cases)
    if opts.k:
        cases = [c for c in cases if opts.k in c.id]
        if not cases:
            ap.error(f"no case matches {opts.k!r}")

    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, opts.jobs)) as pool:
        results = list(pool.map(lambda c: observe(binary, c), cases))

    passed = failed = updated = 0
    for case, (actual, error) in zip(cases, results):
        if error:
            print(f"FAIL {case.id}: {error}")
            failed += 1
            continue
        expected = case.expected.read_bytes() if case.expected.exists() else None
        if opts.update:
            if expected != actual:
                case.expected.write_bytes(actual)
                print(f"updated {case.id}")
                updated += 1
            passed += 1
        elif expected is None:
            print(f"FAIL {case.id}: no expected file (write it with --update, then review it)")
            failed += 1
        elif expected != actual:
            print(f"FAIL {case.id}  (tdsdecode {' '.join(map(shlex.quote, case.args + [case.input]))})")
            print(show_diff(case, expected, actual))
            failed += 1
        else:
            if opts.verbose:
                print(f"ok   {case.id}")
            passed += 1
    if opts.update:
        print(f"{updated} expected file(s) rewritten; review them with git diff")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
