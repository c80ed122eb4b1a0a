#include "tdswire/framing.h"

#include "tdswire/reader.h"

namespace {

struct TokenRule {
  uint8_t code;
  TokenLength length;
  uint8_t fixed;  // bytes after the type of a fixed token
  const char* name;
};

using L = TokenLength;

// Every code real traffic is known to carry. Codes not listed follow the fallback rule below.
constexpr TokenRule kTokens[] = {
    {0x10, L::kLength4, 0, "CURDECLARE3"},
    {0x20, L::kLength4, 0, "PARAMFMT2"},
    {0x21, L::kLength4, 0, "LANGUAGE"},
    {0x22, L::kLength4, 0, "ORDERBY2"},
    {0x23, L::kLength4, 0, "CURDECLARE2"},
    {0x61, L::kLength4, 0, "ROWFMT2"},
    {0x62, L::kLength4, 0, "DYNAMIC2"},
    {0x65, L::kLength1, 0, "MSG"},
    {0x71, L::kFixed, 1, "LOGOUT"},
    {0x78, L::kFixed, 4, "OFFSET"},
    {0x79, L::kFixed, 4, "RETURNSTATUS"},
    {0x7C, L::kFixed, 8, "PROCID"},
    {0x80, L::kLength2, 0, "CURCLOSE"},
    {0x81, L::kLength2, 0, "CURDELETE"},
    {0x82, L::kLength2, 0, "CURFETCH"},
    {0x83, L::kLength2, 0, "CURINFO"},
    {0x84, L::kLength2, 0, "CUROPEN"},
    {0x85, L::kLength2, 0, "CURUPDATE"},
    {0x86, L::kLength2, 0, "CURDECLARE"},
    {0x87, L::kLength2, 0, "CURINFO2"},
    {0x88, L::kLength2, 0, "CURINFO3"},
    {0xA0, L::kLength2, 0, "COLNAME"},
    {0xA1, L::kLength2, 0, "COLFMT"},
    {0xA2, L::kLength2, 0, "EVENTNOTICE"},
    {0xA4, L::kLength2, 0, "TABNAME"},
    {0xA5, L::kLength2, 0, "COLINFO"},
    {0xA6, L::kLength2, 0, "OPTIONCMD"},
    {0xA7, L::kLength2, 0, "ALTNAME"},
    {0xA8, L::kLength2, 0, "ALTFMT"},
    {0xA9, L::kLength2, 0, "ORDERBY"},
    {0xAA, L::kLength2, 0, "ERROR"},
    {0xAB, L::kLength2, 0, "INFO"},
    {0xAC, L::kLength2, 0, "RETURNVALUE"},
    {0xAD, L::kLength2, 0, "LOGINACK"},
    {0xAE, L::kLength2, 0, "CONTROL"},
    {0xAF, L::kLength2, 0, "ALTCONTROL"},
    {0xCA, L::kData, 0, "KEY"},
    {0xD1, L::kData, 0, "ROW"},
    {0xD3, L::kData, 0, "ALTROW"},
    {0xD7, L::kData, 0, "PARAMS"},
    {0xE0, L::kLength2, 0, "RPC"},
    {0xE2, L::kLength2, 0, "CAPABILITY"},
    {0xE3, L::kLength2, 0, "ENVCHANGE"},
    {0xE5, L::kLength2, 0, "EED"},
    {0xE6, L::kLength2, 0, "DBRPC"},
    {0xE7, L::kLength2, 0, "DYNAMIC"},
    {0xE8, L::kLength2, 0, "DBRPC2"},
    {0xEC, L::kLength2, 0, "PARAMFMT"},
    {0xEE, L::kLength2, 0, "ROWFMT"},
    {0xFD, L::kFixed, 8, "DONE"},
    {0xFE, L::kFixed, 8, "DONEPROC"},
    {0xFF, L::kFixed, 8, "DONEINPROC"},
};

struct TokenIndex {
  int8_t row[256];
  constexpr TokenIndex() : row() {
    for (int c = 0; c < 256; ++c) row[c] = -1;
    for (int i = 0; i < static_cast<int>(sizeof(kTokens) / sizeof(kTokens[0])); ++i)
      row[kTokens[i].code] = static_cast<int8_t>(i);
  }
};
constexpr TokenIndex kIndex;

}  // namespace

TokenLength TokenLengthOf(uint8_t code, int32_t* fixedSize) {
  if (fixedSize) *fixedSize = 0;
  const int row = kIndex.row[code];
  if (row >= 0) {
    if (fixedSize) *fixedSize = kTokens[row].fixed;
    return kTokens[row].length;
  }
  // Codes nobody has seen: the cursor range and the 0xA0-0xEF range carry a 2-byte length,
  // as every known token there does; elsewhere nothing tells where the token ends.
  if ((code >= 0x80 && code <= 0x8F) || (code >= 0xA0 && code <= 0xEF)) return L::kLength2;
  return L::kUnknown;
}

TokenFrame FrameToken(const uint8_t* at, int32_t available, bool msbFirst) {
  int32_t fixed = 0;
  const TokenLength length = TokenLengthOf(at[0], &fixed);
  TokenFrame frame{length, 0, false};
  int32_t width = 0;
  switch (length) {
    case L::kData:
    case L::kUnknown:
      return frame;
    case L::kFixed:
      frame.size = 1 + fixed;
      break;
    case L::kLength1:
      width = 1;
      break;
    case L::kLength2:
      width = 2;
      break;
    case L::kLength4:
      width = 4;
      break;
  }
  if (width > 0) {
    WireReader r{at + 1, available - 1, msbFirst};
    uint32_t n = 0;
    if (!r.Uint(width, n)) {
      frame.size = available;
      frame.cut = true;
      return frame;
    }
    const int64_t size = 1 + width + static_cast<int64_t>(n);
    frame.size = size > available ? available : static_cast<int32_t>(size);
    frame.cut = size > available;
    return frame;
  }
  if (frame.size > available) {
    frame.size = available;
    frame.cut = true;
  }
  return frame;
}

const char* WireTokenName(uint8_t code) {
  const int row = kIndex.row[code];
  return row < 0 ? nullptr : kTokens[row].name;
}
