// A ring of shared memory mapped twice in a row, so that any run of up to its size from any
// place in it is one piece of memory, which can be halved for good while in use: a worker's
// channel and a fed worker's feed are such rings. Positions grow without end; a position's byte
// lies at its remainder by the ring's size.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct HalvableRing {
  // fullBytes mapped twice in a row; `half` maps the first half of the same memory twice in a
  // row: the ring once halved, for the positions from halfFrom on.
  char* data = nullptr;
  char* half = nullptr;
  size_t fullBytes = 0;                // a power of two
  std::atomic<uint64_t> dataBytes{0};  // the ring's size now: fullBytes, or half that
  std::atomic<uint64_t> halfFrom{UINT64_MAX};

  // Where a position's byte lies. A reader sees halfFrom before any byte written after the
  // ring was halved, once it has acquired the writer's head.
  char* at(uint64_t position) const {
    if (position >= halfFrom.load(std::memory_order_relaxed))
      return half + (position & (fullBytes / 2 - 1));
    return data + (position & (fullBytes - 1));
  }
  // Halves the ring for the positions from `tail` (the reader's) on: possible while the bytes
  // from there to `head` (the writer's) lie in the first half, unwrapped. The second half's
  // memory is given back. False when the bytes do not lie so.
  bool Shrink(uint64_t tail, uint64_t head);
  // Gives back the memory of the whole pages that hold none of the bytes from `tail` to `head`
  // (a ring not halved whose writer is done: its reader reads those bytes and no others).
  void GiveBackAllBut(uint64_t tail, uint64_t head);
};

// Maps `ring` with `size` bytes of shared memory named `name`, a power of two; false when
// refused. Unmap lets what was mapped go.
bool MapHalvableRing(HalvableRing& ring, const char* name, size_t size);
void UnmapHalvableRing(HalvableRing& ring);
