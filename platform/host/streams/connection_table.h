// The TCP connections of one input: numbering, which side is the client, whether a connection
// carries TDS, the sequence trackers of its two directions, and its end (FIN or RST both ways,
// a SYN that reuses its addresses, eviction, the end of the input).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "input/link_layer.h"
#include "options.h"
#include "stats.h"
#include "streams/pointer_index.h"
#include "streams/seq_tracker.h"
#include "streams/stream_piece.h"

struct TableLimits {
  size_t maxConnections = 32768;               // tracked at once; the least recently used goes
  size_t maxBufferedBytes = 64 * 1024 * 1024;  // held and waiting bytes: the largest holder is cut
  SeqLimits seq;
  // The bytes the view's sinks hold count towards maxBufferedBytes. A parallel run's workers
  // count none (their sinks say 0, so that every worker's table decides alike): not asked.
  bool countSinkBytes = true;
};

// What a source that knows its connections says about a frame (the hex input).
struct ConnectionHint {
  uint32_t number = 0;  // 0: none
  bool clientToServer = true;
};

class ConnectionTable {
 public:
  ConnectionTable(const Options& options, View& view, HostStats& stats,
                  TableLimits limits = TableLimits());
  ~ConnectionTable();
  ConnectionTable(const ConnectionTable&) = delete;
  ConnectionTable& operator=(const ConnectionTable&) = delete;

  void Segment(const TcpSegment& segment, uint64_t frame, const ConnectionHint* hint = nullptr);
  // The input has ended at this frame: every connection ends.
  void EndAll(uint64_t lastFrame);

  size_t tracked() const { return m_count; }
  size_t bufferedBytes() const { return m_buffered; }

 private:
  // The two ends of a connection, in a fixed order so that both directions give one key
  // (`unused` is always zero).
  struct Key {
    uint8_t addr[2][16];  // IPv4 addresses use the first four bytes
    uint16_t port[2];
    uint8_t version;
    uint8_t unused[3];
  };
  static_assert(sizeof(Key) == 40, "a key is five words");
  // A key as the table hashes and compares it: five words, made in registers from a segment's
  // addresses (a key made in memory and read back at once waits for its stores), read from a
  // connection's Key.
  struct KeyWords {
    uint64_t w0, w1, w2, w3, w4;
  };
  static uint64_t WordAt(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof(w));
    return w;
  }
  static KeyWords WordsOf(const Key& k) {
    const auto* p = reinterpret_cast<const uint8_t*>(&k);
    return KeyWords{WordAt(p), WordAt(p + 8), WordAt(p + 16), WordAt(p + 24), WordAt(p + 32)};
  }
  enum class Kind : uint8_t { kUndecided, kTds, kIgnored };
  // Laid out without holes: every worker of a parallel run keeps one for every connection.
  struct Connection {
    Key key;
    uint32_t number = 0;
    uint32_t isn[2] = {0, 0};  // by direction: 0 client to server, 1 server to client
    uint32_t buffered = 0;     // at most both trackers' ceilings and a segment each
    bool clientIsA = true;     // the client is the key's first end
    Kind kind = Kind::kUndecided;
    bool midStream = false;
    bool synSeen[2] = {false, false};
    bool sent[2] = {false, false};
    bool closed[2] = {false, false};
    bool finPending[2] = {false, false};
    SeqTracker seq[2];
    DirectionSink* sink[2] = {nullptr, nullptr};
    Connection* newer = nullptr;  // in the order of use
    Connection* older = nullptr;
  };
  struct IndexTraits {
    [[gnu::always_inline]] static inline size_t Hash(const KeyWords& k);
    static KeyWords KeyOf(const Connection& c) { return WordsOf(c.key); }
    static bool Same(const KeyWords& x, const KeyWords& y) {
      return ((x.w0 ^ y.w0) | (x.w1 ^ y.w1) | (x.w2 ^ y.w2) | (x.w3 ^ y.w3) | (x.w4 ^ y.w4)) == 0;
    }
  };
  // The key of a segment's connection; srcFirst: the sender is the key's first end.
  [[gnu::always_inline]] static inline KeyWords MakeKey(const TcpSegment& s, bool& srcFirst);
  static ConnectionEnds EndsOf(const Connection& c);
  Connection* Create(const KeyWords& key, bool srcFirst, const TcpSegment& s,
                     const ConnectionHint* hint);
  void Unlink(Connection* c);
  void LinkNewest(Connection* c);
  // Inlined into Segment, as are the key's making and hashing: every frame of every worker of a
  // parallel run goes through them.
  [[gnu::always_inline]] inline void Payload(Connection& c, int dir, const TcpSegment& s,
                                             uint64_t frame);
  void CloseDirection(Connection& c, int dir, uint64_t frame);
  void End(Connection* c, uint64_t frame);
  [[gnu::always_inline]] inline void Account(Connection& c);
  void Evict(Connection* keep, uint64_t frame);
  [[gnu::always_inline]] static inline StreamPiece PieceOf(int dir, const TcpSegment& s,
                                                           uint64_t frame);

  const Options& m_options;
  View& m_view;
  HostStats& m_stats;
  TableLimits m_limits;
  SeqSetup m_seqSetup;  // what the sequence trackers share
  uint32_t m_nextNumber = 1;
  size_t m_buffered = 0;
  // The connections, each its own allocation, linked from the most recently used.
  Connection* m_newest = nullptr;
  Connection* m_oldest = nullptr;
  size_t m_count = 0;
  PointerIndex<Connection, KeyWords, IndexTraits> m_index;
  // The connection of the last segment: most segments follow one of their own connection.
  Connection* m_last = nullptr;
};
