// Format records over long random conversations: filed, found, replaced, refused at the store's
// ceiling and released when connections end, through both entries of the built plug-in. Each
// block handed to a store must come back through its release callback exactly once.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "bytes.h"
#include "plugin_harness.h"

namespace {

struct Pool {
  std::vector<Bytes> formats;  // ROWFMT, ALTFMT, PARAMFMT
  std::vector<Bytes> data;     // ROW, ALTROW, PARAMS
  std::vector<Bytes> other;    // DONE, ENVCHANGE, EED and such
  Bytes login;
};

void Add(std::vector<Bytes>& to, const std::vector<Bytes>& tokens, size_t most) {
  for (size_t i = 0; i < tokens.size() && i < most; ++i) to.push_back(tokens[i]);
}

Pool MakePool() {
  Pool pool;
  const std::string language = UnitTestData("captures/tsql-language.pcap");
  const std::string rpc = UnitTestData("captures/ctlib-rpc.pcap");
  Add(pool.formats, TokensOf(language, 0xEE, false), 6);
  Add(pool.formats, TokensOf(language, 0xA8, false), 2);
  Add(pool.formats, TokensOf(rpc, 0xEC, true), 2);
  Add(pool.formats, TokensOf(rpc, 0xEC, false), 1);
  Add(pool.data, TokensOf(language, 0xD1, false), 8);
  Add(pool.data, TokensOf(language, 0xD3, false), 3);
  Add(pool.data, TokensOf(rpc, 0xD7, true), 2);
  Add(pool.other, TokensOf(language, 0xFD, false), 2);
  Add(pool.other, TokensOf(language, 0xE3, false), 2);
  for (const CapturedMessage& m : MessagesOf(language))
    if (m.type == 2 && pool.login.empty()) pool.login = m.data;
  return pool;
}

class Conversation {
 public:
  Conversation(const Pool& pool, FrameDriver& driver, uint32_t seed)
      : m_pool(pool), m_driver(driver), m_rng(seed) {}

  void Step() {
    const uint32_t conn = 1 + Pick(6);
    const bool c2s = Pick(2) == 0;
    const uint32_t op = Pick(100);
    if (op < 4) {
      m_driver.End(conn);
      ++m_ends;
      return;
    }
    if (op < 8) {
      Send(conn, true, m_pool.login, 2);
      return;
    }
    Bytes message;
    const uint32_t tokens = 1 + Pick(4);
    for (uint32_t i = 0; i < tokens; ++i) {
      const Bytes t = Token();
      message.insert(message.end(), t.begin(), t.end());
    }
    Send(conn, c2s, message, c2s ? 15 : 4);
  }

  uint64_t ends() const { return m_ends; }

 private:
  uint32_t Pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(m_rng); }

  Bytes Token() {
    const uint32_t kind = Pick(10);
    const std::vector<Bytes>& from =
        kind < 4 ? m_pool.formats : (kind < 8 ? m_pool.data : m_pool.other);
    Bytes t = from[Pick(static_cast<uint32_t>(from.size()))];
    const uint32_t change = Pick(10);
    if (t[0] == 0xA8 && t.size() >= 5 && change < 5) {
      // Another compute id: another key.
      t[3] = static_cast<uint8_t>(Pick(40));
    } else if (change == 5) {
      t.resize(1 + Pick(static_cast<uint32_t>(t.size())));
    } else if (change == 6) {
      t[Pick(static_cast<uint32_t>(t.size()))] = static_cast<uint8_t>(Pick(256));
    }
    return t;
  }

  void Send(uint32_t conn, bool c2s, const Bytes& data, int32_t type) {
    const uint16_t channel = static_cast<uint16_t>(Pick(3));
    if (Pick(2) == 0) {
      m_driver.Message(conn, c2s, data, type, channel);
      return;
    }
    // The packet entry decodes a packet's first token; long messages go as several packets.
    for (size_t at = 0; at < data.size(); at += 512) {
      const size_t n = data.size() - at < 512 ? data.size() - at : 512;
      Bytes part(data.begin() + static_cast<std::ptrdiff_t>(at),
                 data.begin() + static_cast<std::ptrdiff_t>(at + n));
      Bytes packet = TdsPacket(static_cast<uint8_t>(type), at + n == data.size() ? 1 : 0, part);
      packet[5] = static_cast<uint8_t>(channel);
      m_driver.Packet(conn, c2s, packet);
    }
  }

  const Pool& m_pool;
  FrameDriver& m_driver;
  std::mt19937 m_rng;
  uint64_t m_ends = 0;
};

class FormatLifetimeTest : public PluginTest {
 protected:
  static const Pool& ThePool() {
    static const Pool pool = MakePool();
    return pool;
  }

  // Runs a conversation and checks the ledger: what was handed over is all back, once each.
  void RunConversation(size_t maxBlocks, uint32_t seed, int steps) {
    const Pool& pool = ThePool();
    ASSERT_GE(pool.formats.size(), 8u);
    ASSERT_GE(pool.data.size(), 8u);
    ASSERT_FALSE(pool.login.empty());
    StoreLedger ledger;
    uint64_t releasedBeforeEnd = 0;
    {
      FrameDriver driver(maxBlocks);
      Conversation talk(pool, driver, seed);
      for (int i = 0; i < steps; ++i) {
        talk.Step();
        // Never more blocks held than six stores can keep.
        ASSERT_LE(ledger.live(), 6 * maxBlocks) << "step " << i;
      }
      releasedBeforeEnd = ledger.released();
      EXPECT_GT(talk.ends(), 100u);
      driver.EndAll();
      EXPECT_EQ(ledger.live(), 0u) << "blocks still held after every connection ended";
    }
    // The packet entry files a record per format token; the message entry one session per
    // connection.
    EXPECT_GT(ledger.handed(), static_cast<uint64_t>(steps) / 25);
    EXPECT_GT(releasedBeforeEnd, ledger.handed() / 2);  // replaced, refused, connections ended
    EXPECT_EQ(ledger.released(), ledger.handed());
    EXPECT_EQ(ledger.strays(), 0u);
  }
};

TEST_F(FormatLifetimeTest, EveryRecordIsReleasedOnceOverLongRandomConversations) {
  RunConversation(StoreRegistry::kDefaultMaxBlocks, 20240601u, 100000);
}

// A ceiling of a few blocks per connection: most new formats are refused and come back at once.
TEST_F(FormatLifetimeTest, RecordsRefusedAtTheStoreCeilingAreReleasedOnceToo) {
  RunConversation(3, 77u, 50000);
}

}  // namespace
