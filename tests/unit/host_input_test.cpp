// Host input rules alone: option parsing, the hex text format and the frames built around it,
// link-layer and IP decoding down to the TCP payload, and the TDS header checks.
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "bytes.h"
#include "checks.h"
#include "input/hex_input.h"
#include "input/link_layer.h"
#include "options.h"
#include "streams/tds_header.h"

namespace {

ParseOutcome Parse(std::vector<const char*> args, Options& o) {
  args.insert(args.begin(), "tdsdecode");
  return ParseOptions(static_cast<int>(args.size()), args.data(), o);
}

Bytes Ipv4Tcp(uint16_t payload, uint8_t ihlWords = 5, uint16_t fragment = 0x4000) {
  Bytes ip(ihlWords * 4u, 0);
  ip[0] = static_cast<uint8_t>(0x40 | ihlWords);
  const uint16_t total = static_cast<uint16_t>(ip.size() + 20 + payload);
  ip[2] = static_cast<uint8_t>(total >> 8);
  ip[3] = static_cast<uint8_t>(total);
  ip[6] = static_cast<uint8_t>(fragment >> 8);
  ip[7] = static_cast<uint8_t>(fragment);
  ip[9] = 6;
  ip[12] = 10, ip[15] = 1, ip[16] = 10, ip[19] = 2;
  Bytes tcp(20, 0);
  tcp[0] = 0x9c, tcp[1] = 0x40;  // 40000
  tcp[2] = 0x13, tcp[3] = 0x88;  // 5000
  tcp[7] = 9;                    // seq 9
  tcp[12] = 5 << 4;
  tcp[13] = kTcpAck;
  ip.insert(ip.end(), tcp.begin(), tcp.end());
  for (uint16_t i = 0; i < payload; ++i) ip.push_back(static_cast<uint8_t>('a' + i));
  return ip;
}

// The TCP segment of an IPv4 packet with a 20-byte header.
Bytes Slice20(const Bytes& ip) {
  return Bytes(ip.begin() + 20, ip.end());
}

}  // namespace

TEST(Options, ValuesInEveryFormAndTheDefaults) {
  Options o;
  ASSERT_TRUE(Parse({"a.pcap", "-"}, o).ok);
  EXPECT_EQ(o.captures, (std::vector<std::string>{"a.pcap", "-"}));
  EXPECT_EQ(o.ports, std::vector<uint16_t>{5000});
  EXPECT_TRUE(o.reassemble);
  EXPECT_EQ(o.format, OutputFormat::kText);

  Options p;
  ASSERT_TRUE(Parse({"-ojson", "-p", "4100", "--port=4200,4300", "-p4100", "--no-reassemble",
                     "--plugin", "x.so", "--stats", "--", "-odd.pcap"},
                    p)
                  .ok);
  EXPECT_EQ(p.format, OutputFormat::kJson);
  EXPECT_EQ(p.ports, (std::vector<uint16_t>{4100, 4200, 4300}));
  EXPECT_FALSE(p.reassemble);
  EXPECT_EQ(p.pluginPath, "x.so");
  EXPECT_TRUE(p.stats);
  EXPECT_EQ(p.captures, std::vector<std::string>{"-odd.pcap"});
  EXPECT_TRUE(IsTdsPort(p, 4300));
  EXPECT_FALSE(IsTdsPort(p, 5000)) << "a port list replaces the default";

  Options h;
  ASSERT_TRUE(Parse({"--hex", "-", "--output", "json"}, h).ok);
  EXPECT_TRUE(h.hexInput);
  EXPECT_EQ(h.hexFile, "-");
  Options help;
  EXPECT_FALSE(Parse({"--help", "--bogus-after-help-is-still-an-error"}, help).ok);
  Options v;
  EXPECT_TRUE(Parse({"--version"}, v).ok);
  EXPECT_TRUE(v.version);
}

// After the capture files, as tcpdump takes the words after -r FILE: words that name no file and
// read as a capture filter are one; words that do not read as one stay files (and fail to open).
TEST(Options, WordsAfterTheCaptureFilesAreAFilter) {
  const std::string self = std::string(UNIT_TEST_DATA_DIR) + "/captures/tds5.pcap";
  Options f;
  ASSERT_TRUE(Parse({self.c_str(), "-", "vlan", "and", "tcp", "port", "3106"}, f).ok);
  EXPECT_EQ(f.captures, (std::vector<std::string>{self, "-"}));
  EXPECT_EQ(f.filter, "vlan and tcp port 3106");

  Options typo;
  ASSERT_TRUE(Parse({self.c_str(), "nosuch.pcap", self.c_str()}, typo).ok);
  EXPECT_EQ(typo.captures, (std::vector<std::string>{self, "nosuch.pcap", self}));
  EXPECT_EQ(typo.filter, "");

  Options first;  // the first word is always a capture file
  ASSERT_TRUE(Parse({"tcp"}, first).ok);
  EXPECT_EQ(first.captures, std::vector<std::string>{"tcp"});

  Options both;
  const ParseOutcome r = Parse({"-f", "tcp", self.c_str(), "port", "5000"}, both);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "-f: given with a filter expression after the options");
}

TEST(HexSource, FramesAreEthernetIpv4TcpWithRunningSequenceNumbers) {
  const std::string text = "c 0102\n2s 0a0b0c\nc 03\n";
  FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  HexSource source(in, "t.hex");
  InputFrame f;
  TcpSegment seg;
  uint32_t firstSeq = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(source.Next(f)) << i << source.error();
    ASSERT_EQ(DecodeFrame(f.linkType, f.data, f.captured, f.wire, seg), LinkResult::kTcp);
    EXPECT_TRUE(seg.frameIsPlainEthernet);
    EXPECT_TRUE(f.hasHint);
    const bool c2s = i != 1;
    EXPECT_EQ(f.hint.clientToServer, c2s);
    EXPECT_EQ(f.hint.number, i == 1 ? 2u : 1u);
    const uint8_t clientIp[4] = {192, 0, 2, 1}, serverIp[4] = {198, 51, 100, 1};
    EXPECT_EQ(Bytes(seg.src, seg.src + 4),
              c2s ? Bytes(clientIp, clientIp + 4) : Bytes(serverIp, serverIp + 4));
    EXPECT_EQ(c2s ? seg.srcPort : seg.dstPort, 40000 + f.hint.number);
    EXPECT_EQ(c2s ? seg.dstPort : seg.srcPort, 5000);
    // Ethernet: destination then source, client ...:01, server ...:02, IPv4.
    EXPECT_EQ(f.data[5], c2s ? 2 : 1);
    EXPECT_EQ(f.data[11], c2s ? 1 : 2);
    EXPECT_EQ(f.data[12], 0x08);
    if (i == 0) {
      firstSeq = seg.seq;
      EXPECT_EQ(Bytes(seg.payload, seg.payload + seg.payloadLength), (Bytes{1, 2}));
    }
    if (i == 2) {
      EXPECT_EQ(seg.seq, firstSeq + 2) << "runs on per direction";
    }
  }
  EXPECT_FALSE(source.Next(f));
  EXPECT_EQ(source.error(), "");
  fclose(in);
}

TEST(LinkLayer, EveryLinkTypeReachesTheTcpPayload) {
  const Bytes ip = Ipv4Tcp(3);
  const Bytes eth = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x08, 0x00};
  const Bytes vlan = {0,  1,    2,    3, 4, 5,    6,    7, 8, 9,    10,
                      11, 0x81, 0x00, 0, 5, 0x88, 0xa8, 0, 6, 0x08, 0x00};
  Bytes sll(16, 0);
  sll[14] = 0x08;
  Bytes sll2(20, 0);
  sll2[0] = 0x08;
  const Bytes null = {2, 0, 0, 0};
  struct Case {
    int link;
    Bytes frame;
    bool ethernet;
  };
  for (const Case& c :
       {Case{kLinkEthernet, Cat({eth, ip}), true}, Case{kLinkEthernet, Cat({vlan, ip}), true},
        Case{kLinkLinuxSll, Cat({sll, ip}), false}, Case{kLinkLinuxSll2, Cat({sll2, ip}), false},
        Case{kLinkNull, Cat({null, ip}), false}, Case{kLinkLoop, Cat({null, ip}), false},
        Case{kLinkRaw, ip, false}, Case{kLinkRawA, ip, false}, Case{kLinkIpv4, ip, false}}) {
    SCOPED_TRACE(c.link);
    TcpSegment s;
    ASSERT_EQ(DecodeFrame(c.link, c.frame.data(), c.frame.size(), c.frame.size(), s),
              LinkResult::kTcp);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.payload), s.payloadLength), "abc");
    EXPECT_EQ(s.srcPort, 40000);
    EXPECT_EQ(s.dstPort, 5000);
    EXPECT_EQ(s.seq, 9u);
    EXPECT_EQ(s.hasEthernet, c.ethernet);
    if (c.ethernet) {
      EXPECT_EQ(s.ethernet[12], 0x08) << "the IP ethertype, VLAN tags left out";
      EXPECT_EQ(s.frameIsPlainEthernet, c.frame.size() == eth.size() + ip.size());
    }
  }
  EXPECT_TRUE(LinkTypeSupported(kLinkLinuxSll2));
  EXPECT_FALSE(LinkTypeSupported(105));
}

TEST(LinkLayer, LengthsOptionsIpv6AndWhatIsNotDecoded) {
  TcpSegment s;
  // Ethernet padding after the IP packet is not payload.
  Bytes padded = Ipv4Tcp(2);
  padded.insert(padded.end(), 6, 0);
  ASSERT_EQ(DecodeFrame(kLinkRaw, padded.data(), padded.size(), padded.size(), s),
            LinkResult::kTcp);
  EXPECT_EQ(s.payloadLength, 2u);
  // IP options.
  const Bytes options = Ipv4Tcp(4, 6);
  ASSERT_EQ(DecodeFrame(kLinkRaw, options.data(), options.size(), options.size(), s),
            LinkResult::kTcp);
  EXPECT_EQ(s.payloadLength, 4u);
  // A capture that kept fewer bytes than the frame had.
  const Bytes whole = Ipv4Tcp(100);
  ASSERT_EQ(DecodeFrame(kLinkRaw, whole.data(), 60, whole.size(), s), LinkResult::kTcp);
  EXPECT_EQ(s.payloadLength, 20u);
  EXPECT_EQ(s.wirePayloadLength, 100u);
  // Ends inside a header.
  EXPECT_EQ(DecodeFrame(kLinkRaw, whole.data(), 30, whole.size(), s), LinkResult::kTooShort);
  EXPECT_EQ(DecodeFrame(kLinkEthernet, whole.data(), 10, 10, s), LinkResult::kTooShort);
  // Fragments, other protocols, other ethertypes.
  const Bytes fragment = Ipv4Tcp(4, 5, 0x2000);
  EXPECT_EQ(DecodeFrame(kLinkRaw, fragment.data(), fragment.size(), fragment.size(), s),
            LinkResult::kNotTcp);
  Bytes udp = Ipv4Tcp(4);
  udp[9] = 17;
  EXPECT_EQ(DecodeFrame(kLinkRaw, udp.data(), udp.size(), udp.size(), s), LinkResult::kNotTcp);
  Bytes arp = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x08, 0x06, 0, 0, 0, 0};
  EXPECT_EQ(DecodeFrame(kLinkEthernet, arp.data(), arp.size(), arp.size(), s), LinkResult::kNotTcp);

  // IPv6 with a hop-by-hop header before TCP.
  Bytes v6(40, 0);
  v6[0] = 0x60;
  v6[6] = 0;  // hop-by-hop
  v6[8] = 0x20, v6[39] = 9;
  Bytes hop(8, 0);
  hop[0] = 6;  // then TCP
  const Bytes tcp = Slice20(Ipv4Tcp(5));
  const uint16_t plen = static_cast<uint16_t>(hop.size() + tcp.size());
  v6[4] = static_cast<uint8_t>(plen >> 8);
  v6[5] = static_cast<uint8_t>(plen);
  const Bytes frame = Cat({v6, hop, tcp});
  ASSERT_EQ(DecodeFrame(kLinkIpv6, frame.data(), frame.size(), frame.size(), s), LinkResult::kTcp);
  EXPECT_EQ(s.ipVersion, 6);
  EXPECT_EQ(s.src[0], 0x20);
  EXPECT_EQ(s.dst[15], 9);
  EXPECT_EQ(s.payloadLength, 5u);
}

TEST(TdsHeader, PlausibleStartsAndLogins) {
  const struct {
    Bytes bytes;
    size_t length;  // how many of them are given
    bool plausible;
    const char* why;
  } starts[] = {
      {{15, 1, 0, 10, 0, 0, 0, 0, 1, 2}, 10, true, "a normal packet"},
      {{15, 1, 0, 10, 0, 0, 0, 0, 1, 2}, 7, false, "less than a header"},
      {{0, 1, 0, 10, 0, 0, 0, 0}, 8, false, "type 0"},
      {{17, 1, 0, 10, 0, 0, 0, 0}, 8, false, "type 17"},
      {{4, 0x10, 0, 10, 0, 0, 0, 0}, 8, false, "an undefined status bit"},
      {{4, 1, 0, 7, 0, 0, 0, 0}, 8, false, "length 7"},
      {{4, 0, 0, 8, 0, 0, 0, 0, 4, 1, 0, 8, 0, 0, 0, 0}, 16, true, "two good headers"},
      {{4, 0, 0, 8, 0, 0, 0, 0, 44, 1, 0, 8, 0, 0, 0, 0}, 16, false, "a bad second header"},
  };
  for (const auto& c : starts)
    EXPECT_EQ(PlausibleTdsStart(c.bytes.data(), c.length), c.plausible) << c.why;
  uint8_t lengthField[4] = {4, 0, 0, 3};
  EXPECT_EQ(TdsPacketExtent(lengthField), 8u);
  lengthField[2] = 1;
  EXPECT_EQ(TdsPacketExtent(lengthField), 259u);

  const uint8_t login[] = {2, 0, 2, 0, 0, 0, 0, 0};
  EXPECT_TRUE(LooksLikeLogin(login, sizeof(login)));
  EXPECT_TRUE(LooksLikeLogin(login, 1)) << "as much as there is";
  const uint8_t normal[] = {15, 1, 0, 8};
  EXPECT_FALSE(LooksLikeLogin(normal, sizeof(normal)));
  const uint8_t shortLogin[] = {2, 0, 0, 4};
  EXPECT_FALSE(LooksLikeLogin(shortLogin, sizeof(shortLogin)));
}
