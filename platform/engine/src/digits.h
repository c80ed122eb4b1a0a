// Digits written straight into memory the caller has made room for: decimal numbers (at most
// 20 characters) and hex bytes (two characters each). Shared by the output buffer and the
// renderers, which write whole pieces of a record without a room check per character.
#pragma once

#include <cstdint>
#include <cstring>

namespace digits {

// "00" to "ff", and "00" to "99", two characters per value.
struct Pairs {
  char hex[512];
  char decimal[200];
  constexpr Pairs() : hex(), decimal() {
    const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 256; ++i) {
      hex[2 * i] = kDigits[i >> 4];
      hex[2 * i + 1] = kDigits[i & 15];
    }
    for (int i = 0; i < 100; ++i) {
      decimal[2 * i] = static_cast<char>('0' + i / 10);
      decimal[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
inline constexpr Pairs kPairs;

constexpr size_t kMaxDecimal = 20;  // digits of the largest 64-bit value

// Number of decimal digits of v, for v of at least 1.
inline unsigned DecimalCount(uint64_t v) {
  static constexpr uint64_t kPowers[20] = {1u,
                                           10u,
                                           100u,
                                           1000u,
                                           10000u,
                                           100000u,
                                           1000000u,
                                           10000000u,
                                           100000000u,
                                           1000000000u,
                                           10000000000u,
                                           100000000000u,
                                           1000000000000u,
                                           10000000000000u,
                                           100000000000000u,
                                           1000000000000000u,
                                           10000000000000000u,
                                           100000000000000000u,
                                           1000000000000000000u,
                                           10000000000000000000u};
  // log10 from the bit length (1233 / 4096 is just above log10(2)), corrected by one table look.
  const unsigned bits = 64u - static_cast<unsigned>(__builtin_clzll(v | 1));
  const unsigned guess = (bits * 1233u) >> 12;
  return guess + (v >= kPowers[guess] ? 1u : 0u);
}

// Writes the digits of v ending just before `end`, pairs at a time, from the last digit back.
inline void DecimalBackwards(uint64_t v, char* end) {
  while (v >= 100000000u) {
    // Eight digits in 32-bit arithmetic.
    uint32_t low = static_cast<uint32_t>(v % 100000000u);
    v /= 100000000u;
    for (int i = 0; i < 4; ++i) {
      end -= 2;
      std::memcpy(end, kPairs.decimal + 2 * (low % 100), 2);
      low /= 100;
    }
  }
  uint32_t w = static_cast<uint32_t>(v);
  while (w >= 100) {
    end -= 2;
    std::memcpy(end, kPairs.decimal + 2 * (w % 100), 2);
    w /= 100;
  }
  if (w >= 10) {
    std::memcpy(end - 2, kPairs.decimal + 2 * w, 2);
  } else {
    end[-1] = static_cast<char>('0' + w);
  }
}

// Writes v in decimal at p (room for kMaxDecimal characters); returns the end.
inline char* PutDecimal(char* p, uint64_t v) {
  if (v < 10) {
    *p = static_cast<char>('0' + v);
    return p + 1;
  }
  if (v < 100) {
    std::memcpy(p, kPairs.decimal + 2 * v, 2);
    return p + 2;
  }
  char* const end = p + DecimalCount(v);
  DecimalBackwards(v, end);
  return end;
}

// Writes v with a leading '-' when negative (room for kMaxDecimal + 1 characters).
inline char* PutSignedDecimal(char* p, int64_t v) {
  if (v >= 0) return PutDecimal(p, static_cast<uint64_t>(v));
  *p = '-';
  return PutDecimal(p + 1, static_cast<uint64_t>(-(v + 1)) + 1);
}

// Two lowercase hex digits per byte at p (room for 2 * n characters); returns the end.
inline char* PutHexBytes(char* p, const uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) std::memcpy(p + 2 * i, kPairs.hex + 2 * data[i], 2);
  return p + 2 * n;
}

}  // namespace digits
