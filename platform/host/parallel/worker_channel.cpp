#include "parallel/worker_channel.h"

#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "parallel/worker_feed.h"

namespace {

size_t ChannelOffset() {
  return (sizeof(SharedRun) + 63) / 64 * 64;
}

size_t FeedOffset(unsigned workers) {
  return ChannelOffset() + (size_t(workers) * sizeof(WorkerChannel) + 63) / 64 * 64;
}

size_t MappedSize(unsigned workers) {
  return FeedOffset(workers) + size_t(workers) * sizeof(WorkerFeed);
}

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

// A ring of `size` bytes of shared memory, mapped twice in a row; null when refused.
char* MapFeedRing(size_t size) {
  const int fd = memfd_create("tdsdecode-feed", MFD_CLOEXEC);
  if (fd < 0) return nullptr;
  char* ring = ftruncate(fd, static_cast<off_t>(size)) == 0 ? MapMirrored(fd, size) : nullptr;
  close(fd);
  return ring;
}

// A channel's ring of `size` bytes of shared memory, and its first half, each mapped twice in a
// row; false when refused.
bool MapRing(WorkerChannel& c, size_t size) {
  const int fd = memfd_create("tdsdecode-channel", MFD_CLOEXEC);
  if (fd < 0) return false;
  if (ftruncate(fd, static_cast<off_t>(size)) == 0) {
    c.data = MapMirrored(fd, size);
    c.half = MapMirrored(fd, size / 2);
  }
  close(fd);
  c.fullBytes = size;
  c.dataBytes.store(size);
  c.halfFrom.store(UINT64_MAX);  // the channel is not constructed: its memory starts zeroed
  return c.data && c.half;
}

}  // namespace

bool WorkerChannel::Shrink(uint64_t tail, uint64_t head) {
  const uint64_t halfBytes = fullBytes / 2;
  const uint64_t tailAt = tail & (fullBytes - 1);
  const uint64_t headAt = head & (fullBytes - 1);
  // What waits must lie in the first half, unwrapped; with nothing waiting any place will do.
  if (head != tail && (head - tail >= halfBytes || tailAt > headAt || headAt >= halfBytes))
    return false;
  // From `tail` on both mappings give the same memory: the merger, which reads nothing before
  // it any more, may read those bytes through either.
  halfFrom.store(tail, std::memory_order_release);
  dataBytes.store(halfBytes, std::memory_order_release);
  madvise(data + halfBytes, halfBytes, MADV_REMOVE);
  return true;
}

WorkerChannel* SharedRun::channel(unsigned i) {
  char* base = reinterpret_cast<char*>(this) + ChannelOffset();
  return reinterpret_cast<WorkerChannel*>(base) + i;
}

WorkerFeed* SharedRun::feed(unsigned i) {
  char* base = reinterpret_cast<char*>(this) + FeedOffset(workers);
  return reinterpret_cast<WorkerFeed*>(base) + i;
}

SharedRun* MapSharedRun(unsigned workers, const RunShape& shape) {
  void* p =
      mmap(nullptr, MappedSize(workers), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  SharedRun* run = new (p) SharedRun;
  run->workers = workers;
  run->placeBelow = shape.placeBelow;
  for (unsigned i = 0; i < workers; ++i) new (run->feed(i)) WorkerFeed;
  // Zeroed pages are every channel's starting state; the rings stay untouched until used.
  for (unsigned i = 0; i < workers; ++i) {
    WorkerChannel* c = run->channel(i);
    new (&c->stats) HostStats();
    const size_t bytes = i == 0 ? shape.readerChannel : shape.fedChannel;
    if (!MapRing(*c, bytes) || (i > 0 && !(run->feed(i)->data = MapFeedRing(kFeedBytes)))) {
      UnmapSharedRun(run);
      return nullptr;
    }
  }
  return run;
}

void UnmapSharedRun(SharedRun* run) {
  if (!run) return;
  for (unsigned i = 0; i < run->workers; ++i) {
    WorkerChannel& c = *run->channel(i);
    if (c.data) munmap(c.data, 2 * c.fullBytes);
    if (c.half) munmap(c.half, c.fullBytes);
    if (char* ring = run->feed(i)->data) munmap(ring, 2 * kFeedBytes);
  }
  munmap(run, MappedSize(run->workers));
}

bool WaitWord(std::atomic<uint32_t>& word, uint32_t seen, int timeoutMs) {
  struct timespec t {};
  t.tv_sec = timeoutMs / 1000;
  t.tv_nsec = long(timeoutMs % 1000) * 1000000L;
  return syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT, seen, &t, nullptr, 0) ==
             0 ||
         errno != ETIMEDOUT;
}

void WakeWord(std::atomic<uint32_t>& word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE, 1 << 30, nullptr, nullptr, 0);
}
