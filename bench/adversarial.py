#!/usr/bin/env python3
"""Writes the captures that stress tdsdecode's memory, as classic pcap files.

    bench/adversarial.py unfinished [--size 21M] OUT.pcap
        one connection whose client message never completes: packets of 2-byte LOGOUT tokens,
        none with the last-buffer bit
    bench/adversarial.py open [--count 100000] OUT.pcap
        connections that open (handshake, a login packet, an answer) and never close
    bench/adversarial.py mixed [--idle 32000] [--big 20] [--big-size 14M] OUT.pcap
        idle open connections, then large unfinished client messages on other connections,
        their packets interleaved

Sizes take K and M (10^3, 10^6 bytes).
"""
import argparse
import struct

SERVER = bytes([10, 0, 0, 1])
LOGIN = bytes([2, 1, 0, 100, 0, 0, 0, 0]) + b"h" * 92
ANSWER = bytes([4, 1, 0, 30, 0, 0, 0, 0]) + b"\xfd" + b"\x00" * 21
PACKET = 4096  # bytes of each packet of an unfinished message, header included


def size(text):
    scale = {"K": 10**3, "M": 10**6}.get(text[-1:].upper(), 1)
    return int(float(text.rstrip("KkMm")) * scale)


class Writer:
    def __init__(self, path):
        self.out = open(path, "wb")
        self.out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 262144, 1))
        self.t = 0

    def frame(self, src, dst, sport, dport, seq, ack, flags, payload=b""):
        tcp = struct.pack(">HHIIBBHHH", sport, dport, seq & 0xFFFFFFFF, ack & 0xFFFFFFFF, 5 << 4,
                          flags, 65535, 0, 0)
        ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, (40 + len(payload)) & 0xFFFF, 0, 0x4000, 64,
                         6, 0, src, dst)
        eth = b"\x02\x00\x00\x00\x00\x02\x02\x00\x00\x00\x00\x01\x08\x00"
        data = eth + ip + tcp + payload
        self.t += 1
        self.out.write(struct.pack("<IIII", self.t // 1000000, self.t % 1000000, len(data),
                                   len(data)))
        self.out.write(data)


class Connection:
    """A client connection to SERVER:5000, numbered n: handshake, login and answer."""

    def __init__(self, w, n):
        self.w = w
        self.client = bytes([10, 1 + (n >> 16) % 200, (n >> 8) & 255, n & 255])
        self.port = 1024 + n % 60000
        self.c, self.s = 1000, 5000
        w.frame(self.client, SERVER, self.port, 5000, self.c, 0, 0x02)
        w.frame(SERVER, self.client, 5000, self.port, self.s, self.c + 1, 0x12)
        self.c, self.s = self.c + 1, self.s + 1
        self.send(LOGIN)
        self.answer(ANSWER)

    def send(self, payload):
        self.w.frame(self.client, SERVER, self.port, 5000, self.c, self.s, 0x18, payload)
        self.c += len(payload)

    def answer(self, payload):
        self.w.frame(SERVER, self.client, 5000, self.port, self.s, self.c, 0x18, payload)
        self.s += len(payload)


def unfinished_packet():
    body = b"\x71\x00" * ((PACKET - 8) // 2)
    return bytes([15, 0]) + struct.pack(">H", 8 + len(body)) + b"\x00" * 4 + body


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("case", choices=["unfinished", "open", "mixed"])
    ap.add_argument("--size", default="21M")
    ap.add_argument("--count", type=int, default=100000)
    ap.add_argument("--idle", type=int, default=32000)
    ap.add_argument("--big", type=int, default=20)
    ap.add_argument("--big-size", default="14M")
    ap.add_argument("out")
    args = ap.parse_args()

    w = Writer(args.out)
    packet = unfinished_packet()
    if args.case == "unfinished":
        c = Connection(w, 0)
        for _ in range(size(args.size) // len(packet)):
            c.send(packet)
    elif args.case == "open":
        for n in range(args.count):
            Connection(w, n)
    else:
        for n in range(args.idle):
            Connection(w, n)
        big = [Connection(w, args.idle + n) for n in range(args.big)]
        for _ in range(size(args.big_size) // len(packet)):
            for c in big:
                c.send(packet)
    w.out.close()


if __name__ == "__main__":
    main()
