#include "tdsengine/out_buffer.h"

#include <cerrno>
#include <cstdlib>

#include "tdsengine/digits.h"

OutBuffer::OutBuffer(FILE* out, size_t capacity)
    : m_out(out), m_buf(static_cast<char*>(std::malloc(capacity))), m_cap(capacity) {}

OutBuffer::OutBuffer(WindowFn next, void* context)
    : m_out(nullptr), m_next(next), m_context(context), m_buf(nullptr), m_cap(0) {
  m_buf = m_next(m_context, 0, &m_cap);
}

OutBuffer::~OutBuffer() {
  flush();
  if (!m_next) std::free(m_buf);
}

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
  if (ensure(digits::kMaxDecimal)) {
    commit(digits::PutDecimal(cursor(), v));
    return;
  }
  char tmp[digits::kMaxDecimal];
  put(tmp, static_cast<size_t>(digits::PutDecimal(tmp, v) - tmp));
}

void OutBuffer::putNegative(int64_t v) {
  put('-');
  putUnsigned(static_cast<uint64_t>(-(v + 1)) + 1);
}

void OutBuffer::putHexByte(uint8_t b) {
  if (m_cap - m_len < 2) flush();
  std::memcpy(m_buf + m_len, digits::kPairs.hex + 2 * b, 2);
  m_len += 2;
}

void OutBuffer::putHex(const uint8_t* data, size_t n) {
  while (n > 0) {
    if (m_cap - m_len < 2) flush();
    const size_t room = (m_cap - m_len) / 2;
    const size_t k = n < room ? n : room;
    digits::PutHexBytes(m_buf + m_len, data, k);
    m_len += 2 * k;
    data += k;
    n -= k;
  }
}

void OutBuffer::flush() {
  if (m_next) {
    m_buf = m_next(m_context, m_len, &m_cap);
    m_len = 0;
    return;
  }
  if (m_len && m_out && !m_failed) {
    if (std::fwrite(m_buf, 1, m_len, m_out) != m_len) {
      m_failed = true;
      m_errno = errno;
    }
  }
  m_len = 0;
}
