// Digits written straight into memory the caller has made room for: decimal numbers (at most
// 20 characters) and hex bytes (two characters each). Shared by the output buffer and the
// renderers, which write whole pieces of a record without a room check per character.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Writes the two digits of v < 100.
inline char* PutPair(char* p, uint32_t v) {
  std::memcpy(p, kPairs.decimal + 2 * v, 2);
  return p + 2;
}
// One or two digits of v < 100, without a leading zero.
inline char* PutLeading(char* p, uint32_t v) {
  if (v < 10) {
    *p = static_cast<char>('0' + v);
    return p + 1;
  }
  return PutPair(p, v);
}
// Up to four digits of v < 10000 without leading zeros.
inline char* PutLeading4(char* p, uint32_t v) {
  if (v < 100) return PutLeading(p, v);
  return PutPair(PutLeading(p, v / 100), v % 100);
}

// Writes v in decimal at p (room for kMaxDecimal characters); returns the end. Numbers below
// 10^8, as offsets, sizes and most values are, go without a loop.
inline char* PutDecimal(char* p, uint64_t v) {
  if (v < 10000) return PutLeading4(p, static_cast<uint32_t>(v));
  if (v < 100000000) {
    const uint32_t w = static_cast<uint32_t>(v);
    const uint32_t low = w % 10000;
    p = PutLeading4(p, w / 10000);
    return PutPair(PutPair(p, low / 100), low % 100);
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

#if defined(__SSE2__)
// Sixteen nibbles, one per byte, as hex digits: '0' + n, plus 39 more for n above 9
// ('a' - '0' - 10).
inline __m128i HexAscii(__m128i nibbles) {
  const __m128i letters =
      _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)), _mm_set1_epi8('a' - '0' - 10));
  return _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')), letters);
}

// Eight bytes (the low half) as sixteen hex digits, high nibble first.
inline __m128i HexDigits8(__m128i bytes) {
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble);
  const __m128i low = _mm_and_si128(bytes, nibble);
  return HexAscii(_mm_unpacklo_epi8(high, low));
}
#endif

// Two lowercase hex digits per byte at p (room for 2 * n characters); returns the end.
inline char* PutHexBytes(char* p, const uint8_t* data, size_t n) {
  char* const end = p + 2 * n;
#if defined(__SSE2__)
  if (n >= 8) {
    // Sixteen bytes at a time, then eight; the last eight again where n is no multiple of
    // eight (the same digits written twice).
    const __m128i nibble = _mm_set1_epi8(0x0F);
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
      const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble);
      const __m128i low = _mm_and_si128(bytes, nibble);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 2 * i),
                       HexAscii(_mm_unpacklo_epi8(high, low)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 2 * i + 16),
                       HexAscii(_mm_unpackhi_epi8(high, low)));
    }
    for (; i + 8 <= n; i += 8) {
      const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(data + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 2 * i), HexDigits8(bytes));
    }
    if (i < n) {
      const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(data + n - 8));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(end - 16), HexDigits8(bytes));
    }
    return end;
  }
  if (n >= 4) {
    // Four bytes, and the last four (overlapping when n is below eight).
    uint32_t first;
    uint32_t last;
    std::memcpy(&first, data, sizeof(first));
    std::memcpy(&last, data + n - 4, sizeof(last));
    const __m128i digits = HexDigits8(_mm_unpacklo_epi32(
        _mm_cvtsi32_si128(static_cast<int>(first)), _mm_cvtsi32_si128(static_cast<int>(last))));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), digits);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(end - 8), _mm_unpackhi_epi64(digits, digits));
    return end;
  }
#endif
  for (size_t i = 0; i < n; ++i) std::memcpy(p + 2 * i, kPairs.hex + 2 * data[i], 2);
  return end;
}

}  // namespace digits
