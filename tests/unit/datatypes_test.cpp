// The three datatype rules over every code of a byte.
#include "tokens/datatypes.h"

#include <gtest/gtest.h>

namespace {

struct Rule {
  int code;
  int width;
  int size;
};

// The codes with a rule; every other byte has none.
constexpr Rule kKnown[] = {
    {0x22, 4, -1}, {0x23, 4, -1}, {0x25, 1, -1}, {0x26, 1, -1}, {0x27, 1, -1}, {0x2D, 1, -1},
    {0x2F, 1, -1}, {0x30, 0, 1},  {0x32, 0, 1},  {0x34, 0, 2},  {0x38, 0, 4},  {0x3A, 0, 4},
    {0x3B, 0, 4},  {0x3C, 0, 8},  {0x3D, 0, 8},  {0x3E, 0, 8},  {0x67, 1, -1}, {0x68, 1, -1},
    {0x6A, 1, -1}, {0x6C, 1, -1}, {0x6D, 1, -1}, {0x6E, 1, -1}, {0x6F, 1, -1}, {0x7A, 0, 4},
    {0xAF, 4, -1}, {0xE1, 4, -1},
};

const Rule* Find(int code) {
  for (const Rule& rule : kKnown) {
    if (rule.code == code) return &rule;
  }
  return nullptr;
}

TEST(DatatypeRules, EveryByteHasTheWidthAndSizeOfItsRuleOrNone) {
  int known = 0;
  for (int code = 0; code < 256; ++code) {
    const Rule* rule = Find(code);
    SCOPED_TRACE(code);
    EXPECT_EQ(LengthPrefixWidth(code), rule ? rule->width : -1);
    EXPECT_EQ(FixedDataSize(code), rule ? rule->size : -1);
    EXPECT_EQ(IsDecimalType(code), code == 0x6A || code == 0x6C);
    if (rule) ++known;
  }
  EXPECT_EQ(known, 26);
}

TEST(DatatypeRules, CodesAreTakenAsUnsignedBytes) {
  // A code read back from a record as a byte keeps its value above 127.
  const uint8_t longChar = 0xAF;
  const uint8_t longBinary = 0xE1;
  EXPECT_EQ(LengthPrefixWidth(longChar), 4);
  EXPECT_EQ(LengthPrefixWidth(longBinary), 4);
  // Sign-extended bytes and values past a byte have no rule.
  EXPECT_EQ(LengthPrefixWidth(static_cast<int8_t>(0xAF)), -1);
  EXPECT_EQ(LengthPrefixWidth(0x100 + 0x38), -1);
  EXPECT_FALSE(IsDecimalType(0x16A));
  EXPECT_FALSE(IsDecimalType(0x6B));
}

}  // namespace
