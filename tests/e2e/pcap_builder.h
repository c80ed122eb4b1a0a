// Small captures made by the tests: classic pcap files with TCP segments over Ethernet (with
// an optional VLAN tag), Linux cooked v1/v2, BSD null or raw IP, IPv4 or IPv6.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "tdsdecode_runner.h"

namespace pcapbuild {

using ::Bytes;
using ::Cat;
using ::Hex;
using ::Slice;

enum Flags : uint8_t { FIN = 0x01, SYN = 0x02, RST = 0x04, PSH = 0x08, ACK = 0x10 };

inline void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
inline void Put32(Bytes& b, uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v & 0xFFFF);
}
inline void PutLe32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A TDS packet: 8-byte header (last-buffer status) and data bytes `fill`.
inline Bytes TdsPacket(uint8_t type, size_t dataBytes, uint8_t fill = 0x5A, uint8_t status = 1) {
  Bytes p = {type, status};
  Put16(p, static_cast<uint32_t>(8 + dataBytes));
  p.insert(p.end(), {0, 0, 0, 0});
  p.insert(p.end(), dataBytes, fill);
  return p;
}

class Pcap {
 public:
  explicit Pcap(uint32_t linkType = 1, uint32_t snaplen = 262144) {
    PutLe32(m_data, 0xa1b2c3d4);
    m_data.insert(m_data.end(), {2, 0, 4, 0});  // version 2.4
    PutLe32(m_data, 0);
    PutLe32(m_data, 0);
    PutLe32(m_data, snaplen);
    PutLe32(m_data, linkType);
  }
  // A record one second after the last; `wire` is the length on the wire (the record's own
  // length when 0), `keep` how many bytes are captured (all when negative).
  void Record(const Bytes& frame, uint32_t wire = 0, long keep = -1) {
    RecordAt(++m_second, 0, frame, wire, keep);
  }
  // The same at the given time.
  void RecordAt(uint32_t seconds, uint32_t micros, const Bytes& frame, uint32_t wire = 0,
                long keep = -1) {
    const size_t n = keep < 0 ? frame.size() : static_cast<size_t>(keep);
    PutLe32(m_data, seconds);
    PutLe32(m_data, micros);
    PutLe32(m_data, static_cast<uint32_t>(n));
    PutLe32(m_data, wire ? wire : static_cast<uint32_t>(frame.size()));
    m_data.insert(m_data.end(), frame.begin(), frame.begin() + static_cast<long>(n));
  }
  const Bytes& bytes() const { return m_data; }
  std::string text() const { return std::string(m_data.begin(), m_data.end()); }
  // The file under /tmp (see WriteTemp) and its path.
  std::string Write(const std::string& name) const { return WriteTemp(name, text()); }

 private:
  Bytes m_data;
  uint32_t m_second = 1000;
};

// One TCP connection; Segment() builds whole link-layer frames and keeps sequence numbers.
struct Flow {
  uint32_t linkType = 1;
  bool ipv6 = false;
  bool vlan = false;
  uint8_t clientIp[4] = {10, 1, 1, 1};
  uint8_t serverIp[4] = {10, 2, 2, 2};
  uint16_t clientPort = 33000;
  uint16_t serverPort = 5000;
  uint32_t seq[2] = {1000, 50000};  // next sequence number: client, server

  // The segment; `seqOverride` places it elsewhere without moving the flow's numbers.
  Bytes Segment(bool c2s, uint8_t flags, const Bytes& payload = {}, long seqOverride = -1) {
    const int d = c2s ? 0 : 1;
    const uint32_t s = seqOverride >= 0 ? static_cast<uint32_t>(seqOverride) : seq[d];
    if (seqOverride < 0)
      seq[d] += static_cast<uint32_t>(payload.size()) + ((flags & (SYN | FIN)) ? 1 : 0);
    Bytes tcp;
    Put16(tcp, c2s ? clientPort : serverPort);
    Put16(tcp, c2s ? serverPort : clientPort);
    Put32(tcp, s);
    Put32(tcp, (flags & ACK) ? seq[1 - d] : 0);
    tcp.push_back(5 << 4);
    tcp.push_back(flags);
    Put16(tcp, 65535);
    Put16(tcp, 0);
    Put16(tcp, 0);
    tcp.insert(tcp.end(), payload.begin(), payload.end());
    Bytes ip;
    if (ipv6) {
      ip = {0x60, 0, 0, 0};
      Put16(ip, static_cast<uint32_t>(tcp.size()));
      ip.push_back(6);
      ip.push_back(64);
      for (int side = 0; side < 2; ++side) {
        const uint8_t* a = (side == 0) == c2s ? clientIp : serverIp;
        Bytes addr = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, a[0], a[1], a[2], a[3]};
        ip.insert(ip.end(), addr.begin(), addr.end());
      }
    } else {
      ip = {0x45, 0};
      Put16(ip, static_cast<uint32_t>(20 + tcp.size()));
      Put16(ip, 0);
      Put16(ip, 0x4000);
      ip.push_back(64);
      ip.push_back(6);
      Put16(ip, 0);
      const uint8_t* src = c2s ? clientIp : serverIp;
      const uint8_t* dst = c2s ? serverIp : clientIp;
      ip.insert(ip.end(), src, src + 4);
      ip.insert(ip.end(), dst, dst + 4);
    }
    ip.insert(ip.end(), tcp.begin(), tcp.end());
    const uint16_t etherType = ipv6 ? 0x86DD : 0x0800;
    Bytes link;
    switch (linkType) {
      case 1: {  // Ethernet
        const Bytes client = {2, 0xaa, 0, 0, 0, 1}, server = {2, 0xbb, 0, 0, 0, 2};
        link = c2s ? Cat({server, client}) : Cat({client, server});
        if (vlan) {
          Put16(link, 0x8100);
          Put16(link, 42);
        }
        Put16(link, etherType);
        break;
      }
      case 113:  // Linux cooked v1
        Put16(link, c2s ? 4 : 0);
        Put16(link, 1);
        Put16(link, 6);
        link.insert(link.end(), {2, 0xcc, 0, 0, 0, static_cast<uint8_t>(c2s ? 1 : 2), 0, 0});
        Put16(link, etherType);
        break;
      case 276:  // Linux cooked v2
        Put16(link, etherType);
        Put16(link, 0);
        Put32(link, 1);
        Put16(link, 1);
        link.push_back(c2s ? 4 : 0);
        link.push_back(6);
        link.insert(link.end(), {2, 0xcc, 0, 0, 0, static_cast<uint8_t>(c2s ? 1 : 2), 0, 0});
        break;
      case 0:  // BSD null: address family in host order
        PutLe32(link, ipv6 ? 30 : 2);
        break;
      default:  // raw IP
        break;
    }
    return Cat({link, ip});
  }
};

}  // namespace pcapbuild
