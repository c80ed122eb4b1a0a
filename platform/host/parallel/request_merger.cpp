#include "parallel/request_merger.h"

#include <algorithm>
#include <string_view>

#include "input/stop_signal.h"
#include "parallel/request_merge_notes.h"

void RequestMerger::Finish() {
  if (StopRequested()) {
    for (Node* n : m_queue)
      if (n->ready) Emit(*n);
  } else if (m_error.empty() && !m_out.failed() && !m_queue.empty()) {
    Diverge();
  }
  WritePieces();
}

bool RequestMerger::Take(unsigned w, RecordMark& mark) {
  State& s = m_state[w];
  if (m_out.failed()) {
    // Standard output cannot be written: the workers stop.
    Stop();
    return false;
  }
  bool took = true;
  switch (mark.step) {
    case kStepQueued: {
      Node* n = NewNode();
      n->key = mark.key;
      n->conn = mark.conn;
      Insert(m_queue, n);
      Insert(m_local[w], n);
      ++s.markTail;
      break;
    }
    case kStepLogin: {
      if (m_readyByConn.Has(mark.conn)) return Diverge();
      ++s.markTail;
      break;
    }
    case kStepWritten:
      took = Written(w, mark);
      break;
    default:
      return Diverge();
  }
  if (m_queue.size() > kMaxRequestsWaiting) return Diverge();
  if (++m_taken % kMarksPerRoom == 0) Flush();
  return took;
}

bool RequestMerger::Written(unsigned w, RecordMark& mark) {
  WorkerChannel& c = *m_run.channel(w);
  State& s = m_state[w];
  std::deque<Node*>& local = m_local[w];
  if (local.empty() || local.front()->key != mark.key || local.front()->conn != mark.conn)
    return Diverge();
  Node* n = local.front();
  const uint64_t end = mark.end.load(std::memory_order_acquire);
  const uint64_t head = DataHead(w, end);
  if (s.tail < mark.start) s.tail = mark.start;
  const bool complete = end != kOpenEnd && head >= end;
  if (complete && !s.numbered && m_queue.front() == n) {
    // The earliest of all: written at once, from the channel.
    // (Its bytes stay in the channel until written: room is given back after that.)
    const char* base = c.at(mark.start);
    Emit(base, mark.cut == kOpenEnd ? kNoCut : mark.cut - mark.start, mark.split - mark.start,
         end - mark.start, n->conn);
    s.tail = end;
    local.pop_front();
    m_queue.pop_front();
    Recycle(n);
  } else if (complete && !s.numbered) {
    // Whole in the channel: it stays there until the requests before it are written.
    n->kept = NewKept();
    Kept& k = *n->kept;
    k.inPlace = true;
    k.worker = w;
    k.start = mark.start;
    k.cut = mark.cut == kOpenEnd ? kNoCut : static_cast<size_t>(mark.cut - mark.start);
    k.split = static_cast<size_t>(mark.split - mark.start);
    k.end = static_cast<size_t>(end - mark.start);
    n->ready = true;
    s.tail = end;
    local.pop_front();
    m_readyByConn.Add(n->conn);
    m_inPlace[w].push_back(n);
  } else {
    // Kept until the requests before it are written (`numbered`: some of it is kept).
    const uint64_t until = end < head ? end : head;
    bool took = false;
    if (!n->kept) n->kept = NewKept();
    if (s.tail < until) {
      n->kept->bytes.append(c.at(s.tail), static_cast<size_t>(until - s.tail));
      s.tail = until;
      s.numbered = true;
      took = true;
    }
    if (!complete) return took;
    n->kept->cut = mark.cut == kOpenEnd ? kNoCut : static_cast<size_t>(mark.cut - mark.start);
    n->kept->split = static_cast<size_t>(mark.split - mark.start);
    n->ready = true;
    local.pop_front();
    m_readyByConn.Add(n->conn);
  }
  s.numbered = false;
  ++s.markTail;
  WriteReady();
  return true;
}

void RequestMerger::WriteReady() {
  while (!m_queue.empty() && m_queue.front()->ready) {
    Node* n = m_queue.front();
    m_queue.pop_front();
    m_readyByConn.Remove(n->conn);
    if (Emit(*n))
      m_written.push_back(n);  // recycled once its bytes are written
    else
      Recycle(n);
  }
}

bool RequestMerger::Emit(const char* base, size_t cut, size_t split, size_t end, uint32_t conn) {
  if (end == 0) return false;
  ++m_shown;
  Told told(base + split, base + end);
  if (m_jsonLog) {
    if (cut == kNoCut) {
      // The number goes through the writer's buffer; the text is written from where it lies
      // (the channel or the node that kept it), not copied once more.
      if (m_out.room() < kLeadRoom || m_count + 2 > kMaxPieces) WritePieces();
      m_jsonLog->PutNumber();
      QueueLead();
      m_pieces[m_count++] = iovec{const_cast<char*>(base), split};
      return true;
    }
    // The fingerprint may be long: it and the record go through the buffer.
    WritePieces();
    m_jsonLog->PutNumber();
    m_out.put(base, cut);
    std::string_view name, text;
    told.Piece(name);
    told.Piece(text);
    m_fake.conn = conn;
    m_fake.name.assign(name.data(), name.size());
    m_fake.text.assign(text.data(), text.size());
    m_jsonLog->PutFingerprint(m_fake);
    m_out.put(base + cut, split - cut);
    return false;
  }
  if (!m_textLog) return false;
  const RequestKind kind = static_cast<RequestKind>(told.Byte());
  const bool timed = told.Byte() != 0;
  const int64_t us = told.Long();
  std::string_view day, slow;
  told.Piece(day);
  m_day.assign(day.data(), day.size());
  m_textLog->Lead(m_day);
  m_out.put(base, split);
  if (!told.Piece(slow)) slow = std::string_view();
  m_textLog->Tally(kind, timed, us, slow);
  for (uint32_t errors = told.Word(); errors > 0; --errors) {
    const int64_t number = told.Long();
    std::string_view errorText;
    told.Piece(errorText);
    m_textLog->CountError(number, errorText);
  }
  return false;
}

void RequestMerger::WritePieces() {
  if (m_count > 0) {
    QueueLead();
    char* start = m_out.cursor() - m_out.pending();
    std::fflush(stdout);  // what the buffer wrote before goes first
    if (!m_out.failed()) {
      const int error = WriteOut(m_pieces, m_count);
      if (error) {
        m_out.fail(error);
        Stop();
      }
    }
    m_out.commit(start);  // all of it was in the pieces
    m_count = 0;
    m_leadFrom = 0;
  }
  for (Node* n : m_written) Recycle(n);
  m_written.clear();
}

bool RequestMerger::Emit(Node& n) {
  Kept& k = *n.kept;
  if (k.inPlace) {
    std::deque<Node*>& held = m_inPlace[k.worker];
    if (!held.empty() && held.front() == &n) {
      held.pop_front();  // most often the first, in stream order
    } else {
      const auto at = std::find(held.begin(), held.end(), &n);
      if (at != held.end()) held.erase(at);
    }
    k.inPlace = false;
    return Emit(m_run.channel(k.worker)->at(k.start), k.cut, k.split, k.end, n.conn);
  }
  return Emit(k.bytes.data(), k.cut, k.split, k.bytes.size(), n.conn);
}

void RequestMerger::CopyOut() {
  for (unsigned w = 0; w < m_run.workers; ++w) {
    WorkerChannel& c = *m_run.channel(w);
    std::deque<Node*>& held = m_inPlace[w];
    const bool waiting = c.waiting.load(std::memory_order_relaxed) != 0;
    while (!held.empty() &&
           (waiting || m_state[w].tail - held.front()->kept->start > c.dataBytes.load() / 2)) {
      Kept& k = *held.front()->kept;
      held.pop_front();
      k.bytes.assign(c.at(k.start), k.end);
      k.inPlace = false;
    }
  }
}

RequestMerger::Node* RequestMerger::NewNode() {
  if (m_spare.empty()) return new Node;
  Node* n = m_spare.back().release();
  m_spare.pop_back();
  n->ready = false;
  return n;
}

std::unique_ptr<RequestMerger::Kept> RequestMerger::NewKept() {
  if (m_spareKept.empty()) return std::unique_ptr<Kept>(new Kept);
  std::unique_ptr<Kept> k = std::move(m_spareKept.back());
  m_spareKept.pop_back();
  k->bytes.clear();
  k->inPlace = false;
  return k;
}

void RequestMerger::Recycle(Node* n) {
  if (n->kept && m_spareKept.size() < kSpareKept && n->kept->bytes.capacity() <= kSpareBytes)
    m_spareKept.push_back(std::move(n->kept));
  n->kept.reset();
  if (m_spare.size() < kSpareNodes)
    m_spare.emplace_back(n);
  else
    delete n;
}
