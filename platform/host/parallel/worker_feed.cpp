#include "parallel/worker_feed.h"

#include "parallel/worker_channel.h"

void FeedWriter::Publish(uint64_t progress) {
  if (m_written != m_published) {
    m_feed.head.store(m_written, std::memory_order_release);
    m_published = m_written;
  }
  m_feed.progress.store(progress, std::memory_order_seq_cst);
  // A reader that waits is woken for new commands and for progress alike: the merge may wait
  // on its progress.
  if (m_feed.readerWaiting.load(std::memory_order_seq_cst)) {
    m_feed.posted.fetch_add(1, std::memory_order_seq_cst);
    WakeWord(m_feed.posted);
  }
}

void FeedWriter::Finish(uint64_t last) {
  if (FeedCommand* c = Reserve(0)) {
    *c = FeedCommand{};
    c->event = last;
    c->kind = FeedKind::kDone;
    Commit(*c);
  }
  Publish(last);
  m_feed.done.store(1, std::memory_order_seq_cst);
  m_feed.posted.fetch_add(1, std::memory_order_seq_cst);
  WakeWord(m_feed.posted);
}

bool FeedWriter::Shrink() {
  if (m_feed.dataBytes.load(std::memory_order_relaxed) < m_feed.fullBytes) return true;
  return m_feed.Shrink(m_feed.tail.load(std::memory_order_acquire), m_written);
}

bool FeedWriter::WaitForRoom(size_t span) {
  while (!m_broken) {
    m_tail = m_feed.tail.load(std::memory_order_acquire);
    if (m_written + span - m_tail <= capacity()) return true;
    if (m_stop.load(std::memory_order_relaxed)) break;
    // What this worker made is published first (and this feed's commands), so that nobody
    // waits on it in turn.
    m_waiting(m_context);
    const uint32_t seen = m_feed.freed.load(std::memory_order_seq_cst);
    m_feed.writerWaiting.store(1, std::memory_order_seq_cst);
    m_tail = m_feed.tail.load(std::memory_order_seq_cst);
    if (m_written + span - m_tail > capacity()) WaitWord(m_feed.freed, seen, kWaitMs);
    m_feed.writerWaiting.store(0, std::memory_order_relaxed);
  }
  m_broken = true;
  return false;
}

namespace {

// A writer waiting for room is woken: called after the tail moved.
void WakeWriter(WorkerFeed& feed) {
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (feed.writerWaiting.load(std::memory_order_relaxed)) {
    feed.freed.fetch_add(1, std::memory_order_seq_cst);
    WakeWord(feed.freed);
  }
}

}  // namespace

const FeedCommand* FeedReader::Next(void (*idle)(void*, uint64_t), void* context) {
  if (m_last) {
    m_tail += m_last;
    m_last = 0;
    m_feed.tail.store(m_tail, std::memory_order_release);
    // The writer's wait is looked at every eighth of the ring, not for every command.
    if (m_tail - m_checked >= m_feed.fullBytes / 8) {
      WakeWriter(m_feed);
      m_checked = m_tail;
    }
  }
  while (m_tail == m_head) {
    // Progress is read before the head: every command up to it lies before the head read after.
    const bool done = m_feed.done.load(std::memory_order_acquire);
    const uint64_t progress = m_feed.progress.load(std::memory_order_acquire);
    m_head = m_feed.head.load(std::memory_order_acquire);
    if (m_tail != m_head) break;
    if (done || m_stop.load(std::memory_order_relaxed)) return nullptr;
    WakeWriter(m_feed);
    m_checked = m_tail;
    idle(context, progress);
    const uint32_t seen = m_feed.posted.load(std::memory_order_seq_cst);
    m_feed.readerWaiting.store(1, std::memory_order_seq_cst);
    if (m_feed.head.load(std::memory_order_seq_cst) == m_tail &&
        m_feed.progress.load(std::memory_order_seq_cst) == progress &&
        !m_feed.done.load(std::memory_order_seq_cst))
      WaitWord(m_feed.posted, seen, kWaitMs);
    m_feed.readerWaiting.store(0, std::memory_order_relaxed);
  }
  const FeedCommand* c = m_feed.command(m_tail);
  m_last = FeedSpan(c->length);
  return c;
}
