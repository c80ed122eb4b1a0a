#include "tdswire/datatypes.h"

namespace {

using F = ValueFraming;
using I = TypeInfo;
using S = ValueShape;

constexpr DatatypeRule kRules[] = {
    {0x1F, "VOID", F::kFixed, 0, I::kNone, S::kVoid},
    {0x22, "IMAGE", F::kTextPtr, 0, I::kMax4Table, S::kBinary},
    {0x23, "TEXT", F::kTextPtr, 0, I::kMax4Table, S::kChars},
    {0x24, "BLOB", F::kUnframed, 0, I::kNone, S::kBinary},
    {0x25, "VARBINARY", F::kPrefix1, 0, I::kMax1, S::kBinary},
    {0x26, "INTN", F::kPrefix1, 0, I::kMax1, S::kIntN},
    {0x27, "VARCHAR", F::kPrefix1, 0, I::kMax1, S::kChars},
    {0x2D, "BINARY", F::kPrefix1, 0, I::kMax1, S::kBinary},
    {0x2E, "INTERVAL", F::kUnframed, 0, I::kNone, S::kBinary},
    {0x2F, "CHAR", F::kPrefix1, 0, I::kMax1, S::kChars},
    {0x30, "INT1", F::kFixed, 1, I::kNone, S::kUnsigned},
    {0x31, "DATE", F::kFixed, 4, I::kNone, S::kDate},
    {0x32, "BIT", F::kFixed, 1, I::kNone, S::kBit},
    {0x33, "TIME", F::kFixed, 4, I::kNone, S::kTime},
    {0x34, "INT2", F::kFixed, 2, I::kNone, S::kSigned},
    {0x38, "INT4", F::kFixed, 4, I::kNone, S::kSigned},
    {0x3A, "SHORTDATE", F::kFixed, 4, I::kNone, S::kSmallDateTime},
    {0x3B, "FLT4", F::kFixed, 4, I::kNone, S::kFloat},
    {0x3C, "MONEY", F::kFixed, 8, I::kNone, S::kMoney},
    {0x3D, "DATETIME", F::kFixed, 8, I::kNone, S::kDateTime},
    {0x3E, "FLT8", F::kFixed, 8, I::kNone, S::kFloat},
    {0x40, "UINT1", F::kFixed, 1, I::kNone, S::kUnsigned},
    {0x41, "UINT2", F::kFixed, 2, I::kNone, S::kUnsigned},
    {0x42, "UINT4", F::kFixed, 4, I::kNone, S::kUnsigned},
    {0x43, "UINT8", F::kFixed, 8, I::kNone, S::kUnsigned},
    {0x44, "UINTN", F::kPrefix1, 0, I::kMax1, S::kUnsigned},
    {0x67, "SENSITIVITY", F::kPrefix1, 0, I::kMax1, S::kBinary},
    {0x68, "BOUNDARY", F::kPrefix1, 0, I::kMax1, S::kBinary},
    {0x6A, "DECN", F::kPrefix1, 0, I::kDecimal, S::kDecimal},
    {0x6C, "NUMN", F::kPrefix1, 0, I::kDecimal, S::kDecimal},
    {0x6D, "FLTN", F::kPrefix1, 0, I::kMax1, S::kFloat},
    {0x6E, "MONEYN", F::kPrefix1, 0, I::kMax1, S::kMoney},
    {0x6F, "DATETIMEN", F::kPrefix1, 0, I::kMax1, S::kDateTime},
    {0x7A, "SHORTMONEY", F::kFixed, 4, I::kNone, S::kSmallMoney},
    {0x7B, "DATEN", F::kPrefix1, 0, I::kMax1, S::kDate},
    {0x93, "TIMEN", F::kPrefix1, 0, I::kMax1, S::kTime},
    {0xA3, "XML", F::kPrefix4, 0, I::kMax4, S::kChars},
    {0xAE, "UNITEXT", F::kTextPtr, 0, I::kMax4Table, S::kUtf16},
    {0xAF, "LONGCHAR", F::kPrefix4, 0, I::kMax4, S::kChars},
    {0xB0, "SINT1", F::kFixed, 1, I::kNone, S::kSigned},
    {0xBB, "BIGDATETIMEN", F::kPrefix1, 0, I::kMax1Extra, S::kBigDateTime},
    {0xBC, "BIGTIMEN", F::kPrefix1, 0, I::kMax1Extra, S::kBigTime},
    {0xBF, "INT8", F::kFixed, 8, I::kNone, S::kSigned},
    {0xE1, "LONGBINARY", F::kPrefix4, 0, I::kMax4, S::kLongBinary},
};

// Every code's rule, by the code itself, built from the rows above when compiling.
struct RuleIndex {
  const DatatypeRule* rule[256];
  constexpr RuleIndex() : rule() {
    for (int c = 0; c < 256; ++c) rule[c] = nullptr;
    for (const DatatypeRule& r : kRules) rule[r.code] = &r;
  }
};
constexpr RuleIndex kIndex;

}  // namespace

const DatatypeRule* const* const kDatatypeRules = kIndex.rule;
