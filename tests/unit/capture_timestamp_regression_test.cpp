// Regression (found by capture_fuzzer): a pcapng record timestamp far in the future made the
// capture reader's seconds-to-microseconds product overflow a signed 64-bit integer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "input/capture_reader.h"

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

// Section header, an Ethernet interface (microsecond timestamps), and one enhanced packet
// block per timestamp, each with a 14-byte frame.
std::vector<uint8_t> Pcapng(const std::vector<uint64_t>& timestamps) {
  std::vector<uint8_t> f;
  Put32(f, 0x0A0D0D0A);  // section header block
  Put32(f, 28);
  Put32(f, 0x1A2B3C4D);
  Put16(f, 1);
  Put16(f, 0);
  Put32(f, 0xFFFFFFFF);  // section length unknown
  Put32(f, 0xFFFFFFFF);
  Put32(f, 28);
  Put32(f, 1);  // interface description block
  Put32(f, 20);
  Put16(f, 1);  // Ethernet
  Put16(f, 0);
  Put32(f, 65535);
  Put32(f, 20);
  for (uint64_t ts : timestamps) {
    Put32(f, 6);  // enhanced packet block
    Put32(f, 48);
    Put32(f, 0);  // interface 0
    Put32(f, static_cast<uint32_t>(ts >> 32));
    Put32(f, static_cast<uint32_t>(ts));
    Put32(f, 14);                                              // captured
    Put32(f, 14);                                              // on the wire
    for (int i = 0; i < 16; ++i) f.push_back(i < 12 ? 2 : 0);  // 14 bytes, padded to 16
    Put32(f, 48);
  }
  return f;
}

std::string WriteTemp(const std::vector<uint8_t>& bytes) {
  char path[] = "/tmp/tdsdecode-timestamp-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return std::string();
  const bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  close(fd);
  return ok ? path : std::string();
}

TEST(CaptureReaderRegression, PcapngTimestampFarInTheFutureOverflowedMicroseconds) {
  const uint64_t farFuture = 0xFFFFFFF000000000ull;  // about 585,000 years, in microseconds
  const uint64_t ordinary = 1700000000123456ull;     // 2023-11-14T22:13:20.123456Z
  const std::string path = WriteTemp(Pcapng({farFuture, ordinary}));
  ASSERT_FALSE(path.empty());
  std::string error;
  std::unique_ptr<CaptureSource> source = CaptureSource::Open(path, error);
  ASSERT_TRUE(source) << error;

  InputFrame frame;
  ASSERT_TRUE(source->Next(frame));
  EXPECT_EQ(frame.captured, 14u);
  // Held at the reader's limit of seconds, not wrapped round to a negative time.
  EXPECT_GT(frame.timeUs, int64_t(1) << 59);
  EXPECT_LT(frame.timeUs, (int64_t(1) << 40) * 1000000 + 1000000);

  ASSERT_TRUE(source->Next(frame));
  EXPECT_EQ(frame.timeUs, static_cast<int64_t>(ordinary));
  EXPECT_FALSE(source->Next(frame));
  EXPECT_TRUE(source->error().empty()) << source->error();
  std::remove(path.c_str());
}

}  // namespace
