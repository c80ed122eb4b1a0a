#include "tokens/datatypes.h"

namespace {

struct TypeRule {
  uint8_t code;
  int8_t width;
  int8_t size;
};

constexpr TypeRule kTypeRules[] = {
    {0x22, 4, -1},  // TDS_IMAGE
    {0x23, 4, -1},  // TDS_TEXT
    {0x25, 1, -1},  // TDS_VARBINARY
    {0x26, 1, -1},  // TDS_INTN
    {0x27, 1, -1},  // TDS_VARCHAR
    {0x2D, 1, -1},  // TDS_BINARY
    {0x2F, 1, -1},  // TDS_CHAR
    {0x30, 0, 1},   // TDS_INT1
    {0x32, 0, 1},   // TDS_BIT
    {0x34, 0, 2},   // TDS_INT2
    {0x38, 0, 4},   // TDS_INT4
    {0x3A, 0, 4},   // TDS_SHORTDATE
    {0x3B, 0, 4},   // TDS_FLT4
    {0x3C, 0, 8},   // TDS_MONEY
    {0x3D, 0, 8},   // TDS_DATETIME
    {0x3E, 0, 8},   // TDS_FLT8
    {0x67, 1, -1},  // TDS_SENSITIVITY
    {0x68, 1, -1},  // TDS_BOUNDARY
    {0x6A, 1, -1},  // TDS_DECN
    {0x6C, 1, -1},  // TDS_NUMN
    {0x6D, 1, -1},  // TDS_FLTN
    {0x6E, 1, -1},  // TDS_MONEYN
    {0x6F, 1, -1},  // TDS_DATETIMEN
    {0x7A, 0, 4},   // TDS_SHORTMONEY
    {0xAF, 4, -1},  // TDS_LONGCHAR
    {0xE1, 4, -1},  // TDS_LONGBINARY
};

// Every code's rule, looked up by the code itself; built from the rows above when compiling.
struct RuleIndex {
  int8_t width[256];
  int8_t size[256];
  constexpr RuleIndex() : width(), size() {
    for (int c = 0; c < 256; ++c) {
      width[c] = -1;
      size[c] = -1;
    }
    for (const TypeRule& rule : kTypeRules) {
      width[rule.code] = rule.width;
      size[rule.code] = rule.size;
    }
  }
};
constexpr RuleIndex kRules;

}  // namespace

int16_t LengthPrefixWidth(int32_t code) {
  return code >= 0 && code < 256 ? kRules.width[code] : -1;
}

int16_t FixedDataSize(int32_t code) {
  return code >= 0 && code < 256 ? kRules.size[code] : -1;
}

bool IsDecimalType(int32_t code) {
  return code == 0x6A || code == 0x6C;
}
