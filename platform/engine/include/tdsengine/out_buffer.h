// A large output buffer written to a FILE in big blocks; formatting appends straight into it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "tdsengine/engine.h"

class TDSENGINE_API OutBuffer {
 public:
  explicit OutBuffer(FILE* out, size_t capacity = 1 << 20);
  // Writes straight into memory the caller provides, a window at a time: `next` takes the
  // bytes written into the current window (0 at first) and gives the next window and its size.
  using WindowFn = char* (*)(void* context, size_t written, size_t* capacity);
  OutBuffer(WindowFn next, void* context);
  ~OutBuffer();
  OutBuffer(const OutBuffer&) = delete;
  OutBuffer& operator=(const OutBuffer&) = delete;

  void put(char c) {
    if (m_len == m_cap) flush();
    m_buf[m_len++] = c;
  }
  void put(const char* s, size_t n) {
    if (n <= m_cap - m_len) {
      std::memcpy(m_buf + m_len, s, n);
      m_len += n;
    } else {
      putLong(s, n);
    }
  }
  void put(const char* s) { put(s, std::strlen(s)); }
  void put(const std::string& s) { put(s.data(), s.size()); }
  void putUnsigned(uint64_t v);
  void putSigned(int64_t v) {
    if (v >= 0)
      putUnsigned(static_cast<uint64_t>(v));
    else
      putNegative(v);
  }
  void putHexByte(uint8_t b);
  // Two lowercase hex digits per byte.
  void putHex(const uint8_t* data, size_t n);
  void flush();
  bool failed() const { return m_failed; }
  // Output written around the buffer failed: nothing more is written.
  void fail(int errorNumber) {
    m_failed = true;
    m_errno = errorNumber;
  }
  // The system's error number of the failed write (0 when none was given).
  int errorNumber() const { return m_errno; }

  // Direct writing: once ensure(n) is true, up to n bytes may be written from cursor() on and
  // handed over with commit(end). False when the buffer cannot hold n bytes at all; the caller
  // then writes through put().
  bool ensure(size_t n) {
    if (m_cap - m_len >= n) return true;
    flush();
    return m_cap >= n;
  }
  char* cursor() { return m_buf + m_len; }
  // Bytes put and not yet flushed.
  size_t pending() const { return m_len; }
  // Bytes that can be put before the buffer is handed on.
  size_t room() const { return m_cap - m_len; }
  void commit(char* end) { m_len = static_cast<size_t>(end - m_buf); }

 private:
  void putLong(const char* s, size_t n);
  void putNegative(int64_t v);
  FILE* m_out;
  WindowFn m_next = nullptr;
  void* m_context = nullptr;
  char* m_buf;
  size_t m_len = 0;
  size_t m_cap;
  bool m_failed = false;
  int m_errno = 0;
};
