// Values as people read them: a value's bytes under its column turned into text, with the SQL
// type name the column shows.
#pragma once
#include <cstdint>
#include <string>

#include "tdswire/charset.h"
#include "tdswire/format.h"

// How the text is written (the engine's value kinds have the same numbers).
enum class ValueKind : uint8_t {
  kNull = 0,
  kNumber = 1,  // a JSON number as written
  kBool = 2,    // "true" or "false"
  kChars = 3,   // character data: a quoted string
  kText = 4,    // a string shown unquoted in text output: hex, dates, exact decimals
};

// The SQL type name of a column: "int", "varchar", "smalldatetime", ... ("0xNN" for a code
// without a rule). Nullable forms take the name of their maximum length.
const char* SqlTypeName(const WireColumn& column);

// The most bytes RenderValueTo writes for a value of `size` data bytes: four a byte of decoded
// characters (or two of hex), or a short text of at most 258 bytes (an exact decimal of scale 255).
constexpr size_t RenderedValueRoom(int32_t size) {
  return 4 * static_cast<size_t>(size > 0 ? size : 0) + 320;
}

// How a connection's values are read, where it is not as usual (bits).
enum ValueReading : uint8_t {
  kFloat4NotIeee = 0x01,   // the login announced a 4-byte float format other than IEEE 754
  kFloat8NotIeee = 0x02,   // and an 8-byte one
  kOrderUndecided = 0x04,  // no message has decided the connection's byte order yet
};

struct RenderedValue {
  size_t size = 0;
  ValueKind kind = ValueKind::kNull;
  bool plain = true;  // printable ASCII without quote or backslash: no output escapes it
};

// Writes the value's text at `out`, which has room for RenderedValueRoom(size) bytes. `reading`
// (ValueReading bits) says what of the connection is not as usual: a float of a format other
// than IEEE 754, and with the byte order undecided any value read in that order (integers of 2
// bytes and more, floats, dates and times, money, UTF-16 text), is shown as hex.
RenderedValue RenderValueTo(const WireColumn& column, const uint8_t* data, int32_t size, bool null,
                            bool msbFirst, Charset charset, char* out, uint8_t reading = 0);

// Writes the value (its data bytes, without framing) into `out` (cleared first) and returns
// how to write it. msbFirst is the connection's byte order, charset its character set.
ValueKind RenderValue(const WireColumn& column, const uint8_t* data, int32_t size, bool null,
                      bool msbFirst, Charset charset, std::string& out, uint8_t reading = 0);
