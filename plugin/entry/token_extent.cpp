#include "entry/token_extent.h"

namespace {

uint32_t ReadLength(const uint8_t* at, int32_t width, int32_t byteOrder) {
  uint32_t value = 0;
  for (int32_t i = 0; i < width; ++i) {
    const int32_t index = byteOrder == 1 ? i : width - 1 - i;
    value = (value << 8) | at[index];
  }
  return value;
}

// Width of the length field that follows the type byte, or 0 for a fixed-size token (whose
// size is then in *fixed), or -1 for a token without one.
int32_t LengthWidth(uint8_t token, int32_t* fixed) {
  *fixed = 0;
  switch (token & 0x30) {
    case 0x30:  // fixed-size tokens: 1, 2, 4 or 8 bytes after the type
      *fixed = 1 << ((token >> 2) & 0x03);
      return 0;
    case 0x10:  // no length: the row tokens, walked with their format
      return -1;
    case 0x20:
      if (token == 0x65) return 1;  // MSG carries a one-byte length
      // Below 0x80 the variable tokens carry a four-byte length (LANGUAGE and the "2" forms
      // of the format tokens); above, two bytes.
      return token < 0x80 ? 4 : 2;
    default:  // cursor commands and the other variable tokens of the 0x00 class
      return 2;
  }
}

}  // namespace

TokenExtent FrameToken(const uint8_t* data, int32_t available, int32_t byteOrder) {
  const uint8_t token = data[0];
  if (token == 0xD1 || token == 0xCA || token == 0xD7 || token == 0xD3) {
    return {ExtentKind::DataRow, 0};
  }
  int32_t fixed = 0;
  const int32_t width = LengthWidth(token, &fixed);
  if (width < 0) return {ExtentKind::Unknown, 0};
  int64_t size = 1;
  if (width == 0) {
    size += fixed;
  } else if (available < 1 + width) {
    size = available;
  } else {
    size += width + static_cast<int64_t>(ReadLength(data + 1, width, byteOrder));
  }
  if (size > available) size = available;
  return {ExtentKind::Sized, static_cast<int32_t>(size)};
}
