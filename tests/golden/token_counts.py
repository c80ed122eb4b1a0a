#!/usr/bin/env python3
"""Real captures through the message view: every token of every message walked.

Runs "tdsdecode --view message -o json CAPTURE" on each capture of token-counts.txt and checks:
  (a) the tokens per direction and kind (a token's "name") equal the table; records that are
      not tokens ("token": null, such as the login record or bulk-copy rows) are not counted;
  (b) no message has a "rest" (bytes left unwalked);
  (c) no token has "refused" (a field the frame could not hold);
  (d) no field labelled "Pad" inside a token (bytes skipped where they mean something);
  (e) the tokens tile their message: each starts where the previous one ended (the first at 0)
      and the last ends at the message's "bytes".
"""
import argparse
import collections
import concurrent.futures
import json
import os
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
CAPTURES = HERE.parent / "data" / "captures"
SHOWN = 8          # problems listed per check and capture


def read_counts(path):
    table = collections.OrderedDict()
    with open(path, encoding="utf-8") as fh:
        for lineno, line in enumerate(fh, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            capture, direction, rest = line.split(None, 2)
            if direction not in ("c2s", "s2c"):
                sys.exit(f"{path}:{lineno}: direction {direction!r} is neither c2s nor s2c")
            kinds = table.setdefault(capture, {"c2s": collections.Counter(), "s2c": collections.Counter()})
            for item in rest.split(","):
                kind, count = item.split()
                kinds[direction][kind] += int(count)
    return table


def pads(fields):
    """Fields labelled Pad, at any depth."""
    for f in fields or []:
        if isinstance(f, dict):
            if str(f.get("label", "")).strip() == "Pad":
                yield f
            for key in ("fields", "children"):
                if isinstance(f.get(key), list):
                    yield from pads(f[key])


def check(binary, capture, expected):
    proc = subprocess.run([binary, "--view", "message", "-o", "json", capture], cwd=CAPTURES,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    problems = collections.OrderedDict((k, []) for k in ("run", "counts", "rest", "refused", "pad", "tiling"))
    if proc.returncode != 0:
        problems["run"].append(f"exit status {proc.returncode}: "
                               + proc.stderr.decode("utf-8", "replace").strip().replace("\n", " / "))
    counts = {"c2s": collections.Counter(), "s2c": collections.Counter()}
    for lineno, line in enumerate(proc.stdout.decode("utf-8", "replace").splitlines(), 1):
        try:
            m = json.loads(line)
        except ValueError as err:
            problems["run"].append(f"output line {lineno} is not JSON: {err}")
            continue
        if not isinstance(m, dict) or "tokens" not in m:
            continue
        where = f"message {m.get('message')} (frame {m.get('frame')}, conn {m.get('conn')}, {m.get('dir')})"
        if "rest" in m:
            problems["rest"].append(f"{where}: rest {json.dumps(m['rest'])[:120]}")
        pos = 0
        for t in m["tokens"]:
            name = t.get("name")
            at = f"{where}, {name} at offset {t.get('offset')}"
            if "refused" in t:
                problems["refused"].append(f"{at}: refused {json.dumps(t['refused'])}")
            for f in pads(t.get("fields")):
                problems["pad"].append(f"{at}: Pad of {f.get('size')} byte(s) at {f.get('offset')}")
            if t.get("offset") != pos:
                problems["tiling"].append(f"{at}: expected at offset {pos}")
            pos = (t.get("offset") or 0) + (t.get("size") or 0)
            if t.get("token") is not None and m.get("dir") in counts:
                counts[m["dir"]][name] += 1
        if pos != m.get("bytes"):
            problems["tiling"].append(f"{where}: the tokens end at {pos}, the message at {m.get('bytes')}")
    for d in ("c2s", "s2c"):
        for kind in sorted(set(expected[d]) | set(counts[d])):
            if expected[d][kind] != counts[d][kind]:
                problems["counts"].append(f"{d} {kind}: {counts[d][kind]}, expected {expected[d][kind]}")
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--binary", required=True, help="the tdsdecode to test")
    ap.add_argument("--counts", default=str(CAPTURES / "token-counts.txt"), help="the table (default: %(default)s)")
    ap.add_argument("-k", metavar="PATTERN", help="check only the captures whose name contains PATTERN")
    ap.add_argument("-j", "--jobs", type=int, default=2, help="captures run in parallel (default: %(default)s)")
    opts = ap.parse_args()
    binary = os.path.abspath(opts.binary)
    if not os.access(binary, os.X_OK):
        ap.error(f"{opts.binary}: not an executable")
    table = read_counts(opts.counts)
    captures = [c for c in table if not opts.k or opts.k in c]

    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, opts.jobs)) as pool:
        results = list(pool.map(lambda c: check(binary, c, table[c]), captures))

    passed = failed = 0
    for capture, problems in zip(captures, results):
        if not any(problems.values()):
            passed += 1
            print(f"ok   {capture}")
            continue
        failed += 1
        print(f"FAIL {capture}")
        for kind, items in problems.items():
            for item in items[:SHOWN]:
                print(f"    {kind}: {item}")
            if len(items) > SHOWN:
                print(f"    {kind}: ... and {len(items) - SHOWN} more")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
