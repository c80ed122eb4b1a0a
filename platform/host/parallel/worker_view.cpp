#include "parallel/worker_view.h"

#include <algorithm>

// A direction's sink: counts the event, then passes it to the view's own sink when the
// connection is owned and not cut.
class WorkerView::Sink : public DirectionSink {
 public:
  Sink(WorkerView& view, DirectionSink* inner) : m_view(view), m_inner(inner) {}

  void Deliver(const StreamPiece& piece) override {
    ++m_view.m_event;
    m_lastFrame = piece.frame;
    if (!m_inner || m_cut) return;
    m_inner->Deliver(piece);
    m_view.Held(*this);
  }
  void Gap(const StreamPiece& context) override {
    ++m_view.m_event;
    m_lastFrame = context.frame;
    if (!m_inner || m_cut) return;
    m_inner->Gap(context);
    m_view.Held(*this);
  }
  void End(uint64_t frame) override {
    ++m_view.m_event;
    m_lastFrame = frame;
    if (!m_inner || m_cut) return;
    m_inner->End(frame);
    m_view.Held(*this);
  }
  // The table's ceiling sees none of the sinks' bytes, so that it decides alike in every
  // worker; the worker keeps its own ceiling over the owned sinks.
  size_t HeldBytes() const override { return 0; }
  void CutForMemory() override {
    ++m_view.m_event;
    if (m_inner && !m_cut) m_inner->CutForMemory();
  }

  WorkerView& m_view;
  DirectionSink* m_inner;  // null: a direction of a connection another worker owns
  uint64_t m_lastFrame = 0;
  uint32_t m_held = 0;  // as last seen (a direction holds at most its ceilings: a few MiB)
  uint32_t m_slot = 0;  // where it is in the view's list of owned sinks
  bool m_cut = false;
};

struct WorkerView::Owned {
  uint32_t conn;
  Sink dirs[2];
  Owned(WorkerView& view, uint32_t number)
      : conn(number), dirs{Sink(view, nullptr), Sink(view, nullptr)} {}
};

const uint32_t& WorkerView::OwnedTraits::KeyOf(const Owned& o) {
  return o.conn;
}

WorkerView::WorkerView(View& inner, OwnsFn owns, void* context, size_t heldCeiling)
    : m_inner(inner),
      m_owns(owns),
      m_context(context),
      m_ceiling(heldCeiling),
      m_others(new Sink(*this, nullptr)) {}

WorkerView::~WorkerView() {
  m_ownedConnections.ForEach([](Owned* o) { delete o; });
  delete m_others;
}

void WorkerView::ConnectionOpened(uint32_t conn, const ConnectionEnds& ends) {
  ++m_event;
  if (!m_owns(m_context, conn) || m_ownedConnections.Find(conn)) return;
  m_ownedConnections.Insert(new Owned(*this, conn));
  m_inner.ConnectionOpened(conn, ends);
}

DirectionSink* WorkerView::OpenDirection(uint32_t conn, bool clientToServer, bool midStream) {
  // Every direction of the connections other workers own shares one sink: it only counts.
  Owned* owned = m_ownedConnections.Find(conn);
  if (!owned) return m_others;
  Sink* sink = &owned->dirs[clientToServer ? 0 : 1];
  sink->m_inner = m_inner.OpenDirection(conn, clientToServer, midStream);
  sink->m_slot = static_cast<uint32_t>(m_owned.size());
  m_owned.push_back(sink);
  return sink;
}

void WorkerView::CloseDirection(DirectionSink* sink) {
  ++m_event;
  if (sink == m_others) return;
  Sink* s = static_cast<Sink*>(sink);
  m_held -= s->m_held;
  m_owned[s->m_slot] = m_owned.back();
  m_owned[s->m_slot]->m_slot = s->m_slot;
  m_owned.pop_back();
  m_inner.CloseDirection(s->m_inner);
  s->m_inner = nullptr;  // ends with its connection
}

void WorkerView::ConnectionEnded(uint32_t conn) {
  ++m_event;
  Owned* owned = m_ownedConnections.Find(conn);
  if (!owned) return;
  m_ownedConnections.Erase(owned);
  delete owned;
  m_inner.ConnectionEnded(conn);
}

void WorkerView::Held(Sink& sink) {
  const uint32_t now =
      static_cast<uint32_t>(std::min<size_t>(sink.m_inner->HeldBytes(), UINT32_MAX));
  m_held = m_held - sink.m_held + now;
  sink.m_held = now;
  if (m_held > m_ceiling) CutLargest();
}

// The owned connection holding the most is cut short: what it holds goes out marked so, and
// the rest of its bytes are dropped (the connection stays in the table, as in every worker).
void WorkerView::CutLargest() {
  while (m_held > m_ceiling) {
    Sink* most = nullptr;
    for (Sink* s : m_owned)
      if (!s->m_cut && (!most || s->m_held > most->m_held)) most = s;
    if (!most || most->m_held == 0) return;
    ++m_cuts;
    m_cutBytes += most->m_held;
    most->m_inner->CutForMemory();
    most->m_inner->End(most->m_lastFrame);
    m_held -= most->m_held;
    most->m_held = 0;
    most->m_cut = true;
  }
}
