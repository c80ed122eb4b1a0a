#include "tdswire/values.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "tdswire/datatypes.h"
#include "tdswire/reader.h"

namespace {

__extension__ typedef unsigned __int128 Uint128;  // 38-digit decimals

constexpr char kHexDigits[] = "0123456789abcdef";

// The text of a value, written in place: the caller gives room for RenderedValueRoom bytes.
// The longest short text is a decimal of scale 255: "-0." and 255 digits.
struct Piece {
  char* b;
  size_t n = 0;
  void push_back(char c) { b[n++] = c; }
  void append(const char* s, size_t k) {
    std::memcpy(b + n, s, k);
    n += k;
  }
  void append(const char* s) { append(s, std::strlen(s)); }
  void append(size_t k, char c) {
    std::memset(b + n, c, k);
    n += k;
  }
  char* end() const { return b + n; }
  void end(char* e) { n = static_cast<size_t>(e - b); }
};

// "0x00" .. "0xff", the type name of a code without a rule.
struct CodeNames {
  char text[256][5];
  constexpr CodeNames() : text() {
    for (int c = 0; c < 256; ++c) {
      text[c][0] = '0';
      text[c][1] = 'x';
      text[c][2] = kHexDigits[c >> 4];
      text[c][3] = kHexDigits[c & 0x0F];
      text[c][4] = '\0';
    }
  }
};
constexpr CodeNames kCodeNames;

struct TypeName {
  uint8_t code;
  const char* name;
};
constexpr TypeName kTypeNames[] = {
    {0x30, "tinyint"},       {0x40, "tinyint"},     {0xB0, "tinyint"},   {0x34, "smallint"},
    {0x38, "int"},           {0xBF, "bigint"},      {0x41, "usmallint"}, {0x42, "uint"},
    {0x43, "ubigint"},       {0x32, "bit"},         {0x2F, "char"},      {0x27, "varchar"},
    {0xAF, "longchar"},      {0x23, "text"},        {0xAE, "unitext"},   {0x2D, "binary"},
    {0x25, "varbinary"},     {0xE1, "longbinary"},  {0x22, "image"},     {0x3D, "datetime"},
    {0x3A, "smalldatetime"}, {0x31, "date"},        {0x7B, "date"},      {0x33, "time"},
    {0x93, "time"},          {0xBB, "bigdatetime"}, {0xBC, "bigtime"},   {0x3C, "money"},
    {0x7A, "smallmoney"},    {0x3B, "real"},        {0x3E, "float"},     {0x6C, "numeric"},
    {0x6A, "decimal"},       {0xA3, "xml"},
};

// Nullable forms, named by their maximum length: 1, 2, 4 or 8 bytes.
struct SizedTypeName {
  uint8_t code;
  const char* bySize[4];
};
constexpr SizedTypeName kSizedTypeNames[] = {
    {0x26, {"tinyint", "smallint", "int", "bigint"}},
    {0x44, {"tinyint", "usmallint", "uint", "ubigint"}},
    {0x6F, {nullptr, nullptr, "smalldatetime", "datetime"}},
    {0x6E, {nullptr, nullptr, "smallmoney", "money"}},
    {0x6D, {nullptr, nullptr, "real", "float"}},
};

// The name of every code, built from the rows above when compiling.
struct TypeNameIndex {
  const char* name[256];
  constexpr TypeNameIndex() : name() {
    for (int c = 0; c < 256; ++c) name[c] = kCodeNames.text[c];
    for (const TypeName& row : kTypeNames) name[row.code] = row.name;
  }
};
constexpr TypeNameIndex kTypeNameIndex;

constexpr int64_t kDaysFrom1900To1970 = 25567;
constexpr int64_t kDaysFromYear0To1970 = 719528;
constexpr uint64_t kMsPerDay = 86400000;
constexpr uint64_t kUsPerDay = 86400000000;
constexpr int32_t kUserTypeUnichar = 34;
constexpr int32_t kUserTypeUnivarchar = 35;

ValueKind AppendHex(const uint8_t* data, size_t size, Piece& out) {
  char* p = out.end();
  for (size_t i = 0; i < size; ++i) {
    *p++ = kHexDigits[data[i] >> 4];
    *p++ = kHexDigits[data[i] & 0x0F];
  }
  out.end(p);
  return ValueKind::kText;
}

// At least `width` digits, zeros in front.
// "00" to "99": digits two at a time.
struct DigitPairs {
  char text[200];
  constexpr DigitPairs() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr DigitPairs kPairs;

struct PowersOfTen {
  uint64_t p[20];
  constexpr PowersOfTen() : p() {
    uint64_t v = 1;
    for (int i = 0; i < 20; ++i, v *= 10) p[i] = v;
  }
};
constexpr PowersOfTen kPow10;

// The number of decimal digits of value (1 for 0), from its bit length.
size_t DigitCount(uint64_t value) {
  const uint64_t v = value | 1;  // the same count; 0 has one digit
  const size_t bits = static_cast<size_t>(64 - __builtin_clzll(v));
  const size_t guess = bits * 1233 >> 12;  // 1233 / 4096 is just above log10(2)
  return guess + (v >= kPow10.p[guess] ? 1 : 0);
}

// At least `width` (at most 20) digits, zeros in front. Every digit position is computed and
// the needed ones copied in one fixed-size move, so the work does not branch on the value
// (a branch per digit is mispredicted about once a number); 20 bytes are written at the end
// of `out`, within its room.
void AppendPadded(uint64_t value, size_t width, Piece& out) {
  if (value < 100 && width <= 2) {  // small counts, days, months: one or two digits
    const bool one = value < 10 && width < 2;
    std::memcpy(out.end(), kPairs.text + 2 * value + (one ? 1 : 0), 2);
    out.n += one ? 1 : 2;
    return;
  }
  char text[40];
  std::memset(text + 20, 0, 20);
  size_t count = DigitCount(value);
  if (count < width) count = width;
  if (value <= 0xFFFFFFFFu) {
    // Ten digits in 32-bit steps, zeros before them.
    std::memset(text, '0', 10);
    uint32_t v = static_cast<uint32_t>(value);
    for (int at = 18; at >= 10; at -= 2) {
      std::memcpy(text + at, kPairs.text + 2 * (v % 100), 2);
      v /= 100;
    }
  } else {
    for (int at = 18; at >= 0; at -= 2) {
      std::memcpy(text + at, kPairs.text + 2 * (value % 100), 2);
      value /= 100;
    }
  }
  std::memcpy(out.end(), text + 20 - count, 20);
  out.n += count;
}

// Two digits at least.
void AppendTwo(uint64_t value, Piece& out) {
  if (value < 100)
    out.append(kPairs.text + 2 * value, 2);
  else
    AppendPadded(value, 2, out);
}

int64_t SignExtend(uint64_t value, size_t size) {
  if (size < 8 && (value >> (size * 8 - 1)) & 1) value |= ~uint64_t{0} << (size * 8);
  return static_cast<int64_t>(value);
}

ValueKind AppendSigned(int64_t value, Piece& out) {
  if (value < 0) out.push_back('-');
  AppendPadded(value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value), 0, out);
  return ValueKind::kNumber;
}

// YYYY-MM-DD of a day counted from 1970-01-01 (proleptic Gregorian calendar).
void AppendDate(int64_t days, Piece& out) {
  days += 719468;  // from 0000-03-01
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
  const int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  if (year < 0) out.push_back('-');
  const uint64_t y = static_cast<uint64_t>(year < 0 ? -year : year);
  if (y < 10000) {
    AppendTwo(y / 100, out);
    AppendTwo(y % 100, out);
  } else {
    AppendPadded(y, 4, out);
  }
  out.push_back('-');
  AppendTwo(static_cast<uint64_t>(month), out);
  out.push_back('-');
  AppendTwo(static_cast<uint64_t>(day), out);
}

// HH:MM:SS, then `digits` fraction digits of `fraction` when digits > 0.
void AppendClock(uint64_t seconds, uint64_t fraction, size_t digits, Piece& out) {
  AppendTwo(seconds / 3600, out);
  out.push_back(':');
  AppendTwo(seconds / 60 % 60, out);
  out.push_back(':');
  AppendTwo(seconds % 60, out);
  if (digits == 0) return;
  out.push_back('.');
  AppendPadded(fraction, digits, out);
}

// 1/300-second ticks to milliseconds, rounded to the nearest.
uint64_t TicksToMs(uint64_t ticks) {
  return (ticks * 10 + 1) / 3;
}

// The exact decimal magnitude / 10^scale.
ValueKind AppendScaled(bool negative, Uint128 magnitude, size_t scale, Piece& out) {
  if (magnitude <= ~uint64_t{0} && scale < 20) {
    // The common case (money, decimals of up to 19 digits): whole part and fraction apart.
    const uint64_t m = static_cast<uint64_t>(magnitude);
    if (negative && m != 0) out.push_back('-');
    AppendPadded(m / kPow10.p[scale], 1, out);
    if (scale == 0) return ValueKind::kText;
    out.push_back('.');
    AppendPadded(m % kPow10.p[scale], scale, out);
    return ValueKind::kText;
  }
  constexpr uint64_t kChunk = 10000000000000000000u;  // 10^19
  char digits[40];
  size_t first = sizeof(digits);
  while (magnitude > ~uint64_t{0}) {
    uint64_t chunk = static_cast<uint64_t>(magnitude % kChunk);
    magnitude /= kChunk;
    for (int i = 0; i < 19; ++i, chunk /= 10) digits[--first] = static_cast<char>('0' + chunk % 10);
  }
  uint64_t rest = static_cast<uint64_t>(magnitude);
  while (rest >= 100) {
    first -= 2;
    std::memcpy(digits + first, kPairs.text + 2 * (rest % 100), 2);
    rest /= 100;
  }
  if (rest >= 10) {
    first -= 2;
    std::memcpy(digits + first, kPairs.text + 2 * rest, 2);
  } else {
    digits[--first] = static_cast<char>('0' + rest);
  }
  const size_t count = sizeof(digits) - first;
  const bool zero = count == 1 && digits[first] == '0';
  if (negative && !zero) out.push_back('-');
  if (scale == 0) {
    out.append(digits + first, count);
  } else if (count <= scale) {
    out.append("0.", 2);
    out.append(scale - count, '0');
    out.append(digits + first, count);
  } else {
    out.append(digits + first, count - scale);
    out.push_back('.');
    out.append(digits + first + count - scale, scale);
  }
  return ValueKind::kText;
}

ValueKind AppendMoney(int64_t units, Piece& out) {
  const uint64_t magnitude =
      units < 0 ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  return AppendScaled(units < 0, magnitude, 4, out);
}

template <typename T>
ValueKind AppendFloat(T value, Piece& out) {
  if (std::isnan(value)) {
    out.append("nan");
    return ValueKind::kText;
  }
  if (std::isinf(value)) {
    out.append(value < 0 ? "-inf" : "inf");
    return ValueKind::kText;
  }
  char text[32];
  const char* end = std::to_chars(text, text + sizeof(text), value).ptr;
  bool exact = true;  // no point and no exponent: "0" reads as an integer, written "0.0"
  for (const char* c = text; c != end; ++c) {
    if (*c == '.' || *c == 'e') exact = false;
    if (*c != '+') out.push_back(*c);  // 1.5e300, not 1.5e+300
  }
  if (exact) out.append(".0", 2);
  return ValueKind::kNumber;
}

}  // namespace

const char* SqlTypeName(const WireColumn& column) {
  const uint8_t code = column.type;
  if (code == 0xE1 && column.userType == kUserTypeUnichar) return "unichar";
  if (code == 0xE1 && column.userType == kUserTypeUnivarchar) return "univarchar";
  // Some servers send char and binary columns as their variable forms with user type 1 / 3.
  if (code == 0x27 && column.userType == 1) return "char";
  if (code == 0x25 && column.userType == 3) return "binary";
  for (const SizedTypeName& row : kSizedTypeNames) {
    if (row.code != code) continue;
    const uint32_t size = column.maxLength;
    const int slot = size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : size == 8 ? 3 : -1;
    return slot >= 0 && row.bySize[slot] ? row.bySize[slot] : kCodeNames.text[code];
  }
  return kTypeNameIndex.name[code];
}

namespace {

// Whether the value's text depends on the byte order its bytes are read in.
bool ReadInOrder(const WireColumn& column, const DatatypeRule& rule, size_t n) {
  switch (rule.shape) {
    case ValueShape::kBit:
    case ValueShape::kChars:
    case ValueShape::kBinary:
    case ValueShape::kDecimal:
    case ValueShape::kVoid:
      return false;
    case ValueShape::kLongBinary:
      return column.userType == kUserTypeUnichar || column.userType == kUserTypeUnivarchar;
    default:
      return n > 1;
  }
}

// Whether a value of a connection read other than usual (ValueReading bits) is shown as hex:
// a float of a format other than IEEE 754, anything read in an undecided byte order.
bool ShownAsHex(const WireColumn& column, int32_t size, uint8_t reading) {
  const DatatypeRule* rule = DatatypeOf(column.type);
  if (!rule) return false;
  const size_t n = size > 0 ? static_cast<size_t>(size) : 0;
  if ((reading & kOrderUndecided) && ReadInOrder(column, *rule, n)) return true;
  return rule->shape == ValueShape::kFloat &&
         (reading & (n == 4 ? kFloat4NotIeee : kFloat8NotIeee)) != 0;
}

ValueKind RenderInto(const WireColumn& column, const uint8_t* data, int32_t size, bool null,
                     bool msbFirst, Charset charset, Piece& out, bool& plain) {
  if (null) return ValueKind::kNull;
  const size_t n = size > 0 ? static_cast<size_t>(size) : 0;
  const int32_t width = static_cast<int32_t>(n);
  const DatatypeRule* rule = DatatypeOf(column.type);
  if (!rule || (rule->framing == ValueFraming::kFixed && n != rule->fixedSize))
    return AppendHex(data, n, out);
  const bool integerSize = n == 1 || n == 2 || n == 4 || n == 8;
  switch (rule->shape) {
    case ValueShape::kUnsigned:
      if (!integerSize) break;
      AppendPadded(WireUint(data, width, msbFirst), 0, out);
      return ValueKind::kNumber;
    case ValueShape::kIntN:
      if (n == 1) {
        AppendPadded(data[0], 0, out);
        return ValueKind::kNumber;
      }
      [[fallthrough]];
    case ValueShape::kSigned:
      if (!integerSize) break;
      return AppendSigned(SignExtend(WireUint(data, width, msbFirst), n), out);
    case ValueShape::kBit:
      if (n != 1) break;
      out.append(data[0] ? "true" : "false");
      return ValueKind::kBool;
    case ValueShape::kChars:
      out.end(DecodeTo(charset, data, n, out.end(), &plain));
      return ValueKind::kChars;
    case ValueShape::kLongBinary:
      if (column.userType != kUserTypeUnichar && column.userType != kUserTypeUnivarchar) break;
      [[fallthrough]];
    case ValueShape::kUtf16:
      out.end(Utf16To(data, n, msbFirst, out.end(), &plain));
      return ValueKind::kChars;
    case ValueShape::kBinary:
      break;
    case ValueShape::kDateTime:
    case ValueShape::kSmallDateTime:
      if (n == 8 && rule->shape == ValueShape::kDateTime) {
        // Days, then ticks: this order in both byte orders.
        const int64_t days = SignExtend(WireUint(data, 4, msbFirst), 4);
        const uint64_t ms = TicksToMs(WireUint(data + 4, 4, msbFirst));
        AppendDate(days + static_cast<int64_t>(ms / kMsPerDay) - kDaysFrom1900To1970, out);
        out.push_back('T');
        AppendClock(ms % kMsPerDay / 1000, ms % 1000, 3, out);
        return ValueKind::kText;
      }
      if (n == 4) {
        const uint64_t minutes = WireUint(data + 2, 2, msbFirst);
        const int64_t days = static_cast<int64_t>(WireUint(data, 2, msbFirst) + minutes / 1440);
        AppendDate(days - kDaysFrom1900To1970, out);
        out.push_back('T');
        AppendClock(minutes % 1440 * 60, 0, 0, out);
        return ValueKind::kText;
      }
      break;
    case ValueShape::kDate:
      if (n != 4) break;
      AppendDate(SignExtend(WireUint(data, 4, msbFirst), 4) - kDaysFrom1900To1970, out);
      return ValueKind::kText;
    case ValueShape::kTime: {
      if (n != 4) break;
      const uint64_t ms = TicksToMs(WireUint(data, 4, msbFirst));
      AppendClock(ms / 1000, ms % 1000, 3, out);
      return ValueKind::kText;
    }
    case ValueShape::kBigDateTime: {
      if (n != 8) break;
      const uint64_t us = WireUint(data, 8, msbFirst);
      AppendDate(static_cast<int64_t>(us / kUsPerDay) - kDaysFromYear0To1970, out);
      out.push_back('T');
      AppendClock(us % kUsPerDay / 1000000, us % 1000000, 6, out);
      return ValueKind::kText;
    }
    case ValueShape::kBigTime: {
      if (n != 8) break;
      const uint64_t us = WireUint(data, 8, msbFirst);
      AppendClock(us / 1000000, us % 1000000, 6, out);
      return ValueKind::kText;
    }
    case ValueShape::kMoney:
    case ValueShape::kSmallMoney:
      if (n == 8 && rule->shape == ValueShape::kMoney) {
        // High half, then low half: this order in both byte orders.
        const uint64_t high = WireUint(data, 4, msbFirst);
        return AppendMoney(static_cast<int64_t>(high << 32 | WireUint(data + 4, 4, msbFirst)), out);
      }
      if (n == 4) return AppendMoney(SignExtend(WireUint(data, 4, msbFirst), 4), out);
      break;
    case ValueShape::kFloat:
      if (n == 4) {
        const uint32_t bits = static_cast<uint32_t>(WireUint(data, 4, msbFirst));
        float value;
        std::memcpy(&value, &bits, sizeof(value));
        return AppendFloat(value, out);
      }
      if (n == 8) {
        const uint64_t bits = WireUint(data, 8, msbFirst);
        double value;
        std::memcpy(&value, &bits, sizeof(value));
        return AppendFloat(value, out);
      }
      break;
    case ValueShape::kDecimal: {
      // Sign byte, then the magnitude most significant byte first in both byte orders.
      if (n < 1 || n > 17 || data[0] > 1) break;
      Uint128 magnitude = 0;
      for (size_t i = 1; i < n; ++i) magnitude = magnitude << 8 | data[i];
      return AppendScaled(data[0] == 1, magnitude, column.scale, out);
    }
    case ValueShape::kVoid:
      return ValueKind::kText;
  }
  return AppendHex(data, n, out);
}

}  // namespace

RenderedValue RenderValueTo(const WireColumn& column, const uint8_t* data, int32_t size, bool null,
                            bool msbFirst, Charset charset, char* out, uint8_t reading) {
  Piece piece{out};
  bool plain = true;
  RenderedValue r;
  // A connection read as usual takes the common path alone.
  if (reading && !null && ShownAsHex(column, size, reading))
    r.kind = AppendHex(data, size > 0 ? static_cast<size_t>(size) : 0, piece);
  else
    r.kind = RenderInto(column, data, size, null, msbFirst, charset, piece, plain);
  // unichar is blank-padded on the wire; what a client reads back has no padding.
  if (column.userType == kUserTypeUnichar && r.kind == ValueKind::kChars)
    while (piece.n > 0 && out[piece.n - 1] == ' ') --piece.n;
  r.size = piece.n;
  r.plain = r.kind != ValueKind::kChars || plain;
  return r;
}

ValueKind RenderValue(const WireColumn& column, const uint8_t* data, int32_t size, bool null,
                      bool msbFirst, Charset charset, std::string& out, uint8_t reading) {
  out.resize(RenderedValueRoom(size));
  const RenderedValue r =
      RenderValueTo(column, data, size, null, msbFirst, charset, &out[0], reading);
  out.resize(r.size);
  return r.kind;
}
