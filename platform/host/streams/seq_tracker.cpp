#include "streams/seq_tracker.h"

#include <cstring>

void SeqTracker::Syn(uint32_t isn) {
  m_started = true;
  m_next = isn + 1;
}

void SeqTracker::Fin(uint32_t seqEnd) {
  if (!m_started) {
    m_started = true;
    m_next = seqEnd;
  }
  m_finSeen = true;
  m_fin = seqEnd;
}

void SeqTracker::DeliverAt(StreamCounters* counters, uint32_t seq, const StreamPiece& piece,
                           PieceSink& sink) {
  const uint32_t already = m_next - seq;  // bytes of the piece delivered before
  if (already >= piece.length) {
    if (counters) counters->retransmittedBytes += piece.length;
    return;
  }
  if (counters) counters->retransmittedBytes += already;
  StreamPiece fresh = piece;
  fresh.data += already;
  fresh.length -= already;
  m_next += static_cast<uint32_t>(fresh.length);
  sink.Deliver(fresh);
}

void SeqTracker::DeliverWaiting(StreamCounters* counters, const StreamPiece& context,
                                PieceSink& sink) {
  if (!m_waiting) return;
  size_t done = 0;
  while (done < m_waiting->size()) {
    Waiting& w = (*m_waiting)[done];
    if (int32_t(w.seq - m_next) > 0) break;
    StreamPiece piece;
    piece.data = w.bytes.data();
    piece.length = w.bytes.size();
    piece.frame = context.frame;
    piece.ethernet = w.ethernet;
    DeliverAt(counters, w.seq, piece, sink);
    m_buffered -= static_cast<uint32_t>(w.bytes.size());
    ++done;
  }
  if (done) m_waiting->erase(m_waiting->begin(), m_waiting->begin() + static_cast<long>(done));
  if (m_waiting->empty()) m_waiting.reset();  // back in order
}

void SeqTracker::GiveUpGap(StreamCounters* counters, const StreamPiece& context, PieceSink& sink) {
  if (!m_waiting || m_waiting->empty()) return;
  if (counters) ++counters->gaps;
  sink.Gap(context);
  m_next = m_waiting->front().seq;
  DeliverWaiting(counters, context, sink);
}

void SeqTracker::AnySegment(const SeqSetup& setup, uint32_t seq, const StreamPiece& piece,
                            size_t wireLength, PieceSink& sink) {
  StreamCounters* counters = setup.counters;
  if (piece.length == 0 && wireLength == 0) return;
  if (!m_started) {
    m_started = true;
    m_next = seq;
  }
  const int32_t ahead = int32_t(seq - m_next);
  if (ahead <= 0) {
    DeliverAt(counters, seq, piece, sink);
    if (wireLength > piece.length) {
      // The capture kept only the segment's first bytes; the rest never comes.
      const uint32_t end = seq + static_cast<uint32_t>(wireLength);
      if (int32_t(end - m_next) > 0) {
        if (counters) ++counters->gaps;
        sink.Gap(piece);
        m_next = end;
      }
    }
    DeliverWaiting(counters, piece, sink);
    return;
  }
  // Early: wait for the bytes before it, in order of sequence.
  if (counters) ++counters->outOfOrderSegments;
  if (piece.length > 0) {
    if (!m_waiting) m_waiting = std::make_unique<std::vector<Waiting>>();
    size_t at = m_waiting->size();
    while (at > 0 && uint32_t((*m_waiting)[at - 1].seq - m_next) > uint32_t(seq - m_next)) --at;
    Waiting w;
    w.seq = seq;
    if (piece.ethernet)
      std::memcpy(w.ethernet, piece.ethernet, kEthernetHeader);
    else
      std::memset(w.ethernet, 0, kEthernetHeader);
    w.bytes.assign(piece.data, piece.data + piece.length);
    m_buffered += static_cast<uint32_t>(piece.length);
    m_waiting->insert(m_waiting->begin() + static_cast<long>(at), std::move(w));
  }
  // Past the window the oldest gap is given up.
  while (
      m_waiting && !m_waiting->empty() &&
      (m_buffered > setup.limits.maxBufferedBytes || m_waiting->size() > setup.limits.maxSegments))
    GiveUpGap(counters, piece, sink);
}

void SeqTracker::Drain(const SeqSetup& setup, const StreamPiece& context, PieceSink& sink) {
  while (m_waiting && !m_waiting->empty()) GiveUpGap(setup.counters, context, sink);
}
