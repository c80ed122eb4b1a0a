#include "parallel/halvable_ring.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

namespace {

// The first `size` bytes of the file mapped twice, back to back; null when refused.
char* MapMirrored(int fd, size_t size) {
  void* area = mmap(nullptr, 2 * size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) return nullptr;
  char* base = static_cast<char*>(area);
  if (mmap(base, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED ||
      mmap(base + size, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) ==
          MAP_FAILED) {
    munmap(area, 2 * size);
    return nullptr;
  }
  return base;
}

}  // namespace

bool MapHalvableRing(HalvableRing& ring, const char* name, size_t size) {
  const int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) return false;
  if (ftruncate(fd, static_cast<off_t>(size)) == 0) {
    ring.data = MapMirrored(fd, size);
    ring.half = MapMirrored(fd, size / 2);
  }
  close(fd);
  ring.fullBytes = size;
  ring.dataBytes.store(size);
  ring.halfFrom.store(UINT64_MAX);
  return ring.data && ring.half;
}

void UnmapHalvableRing(HalvableRing& ring) {
  if (ring.data) munmap(ring.data, 2 * ring.fullBytes);
  if (ring.half) munmap(ring.half, ring.fullBytes);
  ring.data = nullptr;
  ring.half = nullptr;
}

bool HalvableRing::Shrink(uint64_t tail, uint64_t head) {
  const uint64_t halfBytes = fullBytes / 2;
  const uint64_t tailAt = tail & (fullBytes - 1);
  const uint64_t headAt = head & (fullBytes - 1);
  // What waits must lie in the first half, unwrapped; with nothing waiting any place will do.
  if (head != tail && (head - tail >= halfBytes || tailAt > headAt || headAt >= halfBytes))
    return false;
  // From `tail` on both mappings give the same memory: the reader, which reads nothing before
  // it any more, may read those bytes through either.
  halfFrom.store(tail, std::memory_order_release);
  dataBytes.store(halfBytes, std::memory_order_release);
  madvise(data + halfBytes, halfBytes, MADV_REMOVE);
  return true;
}

void HalvableRing::GiveBackAllBut(uint64_t tail, uint64_t head) {
  if (dataBytes.load(std::memory_order_relaxed) != fullBytes || head - tail >= fullBytes) return;
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  const uint64_t from = (head + page - 1) / page * page;  // the first page past what waits
  const uint64_t to = tail / page * page + fullBytes;     // up to the page where it begins
  for (uint64_t at = from; at < to;) {
    const uint64_t offset = at & (fullBytes - 1);
    const uint64_t length = std::min(to - at, fullBytes - offset);
    madvise(data + offset, length, MADV_REMOVE);
    at += length;
  }
}
