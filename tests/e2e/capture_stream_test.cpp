// The host on captures made here: TCP reassembly (packets over several segments, several
// packets in one segment, retransmissions, segments out of order, gaps), connection numbering,
// sides and lifecycle, detection by port and by login, link types, and damaged files.
#include "pcap_builder.h"

using nlohmann::json;
using namespace pcapbuild;

namespace {

// tdsdecode --view packet -o json on the capture, which is expected to succeed.
RunResult Decode(const Pcap& pcap, const std::string& name, std::vector<std::string> extra = {}) {
  const std::string path = pcap.Write(name);
  std::vector<std::string> args = {"--view", "packet", "-o", "json", path};
  args.insert(args.end(), extra.begin(), extra.end());
  RunResult r = RunTdsdecode(args);
  std::remove(path.c_str());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r;
}

void Handshake(Pcap& pcap, Flow& flow) {
  pcap.Record(flow.Segment(true, SYN));
  pcap.Record(flow.Segment(false, SYN | ACK));
  pcap.Record(flow.Segment(true, ACK));
}

void Close(Pcap& pcap, Flow& flow) {
  pcap.Record(flow.Segment(true, FIN | ACK));
  pcap.Record(flow.Segment(false, FIN | ACK));
  pcap.Record(flow.Segment(true, ACK));
}

// Stated lengths of a frame's packets.
std::vector<int> PacketLengths(const json& frame) {
  std::vector<int> out;
  for (const json& p : frame["packets"]) {
    const json* length = FindField(p, "Length");
    out.push_back(length ? length->at("value").get<int>() : -1);
  }
  return out;
}

int Refusals(const RunResult& r) {
  int n = 0;
  for (const json& f : r.frames)
    for (const json& p : f["packets"]) n += p.contains("refused") ? 1 : 0;
  return n;
}

// A response packet (type 4) of `dataBytes` whose bytes are `fill`: shown as one dump.
Bytes Response(size_t dataBytes, uint8_t fill) {
  return TdsPacket(4, dataBytes, fill);
}

std::string DumpOf(const json& packet) {
  const json* dump = FindField(packet, "Obselete Message Type");
  return dump ? dump->at("value").get<std::string>() : "";
}

}  // namespace

TEST(Reassembly, PacketOverThreeSegmentsIsHandedOverWholeWithTheLast) {
  Pcap pcap;
  Flow flow;
  Handshake(pcap, flow);
  const Bytes p = Response(292, 0x11);  // 300 bytes
  pcap.Record(flow.Segment(false, ACK, Slice(p, 0, 100)));
  pcap.Record(flow.Segment(false, ACK, Slice(p, 100, 200)));
  pcap.Record(flow.Segment(false, ACK | PSH, Slice(p, 200, 300)));
  Close(pcap, flow);

  const RunResult r = Decode(pcap, "three.pcap");
  ASSERT_EQ(r.frames.size(), 1u) << r.out;
  ExpectHas(r.frames[0], {{"frame", 6}, {"dir", "s2c"}});
  EXPECT_EQ(PacketLengths(r.frames[0]), std::vector<int>{300});
  EXPECT_EQ(DumpOf(r.frames[0]["packets"][0]), std::string(584, '1'));
  EXPECT_EQ(Refusals(r), 0);

  const RunResult raw = Decode(pcap, "three-raw.pcap", {"--no-reassemble"});
  EXPECT_EQ(Pluck(raw.frames, "frame"), json({4, 5, 6})) << "each segment as captured";
  EXPECT_TRUE(raw.frames[0]["packets"][0].contains("refused"));
}

TEST(Reassembly, TwoPacketsAndTheStartOfAThirdInOneSegment) {
  Pcap pcap;
  Flow flow;
  Handshake(pcap, flow);
  const Bytes a = Response(10, 0xA1), b = Response(20, 0xB2), c = Response(40, 0xC3);
  pcap.Record(flow.Segment(false, ACK, Cat({a, b, Slice(c, 0, 5)})));  // frame 4
  pcap.Record(flow.Segment(false, ACK, Slice(c, 5, 48)));              // frame 5
  const RunResult r = Decode(pcap, "twoplus.pcap");
  EXPECT_EQ(Pluck(r.frames, "frame"), json({4, 5})) << r.out;
  ASSERT_EQ(r.frames.size(), 2u);
  EXPECT_EQ(PacketLengths(r.frames[0]), (std::vector<int>{18, 28}));
  EXPECT_EQ(PacketLengths(r.frames[1]), std::vector<int>{48});
  EXPECT_EQ(DumpOf(r.frames[1]["packets"][0]).size(), 80u);
  EXPECT_EQ(Refusals(r), 0);
}

TEST(Reassembly, RetransmissionIsDecodedOnceUnlessAsCaptured) {
  Pcap pcap;
  Flow flow;
  Handshake(pcap, flow);
  const Bytes attention = TdsPacket(6, 0);
  const uint32_t at = flow.seq[0];
  pcap.Record(flow.Segment(true, ACK | PSH, attention));
  pcap.Record(flow.Segment(true, ACK | PSH, attention, at));  // the same bytes again
  pcap.Record(flow.Segment(false, ACK | PSH, Response(9, 0x20)));
  const RunResult r = Decode(pcap, "retrans.pcap");
  EXPECT_EQ(Pluck(r.frames, "frame"), json({4, 6})) << r.out;
  EXPECT_EQ(Decode(pcap, "retrans-raw.pcap", {"--no-reassemble"}).frames.size(), 3u);
}

TEST(Reassembly, SwappedSegmentsAreDecodedInSequenceOrder) {
  Pcap pcap;
  Flow flow;
  Handshake(pcap, flow);
  const Bytes a = Response(30, 0xAA), b = Response(30, 0xBB);
  const uint32_t at = flow.seq[1];
  pcap.Record(flow.Segment(false, ACK, b, at + static_cast<uint32_t>(a.size())));  // frame 4
  pcap.Record(flow.Segment(false, ACK, a, at));                                    // frame 5
  flow.seq[1] += static_cast<uint32_t>(a.size() + b.size());
  pcap.Record(flow.Segment(false, ACK, Response(2, 0xCC)));  // frame 6
  const RunResult r = Decode(pcap, "swapped.pcap");
  ASSERT_EQ(r.frames.size(), 3u) << r.out;
  EXPECT_EQ(DumpOf(r.frames[0]["packets"][0]).substr(0, 2), "aa");
  EXPECT_EQ(DumpOf(r.frames[1]["packets"][0]).substr(0, 2), "bb");
  EXPECT_EQ(DumpOf(r.frames[2]["packets"][0]), "cccc");
  EXPECT_EQ(Pluck(r.frames, "frame"), json({5, 5, 6})) << "5: the frame that filled the gap";
}

TEST(Reassembly, GapThatNeverFillsHandsHeldBytesOverAndTheStreamGoesOn) {
  Pcap pcap;
  Flow flow;
  Handshake(pcap, flow);
  const Bytes big = Response(92, 0x77);                      // 100 bytes
  pcap.Record(flow.Segment(false, ACK, Slice(big, 0, 60)));  // frame 4: held
  flow.seq[1] += 40;                                         // 40 bytes never captured
  pcap.Record(flow.Segment(false, ACK, Response(4, 0x44)));  // frame 5: waits behind the gap
  const RunResult r = Decode(pcap, "gap.pcap");
  ASSERT_EQ(r.frames.size(), 2u) << r.out;
  // At the end of the input the held start of the big packet goes out as it is (cut short),
  // then the packet after the gap.
  EXPECT_TRUE(r.frames[0]["packets"][0].contains("refused"));
  EXPECT_EQ(PacketLengths(r.frames[0]), std::vector<int>{100});
  EXPECT_EQ(DumpOf(r.frames[1]["packets"][0]), "44444444");
}

TEST(Reassembly, BytesHeldWhenTheConnectionEndsAreHandedOverAsTheyAre) {
  Pcap pcap;
  Flow flow;
  Handshake(pcap, flow);
  pcap.Record(flow.Segment(true, ACK, Slice(TdsPacket(15, 30), 0, 12)));
  Close(pcap, flow);  // frames 5, 6, 7
  const RunResult r = Decode(pcap, "held.pcap", {"--stats"});
  ASSERT_EQ(r.frames.size(), 2u) << r.out;
  // Handed over when the client's FIN ended its stream.
  ExpectHas(r.frames[0], {{"dir", "c2s"}, {"frame", 5}});
  EXPECT_TRUE(r.frames[0]["packets"][0].contains("refused"));
  EXPECT_EQ(r.frames[1].at("stats")["held_bytes_at_end"], 12);
}

TEST(Connections, NumberedInOrderWithSidesFromSynPortOrFirstPayload) {
  Pcap pcap;
  Flow one;               // handshake seen: the SYN's sender is the client
  one.clientPort = 5000;  // even on the TDS port number
  one.serverPort = 5000;
  one.serverIp[3] = 9;
  Flow two;  // no handshake: the side that talks to the TDS port is the client
  two.clientPort = 40001;
  Flow three;  // no handshake, no TDS port on either side... found by its login
  three.clientPort = 40002;
  three.serverPort = 7777;
  pcap.Record(one.Segment(true, SYN));
  pcap.Record(two.Segment(false, ACK, Response(1, 0x02)));  // the server speaks first
  pcap.Record(three.Segment(true, ACK, TdsPacket(2, 4)));
  pcap.Record(one.Segment(false, SYN | ACK));
  pcap.Record(one.Segment(true, ACK, TdsPacket(15, 1)));
  const RunResult r = Decode(pcap, "sides.pcap");
  EXPECT_EQ(Pluck(r.frames, "conn"), json({2, 3, 1})) << r.out;
  EXPECT_EQ(Pluck(r.frames, "dir"), json({"s2c", "c2s", "c2s"}));
}

TEST(Connections, FinBothWaysThenTheSamePortsAreANewConnection) {
  Pcap pcap;
  Flow flow;
  Handshake(pcap, flow);
  pcap.Record(flow.Segment(true, ACK, TdsPacket(15, 2)));
  Close(pcap, flow);
  pcap.Record(flow.Segment(true, ACK, TdsPacket(15, 3)));  // same ports, no SYN
  Flow again;  // and a SYN on the same addresses starts yet another
  again.seq[0] = 777777;
  Handshake(pcap, again);
  pcap.Record(again.Segment(true, ACK, TdsPacket(15, 4)));
  pcap.Record(again.Segment(true, SYN, {}, 777777));  // its SYN repeated: same connection
  pcap.Record(again.Segment(true, ACK, TdsPacket(15, 5)));
  const RunResult r = Decode(pcap, "reuse.pcap");
  EXPECT_EQ(Pluck(r.frames, "conn"), json({1, 2, 3, 3})) << r.out;
}

TEST(Connections, OtherPortsAreDecodedWhenTheClientOpensWithALogin) {
  Pcap pcap;
  Flow login;
  login.serverPort = 4100;
  Handshake(pcap, login);
  pcap.Record(login.Segment(true, ACK, TdsPacket(2, 20)));
  pcap.Record(login.Segment(false, ACK, Response(3, 1)));
  Flow other;
  other.serverPort = 4200;
  other.clientPort = 33001;
  Handshake(pcap, other);
  pcap.Record(other.Segment(true, ACK, TdsPacket(15, 3)));  // not a login: not TDS
  pcap.Record(other.Segment(false, ACK, Response(3, 1)));

  const RunResult r = Decode(pcap, "login.pcap");
  EXPECT_EQ(Pluck(r.frames, "conn"), json({1, 1})) << r.out;
  EXPECT_EQ(Pluck(r.frames, "dir"), json({"c2s", "s2c"}));
  EXPECT_EQ(r.frames[0]["packets"][0]["summary"], "Sybase TDS: (Login record)");

  const RunResult withPort = Decode(pcap, "login-port.pcap", {"-p", "4200", "--port", "5000"});
  ASSERT_EQ(withPort.frames.size(), 4u) << withPort.out;
  EXPECT_EQ(withPort.frames[2]["conn"], 2);
}

TEST(Connections, JoinedMidwayDecodesFromTheFirstPacketStart) {
  Pcap pcap;
  Flow flow;
  const Bytes p = Response(50, 0x99);
  pcap.Record(flow.Segment(false, ACK, Slice(p, 20, 58)));  // the end of a packet
  pcap.Record(flow.Segment(false, ACK, Response(2, 0x42)));
  const RunResult r = Decode(pcap, "midway.pcap");
  ASSERT_EQ(r.frames.size(), 1u) << r.out;
  EXPECT_EQ(r.frames[0]["frame"], 2);
  EXPECT_EQ(DumpOf(r.frames[0]["packets"][0]), "4242");
  EXPECT_EQ(Decode(pcap, "midway-raw.pcap", {"--no-reassemble"}).frames.size(), 2u);
}

TEST(LinkTypes, EveryLinkTypeAndIpv6DecodeWithOneEthernetHeaderPerDirection) {
  // A row format, then its row in a later frame: the row is only laid out when both frames'
  // blocks begin with the same Ethernet addresses (the format is filed under them).
  const Bytes rowFormat = Hex("0f01 0015 0000 0000  ee 000a 0001 00 00 00000000 38 00");
  const Bytes row = Hex("0f01 000d 0000 0000  d1 0000002a");
  struct Case {
    uint32_t link;
    bool ipv6;
    bool vlan;
  };
  for (const Case& c : {Case{1, false, false}, Case{1, false, true}, Case{1, true, false},
                        Case{113, false, false}, Case{276, true, false}, Case{0, false, false},
                        Case{101, false, false}, Case{101, true, false}}) {
    SCOPED_TRACE("link type " + std::to_string(c.link) + (c.ipv6 ? " IPv6" : "") +
                 (c.vlan ? " VLAN" : ""));
    Pcap pcap(c.link);
    Flow flow;
    flow.linkType = c.link;
    flow.ipv6 = c.ipv6;
    flow.vlan = c.vlan;
    Handshake(pcap, flow);
    pcap.Record(flow.Segment(false, ACK, rowFormat));
    pcap.Record(flow.Segment(true, ACK, TdsPacket(15, 1)));
    pcap.Record(flow.Segment(false, ACK, row));
    const RunResult r = Decode(pcap, "link.pcap");
    ASSERT_EQ(r.frames.size(), 3u) << r.out;
    EXPECT_EQ(Pluck(r.frames, "dir"), json({"s2c", "c2s", "s2c"}));
    const json* value = FindField(r.frames[2]["packets"][0], "Data");
    ASSERT_NE(value, nullptr) << r.frames[2].dump();
    EXPECT_EQ((*value)["value"], 42);
  }
}

TEST(DamagedInput, TruncatedCaptureKeepsWhatCameBeforeAndFails) {
  Pcap pcap;
  Flow flow;
  Handshake(pcap, flow);
  pcap.Record(flow.Segment(true, ACK, TdsPacket(15, 4)));
  pcap.Record(flow.Segment(false, ACK, Response(4, 1)));
  const std::string cut = pcap.text();  // the last record ends early
  const std::string path = WriteTemp("cut.pcap", cut.substr(0, cut.size() - 7));
  const RunResult r = RunTdsdecode({"--view", "packet", "-o", "json", path});
  std::remove(path.c_str());
  EXPECT_EQ(r.exitCode, 1);
  ASSERT_EQ(r.frames.size(), 1u) << r.out;
  EXPECT_EQ(r.frames[0]["frame"], 4);
  EXPECT_EQ(r.err.rfind("tdsdecode: " + path + ": ", 0), 0u) << r.err;
  EXPECT_TRUE(Contains(r.err, "truncated"));
}

TEST(DamagedInput, GarbageBadPcapngBlockAndShortFrames) {
  const std::string garbage =
      WriteTemp("garbage.pcap", "this is not a capture at all, just some text\n");
  RunResult r = RunTdsdecode({"--view", "packet", "-o", "json", garbage});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(r.err.rfind("tdsdecode: " + garbage + ": ", 0), 0u) << r.err;
  std::remove(garbage.c_str());

  // pcapng: a section header, an interface, then a block whose length runs past the file.
  Bytes ng;
  auto le32 = [&ng](uint32_t v) { PutLe32(ng, v); };
  le32(0x0A0D0D0A), le32(28), le32(0x1A2B3C4D), ng.insert(ng.end(), {1, 0, 0, 0});
  le32(0xFFFFFFFF), le32(0xFFFFFFFF), le32(28);
  le32(1), le32(20), ng.insert(ng.end(), {1, 0, 0, 0}), le32(65535), le32(20);
  le32(6), le32(0x7FFFFFF0), le32(0), le32(0);
  const std::string bad = WriteTemp("bad.pcapng", std::string(ng.begin(), ng.end()));
  r = RunTdsdecode({"--view", "packet", "-o", "json", bad});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("tdsdecode: " + bad + ": ", 0), 0u) << r.err;
  std::remove(bad.c_str());

  // Frames that end inside their headers are passed over; the rest still decodes.
  Pcap pcap;
  Flow flow;
  const Bytes whole = flow.Segment(true, ACK, TdsPacket(15, 2));
  pcap.Record(Slice(whole, 0, 10));
  pcap.Record(Slice(whole, 0, 30));
  pcap.Record(Slice(whole, 0, 50));
  pcap.Record(whole);
  r = Decode(pcap, "short.pcap", {"--stats"});
  ASSERT_EQ(r.frames.size(), 2u) << r.out;
  EXPECT_EQ(r.frames[0]["frame"], 4);
  EXPECT_EQ(r.frames[1]["stats"]["frames_too_short"], 3);
}

TEST(Inputs, SeveralFilesAndStandardInputEachNumberFromOne) {
  Pcap pcap;
  Flow flow;
  pcap.Record(flow.Segment(true, ACK, TdsPacket(15, 2)));
  pcap.Record(flow.Segment(false, ACK, Response(2, 3)));
  const std::string path = pcap.Write("twice.pcap");
  const RunResult r =
      RunTdsdecode({"--view", "packet", "-o", "json", path, "-", path}, pcap.text());
  std::remove(path.c_str());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Pluck(r.frames, "frame"), json({1, 2, 1, 2, 1, 2})) << r.out;
  EXPECT_EQ(Pluck(r.frames, "conn"), json({1, 1, 1, 1, 1, 1}));
}

TEST(Inputs, MissingFileIsReportedAndTheOthersStillDecode) {
  Pcap pcap;
  Flow flow;
  pcap.Record(flow.Segment(true, ACK, TdsPacket(15, 2)));
  const std::string path = pcap.Write("present.pcap");
  const RunResult r = RunTdsdecode({"--view", "packet", "-o", "json", "/nonexistent/x.pcap", path});
  std::remove(path.c_str());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.frames.size(), 1u);
  EXPECT_EQ(r.err.rfind("tdsdecode: /nonexistent/x.pcap: ", 0), 0u) << r.err;
}

TEST(Inputs, CaptureWithoutTdsSaysWhatWasSeenAndSuggestsAPort) {
  Pcap pcap;
  Flow flow;
  flow.serverPort = 80;
  Handshake(pcap, flow);
  const std::string http = "GET / HTTP/1.0\r\n\r\n";
  pcap.Record(flow.Segment(true, ACK | PSH, Bytes(http.begin(), http.end())));
  const std::string path = pcap.Write("http.pcap");
  const RunResult r = RunTdsdecode({path});
  std::remove(path.c_str());
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_TRUE(Contains(r.err,
                       "no TDS traffic found (1 TCP connection); if TDS runs on another "
                       "port, name it with -p PORT"))
      << r.err;
}
