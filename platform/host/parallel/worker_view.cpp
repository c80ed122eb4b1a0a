#include "parallel/worker_view.h"

#include <algorithm>
#include <cstring>

// A direction's sink: counts the event, then passes it to the view's own sink when the
// connection is owned and not cut, or to the feed of the worker that owns it.
class WorkerView::Sink : public DirectionSink {
 public:
  Sink(WorkerView& view, DirectionSink* inner) : m_view(view), m_inner(inner) {}

  void Deliver(const StreamPiece& piece) override {
    ++m_view.m_event;
    m_lastFrame = piece.frame;
    if (m_feed) {
      size_t at = 0;
      for (; piece.length - at > kFeedPiece; at += kFeedPiece)
        m_view.Forward(*this, FeedKind::kDeliver, piece.frame, piece.data + at, kFeedPiece, true);
      m_view.Forward(*this, FeedKind::kDeliver, piece.frame, piece.data + at, piece.length - at);
      return;
    }
    if (!m_inner || m_cut) return;
    m_inner->Deliver(piece);
    m_view.Held(*this);
  }
  void Gap(const StreamPiece& context) override {
    ++m_view.m_event;
    m_lastFrame = context.frame;
    if (m_feed) return m_view.Forward(*this, FeedKind::kGap, context.frame, nullptr, 0);
    if (!m_inner || m_cut) return;
    m_inner->Gap(context);
    m_view.Held(*this);
  }
  void End(uint64_t frame) override {
    ++m_view.m_event;
    m_lastFrame = frame;
    if (m_feed) return m_view.Forward(*this, FeedKind::kEnd, frame, nullptr, 0);
    if (!m_inner || m_cut) return;
    m_inner->End(frame);
    m_view.Held(*this);
  }
  // The table's ceiling sees none of the sinks' bytes, so that it decides alike however the
  // connections are placed; each worker keeps its own ceiling over the sinks it owns.
  size_t HeldBytes() const override { return 0; }
  void CutForMemory() override {
    ++m_view.m_event;
    if (m_feed) return m_view.Forward(*this, FeedKind::kCut, m_lastFrame, nullptr, 0);
    if (m_inner && !m_cut) m_inner->CutForMemory();
  }

  WorkerView& m_view;
  DirectionSink* m_inner;        // null: a direction this worker does not decode
  FeedWriter* m_feed = nullptr;  // the feed of the worker that owns it, when this one reads
  uint64_t m_lastFrame = 0;
  uint32_t m_conn = 0;
  uint32_t m_held = 0;  // as last seen (a direction holds at most its ceilings: a few MiB)
  uint32_t m_slot = 0;  // where it is in the view's list of owned sinks
  bool m_clientToServer = false;
  bool m_cut = false;
};

// A connection this worker decodes or feeds to another, and its two directions, in one
// allocation.
struct WorkerView::Owned {
  uint32_t conn;
  Sink dirs[2];
  Owned(WorkerView& view, uint32_t number, FeedWriter* feed)
      : conn(number), dirs{Sink(view, nullptr), Sink(view, nullptr)} {
    for (int d = 0; d < 2; ++d) {
      dirs[d].m_feed = feed;
      dirs[d].m_conn = number;
      dirs[d].m_clientToServer = d == 0;
    }
  }
};

const uint32_t& WorkerView::OwnedTraits::KeyOf(const Owned& o) {
  return o.conn;
}

WorkerView::WorkerView(View& inner, size_t heldCeiling)
    : m_inner(inner), m_ceiling(heldCeiling), m_others(new Sink(*this, nullptr)) {}

void WorkerView::SetFeeds(unsigned self, FeedWriter* const* feeds, PlaceFn place, void* context,
                          const int64_t* clock) {
  m_self = self;
  m_feeds = feeds;
  m_place = place;
  m_context = context;
  m_clock = clock;
}

WorkerView::~WorkerView() {
  m_ownedConnections.ForEach([](Owned* o) { delete o; });
  delete m_others;
}

void WorkerView::ConnectionOpened(uint32_t conn, const ConnectionEnds& ends) {
  ++m_event;
  if (m_ownedConnections.Find(conn)) return;
  const unsigned worker = m_feeds ? m_place(m_context, conn) : m_self;
  FeedWriter* feed = worker == m_self ? nullptr : m_feeds[worker];
  Owned* owned = new Owned(*this, conn, feed);
  m_ownedConnections.Insert(owned);
  if (!feed) return m_inner.ConnectionOpened(conn, ends);
  FeedEnds e{};
  const size_t address = ends.ipVersion == 4 ? 4 : 16;
  if (ends.client) std::memcpy(e.client, ends.client, address);
  if (ends.server) std::memcpy(e.server, ends.server, address);
  e.clientPort = ends.clientPort;
  e.serverPort = ends.serverPort;
  e.ipVersion = ends.ipVersion;
  Forward(owned->dirs[0], FeedKind::kOpened, 0, &e, sizeof(e));
}

DirectionSink* WorkerView::OpenDirection(uint32_t conn, bool clientToServer, bool midStream) {
  // Every direction of the connections no worker decodes shares one sink: it only counts.
  Owned* owned = m_ownedConnections.Find(conn);
  if (!owned) return m_others;
  Sink* sink = &owned->dirs[clientToServer ? 0 : 1];
  if (sink->m_feed) {
    Forward(*sink, FeedKind::kDirection, 0, nullptr, 0, midStream);
    return sink;
  }
  sink->m_inner = m_inner.OpenDirection(conn, clientToServer, midStream);
  sink->m_slot = static_cast<uint32_t>(m_owned.size());
  m_owned.push_back(sink);
  return sink;
}

void WorkerView::CloseDirection(DirectionSink* sink) {
  ++m_event;
  if (sink == m_others) return;
  Sink* s = static_cast<Sink*>(sink);
  if (s->m_feed) return Forward(*s, FeedKind::kClose, s->m_lastFrame, nullptr, 0);
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
  if (owned->dirs[0].m_feed) {
    Forward(owned->dirs[0], FeedKind::kEnded, 0, nullptr, 0);
    delete owned;
    return;
  }
  delete owned;
  m_inner.ConnectionEnded(conn);
}

bool WorkerView::Replay(const FeedCommand& c) {
  // Each call counts its event again, as worker 0's did; OpenDirection counts none.
  m_event = c.event - 1;
  const uint8_t* payload = reinterpret_cast<const uint8_t*>(&c + 1);
  switch (c.kind) {
    case FeedKind::kOpened: {
      FeedEnds e;
      std::memcpy(&e, payload, sizeof(e));
      ConnectionEnds ends;
      ends.ipVersion = e.ipVersion;
      ends.client = e.client;
      ends.clientPort = e.clientPort;
      ends.server = e.server;
      ends.serverPort = e.serverPort;
      ConnectionOpened(c.conn, ends);
      return true;
    }
    case FeedKind::kDirection:
      m_event = c.event;
      OpenDirection(c.conn, c.clientToServer != 0, c.flag != 0);
      return true;
    case FeedKind::kEnded:
      ConnectionEnded(c.conn);
      return true;
    case FeedKind::kDone:
      m_event = c.event;
      return true;
    default:
      break;
  }
  Owned* owned = m_ownedConnections.Find(c.conn);
  if (!owned) return true;
  Sink& sink = owned->dirs[c.clientToServer ? 0 : 1];
  StreamPiece piece;
  piece.frame = c.frame;
  switch (c.kind) {
    case FeedKind::kDeliver:
      if (c.flag || !m_parts.empty()) {
        m_parts.insert(m_parts.end(), payload, payload + c.length);
        if (c.flag) return false;  // more of it follows
        payload = m_parts.data();
        piece.length = m_parts.size();
      } else {
        piece.length = c.length;
      }
      piece.data = payload;
      sink.Deliver(piece);
      m_parts.clear();
      break;
    case FeedKind::kGap:
      sink.Gap(piece);
      break;
    case FeedKind::kEnd:
      sink.End(c.frame);
      break;
    case FeedKind::kCut:
      sink.CutForMemory();
      break;
    case FeedKind::kClose:
      CloseDirection(&sink);
      break;
    default:
      break;
  }
  return true;
}

void WorkerView::Forward(const Sink& sink, FeedKind kind, uint64_t frame, const void* payload,
                         size_t length, bool flag) {
  FeedCommand* c = sink.m_feed->Reserve(length);
  if (!c) return;  // the run has stopped
  *c = FeedCommand{};
  c->event = m_event;
  c->frame = frame;
  c->timeUs = *m_clock;
  c->conn = sink.m_conn;
  c->length = static_cast<uint32_t>(length);
  c->kind = kind;
  c->clientToServer = sink.m_clientToServer ? 1 : 0;
  c->flag = flag ? 1 : 0;
  if (length) std::memcpy(c + 1, payload, length);
  sink.m_feed->Commit(*c);
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
