#include "parallel/merge_loop.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "input/stop_signal.h"
#include "options.h"

void MergeLoop::Run() {
  while (!m_stopped) {
    // A SIGINT or SIGTERM sent to this process alone (not to its group, as a terminal's ^C
    // is) reaches the workers too: they stop reading as one worker would.
    if (!m_stopForwarded && StopRequested()) {
      m_stopForwarded = true;
      for (pid_t p : m_pids) kill(p, SIGTERM);
    }
    const uint32_t seen = m_run.published.load(std::memory_order_seq_cst);
    if (Step()) continue;
    if (m_stopped || AllDone()) break;
    // Room is given back when a worker waits for it; otherwise the pieces wait for more.
    if (AnyWaiting()) Flush();
    m_run.mergerWaitsOn.store(m_waitsOn, std::memory_order_seq_cst);
    m_run.mergerWaiting.store(1, std::memory_order_seq_cst);
    if (!Step() && !m_stopped && !AllDone()) {
      m_run.mergerWaitsOn.store(m_waitsOn, std::memory_order_seq_cst);
      if (AnyWaiting()) Flush();
      if (!WaitWord(m_run.published, seen, kWaitMs)) CheckWorkers();
    }
    m_run.mergerWaiting.store(0, std::memory_order_seq_cst);
  }
  Flush();
}

void MergeLoop::GiveRoom() {
  for (unsigned w = 0; w < m_run.workers; ++w) {
    WorkerChannel& c = *m_run.channel(w);
    const State& s = m_state[w];
    const uint64_t tail = RoomTail(w);
    if (c.dataTail.load(std::memory_order_relaxed) == tail &&
        c.dataTaken.load(std::memory_order_relaxed) == s.tail &&
        c.markTail.load(std::memory_order_relaxed) == s.markTail)
      continue;
    c.dataTail.store(tail, std::memory_order_release);
    c.dataTaken.store(s.tail, std::memory_order_release);
    c.markTail.store(s.markTail, std::memory_order_release);
    c.freed.fetch_add(1, std::memory_order_seq_cst);
    // A waiting worker is woken once a quarter of its channel is free, not for every record:
    // each wake costs both sides a switch (it wakes by itself after kWaitMs anyway).
    const uint64_t ring = c.dataBytes.load();
    const uint64_t bytesFree = ring - (c.dataHead.load() - tail);
    const uint64_t marksFree = kChannelMarks - (c.markHead.load() - s.markTail);
    if (c.waiting.load(std::memory_order_seq_cst) &&
        (bytesFree >= ring / 4 || marksFree >= kChannelMarks / 4))
      WakeWord(c.freed);
  }
}

bool MergeLoop::AnyWaiting() {
  for (unsigned w = 0; w < m_run.workers; ++w)
    if (m_run.channel(w)->waiting.load(std::memory_order_seq_cst)) return true;
  return false;
}

bool MergeLoop::Done(unsigned w) {
  return m_state[w].gone || m_run.channel(w)->done.load(std::memory_order_acquire);
}

bool MergeLoop::AllDone() {
  for (unsigned w = 0; w < m_run.workers; ++w) {
    WorkerChannel& c = *m_run.channel(w);
    if (!Done(w) || m_state[w].markTail < c.markHead.load(std::memory_order_acquire)) return false;
  }
  return true;
}

bool MergeLoop::MayPrecede(unsigned w, const RecordMark* head, uint64_t event) {
  if (head) return head->event < event;
  // No mark: its progress says. A null head read markHead after any progress read before,
  // so every record up to that progress has been taken.
  State& s = m_state[w];
  if (s.progress >= event) return false;
  // Read in this order: done, progress, then the marks, so that a mark published before
  // either is seen. (Two workers' events only meet when a stop cut their reading at
  // different frames: the lower worker's record goes first.)
  const bool done = Done(w);
  s.progress = m_run.channel(w)->progress.load(std::memory_order_acquire);
  if (RecordMark* m = Head(w)) return m->event < event;
  return !done && s.progress < event;
}

bool MergeLoop::Step() {
  if (m_stopped) return false;
  unsigned best = m_run.workers;
  RecordMark* mark = nullptr;
  RecordMark* heads[kMaxThreads];
  for (unsigned w = 0; w < m_run.workers; ++w) {
    RecordMark* m = heads[w] = Head(w);
    if (m && (!mark || m->event < mark->event)) {
      best = w;
      mark = m;
    }
  }
  m_waitsOn = kAnyWorker;
  if (!mark) return false;
  // No other worker may still make a record of an earlier event.
  for (unsigned w = 0; w < m_run.workers; ++w) {
    if (w != best && MayPrecede(w, heads[w], mark->event)) {
      m_waitsOn = w;
      return false;
    }
  }
  if (Take(best, *mark)) return true;
  m_waitsOn = best;
  return false;
}

void MergeLoop::CheckWorkers() {
  for (unsigned w = 0; w < m_run.workers; ++w) {
    if (Done(w) || m_pids[w] <= 0) continue;
    int status = 0;
    if (waitpid(m_pids[w], &status, WNOHANG) == m_pids[w]) {
      m_pids[w] = -1;
      if (!m_run.channel(w)->done.load()) {
        m_state[w].gone = true;
        m_state[w].markTail = m_run.channel(w)->markHead.load();
        m_error = "a decoding worker ended unexpectedly";
        if (WIFSIGNALED(status)) m_error += std::string(" (") + strsignal(WTERMSIG(status)) + ")";
        m_run.stop.store(1);
      }
    }
  }
}

int WriteOut(struct iovec* pieces, size_t count) {
  size_t i = 0;
  while (i < count) {
    const ssize_t n = writev(STDOUT_FILENO, pieces + i, static_cast<int>(count - i));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    size_t left = static_cast<size_t>(n);
    while (i < count && left >= pieces[i].iov_len) left -= pieces[i++].iov_len;
    if (i < count) {
      pieces[i].iov_base = static_cast<char*>(pieces[i].iov_base) + left;
      pieces[i].iov_len -= left;
    }
  }
  return 0;
}
