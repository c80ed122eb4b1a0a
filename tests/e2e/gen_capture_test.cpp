// The capture generator (tools/gen_capture): the same seed gives the same bytes, and what it
// writes is a well-formed capture that tdsdecode reads to its end, connection by connection.
#include <cstdlib>

#include "tdsdecode_runner.h"

namespace {

// gen_capture is built beside tdsdecode.
std::string GeneratorPath() {
  const std::string tdsdecode = TDSDECODE_PATH;
  return tdsdecode.substr(0, tdsdecode.rfind('/')) + "/gen_capture";
}

// Writes a capture of about `size` bytes and returns its path ("" when the generator failed).
std::string Generate(const std::string& size, int seed, const std::string& tag) {
  const std::string path = TempName("gen_capture." + tag + ".pcap");
  const std::string command = "'" + GeneratorPath() + "' --size " + size + " --seed " +
                              std::to_string(seed) + " -o '" + path + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return "";
  return path;
}

int Count(const nlohmann::json& list, int code) {
  for (const auto& row : list)
    if (row["code"] == code) return row["count"].get<int>();
  return 0;
}

}  // namespace

TEST(GenCapture, SameSeedSameBytesAndAWellFormedCapture) {
  const std::string a = Generate("400K", 7, "a");
  const std::string b = Generate("400K", 7, "b");
  const std::string c = Generate("400K", 8, "c");
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  ASSERT_FALSE(c.empty());
  const std::string bytes = ReadFile(a);
  EXPECT_EQ(bytes, ReadFile(b));
  EXPECT_NE(bytes, ReadFile(c));
  // Stops opening connections at the size asked for; the open ones finish their commands.
  EXPECT_GE(bytes.size(), 400000u);

  // Classic pcap, microseconds, Ethernet; every record's lengths agree and fill the file.
  ASSERT_GE(bytes.size(), 24u);
  EXPECT_EQ(Le32At(bytes, 0), 0xA1B2C3D4u);
  EXPECT_EQ(Le32At(bytes, 20), 1u);
  size_t at = 24;
  int records = 0;
  while (at + 16 <= bytes.size()) {
    const uint32_t caplen = Le32At(bytes, at + 8);
    EXPECT_EQ(caplen, Le32At(bytes, at + 12));
    at += 16 + caplen;
    ++records;
  }
  EXPECT_EQ(at, bytes.size());

  // Every connection is TDS on port 5000, opened with a login; the streams have no gaps,
  // reorderings or retransmissions, and every connection closes before the end.
  const RunResult r = RunTdsdecode({"--view", "packet", "--stats", "-o", "json", a});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_FALSE(r.frames.empty());
  const nlohmann::json& stats = r.frames.back()["stats"];
  EXPECT_EQ(stats["frames_read"], records);
  const int connections = stats["tcp_connections"].get<int>();
  EXPECT_GE(connections, 32);
  EXPECT_EQ(stats["connections"], connections);
  EXPECT_GE(Count(stats["message_types"], 2), connections);
  EXPECT_GT(Count(stats["message_types"], 4), 0);
  EXPECT_GT(Count(stats["message_types"], 15), 0);
  // One logout per connection, but for the few whose login the server refused.
  EXPECT_LE(Count(stats["first_tokens"], 0x71), connections);
  EXPECT_GE(Count(stats["first_tokens"], 0x71), connections * 9 / 10);
  EXPECT_EQ(stats["gaps"], 0);
  EXPECT_EQ(stats["out_of_order_segments"], 0);
  EXPECT_EQ(stats["retransmitted_bytes"], 0);
  EXPECT_EQ(stats["held_bytes_at_end"], 0);
  EXPECT_EQ(stats["connections_evicted"], 0);

  std::remove(a.c_str());
  std::remove(b.c_str());
  std::remove(c.c_str());
}
