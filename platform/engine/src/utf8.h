// UTF-8 as the renderers check it.
#pragma once

#include <cstddef>
#include <cstdint>

// Length of the valid UTF-8 sequence starting at s (at most n bytes), 0 when it is not one.
inline size_t Utf8SequenceLength(const uint8_t* s, size_t n) {
  const uint8_t c = s[0];
  size_t len;
  uint32_t min;
  uint32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    min = 0x80;
    cp = c & 0x1Fu;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    min = 0x800;
    cp = c & 0x0Fu;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    min = 0x10000;
    cp = c & 0x07u;
  } else {
    return 0;
  }
  if (len > n) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i] & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}
