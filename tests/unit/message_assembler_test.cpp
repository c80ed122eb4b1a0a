// Assembly of TDS packets into messages: packets joined at the last-buffer bit whatever the
// segment boundaries, and what is held handed over cut short at a gap, at the end and past
// the ceiling.
#include "streams/message_assembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes.h"
#include "plugin_harness.h"

namespace {

struct Seen {
  std::string data;
  uint8_t type;
  uint16_t channel;
  uint32_t packets;
  uint64_t lastFrame;
  MessageCut cut;
  std::string header;  // the bytes of the block before the data
};

class Collect : public MessageAssembler::Consumer {
 public:
  void Message(const AssembledMessage& m) override {
    seen.push_back({std::string(reinterpret_cast<const char*>(m.data), m.length), m.type, m.channel,
                    m.packets, m.lastFrame, m.cut,
                    std::string(reinterpret_cast<const char*>(m.block), kEthernetHeader)});
    EXPECT_EQ(m.data, m.block + kEthernetHeader);
  }
  std::vector<Seen> seen;
};

// A packet: type, status, channel 0x0102, then the body.
std::vector<uint8_t> Packet(uint8_t type, uint8_t status, const std::string& body) {
  std::vector<uint8_t> p = TdsPacket(type, status, std::vector<uint8_t>(body.begin(), body.end()));
  p[4] = 0x01;
  p[5] = 0x02;
  return p;
}

void Feed(MessageAssembler& a, const std::vector<uint8_t>& bytes, size_t from, size_t to,
          uint64_t frame, Collect& c) {
  a.Feed(bytes.data() + from, to - from, frame, c);
}

}  // namespace

TEST(MessageAssembler, JoinsPacketsAtTheLastBufferBitAcrossSegmentBoundaries) {
  AssemblerCounters counts;
  MessageAssembler a(false, counts);
  Collect c;
  // Message 1: two packets, the second's header split between segments; message 2: one
  // packet of another type in the same segment as the end of message 1.
  const std::vector<uint8_t> bytes =
      Cat({Packet(4, 0, "abc"), Packet(15, 1, "de"), Packet(6, 1, "")});
  Feed(a, bytes, 0, 13, 1, c);  // the first packet and two header bytes of the second
  EXPECT_TRUE(c.seen.empty());
  Feed(a, bytes, 13, bytes.size(), 2, c);
  ASSERT_EQ(c.seen.size(), 2u);
  EXPECT_EQ(c.seen[0].data, "abcde");
  EXPECT_EQ(c.seen[0].type, 4);  // the first packet's type
  EXPECT_EQ(c.seen[0].channel, 0x0102);
  EXPECT_EQ(c.seen[0].packets, 2u);
  EXPECT_EQ(c.seen[0].lastFrame, 2u);
  EXPECT_EQ(c.seen[0].cut, MessageCut::kNone);
  EXPECT_EQ(c.seen[0].header, std::string(kEthernetHeader, '\0'));
  // An attention: a header alone is a message without data.
  EXPECT_EQ(c.seen[1].data, "");
  EXPECT_EQ(c.seen[1].type, 6);
  EXPECT_EQ(c.seen[1].packets, 1u);
  EXPECT_EQ(a.counters().packets, 3u);
  EXPECT_EQ(a.counters().packetsPerType[4], 1u);
}

TEST(MessageAssembler, HandsOverCutShortAtGapsEndAndCeiling) {
  {
    // Past the ceiling the held data goes out cut short, the rest of that message is passed
    // over, and the next message is whole again.
    AssemblerCounters counts;
    MessageAssembler a(false, counts, 10);
    Collect c;
    const std::vector<uint8_t> bytes = Cat({Packet(4, 0, "11111111"), Packet(4, 0, "22222222"),
                                            Packet(4, 1, "33333333"), Packet(4, 1, "44")});
    Feed(a, bytes, 0, bytes.size(), 7, c);
    ASSERT_EQ(c.seen.size(), 2u);
    EXPECT_EQ(c.seen[0].data, "1111111122222222");
    EXPECT_EQ(c.seen[0].cut, MessageCut::kCeiling);
    EXPECT_EQ(a.counters().bytesPassedOver, 8u);
    EXPECT_EQ(c.seen[1].data, "44");
    EXPECT_EQ(c.seen[1].cut, MessageCut::kNone);
  }
  {
    // A gap: the open message and the held part of a packet go out cut short; bytes that do
    // not start a packet are passed over; the next message may lack its start.
    AssemblerCounters counts;
    MessageAssembler a(false, counts);
    Collect c;
    const std::vector<uint8_t> first = Cat({Packet(4, 0, "ab"), Packet(4, 1, "cdef")});
    Feed(a, first, 0, first.size() - 2, 1, c);
    a.Gap(2, c);
    ASSERT_EQ(c.seen.size(), 1u);
    EXPECT_EQ(c.seen[0].data, "abcd");
    EXPECT_EQ(c.seen[0].packets, 2u);
    EXPECT_EQ(c.seen[0].cut, MessageCut::kGap);
    EXPECT_EQ(c.seen[0].lastFrame, 2u);
    const std::string junk = "zzzzzzzzzz";
    a.Feed(reinterpret_cast<const uint8_t*>(junk.data()), junk.size(), 3, c);
    EXPECT_EQ(a.counters().bytesPassedOver, junk.size());
    const std::vector<uint8_t> next = Packet(4, 1, "gh");
    Feed(a, next, 0, next.size(), 4, c);
    ASSERT_EQ(c.seen.size(), 2u);
    EXPECT_EQ(c.seen[1].data, "gh");
    EXPECT_EQ(c.seen[1].cut, MessageCut::kLostStart);
  }
  {
    // The end of the stream inside a message, and a stream joined midway.
    AssemblerCounters counts;
    MessageAssembler a(true, counts);
    Collect c;
    const std::vector<uint8_t> bytes = Cat({Packet(4, 1, "xy"), Packet(4, 0, "zz")});
    Feed(a, bytes, 0, bytes.size(), 1, c);
    a.End(5, c);
    ASSERT_EQ(c.seen.size(), 2u);
    EXPECT_EQ(c.seen[0].cut, MessageCut::kJoinedMidway);
    EXPECT_EQ(c.seen[1].data, "zz");
    EXPECT_EQ(c.seen[1].cut, MessageCut::kEnd);
    EXPECT_EQ(c.seen[1].lastFrame, 5u);
  }
}
