#!/usr/bin/env python3
"""Damaged traffic decoded by two workers writes what one worker writes, byte for byte.

The real captures of tests/data/captures (its folders too) are damaged the ways real traffic
is (bytes changed inside TCP payloads, now and then inside the link, IP or TCP headers; a frame
sent twice or lost; the file cut short), with a fixed seed, and each damaged capture goes
through the message view or the request log, in JSON or text, with --stats, on one worker and
on two. Output, errors and exit status must be the same. A capture that differs is kept under
--keep for a test of its own.
"""
import argparse
import random
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

CAPTURES = Path(__file__).resolve().parent.parent / "data" / "captures"
VIEWS = [
    ["--view", "message", "-o", "json"],
    ["--view", "message"],
    ["--requests", "-o", "json"],
    ["--requests"],
    ["--requests", "--rows", "3"],
]
# Values a changed byte takes now and then: lengths at their edges and token codes that start
# formats, rows, dynamic statements and completions.
EDGES = [0x00, 0xFF, 0x7F, 0x80, 0xD1, 0xEE, 0x61, 0x20, 0xE7, 0xFD]
ETHERNET_IP_TCP = 54  # headers before the TCP payload of a plain IPv4 frame


def records(data):
    """(offset, length) of each record's bytes in a classic little-endian pcap file."""
    out, at = [], 24
    while at + 16 <= len(data):
        caplen = struct.unpack_from("<I", data, at + 8)[0]
        if at + 16 + caplen > len(data):
            break
        out.append((at + 16, caplen))
        at += 16 + caplen
    return out


def damage(data, rng):
    data = bytearray(data)
    recs = records(data)
    frames = [(a, n) for a, n in recs if n > ETHERNET_IP_TCP + 6]
    for _ in range(rng.randint(1, 40)):
        at, length = rng.choice(frames)
        first = 14 if rng.random() < 0.2 else ETHERNET_IP_TCP
        p = at + rng.randint(first, length - 1)
        r = rng.random()
        if r < 0.6:
            data[p] = rng.randrange(256)
        elif r < 0.8:
            data[p] = rng.choice(EDGES)
        else:
            for k in range(min(4, at + length - p)):
                data[p + k] = rng.randrange(256)
    shape = rng.random()
    if shape < 0.3 and len(recs) > 3:
        whole = [bytes(data[a - 16:a + n]) for a, n in recs]
        j = rng.randrange(len(whole))
        if rng.random() < 0.5:
            whole.insert(j, whole[j])  # sent twice
        else:
            del whole[j]  # lost
        data = bytearray(bytes(data[:24]) + b"".join(whole))
    elif shape > 0.9:
        data = data[:rng.randint(24, len(data))]
    return bytes(data)


def run(binary, args):
    done = subprocess.run([binary] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=120)
    return done.returncode, done.stdout, done.stderr


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--cases", type=int, default=400)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--keep", default=None, help="directory for captures that differ")
    a = ap.parse_args()
    rng = random.Random(a.seed)
    sources = sorted(CAPTURES.rglob("*.pcap"))
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "damaged.pcap"
        for case in range(a.cases):
            source = rng.choice(sources)
            path.write_bytes(damage(source.read_bytes(), rng))
            view = rng.choice(VIEWS) + ["--stats"]
            one = run(a.binary, view + ["--threads", "1", str(path)])
            two = run(a.binary, view + ["--threads", "2", str(path)])
            if one == two and one[0] >= 0:
                continue
            failed += 1
            print(f"case {case}: {source.name} {' '.join(view)}: exit {one[0]} and {two[0]}, "
                  f"output {'differs' if one[1] != two[1] else 'same'}, "
                  f"errors {'differ' if one[2] != two[2] else 'same'}")
            if a.keep:
                Path(a.keep).mkdir(parents=True, exist_ok=True)
                (Path(a.keep) / f"damaged-{a.seed}-{case}.pcap").write_bytes(path.read_bytes())
    print(f"{a.cases} damaged captures, {failed} decoded differently by two workers")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
