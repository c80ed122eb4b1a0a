#include "parallel/worker_channel.h"

#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace {

size_t ChannelOffset() {
  return (sizeof(SharedRun) + 63) / 64 * 64;
}

size_t MappedSize(unsigned workers) {
  return ChannelOffset() + size_t(workers) * sizeof(WorkerChannel);
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

SharedRun* MapSharedRun(unsigned workers, size_t channelBytes) {
  void* p =
      mmap(nullptr, MappedSize(workers), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  // Default-initialised, not value-initialised: the fresh pages are zero already, and zeroing
  // the owner slots (half a MiB) would fault them all in before the workers start.
  SharedRun* run = new (p) SharedRun;
  run->workers = workers;
  // Zeroed pages are every channel's starting state; the rings stay untouched until used.
  for (unsigned i = 0; i < workers; ++i) {
    WorkerChannel* c = run->channel(i);
    new (&c->stats) HostStats();
    if (!MapRing(*c, channelBytes)) {
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
  }
  munmap(run, MappedSize(run->workers));
}

namespace {

bool AllPassed(SharedRun& run, unsigned me, uint64_t conn) {
  for (unsigned w = 0; w < run.workers; ++w) {
    if (w == me || run.channel(w)->done.load(std::memory_order_acquire)) continue;
    if (run.passed[w].load(std::memory_order_acquire) < conn) return false;
  }
  return true;
}

}  // namespace

bool TakeConnection(SharedRun& run, unsigned me, uint32_t conn, void (*waiting)(void*),
                    void* context) {
  std::atomic<uint64_t>& slot = run.owners[conn % kOwnerSlots];
  const uint64_t mine = uint64_t(conn) << 8 | (me + 1);
  uint64_t seen = slot.load(std::memory_order_acquire);
  while ((seen >> 8) != conn) {
    // Connections are placed in number order by every worker, so a slot never holds a later one.
    if (seen != 0 && !AllPassed(run, me, seen >> 8)) {
      if (waiting) waiting(context);
      usleep(1000);
      seen = slot.load(std::memory_order_acquire);
      continue;
    }
    if (slot.compare_exchange_weak(seen, mine, std::memory_order_acq_rel,
                                   std::memory_order_acquire))
      seen = mine;
  }
  run.passed[me].store(conn, std::memory_order_release);
  return (seen & 0xff) == me + 1;
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
