#include "parallel/worker_channel.h"

#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "parallel/worker_feed.h"

static_assert(kMessageRun.feedBytes >= kLeastFeedBytes && kRequestRun.feedBytes >= kLeastFeedBytes,
              "a halved feed still holds a command");

namespace {

size_t FeedOffset(unsigned workers) {
  return kChannelOffset + (size_t(workers) * sizeof(WorkerChannel) + 63) / 64 * 64;
}

size_t MappedSize(unsigned workers) {
  return FeedOffset(workers) + size_t(workers) * sizeof(WorkerFeed);
}

}  // namespace

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
    if (!MapHalvableRing(*c, "tdsdecode-channel", bytes) ||
        (i > 0 && !MapHalvableRing(*run->feed(i), "tdsdecode-feed", shape.feedBytes))) {
      UnmapSharedRun(run);
      return nullptr;
    }
  }
  return run;
}

void UnmapSharedRun(SharedRun* run) {
  if (!run) return;
  for (unsigned i = 0; i < run->workers; ++i) {
    UnmapHalvableRing(*run->channel(i));
    UnmapHalvableRing(*run->feed(i));
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
