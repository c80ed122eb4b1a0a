#include "tdsengine/out_buffer.h"

#include <cstdlib>

OutBuffer::OutBuffer(FILE* out, size_t capacity)
    : m_out(out), m_buf(static_cast<char*>(std::malloc(capacity))), m_cap(capacity) {}

OutBuffer::~OutBuffer() {
  flush();
  std::free(m_buf);
}

namespace {

// "00" to "ff", and "00" to "99", two characters per value.
struct DigitPairs {
  char hex[512];
  char decimal[200];
  constexpr DigitPairs() : hex(), decimal() {
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
constexpr DigitPairs kPairs;

}  // namespace

void OutBuffer::putLong(const char* s, size_t n) {
  while (n > 0) {
    if (m_len == m_cap) flush();
    size_t room = m_cap - m_len;
    size_t k = n < room ? n : room;
    std::memcpy(m_buf + m_len, s, k);
    m_len += k;
    s += k;
    n -= k;
  }
}

namespace {

// Writes the digits of v so that they end at `end`; returns where they begin.
char* DecimalDigits(uint64_t v, char* end) {
  // Eight digits at a time in 32-bit arithmetic, then pairs.
  while (v >= 100000000u) {
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
    end -= 2;
    std::memcpy(end, kPairs.decimal + 2 * w, 2);
  } else {
    *--end = static_cast<char>('0' + w);
  }
  return end;
}

constexpr size_t kMaxDigits = 20;

}  // namespace

void OutBuffer::putUnsigned(uint64_t v) {
  // The digits are written ahead of a fixed-size copy, which leaves a few bytes past them
  // that the next write overwrites.
  char tmp[2 * kMaxDigits];
  char* const end = tmp + kMaxDigits;
  const char* p = DecimalDigits(v, end);
  const size_t n = static_cast<size_t>(end - p);
  if (m_cap - m_len >= kMaxDigits) {
    std::memcpy(m_buf + m_len, p, kMaxDigits);
    m_len += n;
  } else {
    put(p, n);
  }
}

void OutBuffer::putNegative(int64_t v) {
  put('-');
  putUnsigned(static_cast<uint64_t>(-(v + 1)) + 1);
}

void OutBuffer::putHexByte(uint8_t b) {
  if (m_cap - m_len < 2) flush();
  std::memcpy(m_buf + m_len, kPairs.hex + 2 * b, 2);
  m_len += 2;
}

void OutBuffer::putHex(const uint8_t* data, size_t n) {
  while (n > 0) {
    if (m_cap - m_len < 2) flush();
    const size_t room = (m_cap - m_len) / 2;
    const size_t k = n < room ? n : room;
    char* out = m_buf + m_len;
    for (size_t i = 0; i < k; ++i) std::memcpy(out + 2 * i, kPairs.hex + 2 * data[i], 2);
    m_len += 2 * k;
    data += k;
    n -= k;
  }
}

void OutBuffer::flush() {
  if (m_len && m_out && !m_failed) {
    if (std::fwrite(m_buf, 1, m_len, m_out) != m_len) m_failed = true;
  }
  m_len = 0;
}
