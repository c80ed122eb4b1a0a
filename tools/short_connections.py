#!/usr/bin/env python3
"""Writes a classic pcap of many short TDS connections, for checking the host's memory use.

Each connection: handshake, a login packet, a response, FIN both ways (or, with --no-close,
no FIN at all, so the connection table's ceiling has to end them). Usage:

    tools/short_connections.py [--count N] [--no-close] OUT.pcap
"""
import argparse
import struct


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--count", type=int, default=100000)
    ap.add_argument("--no-close", action="store_true")
    ap.add_argument("out")
    args = ap.parse_args()

    out = open(args.out, "wb")
    out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
    t = [0]

    def frame(src, dst, sport, dport, seq, ack, flags, payload=b""):
        tcp = struct.pack(">HHIIBBHHH", sport, dport, seq, ack, 5 << 4, flags, 65535, 0, 0)
        ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 40 + len(payload), 0, 0x4000, 64, 6, 0,
                         src, dst)
        eth = b"\x02\x00\x00\x00\x00\x02\x02\x00\x00\x00\x00\x01\x08\x00"
        data = eth + ip + tcp + payload
        t[0] += 1
        out.write(struct.pack("<IIII", t[0] // 1000000, t[0] % 1000000, len(data), len(data)))
        out.write(data)

    login = bytes([2, 1, 0, 100, 0, 0, 0, 0]) + b"h" * 92
    answer = bytes([4, 1, 0, 30, 0, 0, 0, 0]) + b"\xfd" + b"\x00" * 21
    server = bytes([10, 0, 0, 1])
    for n in range(args.count):
        client = bytes([10, 1 + (n >> 16) % 200, (n >> 8) & 255, n & 255])
        port = 1024 + n % 60000
        c, s = 1000, 5000
        frame(client, server, port, 5000, c, 0, 0x02)
        frame(server, client, 5000, port, s, c + 1, 0x12)
        c, s = c + 1, s + 1
        frame(client, server, port, 5000, c, s, 0x18, login)
        c += len(login)
        frame(server, client, 5000, port, s, c, 0x18, answer)
        s += len(answer)
        if not args.no_close:
            frame(client, server, port, 5000, c, s, 0x11)
            frame(server, client, 5000, port, s, c + 1, 0x11)
            frame(client, server, port, 5000, c + 1, s + 1, 0x10)
    out.close()


if __name__ == "__main__":
    main()
