// The host on the real captures in tests/data/captures: every capture reads to its end with and
// without reassembly, frame and connection counts, and (with reassembly) every TDS packet
// handed over exactly once and whole. The captures' TCP streams are read here independently,
// so each handed-over frame is checked against the stream: per direction the frames' byte
// counts add up to the stream and every frame ends on a TDS packet boundary.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "tdsdecode_runner.h"

using nlohmann::json;

namespace {

struct Expected {
  const char* file;
  int frames;
  int connections;
  uint16_t serverPort;
  // TDS packets per message type, both directions: login 2, response 4, attention 6, bulk 7,
  // normal 15.
  std::map<int, int> types;
  bool packetsAcrossSegments;
};

const Expected kCaptures[] = {
    {"ctlib-cancel.pcap", 48, 1, 5000, {{2, 2}, {4, 79}, {6, 2}, {15, 6}}, false},
    {"ctlib-cursor.pcap", 60, 1, 5000, {{2, 2}, {4, 26}, {15, 25}}, false},
    {"ctlib-dynamic.pcap", 26, 1, 5000, {{2, 2}, {4, 9}, {15, 6}}, false},
    {"ctlib-options.pcap", 42, 1, 5000, {{2, 2}, {4, 17}, {15, 16}}, false},
    {"ctlib-pkt2048.pcap", 38, 1, 5000, {{2, 2}, {4, 23}, {15, 5}}, false},
    {"ctlib-rpc.pcap", 24, 1, 5000, {{2, 2}, {4, 8}, {15, 6}}, false},
    {"dblib-rpc.pcap", 22, 1, 5000, {{2, 2}, {4, 7}, {15, 6}}, false},
    {"freebcp-in.pcap", 22, 1, 5000, {{2, 2}, {4, 7}, {7, 1}, {15, 5}}, false},
    {"freebcp-out.pcap", 20, 1, 5000, {{2, 2}, {4, 6}, {15, 5}}, false},
    {"tsql-bigrows-split.pcap", 56, 1, 5000, {{2, 2}, {4, 77}, {15, 4}}, true},
    {"tsql-bigrows.pcap", 106, 1, 5000, {{2, 2}, {4, 77}, {15, 4}}, false},
    {"tsql-language.pcap", 49, 1, 5000, {{2, 2}, {4, 21}, {15, 15}}, false},
    {"tsql-loginfail.pcap", 12, 1, 5000, {{2, 2}, {4, 2}, {15, 1}}, false},
    {"tsql-multiconn.pcap", 54, 3, 5000, {{2, 6}, {4, 15}, {15, 9}}, false},
    {"tsql-pkt2048.pcap", 54, 1, 5000, {{2, 2}, {4, 22}, {15, 4}}, true},
    {"tds5.pcap", 10, 1, 3106, {{2, 1}, {4, 2}, {15, 2}}, false},
};

std::string Path(const char* file) {
  return TestData(std::string("captures/") + file);
}

uint32_t Be(const std::string& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
  return v;
}

// The TCP streams of a classic little-endian Ethernet/IPv4 capture (one VLAN tag allowed)
// without reordering, as these captures are: per connection (numbered by first appearance)
// and direction (0 client to server), the distinct payload bytes in order.
struct Streams {
  std::map<std::pair<int, int>, std::string> bytes;
  int connections = 0;
};

Streams ReadStreams(const std::string& path, uint16_t serverPort) {
  const std::string b = ReadFile(path);
  Streams out;
  std::map<uint32_t, int> number;  // client port -> connection
  std::map<std::pair<int, int>, uint32_t> next;
  size_t at = 24;
  while (at + 16 <= b.size()) {
    const uint32_t caplen = Le32At(b, at + 8);
    const size_t frame = at + 16;
    at = frame + caplen;
    if (at > b.size() || caplen < 54) continue;
    const size_t vlan = Be(b, frame + 12, 2) == 0x8100 ? 4 : 0;
    if (Be(b, frame + 12 + vlan, 2) != 0x0800) continue;
    const size_t ip = frame + 14 + vlan;
    const size_t ihl = (static_cast<uint8_t>(b[ip]) & 15) * 4u;
    const uint32_t total = Be(b, ip + 2, 2);
    const size_t tcp = ip + ihl;
    const size_t doff = (static_cast<uint8_t>(b[tcp + 12]) >> 4) * 4u;
    const uint32_t payload = static_cast<uint32_t>(total - ihl - doff);
    const uint32_t src = Be(b, tcp, 2), dst = Be(b, tcp + 2, 2);
    const int dir = src == serverPort ? 1 : 0;
    const uint32_t clientPort = dir ? dst : src;
    const uint32_t seq = Be(b, tcp + 4, 4);
    const bool syn = (static_cast<uint8_t>(b[tcp + 13]) & 0x02) != 0;
    if (!syn && !payload) continue;
    if (!number.count(clientPort)) number[clientPort] = ++out.connections;
    const std::pair<int, int> key(number[clientPort], dir);
    if (syn) next[key] = seq + 1;
    if (!payload) continue;
    if (!next.count(key)) next[key] = seq;
    const uint32_t end = seq + payload;
    const uint32_t fresh = static_cast<int32_t>(end - next[key]) > 0 ? end - next[key] : 0;
    if (fresh > payload) continue;  // a gap: none in these captures
    out.bytes[key] += b.substr(tcp + doff + (payload - fresh), fresh);
    next[key] = end;
  }
  return out;
}

// Where the stream's TDS packets end (a length below 8 counts as 8), and their types.
std::set<size_t> PacketEnds(const std::string& stream, std::map<int, int>* types) {
  std::set<size_t> ends;
  size_t at = 0;
  while (at + 4 <= stream.size()) {
    if (types) ++(*types)[static_cast<uint8_t>(stream[at])];
    at += std::max<uint32_t>(8, Be(stream, at + 2, 2));
    ends.insert(at);
  }
  return ends;
}

struct HandedFrame {
  int frame, conn, dir, bytes;
};

// The frame lines of the text output: "Frame F: connection C, client to server, B TDS bytes".
std::vector<HandedFrame> FrameLines(const std::string& text) {
  std::vector<HandedFrame> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Frame ", 0) != 0) continue;
    HandedFrame f{};
    char side[16] = {};
    if (std::sscanf(line.c_str(), "Frame %d: connection %d, %15s to %*s %d TDS bytes", &f.frame,
                    &f.conn, side, &f.bytes) == 4) {
      f.dir = std::string(side) == "server" ? 1 : 0;
      out.push_back(f);
    }
  }
  return out;
}

RunResult RunCapture(const char* file, std::vector<std::string> extra) {
  std::vector<std::string> args = {Path(file)};
  args.insert(args.end(), extra.begin(), extra.end());
  if (std::find(args.begin(), args.end(), "--view") == args.end() &&
      std::find(args.begin(), args.end(), "--requests") == args.end())
    args.insert(args.begin(), {"--view", "packet"});
  return RunTdsdecode(args);
}

json StatsOf(const RunResult& r) {
  return r.frames.empty() || !r.frames.back().contains("stats") ? json() : r.frames.back()["stats"];
}

// Attention packets (message type 6) in the statistics.
int Attentions(const json& stats) {
  for (const json& t : stats["message_types"])
    if (t["code"] == 6) return t["count"].get<int>();
  return 0;
}

}  // namespace

TEST(RealCaptures, ReassembledEveryPacketIsHandedOverOnceAndWholeAsCapturedEverySegment) {
  for (const Expected& e : kCaptures) {
    SCOPED_TRACE(e.file);
    const Streams streams = ReadStreams(Path(e.file), e.serverPort);
    ASSERT_EQ(streams.connections, e.connections);
    std::map<int, int> types;
    std::map<std::pair<int, int>, std::set<size_t>> ends;
    for (const auto& kv : streams.bytes) ends[kv.first] = PacketEnds(kv.second, &types);
    ASSERT_EQ(types, e.types) << "the capture's own packets";

    const RunResult text = RunCapture(e.file, {});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.err, "");
    std::map<std::pair<int, int>, size_t> handed;
    int lastFrame = 0;
    for (const HandedFrame& f : FrameLines(text.out)) {
      EXPECT_GE(f.frame, lastFrame) << "frames come out in order";
      EXPECT_LE(f.frame, e.frames);
      lastFrame = f.frame;
      const std::pair<int, int> key(f.conn, f.dir);
      size_t& at = handed[key];
      at += static_cast<size_t>(f.bytes);
      EXPECT_EQ(ends[key].count(at), 1u)
          << "frame " << f.frame << " ends inside a TDS packet (at " << at << ")";
    }
    for (const auto& kv : streams.bytes)
      EXPECT_EQ(handed[kv.first], kv.second.size())
          << "connection " << kv.first.first << " direction " << kv.first.second;

    const RunResult asJson = RunCapture(e.file, {"-o", "json", "--stats"});
    ASSERT_EQ(asJson.exitCode, 0);
    const json stats = StatsOf(asJson);
    EXPECT_EQ(stats["frames_read"], e.frames);
    EXPECT_EQ(stats["connections"], e.connections);
    EXPECT_EQ(stats["tcp_connections"], e.connections);
    EXPECT_EQ(stats["held_bytes_at_end"], 0) << "every capture ends on a packet boundary";
    EXPECT_EQ(stats["gaps"], 0);
    // Every frame begins with a packet header, and every server answer (message type 4, one
    // dump per packet in this view) arrives whole.
    for (const json& f : asJson.frames) {
      if (f.contains("stats")) continue;
      ASSERT_FALSE(f["packets"].empty());
      EXPECT_EQ(f["packets"][0]["fields"][0]["label"], "TDS Message Type");
      if (f["dir"] != "s2c") continue;
      for (const json& p : f["packets"]) {
        const json* type = FindField(p, "TDS Message Type");
        if (!type || (*type)["value"] != 4) continue;
        EXPECT_FALSE(p.contains("refused")) << "frame " << f["frame"];
        const json* length = FindField(p, "Length");
        const json* dump = FindField(p, "Obselete Message Type");
        ASSERT_TRUE(length && dump) << p.dump();
        EXPECT_EQ((*dump)["size"].get<int>(), (*length)["value"].get<int>() - 8);
      }
    }

    // As captured, every segment is a frame.
    const RunResult raw = RunCapture(e.file, {"-o", "json", "--stats", "--no-reassemble"});
    ASSERT_EQ(raw.exitCode, 0) << raw.err;
    EXPECT_EQ(raw.err, "");
    const json rawStats = StatsOf(raw);
    EXPECT_EQ(rawStats["frames_read"], e.frames);
    EXPECT_EQ(rawStats["frames_decoded"], rawStats["tcp_payload_segments"]);
    if (e.packetsAcrossSegments) {
      // Segments that begin inside a packet do not decode as whole packets.
      EXPECT_GT(rawStats["frames_cut_short"].get<int>(), stats["frames_cut_short"].get<int>());
    } else if (std::string(e.file) != "ctlib-cancel.pcap") {
      // Without packets across segments or retransmissions the frames are the same either way.
      EXPECT_EQ(raw.out, asJson.out);
    } else {
      // The retransmitted attention is decoded once: as captured, frame 12 repeats frame 11.
      EXPECT_EQ(stats["retransmitted_bytes"], 8);
      EXPECT_EQ(rawStats["frames_decoded"].get<int>(), stats["frames_decoded"].get<int>() + 1);
      EXPECT_EQ(Attentions(stats), 2);
      EXPECT_EQ(Attentions(rawStats), 3);
    }
  }
}

TEST(RealCaptures, PublicCaptureOffTheDefaultPortIsFoundByItsLogin) {
  const RunResult r = RunCapture("tds5.pcap", {"-o", "json"});
  ASSERT_EQ(r.exitCode, 0);
  ASSERT_GE(r.frames.size(), 2u);
  EXPECT_EQ(r.frames[0]["conn"], 1);
  EXPECT_EQ(r.frames[0]["dir"], "c2s");
  EXPECT_EQ(r.frames[0]["packets"][0]["summary"], "Sybase TDS: (Login record)");
  EXPECT_EQ(r.frames.back()["dir"], "s2c");
  // Naming its port changes nothing.
  EXPECT_EQ(RunCapture("tds5.pcap", {"-o", "json", "-p", "3106"}).out, r.out);
}
