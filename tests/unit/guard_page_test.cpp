// Out-of-frame reads made visible: every frame is placed so that its last byte is the last
// readable byte before a PROT_NONE page, so a decoder that reads one byte too far faults here
// instead of reading a neighbour's memory unnoticed. Every token type byte (0 to 255), with
// bodies of several shapes and the real tokens of the captures, is cut at many points and
// decoded through both entries, in both byte orders.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "plugin_harness.h"

namespace {

// A region whose end touches a guard page.
class GuardedArea {
 public:
  explicit GuardedArea(size_t capacity) {
    m_page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    m_usable = (capacity + m_page - 1) / m_page * m_page;
    void* p = mmap(nullptr, m_usable + m_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                   -1, 0);
    if (p == MAP_FAILED) return;
    m_base = static_cast<uint8_t*>(p);
    if (mprotect(m_base + m_usable, m_page, PROT_NONE) != 0) {
      munmap(m_base, m_usable + m_page);
      m_base = nullptr;
    }
  }
  ~GuardedArea() {
    if (m_base) munmap(m_base, m_usable + m_page);
  }
  bool ok() const { return m_base != nullptr; }

  // The bytes copied so that the last of them lies just before the guard page.
  const uint8_t* Place(const std::vector<uint8_t>& bytes) {
    uint8_t* at = m_base + m_usable - bytes.size();
    std::memcpy(at, bytes.data(), bytes.size());
    return at;
  }

 private:
  uint8_t* m_base = nullptr;
  size_t m_page = 0;
  size_t m_usable = 0;
};

struct Sample {
  std::string origin;
  int32_t messageType;  // for the message entry; the packet entry uses it as the header's type
  bool clientToServer;
  std::vector<uint8_t> bytes;                 // the token (or message data) to be cut
  std::vector<std::vector<uint8_t>> formats;  // tokens decoded whole before it
};

// Cut points: every length for short samples, the first bytes and a spread for long ones.
std::vector<size_t> Cuts(size_t n) {
  std::vector<size_t> cuts;
  if (n <= 96) {
    for (size_t k = 1; k <= n; ++k) cuts.push_back(k);
    return cuts;
  }
  for (size_t k = 1; k <= 64; ++k) cuts.push_back(k);
  const size_t step = (n - 64) / 48 + 1;
  for (size_t k = 64 + step; k < n - 4; k += step) cuts.push_back(k);
  for (size_t k = n - 4; k <= n; ++k) cuts.push_back(k);
  return cuts;
}

bool IsFormat(uint8_t token) {
  return token == 0xEE || token == 0xEC || token == 0xA8 || token == 0xA7 || token == 0x61;
}

bool IsData(uint8_t token) {
  return token == 0xD1 || token == 0xCA || token == 0xD7 || token == 0xD3;
}

int32_t TokenMessageType(bool clientToServer) {
  return clientToServer ? 15 : 4;
}

// The real tokens of the captures, a few of each type, each with the formats its direction
// had filed when it came; and each capture's login message.
struct RealSamples {
  std::vector<Sample> tokens;
  std::vector<Sample> logins;
  std::vector<uint8_t> loginData;  // a little-endian login, to set the connection's order
  std::map<uint8_t, std::vector<uint8_t>> anyFormat;  // a format of each format token type
};

RealSamples CollectReal() {
  static const char* const kCaptures[] = {
      "captures/tsql-language.pcap", "captures/ctlib-rpc.pcap",     "captures/ctlib-dynamic.pcap",
      "captures/ctlib-cursor.pcap",  "captures/ctlib-options.pcap", "captures/dblib-rpc.pcap",
      "captures/freebcp-out.pcap",   "captures/freebcp-in.pcap",    "captures/tsql-loginfail.pcap",
      "captures/tds5.pcap",
  };
  constexpr size_t kPerType = 6;
  constexpr size_t kLongest = 2048;
  RealSamples real;
  std::map<uint8_t, size_t> perType;
  uint32_t conn = 1000;
  for (const char* name : kCaptures) {
    const std::vector<CapturedMessage> messages = MessagesOf(UnitTestData(name));
    FrameDriver driver;
    // Formats filed so far, by direction, then by token type and compute id.
    std::map<std::vector<uint8_t>, std::vector<uint8_t>> formats[2];
    ++conn;
    for (const CapturedMessage& m : messages) {
      if (m.type == 2) {
        real.logins.push_back(Sample{name, 2, m.clientToServer, m.data, {}});
        if (real.loginData.empty()) real.loginData = m.data;
      }
      TdsMessageWalk walk{};
      driver.Message(conn, m.clientToServer, m.data, m.type, m.channel, &walk);
      if (m.type != 4 && m.type != 15 && m.type != 16) continue;
      const int dir = m.clientToServer ? 0 : 1;
      for (const PacketRecord& p : driver.tree().packets()) {
        if (p.token < 0 || p.spanOffset < 0 || p.spanSize <= 0) continue;
        const auto begin = m.data.begin() + p.spanOffset;
        std::vector<uint8_t> token(begin, begin + p.spanSize);
        const uint8_t type = static_cast<uint8_t>(p.token);
        if (IsFormat(type)) {
          // ALTFMT keeps one per compute id: the id follows the 2-byte length.
          std::vector<uint8_t> key{type};
          if (type == 0xA8 && token.size() >= 5) key.insert(key.end(), begin + 3, begin + 5);
          formats[dir][key] = token;
          real.anyFormat.emplace(type, token);
        }
        if (token.size() > kLongest || perType[type] >= kPerType) continue;
        ++perType[type];
        Sample s{name, TokenMessageType(m.clientToServer), m.clientToServer, token, {}};
        if (IsData(type))
          for (const auto& f : formats[dir]) s.formats.push_back(f.second);
        real.tokens.push_back(std::move(s));
      }
    }
    driver.EndAll();
  }
  return real;
}

void PutLength(std::vector<uint8_t>& out, size_t width, bool msbFirst, size_t value) {
  for (size_t i = 0; i < width; ++i) {
    const size_t shift = 8 * (msbFirst ? width - 1 - i : i);
    out.push_back(static_cast<uint8_t>(value >> shift));
  }
}

// Bodies of several shapes for every token type: length fields of 1, 2 and 4 bytes in either
// order stating the body that follows, with ascending, 0xFF-filled and pseudo-random bodies.
std::vector<Sample> Synthetic(const RealSamples& real) {
  struct Prefix {
    size_t width;
    bool msbFirst;
  };
  static const Prefix kPrefixes[] = {{1, false}, {2, false}, {2, true}, {4, false}};
  std::vector<Sample> samples;
  uint32_t seed = 0x2545F491u;
  for (int t = 0; t < 256; ++t) {
    std::vector<std::vector<uint8_t>> bodies;
    bodies.push_back({1, 2, 3, 4, 5, 6});
    bodies.push_back(std::vector<uint8_t>(40, 0xFF));
    std::vector<uint8_t> noise(120);
    for (uint8_t& b : noise) {
      seed = seed * 1664525u + 1013904223u;
      b = static_cast<uint8_t>(seed >> 24);
    }
    bodies.push_back(noise);
    for (const Prefix& prefix : kPrefixes) {
      for (const std::vector<uint8_t>& body : bodies) {
        Sample s{"synthetic", TokenMessageType(false), false, {static_cast<uint8_t>(t)}, {}};
        PutLength(s.bytes, prefix.width, prefix.msbFirst, body.size());
        s.bytes.insert(s.bytes.end(), body.begin(), body.end());
        if (IsData(static_cast<uint8_t>(t)))
          for (const auto& f : real.anyFormat) s.formats.push_back(f.second);
        samples.push_back(std::move(s));
      }
    }
  }
  return samples;
}

class GuardPageTest : public PluginTest {
 protected:
  // Decodes the sample cut at every point through both entries (and the packet entry with the
  // header's length stating the whole sample as well as the cut), on a fresh connection.
  void Run(const Sample& s, bool lsbFirst) {
    const uint32_t conn = ++m_conn;
    if (lsbFirst) m_driver.Message(conn, true, m_real.loginData, 2);
    for (const std::vector<uint8_t>& f : s.formats)
      m_driver.Message(conn, s.clientToServer, f, TokenMessageType(s.clientToServer));
    const size_t n = s.bytes.size();
    for (size_t k : Cuts(n)) {
      const std::vector<uint8_t> block = WithEthernet(s.clientToServer, s.bytes.data(), k);
      const uint8_t* at = m_area.Place(block);
      TdsMessageWalk walk{};
      m_driver.Message(conn, at, block.size(), s.messageType, 0, &walk);
      Check(s, k, "message entry", walk.restOffset + walk.restSize <= static_cast<int32_t>(k));

      const std::vector<uint8_t> cut(s.bytes.begin(),
                                     s.bytes.begin() + static_cast<std::ptrdiff_t>(k));
      for (const int32_t stated : {static_cast<int32_t>(n + 8), static_cast<int32_t>(k + 8)}) {
        const std::vector<uint8_t> packet = TdsPacket(static_cast<uint8_t>(s.messageType), 1, cut,
                                                      stated > 0xFFFF ? 0xFFFF : stated);
        const std::vector<uint8_t> frame = WithEthernet(s.clientToServer, packet);
        m_driver.Packet(conn, m_area.Place(frame), frame.size());
        Check(s, k, "packet entry", true);
      }
    }
    m_driver.End(conn);
  }

  void Check(const Sample& s, size_t cut, const char* entry, bool walkInRange) {
    ++m_decodes;
    m_driver.RenderDiscarded();
    if (m_driver.FieldsInFrame() && walkInRange) return;
    if (m_failures++ == 0) {
      char first[16];
      std::snprintf(first, sizeof(first), "%02x", s.bytes.empty() ? 0 : s.bytes[0]);
      m_first = std::string(entry) + ": sample " + first + " from " + s.origin + " cut at " +
                std::to_string(cut);
    }
  }

  static const RealSamples& Real() {
    static const RealSamples real = CollectReal();
    return real;
  }

  const RealSamples& m_real = Real();
  GuardedArea m_area{70000};
  FrameDriver m_driver;
  uint32_t m_conn = 0;
  uint64_t m_decodes = 0;
  uint64_t m_failures = 0;
  std::string m_first;
};

TEST_F(GuardPageTest, EveryTokenTypeCutAnywhereStaysInsideItsFrame) {
  ASSERT_TRUE(m_area.ok());
  ASSERT_FALSE(m_real.loginData.empty());
  StoreLedger ledger;
  const std::vector<Sample> synthetic = Synthetic(m_real);
  ASSERT_EQ(synthetic.size(), 256u * 12u);
  for (const Sample& s : synthetic) Run(s, s.bytes.size() % 2 == 0);
  std::map<uint8_t, int> realTypes;
  for (const Sample& s : m_real.tokens) {
    ++realTypes[s.bytes[0]];
    Run(s, false);
    Run(s, true);
  }
  // The captures bring about thirty token types; each of them was taken.
  EXPECT_GE(realTypes.size(), 25u);
  m_driver.EndAll();
  EXPECT_EQ(m_failures, 0u) << "first: " << m_first;
  EXPECT_GT(m_decodes, 100000u);
  EXPECT_EQ(ledger.live(), 0u);
  EXPECT_EQ(ledger.strays(), 0u);
}

// The login record through both entries, and the packet types that carry no tokens.
TEST_F(GuardPageTest, LoginsAndOtherMessageTypesCutAnywhereStayInsideTheirFrames) {
  ASSERT_TRUE(m_area.ok());
  ASSERT_FALSE(m_real.logins.empty());
  StoreLedger ledger;
  for (const Sample& s : m_real.logins) Run(s, false);
  std::vector<uint8_t> noise(48);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 37 + 11);
  for (const int32_t type : {0, 1, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 255})
    Run(Sample{"synthetic", type, true, noise, {}}, false);
  m_driver.EndAll();
  EXPECT_EQ(m_failures, 0u) << "first: " << m_first;
  EXPECT_EQ(ledger.live(), 0u);
  EXPECT_EQ(ledger.strays(), 0u);
}

}  // namespace
