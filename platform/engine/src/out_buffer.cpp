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

void OutBuffer::putUnsigned(uint64_t v) {
  char tmp[24];
  char* end = tmp + sizeof(tmp);
  char* p = end;
  while (v >= 100) {
    const unsigned pair = static_cast<unsigned>(v % 100);
    v /= 100;
    p -= 2;
    std::memcpy(p, kPairs.decimal + 2 * pair, 2);
  }
  if (v >= 10) {
    p -= 2;
    std::memcpy(p, kPairs.decimal + 2 * v, 2);
  } else {
    *--p = static_cast<char>('0' + v);
  }
  put(p, static_cast<size_t>(end - p));
}

void OutBuffer::putSigned(int64_t v) {
  if (v < 0) {
    put('-');
    putUnsigned(static_cast<uint64_t>(-(v + 1)) + 1);
  } else {
    putUnsigned(static_cast<uint64_t>(v));
  }
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
