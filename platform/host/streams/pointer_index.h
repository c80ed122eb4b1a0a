// A hash index of records that carry their own key: one pointer a slot, at most half the slots
// in use, linear probing, and deletion by shifting the entries after it back (no tombstones).
// It costs 16 bytes or less per record, against some 80 for a node-based map that keeps a copy
// of the key. Traits gives `static size_t Hash(const Key&)`, `static const Key& KeyOf(const
// Record&)` and `static bool Same(const Key&, const Key&)`.
#pragma once

#include <cstddef>
#include <vector>

template <class Record, class Key, class Traits>
class PointerIndex {
 public:
  Record* Find(const Key& key) const {
    if (m_slots.empty()) return nullptr;
    for (size_t i = Home(key);; i = Next(i)) {
      Record* r = m_slots[i];
      if (!r) return nullptr;
      if (Traits::Same(Traits::KeyOf(*r), key)) return r;
    }
  }

  // The record's key must not be in the index yet.
  void Insert(Record* record) {
    if ((m_used + 1) * 2 > m_slots.size()) Grow();
    Place(record);
    ++m_used;
  }

  void Erase(const Record* record) {
    if (m_slots.empty()) return;
    size_t hole = Home(Traits::KeyOf(*record));
    while (m_slots[hole] != record) {
      if (!m_slots[hole]) return;  // not indexed
      hole = Next(hole);
    }
    // Entries after the hole whose home is not between the hole and them move into it.
    for (size_t i = Next(hole); m_slots[i]; i = Next(i)) {
      const size_t home = Home(Traits::KeyOf(*m_slots[i]));
      const bool stays = hole <= i ? (hole < home && home <= i) : (hole < home || home <= i);
      if (stays) continue;
      m_slots[hole] = m_slots[i];
      hole = i;
    }
    m_slots[hole] = nullptr;
    --m_used;
  }

  // Calls fn(record) for every record; fn must not change the index.
  template <class Fn>
  void ForEach(Fn fn) const {
    for (Record* r : m_slots)
      if (r) fn(r);
  }
  void Clear() {
    m_slots.clear();
    m_used = 0;
  }
  size_t size() const { return m_used; }

 private:
  size_t Home(const Key& key) const { return Traits::Hash(key) & (m_slots.size() - 1); }
  size_t Next(size_t i) const { return (i + 1) & (m_slots.size() - 1); }
  void Place(Record* record) {
    size_t i = Home(Traits::KeyOf(*record));
    while (m_slots[i]) i = Next(i);
    m_slots[i] = record;
  }
  void Grow() {
    std::vector<Record*> old;
    old.swap(m_slots);
    m_slots.assign(old.empty() ? 64 : old.size() * 2, nullptr);
    for (Record* r : old)
      if (r) Place(r);
  }

  std::vector<Record*> m_slots;  // a power of two in size
  size_t m_used = 0;
};
