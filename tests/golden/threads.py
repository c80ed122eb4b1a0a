#!/usr/bin/env python3
"""The message view and the request log decoded by several workers write what one worker
writes, byte for byte.

For every capture of tests/data/captures, and for captures made here that stress the merge
(messages shown in parts, larger than a worker's output window; many connections, more than
a worker tracks before it halves its channel, with parts interleaved), runs "tdsdecode --view message --stats" and "tdsdecode --requests --stats" in JSON
and text with --threads 1, 2 and 3 (three workers on two cores place connections differently
from two) and compares the outputs. Also: several inputs in one run (records name their file,
numbers restart; the request log's numbers, date lines and summary go on), -c N, a capture
filter, the request log's filters and --rows, and a capture cut short (the same error and exit
status). Captures made for the request log: requests written out of the order their workers
wrote them (one request waits for its answer to the end while the others are answered; a
request in several segments among other connections' requests; a login read after requests of
its connection), and more requests waiting than the log holds back (some written early).
"""
import argparse
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
CAPTURES = HERE.parent / "data" / "captures"
sys.path.insert(0, str(ROOT / "bench"))
import adversarial  # noqa: E402


def language(text):
    data = text.encode()
    return bytes([1, 1]) + (8 + len(data)).to_bytes(2, "big") + bytes(4) + data


# A completion token without the "more" bit, in a packet of its own.
DONE = bytes([4, 1, 0, 17, 0, 0, 0, 0, 0xFD, 0, 0, 0, 0, 0, 0, 0, 0])


def request_capture(path, waiting):
    """Requests the workers write in another order than the log: connection 0 asks and is
    answered only at the end; the others ask and are answered in turn, one sends a request in
    three segments among the others, one that began before the capture sends a login after its
    requests. waiting: requests enough that the log writes some before their turn."""
    w = adversarial.Writer(str(path))
    first = adversarial.Connection(w, 0)
    first.send(language("select 'the last answer'"))
    # A connection that began before the capture: no handshake, no login yet.
    late = adversarial.Connection.__new__(adversarial.Connection)
    late.w, late.client, late.port, late.c, late.s = w, bytes([10, 9, 9, 9]), 9999, 7000, 8000
    others = [adversarial.Connection(w, n) for n in range(1, 9)]
    split = language("select 'in three segments' " + "x" * 300)
    per = 70000 // len(others) if waiting else 40
    for i in range(per):
        for n, c in enumerate(others):
            if not waiting and n == 2 and i % 5 == 0:
                # Three segments, the other connections' requests between them.
                c.send(split[:100])
                others[3].send(language("select %d" % i))
                c.send(split[100:200])
                others[3].answer(DONE)
                c.send(split[200:])
            else:
                c.send(language("select %d, %d" % (n, i)))
            c.answer(DONE)
        if not waiting and i % 10 == 3:
            late.send(language("select %d" % i))
            late.answer(DONE)
    if not waiting:
        late.send(adversarial.LOGIN)
        late.answer(adversarial.ANSWER)
        late.send(language("select 'after the login'"))
        late.answer(DONE)
    first.answer(DONE)
    w.out.close()


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
                            ("interleaved", ["mixed", "--idle", "5000", "--big", "5",
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
        for name, waiting in (("order", False), ("waiting", True)):
            path = Path(tmp) / (name + ".pcap")
            request_capture(path, waiting)
            made.append(path)

        captures = sorted(CAPTURES.rglob("*.pcap"))
        runs = []
        for capture in captures + made:
            for fmt in ("json", "text"):
                runs.append((capture.name + " " + fmt, ["-o", fmt, "--stats", str(capture)]))
        runs.append(("several inputs", ["-o", "json", "--stats"] + [str(c) for c in captures]))
        runs.append(("-c 20000", ["-o", "text", "-c", "20000", "--stats", str(made[1])]))
        runs.append(("a filter", ["-o", "json", "-f", "tcp port 5000", str(made[1])]))
        for capture in captures + made:
            for fmt in ("json", "text"):
                runs.append((capture.name + " --requests " + fmt,
                             ["--requests", "-o", fmt, "--stats", str(capture)]))
        every = [str(c) for c in captures + made]
        for fmt in ("json", "text"):
            runs.append(("--requests, several inputs " + fmt,
                         ["--requests", "-o", fmt, "--stats"] + every))
        runs.append(("--requests -c 20000", ["--requests", "-o", "text", "-c", "20000", "--stats",
                                             str(made[3]), str(made[4])]))
        runs.append(("--requests --slow", ["--requests", "-o", "json", "--slow", "0.002"] + every))
        runs.append(("--requests --since --until", ["--requests", "-o", "text", "--since", "0.1",
                                                    "--until", "0.2"] + every))
        runs.append(("--requests --rows", ["--requests", "-o", "json", "--rows", "3"] + every))

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
