// From a captured frame to its TCP segment: link layer (Ethernet with VLAN tags, Linux cooked
// v1/v2, BSD null/loopback, raw IP), IPv4 or IPv6, TCP.
#pragma once

#include <cstddef>
#include <cstdint>

// Link-layer types as capture files name them (the pcap LINKTYPE_ numbers and the DLT_
// numbers libpcap reports for them).
enum LinkType : int {
  kLinkNull = 0,
  kLinkEthernet = 1,
  kLinkRawA = 12,  // DLT_RAW on most systems
  kLinkRawB = 14,  // DLT_RAW on some BSDs
  kLinkRaw = 101,
  kLinkLoop = 108,
  kLinkLinuxSll = 113,
  kLinkIpv4 = 228,
  kLinkIpv6 = 229,
  kLinkLinuxSll2 = 276,
};

enum TcpFlags : uint8_t {
  kTcpFin = 0x01,
  kTcpSyn = 0x02,
  kTcpRst = 0x04,
  kTcpPsh = 0x08,
  kTcpAck = 0x10,
};

constexpr size_t kEthernetHeader = 14;

struct TcpSegment {
  // The frame's Ethernet header when it has one (MAC addresses and the IP ethertype).
  bool hasEthernet = false;
  uint8_t ethernet[kEthernetHeader] = {};
  // The captured frame begins with that header, directly followed by the IP header, so the
  // frame itself can be handed to the decoder.
  bool frameIsPlainEthernet = false;
  const uint8_t* frame = nullptr;

  uint8_t ipVersion = 0;  // 4 or 6
  uint8_t src[16] = {};   // IPv4 addresses use the first four bytes
  uint8_t dst[16] = {};
  uint16_t srcPort = 0;
  uint16_t dstPort = 0;
  uint32_t seq = 0;
  uint32_t ack = 0;
  uint8_t flags = 0;
  const uint8_t* payload = nullptr;  // captured payload bytes
  uint32_t payloadLength = 0;
  uint32_t wirePayloadLength = 0;  // what the segment carried; more than captured when cut
};

enum class LinkResult {
  kTcp,       // a TCP segment (with or without payload)
  kNotTcp,    // another protocol, an IP fragment, an unknown link type
  kTooShort,  // the captured bytes end inside a header
};

// captured: bytes in the record; wire: the frame's length on the wire.
LinkResult DecodeFrame(int linkType, const uint8_t* data, size_t captured, size_t wire,
                       TcpSegment& out);

// Whether the host can read frames of this link type.
bool LinkTypeSupported(int linkType);
