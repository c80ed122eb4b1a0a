#include "input/link_layer.h"

#include <cstring>

namespace {

// An IPv4 address in the first four bytes of a 16-byte field, the rest zero.
inline void PutIpv4Address(uint8_t* field, const uint8_t* address) {
  uint32_t a;
  std::memcpy(&a, address, 4);
  const uint64_t words[2] = {a, 0};
  std::memcpy(field, words, 16);
}

constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint16_t kEtherIpv6 = 0x86DD;
constexpr uint16_t kEtherVlan = 0x8100;
constexpr uint16_t kEtherQinQ = 0x88A8;
constexpr uint16_t kEtherQinQOld = 0x9100;
constexpr int kMaxVlanTags = 4;
constexpr uint8_t kProtoTcp = 6;

inline uint16_t Be16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t Be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// The steps below are inlined into DecodeFrame: every frame of every worker goes through them.

// TCP over [p, p + captured); wireLeft is the segment's length by the IP header.
[[gnu::always_inline]] inline LinkResult DecodeTcp(const uint8_t* p, size_t captured,
                                                   size_t wireLeft, TcpSegment& out) {
  if (captured < 20 || wireLeft < 20) return LinkResult::kTooShort;
  const size_t headerLength = size_t(p[12] >> 4) * 4;
  if (headerLength < 20) return LinkResult::kNotTcp;
  if (captured < headerLength || wireLeft < headerLength) return LinkResult::kTooShort;
  out.srcPort = Be16(p);
  out.dstPort = Be16(p + 2);
  out.seq = Be32(p + 4);
  out.ack = Be32(p + 8);
  out.flags = p[13];
  out.payload = p + headerLength;
  const size_t wirePayload = wireLeft - headerLength;
  const size_t capturedPayload = captured - headerLength;
  out.wirePayloadLength = static_cast<uint32_t>(wirePayload);
  out.payloadLength =
      static_cast<uint32_t>(capturedPayload < wirePayload ? capturedPayload : wirePayload);
  return LinkResult::kTcp;
}

// IP header at p; `captured` bytes were captured from p on, `wire` bytes were on the wire.
[[gnu::always_inline]] inline LinkResult DecodeIp(const uint8_t* p, size_t captured, size_t wire,
                                                  TcpSegment& out) {
  if (captured < 1) return LinkResult::kTooShort;
  const int version = p[0] >> 4;
  if (version == 4) {
    if (captured < 20) return LinkResult::kTooShort;
    const size_t headerLength = size_t(p[0] & 15) * 4;
    const size_t total = Be16(p + 2);
    if (headerLength < 20 || total < headerLength) return LinkResult::kNotTcp;
    if (captured < headerLength) return LinkResult::kTooShort;
    const uint16_t fragment = Be16(p + 6);
    if ((fragment & 0x3FFF) != 0) return LinkResult::kNotTcp;  // a fragment: not reassembled
    if (p[9] != kProtoTcp) return LinkResult::kNotTcp;
    out.ipVersion = 4;
    // Written as whole words, as the connection table reads them (a word read over a smaller
    // store just made waits for that store to retire).
    PutIpv4Address(out.src, p + 12);
    PutIpv4Address(out.dst, p + 16);
    // The IP length bounds the segment (Ethernet pads short frames); some capture stacks write
    // 0 for offloaded segments, in which case the frame's own length is used.
    size_t wireLeft =
        total ? total - headerLength : (wire > headerLength ? wire - headerLength : 0);
    size_t cap = captured - headerLength;
    if (cap > wireLeft) cap = wireLeft;
    return DecodeTcp(p + headerLength, cap, wireLeft, out);
  }
  if (version == 6) {
    if (captured < 40) return LinkResult::kTooShort;
    const size_t payloadLength = Be16(p + 4);
    uint8_t next = p[6];
    size_t at = 40;
    size_t wireLeft = payloadLength ? payloadLength : (wire > 40 ? wire - 40 : 0);
    // Extension headers before TCP.
    for (int hops = 0; hops < 8 && next != kProtoTcp; ++hops) {
      if (next == 0 || next == 43 || next == 60) {
        if (captured < at + 8) return LinkResult::kTooShort;
        const size_t len = (size_t(p[at + 1]) + 1) * 8;
        if (wireLeft < len) return LinkResult::kNotTcp;
        next = p[at];
        at += len;
        wireLeft -= len;
      } else {
        return LinkResult::kNotTcp;  // fragments and other protocols
      }
    }
    if (next != kProtoTcp) return LinkResult::kNotTcp;
    if (captured < at) return LinkResult::kTooShort;
    out.ipVersion = 6;
    std::memcpy(out.src, p + 8, 16);
    std::memcpy(out.dst, p + 24, 16);
    size_t cap = captured - at;
    if (cap > wireLeft) cap = wireLeft;
    return DecodeTcp(p + at, cap, wireLeft, out);
  }
  return LinkResult::kNotTcp;
}

[[gnu::always_inline]] inline LinkResult ByEtherType(uint16_t type, const uint8_t* p,
                                                     size_t captured, size_t wire,
                                                     TcpSegment& out) {
  if (type != kEtherIpv4 && type != kEtherIpv6) return LinkResult::kNotTcp;
  return DecodeIp(p, captured, wire, out);
}

}  // namespace

bool LinkTypeSupported(int linkType) {
  switch (linkType) {
    case kLinkNull:
    case kLinkEthernet:
    case kLinkRawA:
    case kLinkRawB:
    case kLinkRaw:
    case kLinkLoop:
    case kLinkLinuxSll:
    case kLinkIpv4:
    case kLinkIpv6:
    case kLinkLinuxSll2:
      return true;
    default:
      return false;
  }
}

LinkResult DecodeFrame(int linkType, const uint8_t* data, size_t captured, size_t wire,
                       TcpSegment& out) {
  // Only a TCP segment is read on: what it needs is set on the way there.
  out.hasEthernet = false;
  out.frameIsPlainEthernet = false;
  out.frame = data;
  if (wire < captured) wire = captured;
  switch (linkType) {
    case kLinkEthernet: {
      if (captured < kEthernetHeader) return LinkResult::kTooShort;
      size_t at = 12;
      uint16_t type = Be16(data + at);
      int tags = 0;
      while (type != kEtherIpv4 &&
             (type == kEtherVlan || type == kEtherQinQ || type == kEtherQinQOld) &&
             tags < kMaxVlanTags) {
        at += 4;
        if (captured < at + 2) return LinkResult::kTooShort;
        type = Be16(data + at);
        ++tags;
      }
      at += 2;
      out.hasEthernet = true;
      out.frameIsPlainEthernet = tags == 0;
      std::memcpy(out.ethernet, data, 12);
      out.ethernet[12] = static_cast<uint8_t>(type >> 8);
      out.ethernet[13] = static_cast<uint8_t>(type);
      return ByEtherType(type, data + at, captured - at, wire - at, out);
    }
    case kLinkLinuxSll: {
      if (captured < 16) return LinkResult::kTooShort;
      return ByEtherType(Be16(data + 14), data + 16, captured - 16, wire - 16, out);
    }
    case kLinkLinuxSll2: {
      if (captured < 20) return LinkResult::kTooShort;
      return ByEtherType(Be16(data), data + 20, captured - 20, wire - 20, out);
    }
    case kLinkNull:
    case kLinkLoop: {
      // A 4-byte address family, in the capturing host's byte order for null, network order
      // for loop; the IP header itself says which version it is.
      if (captured < 4) return LinkResult::kTooShort;
      return DecodeIp(data + 4, captured - 4, wire - 4, out);
    }
    case kLinkRawA:
    case kLinkRawB:
    case kLinkRaw:
    case kLinkIpv4:
    case kLinkIpv6:
      return DecodeIp(data, captured, wire, out);
    default:
      return LinkResult::kNotTcp;
  }
}
