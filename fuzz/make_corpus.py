#!/usr/bin/env python3
"""Builds the fuzz seed corpora from the test captures (tests/data/captures/*.pcap).

  plugin_fuzzer   conversations cut into records (see plugin_fuzzer.cpp): one TDS packet per
                  record for the packet entry, one whole message per record for the message
                  entry, and both mixed; two connections where the capture has them
  hex_fuzzer      the same conversations as hex text lines, and a few lines of each syntax
  capture_fuzzer  small captures as they are, as pcapng, with other link layers, cut short

Seeds are kept small (the first packets of the large captures). Run from anywhere:
  python3 fuzz/make_corpus.py
"""
import hashlib
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CAPTURES = os.path.join(HERE, "..", "tests", "data", "captures")
CORPUS = os.path.join(HERE, "corpus")

MAX_SEED = 6000  # bytes of records per plug-in seed
HEADER = 8


def read_pcap(path):
    """(link type, [(ts_sec, ts_usec, frame bytes)]) of a classic pcap file."""
    with open(path, "rb") as f:
        data = f.read()
    magic = struct.unpack("<I", data[:4])[0]
    endian = "<" if magic in (0xA1B2C3D4, 0xA1B23C4D) else ">"
    link = struct.unpack(endian + "I", data[20:24])[0]
    frames = []
    at = 24
    while at + 16 <= len(data):
        sec, usec, caplen, _ = struct.unpack(endian + "IIII", data[at:at + 16])
        frames.append((sec, usec, data[at + 16:at + 16 + caplen]))
        at += 16 + caplen
    return link, frames


def tcp_of(frame):
    """(src, dst, sport, dport, seq, flags, payload) of an Ethernet/IPv4/TCP frame, or None."""
    at = 12
    while frame[at:at + 2] == b"\x81\x00":  # VLAN tags
        at += 4
    if len(frame) < at + 2 + 20 or frame[at:at + 2] != b"\x08\x00":
        return None
    ip = frame[at + 2:]
    ihl = (ip[0] & 15) * 4
    if ip[9] != 6:
        return None
    total = struct.unpack(">H", ip[2:4])[0]
    tcp = ip[ihl:total]
    sport, dport, seq = struct.unpack(">HHI", tcp[:8])
    off = (tcp[12] >> 4) * 4
    return ip[12:16], ip[16:20], sport, dport, seq, tcp[13], tcp[off:]


def conversation(path):
    """[(connection index, client to server, packet bytes, ends message)] in capture order."""
    _, frames = read_pcap(path)
    conns = {}
    out = []
    for _, _, frame in frames:
        t = tcp_of(frame)
        if not t:
            continue
        src, dst, sport, dport, seq, flags, payload = t
        key = tuple(sorted([(src, sport), (dst, dport)]))
        if key not in conns:
            conns[key] = {"index": len(conns), "client": (src, sport), "next": {}, "buf": {}}
        c = conns[key]
        c2s = (src, sport) == c["client"]
        if flags & 0x02:
            c["next"][c2s] = seq + 1
            continue
        if not payload:
            continue
        nxt = c["next"].get(c2s, seq)
        if seq != nxt:  # a retransmission: taken once
            continue
        c["next"][c2s] = seq + len(payload)
        buf = c["buf"].get(c2s, b"") + payload
        while len(buf) >= HEADER:
            length = max(struct.unpack(">H", buf[2:4])[0], HEADER)
            if len(buf) < length:
                break
            out.append((c["index"], c2s, buf[:length], bool(buf[1] & 1)))
            buf = buf[length:]
        c["buf"][c2s] = buf
    return out


def records(packets, mode):
    """Plug-in fuzzer input. mode: 'packet', 'message' or 'mixed'."""
    out = bytearray()
    pending = {}
    n = 0
    for conn, c2s, pkt, eom in packets:
        control = (conn & 1) | (0 if c2s else 2)
        as_message = mode == "message" or (mode == "mixed" and n % 3 == 1)
        if not as_message:
            rec = bytes([control]) + struct.pack("<H", len(pkt)) + pkt
            n += 1
        else:
            key = (conn, c2s)
            pending[key] = pending.get(key, b"") + pkt
            if not eom:
                continue
            msg = pending.pop(key)
            if len(msg) > 0xFFFF:
                continue
            rec = bytes([control | 4]) + struct.pack("<H", len(msg)) + msg
            n += 1
        if len(rec) > MAX_SEED:
            continue
        if len(out) + len(rec) > MAX_SEED:
            break
        out += rec
    return bytes(out)


def hex_text(packets, limit=MAX_SEED):
    lines = ["# seed: packets of a real conversation"]
    size = 0
    for conn, c2s, pkt, _ in packets:
        prefix = ("%d" % (conn + 1) if conn else "") + ("c" if c2s else "s")
        lines.append(prefix + " " + pkt.hex())
        size += len(pkt)
        if size > limit:
            break
    return ("\n".join(lines) + "\n").encode()


HEX_SYNTAX = [
    b"c 0f01000800000000\n",
    b"# comment\n\n  s 04 01 00 0b 00 00 00 00 fd 00 00\n",
    b"2c 0f0100 0e00000000 21 0100 0000 73\n2s 0401000800000000\r\n",
    b"c\n",
    b"C 0F01000A00000000FD\ns 0400\n",
    b"25535c 0f01000800000000\n",
    b"c 0f01001000000000 0f01\nc 0008000000 00\n",
]


def pcap_bytes(link, frames, snap=65535):
    out = bytearray(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, snap, link))
    for sec, usec, frame in frames:
        cap = frame[:snap]
        out += struct.pack("<IIII", sec, usec, len(cap), len(frame)) + cap
    return bytes(out)


def pad4(b):
    return b + b"\0" * (-len(b) % 4)


def pcapng_bytes(link, frames):
    def block(kind, body):
        body = pad4(body)
        n = 12 + len(body)
        return struct.pack("<II", kind, n) + body + struct.pack("<I", n)

    shb = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1))
    idb = block(1, struct.pack("<HHI", link, 0, 65535))
    out = bytearray(shb + idb)
    for sec, usec, frame in frames:
        ts = sec * 1000000 + usec
        body = struct.pack("<IIIII", 0, ts >> 32, ts & 0xFFFFFFFF, len(frame), len(frame))
        out += block(6, body + frame)
    return bytes(out)


def relink(frames, link):
    """The Ethernet frames re-framed for another link type."""
    out = []
    for sec, usec, f in frames:
        ip = f[14:]
        if link == 113:  # Linux cooked v1
            head = struct.pack(">HHH", 0, 1, 6) + f[6:12] + b"\0\0" + f[12:14]
        elif link == 0:  # BSD null: address family in host order
            head = struct.pack("<I", 2)
        else:  # raw IP
            head = b""
        out.append((sec, usec, head + ip))
    return out


def write(target, name, data):
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def main():
    names = sorted(n for n in os.listdir(CAPTURES) if n.endswith(".pcap"))
    vendor = os.path.join(CAPTURES, "vendorclient")
    names += sorted("vendorclient/" + n for n in os.listdir(vendor) if n.endswith(".pcap"))
    for target in ("plugin_fuzzer", "hex_fuzzer", "capture_fuzzer"):
        d = os.path.join(CORPUS, target)
        if os.path.isdir(d):
            for old in os.listdir(d):
                if not old.startswith("regression-"):  # inputs of past findings stay
                    os.remove(os.path.join(d, old))
    for name in names:
        base = name[:-5].replace("/", "-")
        packets = conversation(os.path.join(CAPTURES, name))
        for mode in ("packet", "message", "mixed"):
            write("plugin_fuzzer", "%s-%s" % (base, mode), records(packets, mode))
        # The server's side alone: its format and data tokens, without the login in front.
        server = [p for p in packets if not p[1]]
        write("plugin_fuzzer", base + "-server", records(server, "mixed"))
        write("hex_fuzzer", base + ".hex", hex_text(packets))
    # The hex fixtures of the tests: every real-traffic layout, byte by byte.
    fixtures = os.path.join(HERE, "..", "tests", "data", "hex")
    for n in sorted(os.listdir(fixtures)):
        if n.endswith(".hex"):
            with open(os.path.join(fixtures, n), "rb") as f:
                write("hex_fuzzer", "fixture-" + n, f.read())
    for i, text in enumerate(HEX_SYNTAX):
        write("hex_fuzzer", "syntax-%d.hex" % i, text)

    small = [n for n in names if os.path.getsize(os.path.join(CAPTURES, n)) < 6000]
    for name in small:
        base = name[:-5].replace("/", "-")
        link, frames = read_pcap(os.path.join(CAPTURES, name))
        write("capture_fuzzer", base + ".pcap", pcap_bytes(link, frames))
        write("capture_fuzzer", base + ".pcapng", pcapng_bytes(link, frames))
    link, frames = read_pcap(os.path.join(CAPTURES, "tsql-loginfail.pcap"))
    for other in (113, 0, 101):
        write("capture_fuzzer", "tsql-loginfail-link%d.pcap" % other,
              pcap_bytes(other, relink(frames, other)))
    # Frames cut by the capture's snap length, and a capture cut mid-record.
    write("capture_fuzzer", "tsql-loginfail-snap96.pcap", pcap_bytes(link, frames, 96))
    whole = pcap_bytes(link, frames)
    write("capture_fuzzer", "tsql-loginfail-cut.pcap", whole[: len(whole) // 2])
    # Out of order: the server's frames of the first answer swapped.
    swapped = list(frames)
    if len(swapped) > 8:
        swapped[6], swapped[7] = swapped[7], swapped[6]
    write("capture_fuzzer", "tsql-loginfail-swapped.pcap", pcap_bytes(link, swapped))
    total = 0
    for target in ("plugin_fuzzer", "hex_fuzzer", "capture_fuzzer"):
        d = os.path.join(CORPUS, target)
        files = os.listdir(d)
        size = sum(os.path.getsize(os.path.join(d, f)) for f in files)
        total += size
        print("%s: %d seeds, %d bytes" % (target, len(files), size))
    print("total %d bytes" % total)


if __name__ == "__main__":
    sys.exit(main())
