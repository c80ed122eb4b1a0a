// The connection table alone, with a recording view: numbering, sides, detection, lifecycle
// (FIN or RST both ways, a SYN on the same addresses, the end of the input), the stores' end,
// and the ceilings on tracked connections and held bytes.
#include "streams/connection_table.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "options.h"

namespace {

// What the view was told, as text: "open 1 c", "1c:bytes", "end 1c", "ended 1".
class RecordingView : public View {
 public:
  std::vector<std::string> log;

  DirectionSink* OpenDirection(uint32_t conn, bool c2s, bool midStream) override {
    log.push_back("open " + std::to_string(conn) + (c2s ? "c" : "s") + (midStream ? " mid" : ""));
    return new Sink(*this, std::to_string(conn) + (c2s ? "c" : "s"));
  }
  void CloseDirection(DirectionSink* sink) override { delete sink; }
  void ConnectionEnded(uint32_t conn) override { log.push_back("ended " + std::to_string(conn)); }

 private:
  struct Sink : DirectionSink {
    RecordingView& view;
    std::string name;
    Sink(RecordingView& v, std::string n) : view(v), name(std::move(n)) {}
    void Deliver(const StreamPiece& p) override {
      view.log.push_back(name + ":" + std::string(reinterpret_cast<const char*>(p.data), p.length) +
                         "@" + std::to_string(p.frame));
    }
    void Gap(const StreamPiece&) override { view.log.push_back(name + ":gap"); }
    void End(uint64_t frame) override {
      view.log.push_back("end " + name + "@" + std::to_string(frame));
    }
    size_t HeldBytes() const override { return 0; }
  };
};

struct Side {
  uint8_t ip;
  uint16_t port;
};

struct Fixture {
  Options options;
  RecordingView view;
  HostStats stats;
  std::unique_ptr<ConnectionTable> table;
  uint64_t frame = 0;
  std::vector<std::string> payloads;  // kept alive for the segments

  explicit Fixture(TableLimits limits = TableLimits(), bool reassemble = true) {
    options.ports = {5000};
    options.reassemble = reassemble;
    table.reset(new ConnectionTable(options, view, stats, limits));
  }
  void Seg(Side from, Side to, uint8_t flags, uint32_t seq, const std::string& payload = "",
           const ConnectionHint* hint = nullptr) {
    payloads.push_back(payload);
    TcpSegment s;
    s.ipVersion = 4;
    s.src[0] = 10;
    s.src[3] = from.ip;
    s.dst[0] = 10;
    s.dst[3] = to.ip;
    s.srcPort = from.port;
    s.dstPort = to.port;
    s.seq = seq;
    s.flags = flags;
    s.payload = reinterpret_cast<const uint8_t*>(payloads.back().data());
    s.payloadLength = s.wirePayloadLength = static_cast<uint32_t>(payload.size());
    table->Segment(s, ++frame, hint);
  }
  std::vector<std::string> Log() {
    std::vector<std::string> out;
    out.swap(view.log);
    return out;
  }
};

const Side kClient{1, 40000};
const Side kServer{2, 5000};
const std::string kLogin("\x02\x01\x00\x0a\x00\x00\x00\x00xy", 10);

using Log = std::vector<std::string>;

}  // namespace

TEST(ConnectionTable, HandshakeDataAndFinBothWaysEndTheConnection) {
  Fixture f;
  f.Seg(kClient, kServer, kTcpSyn, 100);
  f.Seg(kServer, kClient, kTcpSyn | kTcpAck, 900);
  f.Seg(kClient, kServer, kTcpAck | kTcpPsh, 101, "hello");
  f.Seg(kServer, kClient, kTcpAck | kTcpPsh, 901, "world");
  EXPECT_EQ(f.Log(), (Log{"open 1c", "open 1s", "1c:hello@3", "1s:world@4"}));
  f.Seg(kClient, kServer, kTcpFin | kTcpAck, 106);
  EXPECT_EQ(f.Log(), (Log{"end 1c@5"}));
  f.Seg(kServer, kClient, kTcpFin | kTcpAck, 906);
  EXPECT_EQ(f.Log(), (Log{"end 1s@6", "ended 1"}));
  EXPECT_EQ(f.table->tracked(), 0u);
  f.Seg(kClient, kServer, kTcpAck, 107);  // the last ACK: nothing to number
  EXPECT_EQ(f.table->tracked(), 0u);
  f.Seg(kClient, kServer, kTcpAck, 107, "again");  // payload on the same ports: a new one
  EXPECT_EQ(f.Log(), (Log{"open 2c mid", "open 2s mid", "2c:again@8"}));
  EXPECT_EQ(f.stats.tcpConnections, 2u);
}

TEST(ConnectionTable, RstInBothDirectionsEndsIt) {
  Fixture f;
  f.Seg(kClient, kServer, kTcpAck, 1, "a");
  f.Seg(kServer, kClient, kTcpRst, 5);
  EXPECT_EQ(f.table->tracked(), 1u) << "one side only";
  f.Seg(kClient, kServer, kTcpRst, 2);
  EXPECT_EQ(f.table->tracked(), 0u);
  EXPECT_EQ(f.Log().back(), "ended 1");
}

TEST(ConnectionTable, FinWaitsForTheBytesBeforeIt) {
  Fixture f;
  f.Seg(kClient, kServer, kTcpSyn, 0);
  f.Seg(kClient, kServer, kTcpAck, 3, "cd");      // early
  f.Seg(kClient, kServer, kTcpFin | kTcpAck, 5);  // FIN after "abcd"
  f.Seg(kServer, kClient, kTcpFin | kTcpAck, 77);
  EXPECT_EQ(f.table->tracked(), 1u);
  f.Seg(kClient, kServer, kTcpAck, 1, "ab");  // fills the gap: the client's stream is complete
  EXPECT_EQ(f.Log(),
            (Log{"open 1c", "open 1s", "end 1s@4", "1c:ab@5", "1c:cd@5", "end 1c@5", "ended 1"}));
}

TEST(ConnectionTable, SynOnTheSameAddressesStartsANewConnectionUnlessRepeated) {
  Fixture f;
  f.Seg(kClient, kServer, kTcpSyn, 100);
  f.Seg(kClient, kServer, kTcpSyn, 100);  // repeated
  f.Seg(kClient, kServer, kTcpAck, 101, "one");
  f.Seg(kClient, kServer, kTcpSyn, 5000);  // another first sequence number
  f.Seg(kClient, kServer, kTcpAck, 5001, "two");
  EXPECT_EQ(f.Log(), (Log{"open 1c", "open 1s", "1c:one@3", "end 1c@4", "end 1s@4", "ended 1",
                          "open 2c", "open 2s", "2c:two@5"}));
}

TEST(ConnectionTable, ClientSideBySynSynAckPortOrFirstPayload) {
  Fixture f;
  // SYN-ACK first: its receiver is the client.
  f.Seg(kServer, kClient, kTcpSyn | kTcpAck, 900);
  f.Seg(kServer, kClient, kTcpAck, 901, "s");
  // No handshake, the server speaks first: the side on the TDS port is the server.
  const Side c2{3, 40001};
  f.Seg(kServer, c2, kTcpAck, 10, "x");
  // Neither side on a TDS port, no handshake: the first payload's sender is the client, and
  // it opens with a login.
  const Side a{4, 6000}, b{5, 7000};
  f.Seg(b, a, kTcpAck, 10, kLogin);
  EXPECT_EQ(f.Log(), (Log{"open 1c", "open 1s", "1s:s@2", "open 2c mid", "open 2s mid", "2s:x@3",
                          "open 3c mid", "open 3s mid", "3c:" + kLogin + "@4"}));
}

TEST(ConnectionTable, OffTheTdsPortsOnlyALoginOpensTheConnection) {
  Fixture f;
  const Side c{1, 40000}, s{2, 4100};
  f.Seg(c, s, kTcpSyn, 0);
  f.Seg(s, c, kTcpSyn | kTcpAck, 50);
  f.Seg(s, c, kTcpAck, 51, "banner");  // the server first: not decided yet, not decoded
  f.Seg(c, s, kTcpAck, 1, kLogin);
  f.Seg(s, c, kTcpAck, 57, "answer");  // after the banner: the stream position was kept
  EXPECT_EQ(f.Log(), (Log{"open 1c", "open 1s", "1c:" + kLogin + "@4", "1s:answer@5"}));
  const Side c2{3, 40001};
  f.Seg(c2, s, kTcpAck, 1, "\x0f\x01\x00\x08\x00\x00\x00\x00");
  f.Seg(s, c2, kTcpAck, 1, "nothing");
  EXPECT_TRUE(f.Log().empty()) << "numbered but not decoded";
  EXPECT_EQ(f.stats.tcpConnections, 2u);
  EXPECT_EQ(f.stats.tdsConnections, 1u);
}

TEST(ConnectionTable, EndOfInputEndsEveryConnectionInNumberOrder) {
  Fixture f;
  f.Seg(kClient, kServer, kTcpAck, 1, "a");
  f.Seg(Side{3, 40001}, kServer, kTcpAck, 1, "b");
  f.Seg(kClient, kServer, kTcpAck, 2, "c");  // connection 1 used last
  f.Log();
  f.table->EndAll(9);
  EXPECT_EQ(f.Log(), (Log{"end 1c@9", "end 1s@9", "ended 1", "end 2c@9", "end 2s@9", "ended 2"}));
}

TEST(ConnectionTable, LeastRecentlyUsedIsEndedPastTheLimit) {
  // Connection 1 is used last, by its data or by an acknowledgement alone: connection 2 goes.
  for (const bool bareAck : {false, true}) {
    TableLimits limits;
    limits.maxConnections = 2;
    Fixture f(limits);
    f.Seg(Side{1, 40001}, kServer, kTcpAck, 1, "a");
    f.Seg(Side{2, 40002}, kServer, kTcpAck, 1, "b");
    if (bareAck)
      f.Seg(kServer, Side{1, 40001}, kTcpAck, 1);
    else
      f.Seg(Side{1, 40001}, kServer, kTcpAck, 2, "c");
    f.Log();
    f.Seg(Side{3, 40003}, kServer, kTcpAck, 1, "d");
    EXPECT_EQ(f.Log(),
              (Log{"open 3c mid", "open 3s mid", "3c:d@4", "end 2c@4", "end 2s@4", "ended 2"}))
        << (bareAck ? "bare acknowledgement" : "data");
    EXPECT_EQ(f.table->tracked(), 2u);
    EXPECT_EQ(f.stats.connectionsEvicted, 1u);
  }
}

TEST(ConnectionTable, HeldBytesPastTheCeilingCutTheConnectionHoldingTheMost) {
  TableLimits limits;
  limits.maxBufferedBytes = 10;
  Fixture f(limits);
  f.Seg(Side{4, 40004}, kServer, kTcpAck, 1, "i");  // idle, and the least recently used
  f.Seg(Side{1, 40001}, kServer, kTcpAck, 1, "a");
  f.Seg(Side{1, 40001}, kServer, kTcpAck, 100, "0123456789");  // 10 bytes wait for a gap
  EXPECT_EQ(f.table->bufferedBytes(), 10u);
  f.Seg(Side{2, 40002}, kServer, kTcpAck, 1, "b");
  f.Log();
  f.Seg(Side{2, 40002}, kServer, kTcpAck, 50, "cd");  // 12 held in all: connection 2 goes
  EXPECT_EQ(f.Log(), (Log{"2c:gap", "2c:0123456789@5", "end 2c@5", "end 2s@5", "ended 2"}));
  EXPECT_EQ(f.table->bufferedBytes(), 2u);
  EXPECT_EQ(f.table->tracked(), 2u);  // the idle connection stays
  EXPECT_EQ(f.stats.connectionsCut, 1u);
  EXPECT_EQ(f.stats.bytesCut, 10u);
  EXPECT_EQ(f.stats.connectionsEvicted, 0u);
}

TEST(ConnectionTable, WithoutReassemblyEverySegmentGoesOverAsItIs) {
  Fixture f(TableLimits(), false);
  f.Seg(kClient, kServer, kTcpAck, 10, "ab");
  f.Seg(kClient, kServer, kTcpAck, 10, "ab");
  f.Seg(kClient, kServer, kTcpAck, 5, "old");
  f.Seg(kClient, kServer, kTcpFin, 12);
  f.Seg(kServer, kClient, kTcpFin, 1);
  EXPECT_EQ(f.Log(), (Log{"open 1c mid", "open 1s mid", "1c:ab@1", "1c:ab@2", "1c:old@3",
                          "end 1c@4", "end 1s@5", "ended 1"}));
}

TEST(ConnectionTable, HintsNameConnectionAndDirection) {
  Fixture f;
  ConnectionHint hint;
  hint.number = 7;
  hint.clientToServer = false;
  f.Seg(Side{1, 41234}, Side{2, 1}, 0, 0, "\x0f", &hint);  // not a TDS port: the hint decides
  EXPECT_EQ(f.Log(), (Log{"open 7c", "open 7s", "7s:\x0f@1"}));
}

// The table's index against a map, with keys crowded into few home slots so that probes run
// long and deletions shift entries back across the end of the array.
namespace {
struct Item {
  uint32_t key;
};
struct ItemTraits {
  static size_t Hash(const uint32_t& k) { return ~size_t(0) - k % 7; }  // the last slots
  static const uint32_t& KeyOf(const Item& i) { return i.key; }
  static bool Same(const uint32_t& x, const uint32_t& y) { return x == y; }
};
}  // namespace

TEST(PointerIndex, FindsWhatAMapFindsThroughInsertsAndErases) {
  PointerIndex<Item, uint32_t, ItemTraits> index;
  std::map<uint32_t, std::unique_ptr<Item>> model;
  uint32_t state = 12345;
  for (int step = 0; step < 20000; ++step) {
    state = state * 1103515245u + 12345u;
    const uint32_t key = (state >> 16) % 200;
    auto it = model.find(key);
    if (it == model.end()) {
      auto item = std::make_unique<Item>(Item{key});
      index.Insert(item.get());
      model.emplace(key, std::move(item));
    } else {
      index.Erase(it->second.get());
      model.erase(it);
    }
    if (step % 97 == 0) {
      for (uint32_t k = 0; k < 200; ++k) {
        auto m = model.find(k);
        ASSERT_EQ(index.Find(k), m == model.end() ? nullptr : m->second.get()) << k;
      }
    }
  }
  EXPECT_EQ(index.size(), model.size());
}
