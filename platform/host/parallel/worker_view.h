// A worker's view of the traffic when connections are decoded by several workers. Worker 0
// reads the input and keeps the connection table: it decodes the connections it places on
// itself and hands each of the others to the feed of the worker it places it on. A fed worker
// replays its feed into a WorkerView of its own.
//
// Every call into the view or a sink is an event, counted by worker 0 and carried with each
// command of a feed: the count when a record is made orders the records of all workers as one
// worker would have made them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "parallel/worker_feed.h"
#include "streams/pointer_index.h"
#include "streams/stream_piece.h"

class WorkerView : public View {
 public:
  // heldCeiling: the most bytes the owned sinks may hold together; past it the owned connection
  // holding the most is cut short and its later bytes dropped.
  // place: the worker that decodes a connection (asked once, when it is found to carry TDS):
  // `self`, or a worker whose feed SetFeeds gave. Without feeds every connection is this
  // worker's.
  using PlaceFn = unsigned (*)(void* context, uint32_t conn);
  WorkerView(View& inner, size_t heldCeiling);
  WorkerView(const WorkerView&) = delete;
  WorkerView& operator=(const WorkerView&) = delete;
  ~WorkerView() override;
  // The reading worker's feeds by worker index (null for itself), the placing of connections,
  // and the capture time each command carries.
  void SetFeeds(unsigned self, FeedWriter* const* feeds, PlaceFn place, void* context,
                const int64_t* clock);

  void ConnectionOpened(uint32_t conn, const ConnectionEnds& ends) override;
  DirectionSink* OpenDirection(uint32_t conn, bool clientToServer, bool midStream) override;
  void CloseDirection(DirectionSink* sink) override;
  void ConnectionEnded(uint32_t conn) override;

  // The events so far.
  uint64_t event() const { return m_event; }
  // A fed worker's replay of one command of its feed: the call worker 0 made, made on this view
  // with worker 0's event count. A piece that came in parts is delivered whole with its last
  // part; false while parts wait, true once the call is made (its records made).
  bool Replay(const FeedCommand& c);
  // Directions cut by the worker's ceiling, and the bytes they held.
  uint64_t cutConnections() const { return m_cuts; }
  uint64_t cutBytes() const { return m_cutBytes; }

 private:
  class Sink;
  friend class Sink;
  // An owned connection and its two directions, in one allocation.
  struct Owned;
  struct OwnedTraits {
    static size_t Hash(const uint32_t& conn) { return conn * 0x9E3779B1u; }
    static const uint32_t& KeyOf(const Owned& o);
    static bool Same(uint32_t x, uint32_t y) { return x == y; }
  };
  void Held(Sink& sink);
  void CutLargest();
  // The call goes to the sink's feed as a command with `payload` after it (flag: FeedCommand's).
  void Forward(const Sink& sink, FeedKind kind, uint64_t frame, const void* payload, size_t length,
               bool flag = false);

  View& m_inner;
  unsigned m_self = 0;
  FeedWriter* const* m_feeds = nullptr;
  PlaceFn m_place = nullptr;
  void* m_context = nullptr;
  const int64_t* m_clock = nullptr;
  PointerIndex<Owned, uint32_t, OwnedTraits> m_ownedConnections;
  size_t m_ceiling;
  uint64_t m_cuts = 0;
  uint64_t m_cutBytes = 0;
  size_t m_held = 0;
  uint64_t m_event = 0;
  std::vector<Sink*> m_owned;    // the live sinks of owned connections, in no order
  std::vector<uint8_t> m_parts;  // a piece that comes in parts, until its last
  Sink* m_others;                // the sink of every direction of the others
};
