// TDS 5.0 datatypes: how each value is framed on the wire, what type information a format
// carries for it, and its SQL type name.
#pragma once
#include <cstdint>

// How a value of the type is framed in ROW, PARAMS, KEY and ALTROW.
enum class ValueFraming : uint8_t {
  kFixed,     // fixedSize bytes, never NULL
  kPrefix1,   // 1-byte length, then that many bytes (0 = NULL)
  kPrefix4,   // 4-byte length, then that many bytes (0 = NULL)
  kTextPtr,   // rows: 1-byte text-pointer length t (0 = NULL), t bytes, 8-byte timestamp,
              // 4-byte length, data; parameters: 4-byte length + data
  kUnframed,  // blob, interval and codes without a rule: the walk cannot go past it
};

// The type information that follows the datatype byte in a format entry.
enum class TypeInfo : uint8_t {
  kNone,
  kMax1,       // 1-byte maximum length
  kMax4,       // 4-byte maximum length
  kMax4Table,  // 4-byte maximum length; in row formats also a 2-byte table-name length + name
  kDecimal,    // 1-byte maximum length, precision, scale
  kMax1Extra,  // 1-byte maximum length and one more byte (bigdatetime, bigtime)
};

// How the value is shown (values.h turns bytes into text by this).
enum class ValueShape : uint8_t {
  kUnsigned,    // unsigned integer of the value's size
  kSigned,      // signed integer of the value's size
  kIntN,        // 1 byte unsigned, 2/4/8 signed
  kBit,         // true / false
  kChars,       // text in the connection's character set
  kBinary,      // lowercase hex
  kLongBinary,  // hex, or UTF-16 text for user types 34 (unichar) and 35 (univarchar)
  kUtf16,       // UTF-16 text in the connection's byte order
  kDateTime,    // 8 bytes datetime, 4 bytes smalldatetime
  kSmallDateTime,
  kDate,
  kTime,
  kBigDateTime,
  kBigTime,
  kMoney,  // 8 bytes money, 4 bytes smallmoney
  kSmallMoney,
  kFloat,    // 8 bytes float8, 4 bytes float4
  kDecimal,  // sign byte + magnitude, scale from the format
  kVoid,
};

struct DatatypeRule {
  uint8_t code;
  const char* name;  // the protocol's name ("INT4", "VARCHAR", ...)
  ValueFraming framing;
  uint8_t fixedSize;
  TypeInfo info;
  ValueShape shape;
};

// Every code's rule, null for a code without one (datatypes.cpp).
extern const DatatypeRule* const* const kDatatypeRules;

// The rule of a datatype code, or null for a code without one.
inline const DatatypeRule* DatatypeOf(uint8_t code) {
  return kDatatypeRules[code];
}
