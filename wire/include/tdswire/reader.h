// A bounds-checked cursor over bytes of one token or message. Every read checks what is left;
// a read that does not fit fails and leaves the cursor where it was.
#pragma once
#include <cstdint>

struct WireReader {
  const uint8_t* at;
  int32_t left;
  bool msbFirst;  // byte order of integers (the connection's)

  bool Skip(int32_t n) {
    if (n < 0 || n > left) return false;
    at += n;
    left -= n;
    return true;
  }
  // An unsigned integer of 1 to 4 bytes in the reader's byte order.
  bool Uint(int32_t width, uint32_t& value) {
    if (width < 1 || width > 4 || width > left) return false;
    uint32_t v = 0;
    for (int32_t i = 0; i < width; ++i) v = (v << 8) | at[msbFirst ? i : width - 1 - i];
    value = v;
    at += width;
    left -= width;
    return true;
  }
  bool U8(uint32_t& value) { return Uint(1, value); }
  bool U16(uint32_t& value) { return Uint(2, value); }
  bool U32(uint32_t& value) { return Uint(4, value); }
  // A byte string: n bytes, returned as a pointer into the input.
  bool Bytes(int32_t n, const uint8_t*& bytes) {
    if (n < 0 || n > left) return false;
    bytes = at;
    at += n;
    left -= n;
    return true;
  }
};

// An unsigned integer of 1 to 8 bytes at `at` in the given byte order (no bounds: the caller
// has checked them).
inline uint64_t WireUint(const uint8_t* at, int32_t width, bool msbFirst) {
  switch (width) {
    case 1:
      return at[0];
    case 2: {
      uint16_t v;
      __builtin_memcpy(&v, at, 2);
      return msbFirst == (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) ? v : __builtin_bswap16(v);
    }
    case 4: {
      uint32_t v;
      __builtin_memcpy(&v, at, 4);
      return msbFirst == (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) ? v : __builtin_bswap32(v);
    }
    case 8: {
      uint64_t v;
      __builtin_memcpy(&v, at, 8);
      return msbFirst == (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) ? v : __builtin_bswap64(v);
    }
    default: {
      uint64_t v = 0;
      for (int32_t i = 0; i < width; ++i) v = (v << 8) | at[msbFirst ? i : width - 1 - i];
      return v;
    }
  }
}
