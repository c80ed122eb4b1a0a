// Formats: the column or parameter descriptions of ROWFMT, ROWFMT2, PARAMFMT, PARAMFMT2 and
// ALTFMT, kept for the data tokens that follow, and the extent of a value or a row under them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tdswire/datatypes.h"

// Status bits of a format entry.
constexpr uint32_t kColumnHidden = 0x01;      // row formats
constexpr uint32_t kColumnKey = 0x02;         // row formats
constexpr uint32_t kParamOutput = 0x01;       // parameter formats
constexpr uint32_t kColumnStatusByte = 0x08;  // a column status byte precedes this entry's values
constexpr uint32_t kColumnNullable = 0x20;

struct WireColumn {
  uint32_t nameBegin = 0;  // the name people see (label, else column name; parameter name),
  uint32_t nameSize = 0;   // bytes in WireFormat::names, in the connection's character set
  uint32_t status = 0;
  int32_t userType = 0;
  uint8_t type = 0;
  uint8_t precision = 0;
  uint8_t scale = 0;
  uint8_t extra = 0;        // bigdatetime / bigtime: the byte after the maximum length
  uint32_t maxLength = 0;   // 0 for fixed-size types
  uint16_t operatorId = 0;  // ALTFMT: the aggregate operator
  uint16_t operand = 0;     // ALTFMT: the column it applies to
  bool statusByte = false;  // a column status byte precedes each of its values (status 0x08)
};

struct WireFormat {
  uint8_t token = 0;    // the format token it came from
  bool params = false;  // a parameter format (values framed as parameters)
  uint16_t id = 0;      // ALTFMT: the compute id
  std::vector<WireColumn> columns;
  std::string names;
  // Row formats: the key columns (status & 0x02), in order, as indexes into columns.
  std::vector<uint16_t> keys;
};

struct WireReader;
struct DatatypeRule;
// Reads the type information of a format entry after its datatype byte (rowFormat: text and
// image carry a table name).
bool ReadTypeInfo(WireReader& r, const DatatypeRule& rule, bool rowFormat, WireColumn& c);

// Parses a whole format token (type byte included, `size` bytes) into `out`. False when it does
// not parse to its end or names a datatype without a rule; `out` is then incomplete.
bool ParseFormat(const uint8_t* token, int32_t size, bool msbFirst, WireFormat& out);

// Where one value lies: the bytes after its framing, or NULL.
struct ValueSpan {
  int32_t size = 0;        // bytes of the whole value, framing included
  int32_t dataOffset = 0;  // from the value's first byte to its data
  int32_t dataSize = 0;
  bool null = false;
};

// Frames one value of `column` at `at` (`available` bytes): with statusByte, the column status
// byte first (0x01 = NULL, nothing follows). Returns false when it does not fit or the type
// has no framing.
bool FrameValue(const WireColumn& column, bool paramsLayout, bool statusByte, const uint8_t* at,
                int32_t available, bool msbFirst, ValueSpan& span);

// The bytes of one data token (type byte included) under the format, or 0 when it does not
// fit. KEY tokens take only the key columns (keysOnly). ALTROW carries its 2-byte id first.
int32_t DataTokenExtent(const WireFormat& format, bool keysOnly, const uint8_t* token,
                        int32_t available, bool msbFirst);
