#include "tdsengine/out_buffer.h"

#include <cstdlib>

OutBuffer::OutBuffer(FILE* out, size_t capacity)
    : m_out(out), m_buf(static_cast<char*>(std::malloc(capacity))), m_cap(capacity) {}

OutBuffer::~OutBuffer() {
  flush();
  std::free(m_buf);
}

void OutBuffer::put(const char* s, size_t n) {
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
  int i = 0;
  do {
    tmp[i++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  if (m_cap - m_len < 24) flush();
  while (i) m_buf[m_len++] = tmp[--i];
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
  static const char kDigits[] = "0123456789abcdef";
  if (m_cap - m_len < 2) flush();
  m_buf[m_len++] = kDigits[b >> 4];
  m_buf[m_len++] = kDigits[b & 15];
}

void OutBuffer::flush() {
  if (m_len && m_out && !m_failed) {
    if (std::fwrite(m_buf, 1, m_len, m_out) != m_len) m_failed = true;
  }
  m_len = 0;
}
