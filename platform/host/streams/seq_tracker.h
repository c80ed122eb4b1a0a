// One direction of a TCP connection put back in sequence order: retransmitted bytes are passed
// over, segments that arrive early wait (within a bounded window) for the gap before them to
// fill, and a gap that does not fill in time is given up so the stream goes on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "input/link_layer.h"
#include "streams/stream_piece.h"

struct SeqLimits {
  uint32_t maxBufferedBytes = 256 * 1024;  // early segments held per direction
  uint32_t maxSegments = 64;
};

struct StreamCounters {
  uint64_t retransmittedBytes = 0;
  uint64_t outOfOrderSegments = 0;
  uint64_t gaps = 0;
};

// What the trackers of a table share: their limits and where they count.
struct SeqSetup {
  SeqLimits limits;
  StreamCounters* counters = nullptr;
};

class SeqTracker {
 public:
  // The limits and counters are the caller's (`setup`, the same at every call): a table keeps
  // two trackers for every connection and one setup for all of them.

  // A SYN: the stream's first byte is isn + 1.
  void Syn(uint32_t isn);
  // A segment's payload at seq. wireLength is what the segment carried: when the capture kept
  // fewer bytes, the rest is a gap.
  void Segment(const SeqSetup& setup, uint32_t seq, const StreamPiece& piece, size_t wireLength,
               PieceSink& sink) {
    // The usual case, inline: the next bytes, whole, with nothing waiting.
    if (m_started && seq == m_next && !m_waiting && piece.length > 0 &&
        piece.length == wireLength) {
      m_next += static_cast<uint32_t>(piece.length);
      sink.Deliver(piece);
      return;
    }
    AnySegment(setup, seq, piece, wireLength, sink);
  }
  // A FIN after the byte before seqEnd.
  void Fin(uint32_t seqEnd);
  // No more segments: those waiting go out in order, the gaps before them given up.
  void Drain(const SeqSetup& setup, const StreamPiece& context, PieceSink& sink);

  bool started() const { return m_started; }
  uint32_t next() const { return m_next; }
  bool finReached() const { return m_finSeen && m_started && int32_t(m_next - m_fin) >= 0; }
  size_t bufferedBytes() const { return m_buffered; }
  size_t waitingSegments() const { return m_waiting ? m_waiting->size() : 0; }

 private:
  struct Waiting {
    uint32_t seq;
    uint8_t ethernet[kEthernetHeader];
    std::vector<uint8_t> bytes;
  };

  void AnySegment(const SeqSetup& setup, uint32_t seq, const StreamPiece& piece, size_t wireLength,
                  PieceSink& sink);
  void DeliverAt(StreamCounters* counters, uint32_t seq, const StreamPiece& piece, PieceSink& sink);
  void DeliverWaiting(StreamCounters* counters, const StreamPiece& context, PieceSink& sink);
  void GiveUpGap(StreamCounters* counters, const StreamPiece& context, PieceSink& sink);

  // Laid out without holes: a table keeps two trackers for every connection.
  uint32_t m_next = 0;
  uint32_t m_fin = 0;
  uint32_t m_buffered = 0;  // at most maxBufferedBytes and one segment
  bool m_started = false;
  bool m_finSeen = false;
  // Ordered by distance ahead of m_next; made when a segment first arrives early, so that a
  // stream in order costs a pointer for it.
  std::unique_ptr<std::vector<Waiting>> m_waiting;
};
