// One direction of a TCP connection put back in sequence order: retransmitted bytes are passed
// over, segments that arrive early wait (within a bounded window) for the gap before them to
// fill, and a gap that does not fill in time is given up so the stream goes on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "link_layer.h"
#include "stream_piece.h"

struct SeqLimits {
  uint32_t maxBufferedBytes = 256 * 1024;  // early segments held per direction
  uint32_t maxSegments = 64;
};

struct StreamCounters {
  uint64_t retransmittedBytes = 0;
  uint64_t outOfOrderSegments = 0;
  uint64_t gaps = 0;
};

class SeqTracker {
 public:
  explicit SeqTracker(SeqLimits limits = SeqLimits(), StreamCounters* counters = nullptr)
      : m_limits(limits), m_counters(counters) {}

  // A SYN: the stream's first byte is isn + 1.
  void Syn(uint32_t isn);
  // A segment's payload at seq. wireLength is what the segment carried: when the capture kept
  // fewer bytes, the rest is a gap.
  void Segment(uint32_t seq, const StreamPiece& piece, size_t wireLength, PieceSink& sink);
  // A FIN after the byte before seqEnd.
  void Fin(uint32_t seqEnd);
  // No more segments: those waiting go out in order, the gaps before them given up.
  void Drain(const StreamPiece& context, PieceSink& sink);

  bool started() const { return m_started; }
  uint32_t next() const { return m_next; }
  bool finReached() const { return m_finSeen && m_started && int32_t(m_next - m_fin) >= 0; }
  size_t bufferedBytes() const { return m_buffered; }
  size_t waitingSegments() const { return m_waiting.size(); }

 private:
  struct Waiting {
    uint32_t seq;
    uint8_t ethernet[kEthernetHeader];
    std::vector<uint8_t> bytes;
  };

  void DeliverAt(uint32_t seq, const StreamPiece& piece, PieceSink& sink);
  void DeliverWaiting(const StreamPiece& context, PieceSink& sink);
  void GiveUpGap(const StreamPiece& context, PieceSink& sink);

  SeqLimits m_limits;
  StreamCounters* m_counters;
  bool m_started = false;
  uint32_t m_next = 0;
  bool m_finSeen = false;
  uint32_t m_fin = 0;
  uint32_t m_buffered = 0;         // at most maxBufferedBytes and one segment
  std::vector<Waiting> m_waiting;  // ordered by distance ahead of m_next
};
