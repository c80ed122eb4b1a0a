// What a worker's request record tells the merge after its text, for the parts of the log that
// depend on the whole of it (the kind, time and day of the request, its slow line, its errors):
// fixed-size numbers in the machine's order and pieces of text, each its size then its bytes.
// Both processes of a run are the same program on the same machine.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "tdsengine/out_buffer.h"

// A piece that is not there.
constexpr uint32_t kNoPiece = UINT32_MAX;

inline void PutWord(OutBuffer& out, uint32_t v) {
  out.put(reinterpret_cast<const char*>(&v), sizeof(v));
}
inline void PutLong(OutBuffer& out, int64_t v) {
  out.put(reinterpret_cast<const char*>(&v), sizeof(v));
}
inline void PutPiece(OutBuffer& out, std::string_view s) {
  PutWord(out, static_cast<uint32_t>(s.size()));
  out.put(s.data(), s.size());
}

// Reads them back.
class Told {
 public:
  Told(const char* at, const char* end) : m_at(at), m_end(end) {}
  uint8_t Byte() { return m_at < m_end ? static_cast<uint8_t>(*m_at++) : 0; }
  uint32_t Word() { return Fixed<uint32_t>(); }
  int64_t Long() { return Fixed<int64_t>(); }
  // False when the piece is not there (kNoPiece).
  bool Piece(std::string_view& s) {
    const uint32_t size = Word();
    if (size == kNoPiece) return false;
    const size_t n = std::min<size_t>(size, static_cast<size_t>(m_end - m_at));
    s = std::string_view(m_at, n);
    m_at += n;
    return true;
  }

 private:
  template <typename T>
  T Fixed() {
    T v{};
    if (m_end - m_at >= static_cast<ptrdiff_t>(sizeof(T))) std::memcpy(&v, m_at, sizeof(T));
    m_at += sizeof(T);
    if (m_at > m_end) m_at = m_end;
    return v;
  }
  const char* m_at;
  const char* m_end;
};
