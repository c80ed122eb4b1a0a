// A worker's view of the traffic when connections are decoded by several workers: every worker
// reads the whole input and keeps the whole connection table, so that all of them number
// connections and order events alike; each decodes only the connections it owns and hands the
// others to sinks that drop their bytes.
//
// Every call into the view or a sink is an event, counted the same in every worker: the count
// when a record is made orders the records of all workers as one worker would have made them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "streams/pointer_index.h"
#include "streams/stream_piece.h"

class WorkerView : public View {
 public:
  // heldCeiling: the most bytes the owned sinks may hold together; past it the owned connection
  // holding the most is cut short and its later bytes dropped.
  // owns: whether this worker decodes a connection (asked once, when it is found to carry TDS).
  using OwnsFn = bool (*)(void* context, uint32_t conn);
  WorkerView(View& inner, OwnsFn owns, void* context, size_t heldCeiling);
  ~WorkerView() override;

  void ConnectionOpened(uint32_t conn, const ConnectionEnds& ends) override;
  DirectionSink* OpenDirection(uint32_t conn, bool clientToServer, bool midStream) override;
  void CloseDirection(DirectionSink* sink) override;
  void ConnectionEnded(uint32_t conn) override;

  // The events so far.
  uint64_t event() const { return m_event; }
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

  View& m_inner;
  OwnsFn m_owns;
  void* m_context;
  PointerIndex<Owned, uint32_t, OwnedTraits> m_ownedConnections;
  size_t m_ceiling;
  uint64_t m_cuts = 0;
  uint64_t m_cutBytes = 0;
  size_t m_held = 0;
  uint64_t m_event = 0;
  std::vector<Sink*> m_owned;  // the live sinks of owned connections, in no order
  Sink* m_others;              // the sink of every direction of the others
};
