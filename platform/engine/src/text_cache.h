// The escaped form of constant texts (labels, notes, table texts), kept once per text so that a
// field's renderer copies it instead of scanning it. Only texts inside a range registered in
// constant_text.h are kept: their bytes cannot change under the kept copy. The engine renders
// on one thread; the caches are not shared between threads.
//
// The caches here and beside the renderers are objects of static storage only: their slots
// start out zeroed (empty) without the constructor writing them, so that memory is touched only
// as slots are used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class TextCache {
 public:
  // Writes the escaped form of text[0, length) at out; returns its size, which may exceed room,
  // in which case what was written is not used.
  using Escape = size_t (*)(const char* text, size_t length, char* out, size_t room);

  struct Entry {
    const char* key;
    uint32_t size;  // bytes of text in use
    bool kept;      // false: the key is not a constant text (or its form is too long)
    char text[115];
  };
  static constexpr size_t kRoom = sizeof(Entry::text);
  // Entry::text can always be read this far, whatever its size, for fixed-size copies.
  static constexpr size_t kShortCopy = 32;

  explicit TextCache(Escape escape);
  TextCache(const TextCache&) = delete;
  TextCache& operator=(const TextCache&) = delete;

  // The kept form of s, or null when s is not kept (null s included).
  const Entry* Find(const char* s) {
    Entry& e = m_slots[Slot(s)];
    if (e.key == s) return e.kept ? &e : nullptr;
    return Fill(e, s);
  }

  void Clear();

 private:
  static constexpr unsigned kSlotBits = 10;
  static size_t Slot(const char* s) {
    return static_cast<size_t>((reinterpret_cast<uintptr_t>(s) * 0x9E3779B97F4A7C15ull) >>
                               (64 - kSlotBits));
  }
  const Entry* Fill(Entry& e, const char* s);

  Escape m_escape;
  Entry m_slots[size_t(1) << kSlotBits];
};

// Copies a kept text to p, which has room for its size and at least TextCache::kShortCopy
// bytes; returns the end of the copy.
inline char* PutKept(char* p, const TextCache::Entry& e) {
  if (e.size <= TextCache::kShortCopy)
    std::memcpy(p, e.text, TextCache::kShortCopy);
  else
    std::memcpy(p, e.text, e.size);
  return p + e.size;
}
