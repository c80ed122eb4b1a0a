#include "tdswire/format.h"

#include "tdswire/reader.h"
#include "tdswire/tokens.h"

namespace {

// What one entry of each format token holds besides the datatype and its information.
struct FormatLayout {
  uint8_t token;
  int8_t lengthWidth;  // of the token's length
  uint8_t names;       // 1-byte-prefixed names per entry (ROWFMT2: label, catalog, schema,
                       // table, column); 0 for ALTFMT
  int8_t statusWidth;  // 0 for ALTFMT
  bool params;
  bool altfmt;
};

constexpr FormatLayout kLayouts[] = {
    {kTokenRowFmt, 2, 1, 1, false, false},    // a name, a 1-byte status
    {kTokenRowFmt2, 4, 5, 4, false, false},   // five names, a 4-byte status
    {kTokenParamFmt, 2, 1, 1, true, false},   // a name, a 1-byte status
    {kTokenParamFmt2, 4, 1, 4, true, false},  // a name, a 4-byte status
    {kTokenAltFmt, 2, 0, 0, false, true},     // an operator and its operand instead
};

const FormatLayout* LayoutOf(uint8_t token) {
  for (const FormatLayout& l : kLayouts)
    if (l.token == token) return &l;
  return nullptr;
}

bool Name(WireReader& r, const uint8_t*& bytes, uint32_t& size) {
  uint32_t n = 0;
  if (!r.U8(n)) return false;
  size = n;
  return r.Bytes(static_cast<int32_t>(n), bytes);
}

}  // namespace

bool ReadTypeInfo(WireReader& r, const DatatypeRule& rule, bool rowFormat, WireColumn& c) {
  uint32_t v = 0;
  switch (rule.info) {
    case TypeInfo::kNone:
      return true;
    case TypeInfo::kMax1:
      if (!r.U8(v)) return false;
      c.maxLength = v;
      return true;
    case TypeInfo::kMax4:
      if (!r.U32(v)) return false;
      c.maxLength = v;
      return true;
    case TypeInfo::kMax4Table:
      if (!r.U32(v)) return false;
      c.maxLength = v;
      if (!rowFormat) return true;
      return r.U16(v) && r.Skip(static_cast<int32_t>(v));
    case TypeInfo::kDecimal:
      if (!r.U8(v)) return false;
      c.maxLength = v;
      if (!r.U8(v)) return false;
      c.precision = static_cast<uint8_t>(v);
      if (!r.U8(v)) return false;
      c.scale = static_cast<uint8_t>(v);
      return true;
    case TypeInfo::kMax1Extra:
      if (!r.U8(v)) return false;
      c.maxLength = v;
      if (!r.U8(v)) return false;
      c.extra = static_cast<uint8_t>(v);
      return true;
  }
  return false;
}

bool ParseFormat(const uint8_t* token, int32_t size, bool msbFirst, WireFormat& out) {
  out.columns.clear();
  out.names.clear();
  out.keys.clear();
  out.id = 0;
  if (size < 1) return false;
  const FormatLayout* layout = LayoutOf(token[0]);
  if (!layout) return false;
  out.token = token[0];
  out.params = layout->params;
  WireReader r{token + 1, size - 1, msbFirst};
  uint32_t length = 0;
  if (!r.Uint(layout->lengthWidth, length) || length != static_cast<uint32_t>(r.left)) return false;
  uint32_t count = 0;
  if (layout->altfmt) {
    uint32_t id = 0;
    if (!r.U16(id) || !r.U8(count)) return false;
    out.id = static_cast<uint16_t>(id);
  } else if (!r.U16(count)) {
    return false;
  }
  // Every entry takes at least 8 bytes: no count can ask for more entries than bytes allow.
  if (count > static_cast<uint32_t>(r.left)) return false;
  out.columns.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    WireColumn c;
    uint32_t v = 0;
    if (layout->altfmt) {
      if (!r.U8(v)) return false;
      c.operatorId = static_cast<uint16_t>(v);
      if (!r.U8(v)) return false;
      c.operand = static_cast<uint16_t>(v);
    }
    // ROWFMT2 shows the label, and the column name when the label is empty.
    const uint8_t* shown = nullptr;
    uint32_t shownSize = 0;
    for (uint8_t n = 0; n < layout->names; ++n) {
      const uint8_t* bytes = nullptr;
      uint32_t bytesSize = 0;
      if (!Name(r, bytes, bytesSize)) return false;
      if (n == 0 || (shownSize == 0 && n == 4)) {
        shown = bytes;
        shownSize = bytesSize;
      }
    }
    c.nameBegin = static_cast<uint32_t>(out.names.size());
    c.nameSize = shownSize;
    if (shownSize) out.names.append(reinterpret_cast<const char*>(shown), shownSize);
    if (layout->statusWidth && !r.Uint(layout->statusWidth, c.status)) return false;
    if (!r.U32(v)) return false;
    c.userType = static_cast<int32_t>(v);
    if (!r.U8(v)) return false;
    c.type = static_cast<uint8_t>(v);
    const DatatypeRule* rule = DatatypeOf(c.type);
    if (!rule || !ReadTypeInfo(r, *rule, !layout->params, c)) return false;
    uint32_t locale = 0;
    if (!r.U8(locale) || !r.Skip(static_cast<int32_t>(locale))) return false;
    // Row formats too: the byte precedes a value exactly when its own entry asks for it.
    c.statusByte = !layout->altfmt && (c.status & kColumnStatusByte);
    if (!layout->params && !layout->altfmt && (c.status & kColumnKey))
      out.keys.push_back(static_cast<uint16_t>(i));
    out.columns.push_back(c);
  }
  if (layout->altfmt) {
    // The by-list: a count and one column number each.
    uint32_t by = 0;
    if (!r.U8(by) || !r.Skip(static_cast<int32_t>(by))) return false;
  }
  return r.left == 0;
}

bool FrameValue(const WireColumn& column, bool paramsLayout, bool statusByte, const uint8_t* at,
                int32_t available, bool msbFirst, ValueSpan& span) {
  span = ValueSpan{};
  WireReader r{at, available, msbFirst};
  const DatatypeRule* rule = DatatypeOf(column.type);
  if (!rule) return false;
  uint32_t v = 0;
  if (statusByte) {
    if (!r.U8(v)) return false;
    if (v & 0x01) {
      span.size = 1;
      span.dataOffset = 1;
      span.null = true;
      return true;
    }
  }
  uint32_t n = 0;
  switch (rule->framing) {
    case ValueFraming::kFixed:
      n = rule->fixedSize;
      break;
    case ValueFraming::kPrefix1:
      if (!r.U8(n)) return false;
      break;
    case ValueFraming::kPrefix4:
      if (!r.U32(n)) return false;
      break;
    case ValueFraming::kTextPtr:
      if (paramsLayout) {
        if (!r.U32(n)) return false;
        break;
      }
      if (!r.U8(v)) return false;
      if (v == 0) {
        span.null = true;
        break;
      }
      // Text pointer, 8-byte timestamp, then the data's 4-byte length.
      if (!r.Skip(static_cast<int32_t>(v) + 8) || !r.U32(n)) return false;
      break;
    case ValueFraming::kUnframed:
      return false;
  }
  if (n > static_cast<uint32_t>(r.left)) return false;
  // A length of 0 is NULL, text and image in parameters too (their length is all they carry);
  // a row's text with a text pointer and no data is empty.
  const bool framedByLength = rule->framing == ValueFraming::kPrefix1 ||
                              rule->framing == ValueFraming::kPrefix4 ||
                              (rule->framing == ValueFraming::kTextPtr && paramsLayout);
  if (framedByLength && n == 0) span.null = true;
  span.dataOffset = available - r.left;
  span.dataSize = static_cast<int32_t>(n);
  span.size = span.dataOffset + span.dataSize;
  return true;
}

int32_t DataTokenExtent(const WireFormat& format, bool keysOnly, const uint8_t* token,
                        int32_t available, bool msbFirst) {
  int32_t at = 1;
  if (token[0] == kTokenAltRow) at += 2;  // the compute id
  if (at > available) return 0;
  const size_t count = keysOnly ? format.keys.size() : format.columns.size();
  for (size_t i = 0; i < count; ++i) {
    const WireColumn& c = format.columns[keysOnly ? format.keys[i] : i];
    ValueSpan span;
    if (!FrameValue(c, format.params, c.statusByte && !keysOnly, token + at, available - at,
                    msbFirst, span))
      return 0;
    at += span.size;
  }
  return at;
}
