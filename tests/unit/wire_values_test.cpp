// Values as people read them: SQL type names and every value shape, in both byte orders, with
// the bytes real clients and servers sent and the values they read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "bytes.h"
#include "tdswire/values.h"

namespace {

WireColumn Column(int type, uint32_t maxLength = 0, int32_t userType = 0, int scale = 0) {
  WireColumn column;
  column.type = static_cast<uint8_t>(type);
  column.maxLength = maxLength;
  column.userType = userType;
  column.scale = static_cast<uint8_t>(scale);
  return column;
}

// The sign byte and `size` - 1 magnitude bytes (most significant first) of a decimal string,
// digits only, by schoolbook multiplication.
Bytes Decimal(const std::string& text, size_t size) {
  Bytes out(size, 0);
  for (char c : text) {
    if (c == '-') out[0] = 1;
    if (c < '0' || c > '9') continue;
    int carry = c - '0';
    for (size_t i = size - 1; i >= 1; --i) {
      carry += out[i] * 10;
      out[i] = static_cast<uint8_t>(carry & 0xFF);
      carry >>= 8;
    }
  }
  return out;
}

// Big-endian bytes to little-endian: each group of `unit` bytes reversed (0: as they are).
Bytes Swapped(Bytes b, size_t unit) {
  for (size_t at = 0; unit > 1 && at + unit <= b.size(); at += unit)
    std::reverse(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + unit));
  return b;
}

TEST(WireValues, SqlTypeNames) {
  struct Case {
    int type;
    uint32_t max;
    int32_t userType;
    const char* name;
  };
  const Case cases[] = {
      {0x30, 0, 0, "tinyint"},       {0xB0, 0, 0, "tinyint"},      {0x40, 0, 0, "tinyint"},
      {0x34, 0, 0, "smallint"},      {0x38, 0, 0, "int"},          {0xBF, 0, 0, "bigint"},
      {0x41, 0, 0, "usmallint"},     {0x42, 0, 0, "uint"},         {0x43, 0, 0, "ubigint"},
      {0x26, 1, 0, "tinyint"},       {0x26, 2, 0, "smallint"},     {0x26, 4, 0, "int"},
      {0x26, 8, 0, "bigint"},        {0x26, 3, 0, "0x26"},         {0x44, 1, 0, "tinyint"},
      {0x44, 2, 0, "usmallint"},     {0x44, 4, 0, "uint"},         {0x44, 8, 0, "ubigint"},
      {0x32, 0, 0, "bit"},           {0x2F, 10, 0, "char"},        {0x27, 40, 0, "varchar"},
      {0x27, 10, 1, "char"},         {0xAF, 1000, 0, "longchar"},  {0x23, 0, 0, "text"},
      {0xE1, 20, 34, "unichar"},     {0xE1, 40, 35, "univarchar"}, {0xE1, 40, 0, "longbinary"},
      {0xAE, 0, 0, "unitext"},       {0x2D, 4, 0, "binary"},       {0x25, 8, 0, "varbinary"},
      {0x25, 8, 3, "binary"},        {0x22, 0, 0, "image"},        {0x3D, 0, 0, "datetime"},
      {0x3A, 0, 0, "smalldatetime"}, {0x6F, 8, 0, "datetime"},     {0x6F, 4, 0, "smalldatetime"},
      {0x31, 0, 0, "date"},          {0x7B, 4, 0, "date"},         {0x33, 0, 0, "time"},
      {0x93, 4, 0, "time"},          {0xBB, 8, 0, "bigdatetime"},  {0xBC, 8, 0, "bigtime"},
      {0x3C, 0, 0, "money"},         {0x7A, 0, 0, "smallmoney"},   {0x6E, 8, 0, "money"},
      {0x6E, 4, 0, "smallmoney"},    {0x3E, 0, 0, "float"},        {0x3B, 0, 0, "real"},
      {0x6D, 8, 0, "float"},         {0x6D, 4, 0, "real"},         {0x6C, 6, 0, "numeric"},
      {0x6A, 17, 0, "decimal"},      {0xA3, 0, 0, "xml"},          {0x1F, 0, 0, "0x1f"},
      {0x99, 0, 0, "0x99"},          {0xFF, 0, 0, "0xff"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(SqlTypeName(Column(c.type, c.max, c.userType)), c.name) << std::hex << c.type;
  }
}

struct ValueCase {
  WireColumn column;
  const char* bigEndian;  // hex
  size_t unit;            // groups reversed for little-endian
  ValueKind kind;
  std::string text;
};

const ValueCase kValues[] = {
    // Integers: the alltypes limits.
    {Column(0x30), "ff", 1, ValueKind::kNumber, "255"},
    {Column(0xB0), "ff", 1, ValueKind::kNumber, "-1"},
    {Column(0x34), "8000", 2, ValueKind::kNumber, "-32768"},
    {Column(0x38), "7fffffff", 4, ValueKind::kNumber, "2147483647"},
    {Column(0x38), "80000000", 4, ValueKind::kNumber, "-2147483648"},
    {Column(0xBF), "7fffffffffffffff", 8, ValueKind::kNumber, "9223372036854775807"},
    {Column(0xBF), "8000000000000000", 8, ValueKind::kNumber, "-9223372036854775808"},
    {Column(0x41), "ffff", 2, ValueKind::kNumber, "65535"},
    {Column(0x42), "ffffffff", 4, ValueKind::kNumber, "4294967295"},
    {Column(0x43), "ffffffffffffffff", 8, ValueKind::kNumber, "18446744073709551615"},
    {Column(0x26, 1), "ff", 1, ValueKind::kNumber, "255"},
    {Column(0x26, 4), "0000002a", 4, ValueKind::kNumber, "42"},
    {Column(0x26, 8), "fffffffde78ee600", 8, ValueKind::kNumber, "-9000000000"},
    {Column(0x44, 4), "ee6b2800", 4, ValueKind::kNumber, "4000000000"},
    {Column(0x32), "01", 1, ValueKind::kBool, "true"},
    {Column(0x32), "00", 1, ValueKind::kBool, "false"},
    // Characters and bytes.
    {Column(0x2F, 10), "66697865642020202020", 0, ValueKind::kChars, "fixed     "},
    {Column(0x23), "636166c3a9", 0, ValueKind::kChars, "café"},
    {Column(0x2D, 4), "deadbeef", 0, ValueKind::kText, "deadbeef"},
    {Column(0x25, 8), "0102ff", 0, ValueKind::kText, "0102ff"},
    {Column(0xE1, 8), "0102ff", 0, ValueKind::kText, "0102ff"},
    {Column(0x67, 2), "0a0b", 0, ValueKind::kText, "0a0b"},
    {Column(0xE1, 20, 34), "0047007200fc00df00650020", 2, ValueKind::kChars, "Grüße"},
    {Column(0xE1, 40, 35), "039503bb03bb03b703bd03b903ba03ac002020ac", 2, ValueKind::kChars,
     "Ελληνικά €"},
    {Column(0xAE), "0075d83dde002713", 2, ValueKind::kChars, "u😀✓"},
    // Dates and times.
    {Column(0x3D), "0000b134 00ad1b0a", 4, ValueKind::kText, "2024-03-15T10:30:15.500"},
    {Column(0x6F, 8), "00008eab 018b81fd", 4, ValueKind::kText, "1999-12-31T23:59:59.990"},
    {Column(0x3D), "ffff2e46 00000000", 4, ValueKind::kText, "1753-01-01T00:00:00.000"},
    {Column(0x3D), "002d247f 018b81fd", 4, ValueKind::kText, "9999-12-31T23:59:59.990"},
    {Column(0x3D), "00000000 018b8200", 4, ValueKind::kText, "1900-01-02T00:00:00.000"},
    {Column(0x3A), "b0e9 059f", 2, ValueKind::kText, "2023-12-31T23:59:00"},
    {Column(0x6F, 4), "ffff 059f", 2, ValueKind::kText, "2079-06-06T23:59:00"},
    {Column(0x3A), "0000 0000", 2, ValueKind::kText, "1900-01-01T00:00:00"},
    {Column(0x3A), "0000 05a0", 2, ValueKind::kText, "1900-01-02T00:00:00"},
    {Column(0x31), "0000b125", 4, ValueKind::kText, "2024-02-29"},
    {Column(0x7B, 4), "002d247f", 4, ValueKind::kText, "9999-12-31"},
    {Column(0x33), "00e2bb43", 4, ValueKind::kText, "13:45:30.250"},
    {Column(0x93, 4), "018b81fd", 4, ValueKind::kText, "23:59:59.990"},
    {Column(0x33), "00000002", 4, ValueKind::kText, "00:00:00.007"},  // 6.67 ms, rounded
    {Column(0xBB, 8), "00e2f8f07c325e40", 8, ValueKind::kText, "2024-07-01T12:34:56.123456"},
    {Column(0xBB, 8), "00dcdcc1a9170000", 8, ValueKind::kText, "1970-01-01T00:00:00.000000"},
    {Column(0xBB, 8), "0000000000000000", 8, ValueKind::kText, "0000-01-01T00:00:00.000000"},
    {Column(0xBB, 8), "000004a2e0a32000", 8, ValueKind::kText, "0000-02-29T00:00:00.000000"},
    {Column(0xBC, 8), "000000141dd75fff", 8, ValueKind::kText, "23:59:59.999999"},
    // Money, floats, decimals.
    {Column(0x3C), "00000002 dfdc1c40", 4, ValueKind::kText, "1234567.8912"},
    {Column(0x3C), "80000000 00000000", 4, ValueKind::kText, "-922337203685477.5808"},
    {Column(0x6E, 8), "7fffffff ffffffff", 4, ValueKind::kText, "922337203685477.5807"},
    {Column(0x7A), "80000000", 4, ValueKind::kText, "-214748.3648"},
    {Column(0x6E, 4), "7fffffff", 4, ValueKind::kText, "214748.3647"},
    {Column(0x7A), "ffffffff", 4, ValueKind::kText, "-0.0001"},
    {Column(0x3E), "400921fb54442d18", 8, ValueKind::kNumber, "3.141592653589793"},
    {Column(0x6D, 8), "fe41eb2d66005835", 8, ValueKind::kNumber, "-1.5e300"},
    {Column(0x6D, 8), "0000000000000000", 8, ValueKind::kNumber, "0.0"},
    {Column(0x3B), "3a83126f", 4, ValueKind::kNumber, "0.001"},
    {Column(0x6D, 4), "c0500000", 4, ValueKind::kNumber, "-3.25"},
    {Column(0x6D, 4), "3f000000", 4, ValueKind::kNumber, "0.5"},
    {Column(0x3E), "7ff0000000000000", 8, ValueKind::kText, "inf"},
    {Column(0x3B), "ff800000", 4, ValueKind::kText, "-inf"},
    {Column(0x3E), "7ff8000000000000", 8, ValueKind::kText, "nan"},
    {Column(0x6C, 6, 0, 2), "00 00499602d2", 0, ValueKind::kText, "12345678.90"},
    {Column(0x6C, 6, 0, 2), "01 000001e240", 0, ValueKind::kText, "-1234.56"},
    {Column(0x6A, 6, 0, 4), "00 01", 0, ValueKind::kText, "0.0001"},
    {Column(0x6A, 6, 0, 2), "01 00", 0, ValueKind::kText, "0.00"},
    {Column(0x6A, 6, 0, 0), "00", 0, ValueKind::kText, "0"},
    // Sizes the type does not have, a sign byte other than 0 or 1, a type without a rule.
    {Column(0x26, 4), "000001", 0, ValueKind::kText, "000001"},
    {Column(0x6F, 8), "000001", 0, ValueKind::kText, "000001"},
    {Column(0x38), "0001", 0, ValueKind::kText, "0001"},
    {Column(0x6C, 6, 0, 2), "02 01", 0, ValueKind::kText, "0201"},
    {Column(0x99), "abcd", 0, ValueKind::kText, "abcd"},
    {Column(0x1F), "", 0, ValueKind::kText, ""},
};

ValueKind Render(const WireColumn& column, const Bytes& b, bool msbFirst, std::string& out) {
  return RenderValue(column, b.data(), static_cast<int32_t>(b.size()), false, msbFirst,
                     Charset::kUtf8, out);
}

TEST(WireValues, EveryShapeInBothByteOrders) {
  std::string out = "left over";
  for (const ValueCase& c : kValues) {
    SCOPED_TRACE(std::string(SqlTypeName(c.column)) + " " + c.bigEndian);
    EXPECT_EQ(Render(c.column, Hex(c.bigEndian), true, out), c.kind);
    EXPECT_EQ(out, c.text);
    EXPECT_EQ(Render(c.column, Swapped(Hex(c.bigEndian), c.unit), false, out), c.kind);
    EXPECT_EQ(out, c.text);
  }
}

TEST(WireValues, LittleEndianBytesOfALibraryClient) {
  const struct {
    WireColumn column;
    const char* hex;
    const char* text;
  } cases[] = {
      {Column(0x3D), "34b10000 e008ad00", "2024-03-15T10:30:00.000"},
      {Column(0x3A), "e9b0 9f05", "2023-12-31T23:59:00"},
      {Column(0x3C), "00000000 15cd5b07", "12345.6789"},
  };
  std::string out;
  for (const auto& c : cases) {
    Render(c.column, Hex(c.hex), false, out);
    EXPECT_EQ(out, c.text);
  }
}

TEST(WireValues, ThirtyEightDigitDecimals) {
  const char* kTexts[] = {"-1234567890123456789012345678.0123456789",
                          "9999999999999999999999999999.9999999999",
                          "1000000000000000000000000000.0000000001"};
  std::string out;
  for (const char* text : kTexts) {
    const Bytes b = Decimal(text, 17);
    for (bool msbFirst : {true, false}) {
      EXPECT_EQ(
          RenderValue(Column(0x6A, 17, 0, 10), b.data(), 17, false, msbFirst, Charset::kIso1, out),
          ValueKind::kText);
      EXPECT_EQ(out, text);
    }
  }
  EXPECT_EQ(Decimal("-1234567890123456789012345678.0123456789", 17),
            Hex("01 0949b0f6f0023313c449904ecc674515"));  // as the server sent it
  // A scale no server sends, up to the byte's largest: every zero is written, nothing overruns.
  const Bytes one = Hex("01 00000000000000000000000000000001");
  EXPECT_EQ(RenderValue(Column(0x6A, 17, 0, 255), one.data(), 17, false, true, Charset::kIso1, out),
            ValueKind::kText);
  EXPECT_EQ(out, "-0." + std::string(254, '0') + "1");
}

TEST(WireValues, NullIsEmpty) {
  std::string out = "x";
  EXPECT_EQ(RenderValue(Column(0x26, 4), nullptr, 0, true, true, Charset::kIso1, out),
            ValueKind::kNull);
  EXPECT_EQ(out, "");
}

}  // namespace
