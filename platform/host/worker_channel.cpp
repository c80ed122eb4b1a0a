#include "worker_channel.h"

#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <new>

namespace {

size_t ChannelOffset() {
  return (sizeof(SharedRun) + 63) / 64 * 64;
}

size_t MappedSize(unsigned workers) {
  return ChannelOffset() + size_t(workers) * sizeof(WorkerChannel);
}

}  // namespace

WorkerChannel* SharedRun::channel(unsigned i) {
  char* base = reinterpret_cast<char*>(this) + ChannelOffset();
  return reinterpret_cast<WorkerChannel*>(base) + i;
}

SharedRun* MapSharedRun(unsigned workers) {
  void* p =
      mmap(nullptr, MappedSize(workers), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  SharedRun* run = new (p) SharedRun();
  run->workers = workers;
  // Zeroed pages are every channel's starting state; the rings stay untouched until used.
  for (unsigned i = 0; i < workers; ++i) new (&run->channel(i)->stats) HostStats();
  return run;
}

void UnmapSharedRun(SharedRun* run) {
  if (run) munmap(run, MappedSize(run->workers));
}

void WaitWord(std::atomic<uint32_t>& word, uint32_t seen, int timeoutMs) {
  struct timespec t {};
  t.tv_sec = timeoutMs / 1000;
  t.tv_nsec = long(timeoutMs % 1000) * 1000000L;
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT, seen, &t, nullptr, 0);
}

void WakeWord(std::atomic<uint32_t>& word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE, 1 << 30, nullptr, nullptr, 0);
}
