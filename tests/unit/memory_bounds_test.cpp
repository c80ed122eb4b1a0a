// Memory bounds: streams that try to outgrow the per-connection conversation store, the bytes
// held for reassembly and the number of tracked connections. Memory must stay within each
// limit, what had to be dropped must be counted, and the statistics must say so.
#include <gtest/gtest.h>

#include <cstring>

#include "bytes.h"
#include "checks.h"
#include "input/link_layer.h"
#include "options.h"
#include "plugin_harness.h"
#include "stats.h"
#include "streams/connection_table.h"
#include "tdsengine/out_buffer.h"
#include "tdsengine/store.h"
#include "views/message_view.h"
#include "views/packet_view.h"

namespace {

using MemoryBoundsTest = PluginTest;

// A captured little-endian login, and a captured ALTFMT token with its compute id set to `id`.
const Bytes& Login() {
  static const Bytes login = [] {
    for (const CapturedMessage& m : MessagesOf(UnitTestData("captures/tsql-language.pcap")))
      if (m.type == 2) return m.data;
    return Bytes();
  }();
  return login;
}
Bytes ComputeFormat(uint32_t id) {
  static const std::vector<Bytes> altfmt =
      TokensOf(UnitTestData("captures/tsql-language.pcap"), 0xA8, false);
  Bytes token = altfmt.empty() ? Bytes(5) : altfmt[0];
  token[3] = static_cast<uint8_t>(id);
  token[4] = static_cast<uint8_t>(id >> 8);
  return token;
}

TEST_F(MemoryBoundsTest, StoreKeepsAtMostItsCeilingAndReleasesWhatItRefuses) {
  ASSERT_FALSE(Login().empty());
  ASSERT_GT(ComputeFormat(0).size(), 5u);

  constexpr size_t kCeiling = 16;
  constexpr uint32_t kFormats = 3000;
  StoreLedger ledger;
  FrameDriver driver(kCeiling);
  driver.Packet(1, true, TdsPacket(2, 1, Login()));  // a little-endian connection
  size_t most = 0;
  for (uint32_t id = 0; id < kFormats; ++id) {
    // The packet entry files every compute id under a key of its own.
    driver.Packet(1, false, TdsPacket(15, 1, ComputeFormat(id)));
    ASSERT_NE(CurrentStore(), nullptr);
    most = std::max(most, CurrentStore()->size());
  }
  EXPECT_EQ(most, kCeiling);
  const uint64_t refused = CurrentStore()->dropped();
  // The byte-order block takes one place; every other format past the ceiling was refused.
  EXPECT_EQ(refused, kFormats - (kCeiling - 1));
  EXPECT_EQ(ledger.live(), kCeiling - 1);
  EXPECT_EQ(ledger.released(), refused);
  driver.End(1);
  EXPECT_EQ(driver.registry().droppedBlocks(), refused);
  EXPECT_EQ(ledger.live(), 0u);
  EXPECT_EQ(ledger.strays(), 0u);
}

// TCP segments straight into the connection table, decoded by the packet view (or the
// message view) and the plug-in.
class Wire {
 public:
  explicit Wire(TableLimits limits, ViewKind view = ViewKind::kPacket) {
    m_options.ports.push_back(5000);
    m_options.view = view;
    if (view == ViewKind::kMessage)
      m_messages = new MessageView(Entries().message, m_options, m_out, m_stats);
    else
      m_packets = new PacketView(Entries().packet, m_options, m_out, m_stats);
    m_table = new ConnectionTable(m_options, *View(), m_stats, limits);
  }
  ~Wire() {
    Finish();
    delete m_packets;
    delete m_messages;
    std::fclose(m_null);
  }

  // One segment from client `client` (port 40000 + client) to the server's port 5000.
  void Send(uint32_t client, uint32_t seq, uint8_t flags, const Bytes& payload = Bytes()) {
    Segment(client, true, seq, flags, payload);
  }
  // One segment from the server back to client `client`.
  void Reply(uint32_t client, uint32_t seq, uint8_t flags, const Bytes& payload) {
    Segment(client, false, seq, flags, payload);
  }

  ConnectionTable& table() { return *m_table; }
  const HostStats& stats() const { return m_stats; }

  // Ends the input and gives the statistics as --stats prints them.
  std::string Finish() {
    if (m_table) {
      m_table->EndAll(m_frame);
      if (m_packets) m_packets->EndAll();
      if (m_messages) m_messages->EndAll();
      delete m_table;
      m_table = nullptr;
    }
    m_out.flush();
    MemoryOutput report(4096);
    PrintStatsText(m_stats, report.out());
    PrintStatsJson(m_stats, report.out());
    return report.text();
  }

 private:
  void Segment(uint32_t client, bool toServer, uint32_t seq, uint8_t flags, const Bytes& payload) {
    TcpSegment s;
    s.ipVersion = 4;
    const uint8_t clientAddress[4] = {192, 0, 2, static_cast<uint8_t>(1 + client / 20000)};
    const uint8_t serverAddress[4] = {198, 51, 100, 1};
    const uint16_t clientPort = static_cast<uint16_t>(40000 + client % 20000);
    std::memcpy(s.src, toServer ? clientAddress : serverAddress, 4);
    std::memcpy(s.dst, toServer ? serverAddress : clientAddress, 4);
    s.srcPort = toServer ? clientPort : 5000;
    s.dstPort = toServer ? 5000 : clientPort;
    s.seq = seq;
    s.flags = flags;
    s.payload = payload.empty() ? nullptr : payload.data();
    s.payloadLength = s.wirePayloadLength = static_cast<uint32_t>(payload.size());
    m_table->Segment(s, ++m_frame);
  }

  ::View* View() {
    if (m_packets) return m_packets;
    return m_messages;
  }

  Options m_options;
  HostStats m_stats;
  FILE* m_null = std::fopen("/dev/null", "w");
  OutBuffer m_out{m_null, 1 << 16};
  PacketView* m_packets = nullptr;
  MessageView* m_messages = nullptr;
  ConnectionTable* m_table = nullptr;
  uint64_t m_frame = 0;
};

// The first bytes of a TDS packet that announces far more than is sent: the framer holds them.
Bytes PacketStart(size_t sent) {
  return TdsPacket(15, 1, Bytes(sent > 8 ? sent - 8 : 0, 0x41), 60000);
}

TEST_F(MemoryBoundsTest, TrackedConnectionsStayWithinTheLimitAndEvictionsAreReported) {
  TableLimits limits;
  limits.maxConnections = 8;
  constexpr uint32_t kClients = 500;
  StoreLedger ledger;
  std::string report;
  {
    Wire wire(limits);
    size_t most = 0;
    for (uint32_t c = 0; c < kClients; ++c) {
      wire.Send(c, 1000, kTcpSyn);
      wire.Send(c, 1001, kTcpAck | kTcpPsh, PacketStart(300));
      most = std::max(most, wire.table().tracked());
    }
    EXPECT_EQ(most, limits.maxConnections);
    EXPECT_EQ(wire.stats().connectionsEvicted, kClients - limits.maxConnections);
    report = wire.Finish();
  }
  EXPECT_TRUE(Contains(report, "connections evicted: 492\n"));
  EXPECT_TRUE(Contains(report, "\"connections_evicted\": 492"));
  // Held bytes of evicted connections were handed over as they were, and counted.
  EXPECT_TRUE(Contains(report, "bytes held at the end of a stream: 150000\n"));
  EXPECT_EQ(ledger.live(), 0u);
}

// A server that files more format records than a connection's store keeps: the host's
// statistics say how many were refused. (The message view keeps its formats in one session
// block per connection, with ceilings of its own.)
TEST_F(MemoryBoundsTest, FormatRecordsPastTheStoreCeilingAreCountedInTheStatistics) {
  ASSERT_FALSE(Login().empty());
  constexpr uint32_t kFormats = StoreRegistry::kDefaultMaxBlocks + 500;
  for (const ViewKind view : {ViewKind::kPacket}) {
    StoreLedger ledger;
    std::string report;
    {
      Wire wire(TableLimits(), view);
      wire.Send(0, 1000, kTcpSyn);
      wire.Send(0, 1001, kTcpAck | kTcpPsh, TdsPacket(2, 1, Login()));
      uint32_t seq = 7000;
      for (uint32_t id = 0; id < kFormats; ++id) {
        const Bytes packet = TdsPacket(15, 1, ComputeFormat(id));
        wire.Reply(0, seq, kTcpAck | kTcpPsh, packet);
        seq += static_cast<uint32_t>(packet.size());
      }
      report = wire.Finish();
    }
    // The byte-order record takes one place in the store.
    const std::string refused = std::to_string(kFormats - (StoreRegistry::kDefaultMaxBlocks - 1));
    EXPECT_TRUE(
        Contains(report, "format records refused (connection store full): " + refused + "\n"));
    EXPECT_TRUE(Contains(report, "\"format_records_refused\": " + refused));
    EXPECT_EQ(ledger.live(), 0u);
  }
}

TEST_F(MemoryBoundsTest, BytesWaitingForAGapStayWithinTheCeilingAndGapsAreReported) {
  TableLimits limits;
  limits.seq.maxBufferedBytes = 8192;
  limits.seq.maxSegments = 16;
  limits.maxBufferedBytes = 64 * 1024;
  constexpr uint32_t kSegments = 2000;
  const Bytes chunk(1000, 0x42);
  std::string report;
  {
    Wire wire(limits);
    wire.Send(0, 5000, kTcpSyn);
    size_t most = 0;
    // The first 1000 bytes never come: everything after them waits until the window is full.
    for (uint32_t i = 1; i <= kSegments; ++i) {
      wire.Send(0, 5001 + i * 1000, kTcpAck, chunk);
      most = std::max(most, wire.table().bufferedBytes());
    }
    EXPECT_LE(most, limits.maxBufferedBytes);
    EXPECT_GT(wire.stats().stream.gaps, 0u);
    report = wire.Finish();
  }
  EXPECT_TRUE(Contains(report, "gaps given up: "));
  EXPECT_FALSE(Contains(report, "gaps given up: 0\n"));
  EXPECT_TRUE(Contains(report, "segments out of order: "));
}

TEST_F(MemoryBoundsTest, HeldBytesOfAllConnectionsStayWithinTheTableCeiling) {
  TableLimits limits;
  limits.maxBufferedBytes = 256 * 1024;
  constexpr uint32_t kClients = 300;
  std::string report;
  {
    Wire wire(limits);
    size_t most = 0;
    for (uint32_t c = 0; c < kClients; ++c) {
      wire.Send(c, 1000, kTcpSyn);
      // Each connection holds a packet begun but never finished, in several segments.
      uint32_t seq = 1001;
      for (int i = 0; i < 4; ++i) {
        const Bytes part = i == 0 ? PacketStart(2000) : Bytes(2000, 0x43);
        wire.Send(c, seq, kTcpAck, part);
        seq += static_cast<uint32_t>(part.size());
      }
      most = std::max(most, wire.table().bufferedBytes());
    }
    // The table's count is what the framers and trackers hold (vector capacity included).
    EXPECT_LE(most, limits.maxBufferedBytes);
    // The connections that held the most were cut, not the idle ones.
    EXPECT_GT(wire.stats().connectionsCut, 0u);
    EXPECT_EQ(wire.stats().connectionsEvicted, 0u);
    report = wire.Finish();
  }
  EXPECT_FALSE(Contains(report, "connections cut short (memory ceiling): 0\n"));
  EXPECT_TRUE(Contains(report, "bytes let go with them: "));
}

// One message that never ends: packet after packet without the last-buffer bit.
TEST_F(MemoryBoundsTest, MessageViewHoldsAtMostItsCeilingOfOneMessageAndSaysWhatItPassedOver) {
  constexpr size_t kCeiling = MessageAssembler::kDefaultHeldCeiling;
  constexpr int kPackets = 400;  // 400 packets of 4,096 data bytes: 1.6 MiB
  const Bytes data(4096, 0x44);
  StoreLedger ledger;
  std::string report;
  {
    Wire wire(TableLimits(), ViewKind::kMessage);
    wire.Send(0, 1000, kTcpSyn);
    uint32_t seq = 1001;
    size_t most = 0;
    for (int i = 0; i < kPackets; ++i) {
      const Bytes packet = TdsPacket(15, 0, data);
      wire.Send(0, seq, kTcpAck, packet);
      seq += static_cast<uint32_t>(packet.size());
      most = std::max(most, wire.table().bufferedBytes());
    }
    // The message's data up to the ceiling and the packet that crosses it, and vector slack.
    EXPECT_GT(most, kCeiling / 2);
    EXPECT_LE(most, 2 * (kCeiling + data.size() + 8));
    report = wire.Finish();
    EXPECT_GT(wire.stats().messageView.bytesPassedOver, 0u);
  }
  EXPECT_TRUE(Contains(report, "messages cut short (lost bytes, stream end, ceiling): 1\n"));
  EXPECT_FALSE(Contains(report, "bytes passed over (ceiling, outside packets): 0\n"));
  EXPECT_EQ(ledger.live(), 0u);
}

// One message of tokens that never ends: it is shown in parts as it arrives, holding no more than
// the window and a packet, and every token is shown.
TEST_F(MemoryBoundsTest, MessageViewShowsALongTokenMessageInPartsWithinItsWindow) {
  constexpr int kPackets = 400;  // 400 packets of 2,048 LOGOUT tokens: 1.6 MiB
  Bytes data;
  for (int i = 0; i < 2048; ++i) data.insert(data.end(), {0x71, 0x00});
  std::string report;
  {
    Wire wire(TableLimits(), ViewKind::kMessage);
    wire.Send(0, 1000, kTcpSyn);
    uint32_t seq = 1001;
    size_t most = 0;
    for (int i = 0; i < kPackets; ++i) {
      const Bytes packet = TdsPacket(15, 0, data);
      wire.Send(0, seq, kTcpAck, packet);
      seq += static_cast<uint32_t>(packet.size());
      most = std::max(most, wire.table().bufferedBytes());
    }
    EXPECT_LE(most, 2 * (MessageAssembler::kDefaultWindow + data.size() + 8));
    report = wire.Finish();
    EXPECT_EQ(wire.stats().messageView.tokens[0][0x71], 2048u * kPackets);
    EXPECT_EQ(wire.stats().messageView.bytesPassedOver, 0u);
  }
  EXPECT_TRUE(Contains(report, "messages shown in parts (longer than the window): 1\n"));
}

}  // namespace
