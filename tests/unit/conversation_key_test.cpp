// The conversation key, and the filing, finding and release of format records in a store.
#include "store/conversation_key.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "entry/packet_state.h"
#include "store/format_record.h"
#include "tdsengine/store.h"

namespace {

// Every block handed to the store, and every call of a release callback, by block text.
std::map<std::string, int> g_handed;
std::map<std::string, int> g_released;

void Handed(const SimBlockTag& block, SimReleaseFn) {
  ++g_handed[block.text];
}
void Released(const SimBlockTag& block, SimReleaseFn) {
  ++g_released[block.text];
}

const StoreWatch kWatch{Handed, Released};

int Sum(const std::map<std::string, int>& counts) {
  int sum = 0;
  for (const auto& kv : counts) sum += kv.second;
  return sum;
}

}  // namespace

namespace {

// Ethernet addresses, the Ethernet type and the first bytes of IPv4.
const uint8_t kFrame[16] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00,
                            0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x45, 0x00};

class ConversationKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FrameBase = kFrame;
    SetCurrentFrame(kFrame, kFrame + sizeof(kFrame));
    PacketChannel = 0;
    SetCurrentStore(&store_);
  }
  void TearDown() override {
    store_.Clear();
    SetCurrentStore(nullptr);
    SetCurrentFrame(nullptr, nullptr);
  }

  static FormatRecord* Record(std::initializer_list<uint8_t> codes) {
    FormatRecord* record = NewFormatRecord(static_cast<int32_t>(codes.size()));
    for (uint8_t code : codes) AppendFormatType(record, code);
    return record;
  }

  ConversationStore store_{64};
};

TEST_F(ConversationKeyTest, KeyIsTheFrameWordsXoredWithChannelOrKindAndExtra) {
  const uint32_t words = 0x02000000u ^ 0x00020200u ^ 0x00000001u;
  EXPECT_EQ(ConversationKey(0xD1, 0), words ^ 0xD1u);
  EXPECT_EQ(ConversationKey(0xA8, 3), words ^ 0xA8u ^ 3u);
  // The extra value is sign-extended.
  EXPECT_EQ(ConversationKey(0xA8, -1), words ^ 0xA8u ^ 0xFFFFFFFFu);

  // The OR with an odd kind absorbs channel bit 0.
  PacketChannel = 1;
  EXPECT_EQ(ConversationKey(0xD1, 0), words ^ 0xD1u);
  PacketChannel = 2;
  EXPECT_EQ(ConversationKey(0xD1, 0), words ^ 0xD3u);
  PacketChannel = -1;
  EXPECT_EQ(ConversationKey(0xD1, 0), words ^ 0xFFFFFFFFu);
}

TEST_F(ConversationKeyTest, KeyDependsOnTheFirstTwelveBytesOnly) {
  uint8_t other[16];
  std::memcpy(other, kFrame, sizeof(other));
  const uint32_t key = ConversationKey(0xEC, 0);
  other[15] = 0x99;
  FrameBase = other;
  SetCurrentFrame(other, other + sizeof(other));
  EXPECT_EQ(ConversationKey(0xEC, 0), key);
  other[11] = 0x07;  // the other direction's addresses
  EXPECT_NE(ConversationKey(0xEC, 0), key);
}

TEST_F(ConversationKeyTest, FiledRecordIsFoundUnderItsKeyOnly) {
  const uint32_t rowKey = ConversationKey(0xD1, 0);
  FileFormatRecord(rowKey, Record({0x38, 0x27, 0xAF}));
  const FormatRecord* found = FindFormatRecord(rowKey);
  ASSERT_NE(found, nullptr);
  ASSERT_EQ(found->count, 3);
  EXPECT_EQ(found->types[0], 0x38);
  EXPECT_EQ(found->types[2], 0xAF);
  EXPECT_EQ(found->types[3], 0);
  EXPECT_EQ(FindFormatRecord(ConversationKey(0xCA, 0)), nullptr);

  // The block carries the record's index as decimal text.
  SimBlockTag block{};
  ASSERT_TRUE(SimFindInfo(TdsInfoKind, rowKey, &block, 1));
  EXPECT_EQ(block.kind, TdsInfoKind);
  char* end = nullptr;
  std::strtol(block.text, &end, 10);
  EXPECT_NE(end, block.text);
  EXPECT_EQ(*end, '\0');
}

TEST_F(ConversationKeyTest, ComputeFormatsAreKeptPerComputeId) {
  FileFormatRecord(ConversationKey(0xA8, 1), Record({0x26}));
  FileFormatRecord(ConversationKey(0xA8, 2), Record({0x38, 0x38}));
  const FormatRecord* one = FindFormatRecord(ConversationKey(0xA8, 1));
  const FormatRecord* two = FindFormatRecord(ConversationKey(0xA8, 2));
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(one->count, 1);
  EXPECT_EQ(two->count, 2);
  EXPECT_EQ(FindFormatRecord(ConversationKey(0xA8, 3)), nullptr);
}

TEST_F(ConversationKeyTest, EveryRecordIsReleasedExactlyOnce) {
  g_handed.clear();
  g_released.clear();
  SetStoreWatch(&kWatch);
  const uint32_t key = ConversationKey(0xD1, 0);

  // A format token deletes the older block before it files its own.
  FileFormatRecord(key, Record({0x38}));
  DeleteFormatRecord(key);
  EXPECT_EQ(Sum(g_released), 1);
  EXPECT_EQ(FindFormatRecord(key), nullptr);
  DeleteFormatRecord(key);
  EXPECT_EQ(Sum(g_released), 1);

  FileFormatRecord(key, Record({0x27}));
  DeleteFormatRecord(key);
  FileFormatRecord(key, Record({0x3D, 0x3D}));
  EXPECT_EQ(Sum(g_released), 2);
  ASSERT_NE(FindFormatRecord(key), nullptr);
  EXPECT_EQ(FindFormatRecord(key)->count, 2);
  // A released record gives its slot back: the next record reuses the index.
  EXPECT_EQ(g_handed.size(), 1u);

  // Filing again under a live key replaces the block; the store releases the older one.
  FileFormatRecord(key, Record({0x30}));
  EXPECT_EQ(Sum(g_released), 3);
  FileFormatRecord(ConversationKey(0xCA, 0), Record({}));

  // The end of the connection releases what is left, once each.
  store_.Clear();
  SetStoreWatch(nullptr);
  EXPECT_EQ(Sum(g_handed), 5);
  EXPECT_EQ(g_released, g_handed);
  EXPECT_EQ(FindFormatRecord(key), nullptr);
}

TEST_F(ConversationKeyTest, WithoutAStoreTheRecordIsReleasedAtOnce) {
  g_handed.clear();
  g_released.clear();
  SetStoreWatch(&kWatch);
  SetCurrentStore(nullptr);
  FileFormatRecord(ConversationKey(0xD1, 0), Record({0x38}));
  SetStoreWatch(nullptr);
  EXPECT_EQ(Sum(g_released), 1);
  EXPECT_EQ(FindFormatRecord(ConversationKey(0xD1, 0)), nullptr);
}

}  // namespace
