#!/usr/bin/env python3
"""The message view decoded by several workers writes what one worker writes, byte for byte.

For every capture of tests/data/captures, and for captures made here that stress the merge
(messages shown in parts, larger than a worker's output window; many connections with parts
interleaved), runs "tdsdecode --view message --stats" in JSON and text with --threads 1, 2 and
3 (three workers on two cores place connections differently from two) and compares the outputs.
Also: several inputs in one run (records name their file, numbers restart), -c N, a capture
filter, and a capture cut short (the same error and exit status).
"""
import argparse
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
CAPTURES = HERE.parent / "data" / "captures"


def run(binary, args):
    done = subprocess.run([binary] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=600)
    return done.returncode, done.stdout, done.stderr


def first_difference(a, b):
    for n, (x, y) in enumerate(zip(a.splitlines(), b.splitlines()), 1):
        if x != y:
            return "line %d:\n  one:  %s\n  more: %s" % (n, x[:300], y[:300])
    return "lengths %d and %d" % (len(a), len(b))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    args = ap.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        made = []
        for name, extra in (("parts", ["unfinished", "--size", "3M"]),
                            ("interleaved", ["mixed", "--idle", "300", "--big", "5",
                                             "--big-size", "600K"])):
            path = Path(tmp) / (name + ".pcap")
            subprocess.run([sys.executable, str(ROOT / "bench" / "adversarial.py")] + extra +
                           [str(path)], check=True)
            made.append(path)

        # A capture cut in the middle of a record: the same records, message and exit status.
        whole = (CAPTURES / "tsql-multiconn.pcap").read_bytes()
        cut = Path(tmp) / "cut.pcap"
        cut.write_bytes(whole[:len(whole) // 2 + 7])
        made.append(cut)

        captures = sorted(CAPTURES.rglob("*.pcap"))
        runs = []
        for capture in captures + made:
            for fmt in ("json", "text"):
                runs.append((capture.name + " " + fmt, ["-o", fmt, "--stats", str(capture)]))
        runs.append(("several inputs", ["-o", "json", "--stats"] + [str(c) for c in captures]))
        runs.append(("-c 20000", ["-o", "text", "-c", "20000", "--stats", str(made[1])]))
        runs.append(("a filter", ["-o", "json", "-f", "tcp port 5000", str(made[1])]))

        failed = 0
        for label, argv in runs:
            base = run(args.binary, ["--threads", "1"] + argv)
            for threads in ("2", "3"):
                other = run(args.binary, ["--threads", threads] + argv)
                if other != base:
                    failed += 1
                    what = ("exit %d/%d" % (base[0], other[0]) if base[0] != other[0] else
                            first_difference(base[1], other[1]) if base[1] != other[1] else
                            "standard error differs")
                    print("FAIL %s, --threads %s: %s" % (label, threads, what))
        print("%d passed, %d failed" % (2 * len(runs) - failed, failed))
        return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
