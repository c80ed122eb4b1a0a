// A small deterministic random source (SplitMix64). The standard library's distributions are
// not the same on every implementation, so the generator draws its numbers only from here: the
// same seed gives the same capture everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gen {

class Rng {
 public:
  explicit Rng(uint64_t seed) : m_state(seed) {}

  uint64_t Next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A number in [0, n); 0 when n is 0.
  uint32_t Below(uint32_t n) { return n ? static_cast<uint32_t>((Next() >> 32) * n >> 32) : 0; }
  // A number in [low, high].
  uint32_t Range(uint32_t low, uint32_t high) { return low + Below(high - low + 1); }
  bool Chance(uint32_t percent) { return Below(100) < percent; }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(static_cast<uint32_t>(N))];
  }

 private:
  uint64_t m_state;
};

// A seed of its own for each part of the capture, so that one part's draws do not shift
// another's.
inline uint64_t DeriveSeed(uint64_t seed, uint64_t part) {
  Rng r(seed ^ (part * 0xD1B54A32D192ED03ull));
  return r.Next();
}

}  // namespace gen
