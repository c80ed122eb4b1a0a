// Engine rules that read clearer alone: value holders, table lookup, field output and refusal,
// field values and bit tables, and the conversation store's release accounting.
#include "tdsengine/engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tdsengine/display_tree.h"
#include "tdsengine/field_value.h"
#include "tdsengine/store.h"

namespace {

struct Frame {
  explicit Frame(std::vector<uint8_t> b) : bytes(std::move(b)) {
    tree.BeginFrame(bytes.data(), bytes.size(), bytes.data());
  }
  std::vector<uint8_t> bytes;
  DisplayTree tree;
};

FieldRecord Field(const std::vector<uint8_t>& bytes, FIELD_FORMAT format, bool msbFirst,
                  const CPICodeTable* table = nullptr, int32_t rows = 0,
                  uint32_t mask = 0xFFFFFFFF) {
  FieldRecord f{};
  f.label = "x";
  f.data = bytes.data();
  f.size = static_cast<int32_t>(bytes.size());
  f.format = format;
  f.table = table;
  f.rows = rows;
  f.mask = mask;
  f.msbFirst = msbFirst;
  return f;
}

std::vector<std::string> Bits(const FieldRecord& f) {
  std::vector<std::string> out;
  ForEachBitText(f, [&](const char* text) { out.emplace_back(text); });
  return out;
}

}  // namespace

TEST(ValueHolder, SizesOrdersAndFrameBounds) {
  Frame frame({0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc});
  CPIInteger h;
  h.set(frame.bytes.data(), 2, BO_MSB_FIRST);
  EXPECT_EQ(h.get(), 0x1234);
  h.set(frame.bytes.data(), 2, BO_LSB_FIRST);
  EXPECT_EQ(h.get(), 0x3412);
  h.set(frame.bytes.data(), 0, BO_MSB_FIRST);
  EXPECT_EQ(h.get(), 0);
  h.set(frame.bytes.data(), 6, BO_MSB_FIRST);
  EXPECT_EQ(h.get(), 0x7fffffff);
  // Bytes past the frame's end read as zero.
  h.set(frame.bytes.data() + 4, 4, BO_MSB_FIRST);
  EXPECT_EQ(static_cast<uint32_t>(h.get()), 0x9abc0000u);
  h.free();
}

TEST(CodeTables, FirstMatchingRowElseTheFinalRow) {
  static const CPICodeTable table[] = {
      {1, 1, "one"}, {0xFE, 0xFF, "range"}, {1, 5, "late"}, {0, 0, "Unknown"}};
  EXPECT_EQ(PIgetInterpretationString(1, 1, 4, table), 0);
  EXPECT_EQ(PIgetInterpretationString(1, 0xFF, 4, table), 1);
  EXPECT_EQ(PIgetInterpretationString(1, 3, 4, table), 2);
  EXPECT_EQ(PIgetInterpretationString(1, 0, 4, table), 3);
  EXPECT_EQ(PIgetInterpretationString(1, 99, 4, table), 3);
  EXPECT_LT(PIgetInterpretationString(1, 1, 0, nullptr), 0);
}

TEST(FieldOutput, AcceptsWithinTheCountAndRefusesOtherwise) {
  Frame frame({1, 2, 3, 4});
  CPDecode decode(&frame.tree);
  CParser parser(frame.bytes.data(), frame.bytes.data(), "t", 183, 1);
  PIOutputTitleToCPDecode("T", "Test", &decode, parser);
  const uint8_t* cursor = frame.bytes.data();
  int32_t remaining = 4;
  const auto out = [&](const char* label, FIELD_FORMAT format, int32_t size) {
    return PIOutputToCPDecode(remaining, cursor, 0, &decode, parser, label, format, size, nullptr,
                              0, 0xFFFFFFFF, nullptr, nullptr, BO_PARSER);
  };
  EXPECT_EQ(out("a", FF_DECIMAL, 3), 1);
  EXPECT_EQ(remaining, 1);
  EXPECT_EQ(cursor, frame.bytes.data() + 3);
  EXPECT_EQ(out("b", FF_DECIMAL, 2), 0);
  EXPECT_EQ(out("c", FF_DECIMAL, -1), 0);
  // A count larger than the frame does not let a field past the frame's end.
  remaining = 100;
  EXPECT_EQ(out("d", FF_DUMP, 2), 0);
  ASSERT_EQ(frame.tree.packets().size(), 1u);
  const PacketRecord& p = frame.tree.packets()[0];
  EXPECT_EQ(p.fieldCount, 1u);
  ASSERT_TRUE(p.refused);
  EXPECT_STREQ(p.refusal.label, "b");  // the first refusal is the one kept
  EXPECT_EQ(p.refusal.size, 2);
  EXPECT_EQ(p.refusal.left, 1);
}

TEST(FieldValues, ByteOrdersSizesAndSign) {
  EXPECT_EQ(FieldUnsigned(Field({0x01, 0x02}, FF_DECIMAL, true)), 0x0102u);
  EXPECT_EQ(FieldUnsigned(Field({0x01, 0x02}, FF_DECIMAL, false)), 0x0201u);
  EXPECT_EQ(FieldUnsigned(Field({}, FF_DECIMAL, true)), 0u);
  EXPECT_EQ(FieldUnsigned(Field({0xff, 0, 0, 0, 0, 0, 0, 0x01}, FF_DECIMAL, false)),
            0x01000000000000ffull);
  EXPECT_EQ(FieldSigned(Field({0xff, 0xfe}, FF_SIGNED, true)), -2);
  EXPECT_EQ(FieldSigned(Field({0xfa, 0xff, 0xff, 0xff}, FF_SIGNED, false)), -6);
  EXPECT_EQ(FieldSigned(Field({0x7f}, FF_SIGNED, true)), 127);
}

TEST(BitTables, PairsSetOnlyRowsAndMasks) {
  static const CPICodeTable bits[] = {{0x01000000, 0, "b0 set"},   {0x01000000, 0, "b0 clear"},
                                      {0x02000000, 0, "b1 set"},   {0x02000000, 0, ""},
                                      {0x04000000, 0, "b2 only"},  {0x80000000, 0, "b7 set"},
                                      {0x80000000, 0, "b7 clear"}, {0, 0, "Unknown"}};
  // 0x05: bit 0 set, bit 1 clear with an empty text, set-only bit 2, bit 7 clear.
  EXPECT_EQ(Bits(Field({0x05}, FF_FLAGS, true, bits, 8, 0xFF000000)),
            (std::vector<std::string>{"b0 set", "b2 only", "b7 clear"}));
  EXPECT_EQ(Bits(Field({0x00}, FF_FLAGS, true, bits, 8, 0xFF000000)),
            (std::vector<std::string>{"b0 clear", "b7 clear"}));
  // Rows with a bit outside the field's mask are passed over.
  EXPECT_EQ(Bits(Field({0x85}, FF_FLAGS, true, bits, 8, 0x0F000000)),
            (std::vector<std::string>{"b0 set", "b2 only"}));
  // Two bytes are aligned at bit 16: 0x0001 in the low byte is bit 0 of the top-aligned word.
  static const CPICodeTable wide[] = {
      {0x00010000, 0, "w0"}, {0x01000000, 0, "w8"}, {0, 0, "Unknown"}};
  EXPECT_EQ(Bits(Field({0x01, 0x01}, FF_FLAGS, true, wide, 3, 0xFFFF0000)),
            (std::vector<std::string>{"w0", "w8"}));
  EXPECT_EQ(Bits(Field({0x01, 0x00}, FF_FLAGS, false, wide, 3, 0xFFFF0000)),
            (std::vector<std::string>{"w0"}));
}

namespace {
int g_released = 0;
std::vector<std::string> g_releasedTexts;
int CountRelease(SimBlockTag block) {
  ++g_released;
  g_releasedTexts.emplace_back(block.text);
  return 1;
}
SimBlockTag Block(uint32_t key, const char* text) {
  SimBlockTag b{};
  b.kind = 183;
  b.key = key;
  snprintf(b.text, sizeof(b.text), "%s", text);
  return b;
}
}  // namespace

TEST(ConversationStore, EveryBlockIsReleasedExactlyOnce) {
  g_released = 0;
  g_releasedTexts.clear();
  StoreRegistry registry(4);
  registry.Select(1);
  SimBlockTag a = Block(7, "first");
  SimBlockTag b = Block(7, "second");
  SimBlockTag c = Block(8, "other");
  SimAddInfo(&a, CountRelease);
  SimAddInfo(&b, CountRelease);  // replaces and releases "first"
  EXPECT_EQ(g_releasedTexts, std::vector<std::string>{"first"});
  SimAddInfo(&c, CountRelease);
  SimBlockTag found{};
  ASSERT_EQ(SimFindInfo(183, 7, &found, 1), 1);
  EXPECT_STREQ(found.text, "second");
  EXPECT_EQ(SimFindInfo(183, 9, &found, 1), 0);
  // Another connection's store is apart.
  registry.Select(2);
  EXPECT_EQ(SimFindInfo(183, 7, &found, 1), 0);
  SimBlockTag d = Block(7, "conn2");
  SimAddInfo(&d, CountRelease);
  registry.End(1);
  EXPECT_EQ(g_released, 3);
  EXPECT_EQ(SimDeleteInfo(183, 7, 0), 1);
  EXPECT_EQ(g_released, 4);
  EXPECT_EQ(SimDeleteInfo(183, 7, 0), 0);
  // Past the ceiling a block is handed back at once.
  for (uint32_t key = 0; key < 6; ++key) {
    SimBlockTag e = Block(100 + key, "many");
    SimAddInfo(&e, CountRelease);
  }
  EXPECT_EQ(g_released, 6);
  registry.EndAll();
  EXPECT_EQ(g_released, 10);
  registry.EndAll();
  EXPECT_EQ(g_released, 10);
}
