#include "streams/connection_table.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "streams/tds_header.h"

namespace {

// Takes the bytes of a direction that is not decoded, so that its sequence position stays right
// should the connection turn out to carry TDS.
class DiscardSink : public PieceSink {
 public:
  void Deliver(const StreamPiece&) override {}
  void Gap(const StreamPiece&) override {}
};
DiscardSink g_discard;

// The Ethernet header of frames captured without one, the same for every frame of a direction:
// client 02:00:00:00:00:01, server 02:00:00:00:00:02. By direction (client to server first),
// then IP version (4, 6).
constexpr uint8_t kMadeEthernet[2][2][kEthernetHeader] = {
    {{2, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 1, 0x08, 0x00},
     {2, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 1, 0x86, 0xDD}},
    {{2, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 2, 0x08, 0x00},
     {2, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 2, 0x86, 0xDD}},
};

}  // namespace

inline size_t ConnectionTable::IndexTraits::Hash(const KeyWords& k) {
  // Each word by its own odd constant (the products computed side by side), then mixed.
  uint64_t h = k.w0 * 0x9E3779B97F4A7C15ull ^ k.w1 * 0xC2B2AE3D27D4EB4Full ^
               k.w2 * 0x165667B19E3779F9ull ^ k.w3 * 0xFF51AFD7ED558CCDull ^
               k.w4 * 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 32;
  h *= 0x9E3779B97F4A7C15ull;
  h ^= h >> 29;
  return static_cast<size_t>(h);
}

ConnectionTable::ConnectionTable(const Options& options, View& view, HostStats& stats,
                                 TableLimits limits)
    : m_options(options),
      m_view(view),
      m_stats(stats),
      m_limits(limits),
      m_seqSetup{limits.seq, &stats.stream} {}

ConnectionTable::~ConnectionTable() {
  EndAll(0);
}

inline ConnectionTable::KeyWords ConnectionTable::MakeKey(const TcpSegment& s, bool& srcFirst) {
  // Any fixed order of the two ends will do: the addresses as two words each, then the ports.
  const uint64_t src[2] = {WordAt(s.src), WordAt(s.src + 8)};
  const uint64_t dst[2] = {WordAt(s.dst), WordAt(s.dst + 8)};
  srcFirst = src[0] != dst[0]   ? src[0] < dst[0]
             : src[1] != dst[1] ? src[1] < dst[1]
                                : s.srcPort <= s.dstPort;
  // Made of the words already read, in the layout of Key (two addresses, then the two ports and
  // the version), in registers: a word read over the smaller stores just made would wait.
  const uint64_t portA = srcFirst ? s.srcPort : s.dstPort;
  const uint64_t portB = srcFirst ? s.dstPort : s.srcPort;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  const uint64_t ends = portA | portB << 16 | uint64_t(s.ipVersion) << 32;
#else
  const uint64_t ends = portA << 48 | portB << 32 | uint64_t(s.ipVersion) << 24;
#endif
  return KeyWords{srcFirst ? src[0] : dst[0], srcFirst ? src[1] : dst[1],
                  srcFirst ? dst[0] : src[0], srcFirst ? dst[1] : src[1], ends};
}

ConnectionEnds ConnectionTable::EndsOf(const Connection& c) {
  const int client = c.clientIsA ? 0 : 1;
  ConnectionEnds ends;
  ends.ipVersion = c.key.version;
  ends.client = c.key.addr[client];
  ends.clientPort = c.key.port[client];
  ends.server = c.key.addr[1 - client];
  ends.serverPort = c.key.port[1 - client];
  return ends;
}

void ConnectionTable::Unlink(Connection* c) {
  (c->newer ? c->newer->older : m_newest) = c->older;
  (c->older ? c->older->newer : m_oldest) = c->newer;
  c->newer = c->older = nullptr;
}

void ConnectionTable::LinkNewest(Connection* c) {
  c->older = m_newest;
  c->newer = nullptr;
  (m_newest ? m_newest->newer : m_oldest) = c;
  m_newest = c;
}

ConnectionTable::Connection* ConnectionTable::Create(const KeyWords& words, bool srcFirst,
                                                     const TcpSegment& s,
                                                     const ConnectionHint* hint) {
  const bool syn = (s.flags & kTcpSyn) != 0;
  const bool ack = (s.flags & kTcpAck) != 0;
  bool senderIsClient;
  if (hint)
    senderIsClient = hint->clientToServer;
  else if (syn)
    senderIsClient = !ack;  // a SYN comes from the client, a SYN-ACK from the server
  else if (IsTdsPort(m_options, s.dstPort) != IsTdsPort(m_options, s.srcPort))
    senderIsClient = IsTdsPort(m_options, s.dstPort);
  else
    senderIsClient = true;  // the side that sent the first payload

  Connection& c = *new Connection();
  LinkNewest(&c);
  ++m_count;
  const uint64_t w[5] = {words.w0, words.w1, words.w2, words.w3, words.w4};
  std::memcpy(&c.key, w, sizeof(c.key));
  const Key& key = c.key;
  c.number = hint ? hint->number : m_nextNumber++;
  // A connection whose two ends are one and the same has its client first.
  const bool oneEnd = key.port[0] == key.port[1] && std::memcmp(key.addr[0], key.addr[1], 16) == 0;
  c.clientIsA = oneEnd || senderIsClient == srcFirst;
  const uint16_t serverPort = senderIsClient ? s.dstPort : s.srcPort;
  c.kind = hint || IsTdsPort(m_options, serverPort) ? Kind::kTds : Kind::kUndecided;
  c.midStream = !hint && !syn;
  for (SeqTracker& seq : c.seq) seq = SeqTracker();
  ++m_stats.tcpConnections;
  if (c.kind == Kind::kTds) {
    ++m_stats.tdsConnections;
    m_view.ConnectionOpened(c.number, EndsOf(c));
    c.sink[0] = m_view.OpenDirection(c.number, true, c.midStream);
    c.sink[1] = m_view.OpenDirection(c.number, false, c.midStream);
  }
  m_index.Insert(&c);
  return &c;
}

inline StreamPiece ConnectionTable::PieceOf(int dir, const TcpSegment& s, uint64_t frame) {
  StreamPiece piece;
  piece.data = s.payload;
  piece.length = s.payloadLength;
  piece.frame = frame;
  piece.ethernet = s.hasEthernet ? s.ethernet : kMadeEthernet[dir][s.ipVersion == 6 ? 1 : 0];
  piece.block = s.frameIsPlainEthernet ? s.frame : nullptr;
  return piece;
}

inline void ConnectionTable::Payload(Connection& c, int dir, const TcpSegment& s, uint64_t frame) {
  const StreamPiece piece = PieceOf(dir, s, frame);
  if (!m_options.reassemble) {
    if (piece.length > 0) c.sink[dir]->Deliver(piece);
    return;
  }
  const uint32_t seq = s.seq + ((s.flags & kTcpSyn) ? 1u : 0u);
  c.seq[dir].Segment(m_seqSetup, seq, piece, s.wirePayloadLength, *c.sink[dir]);
}

void ConnectionTable::CloseDirection(Connection& c, int dir, uint64_t frame) {
  if (c.closed[dir]) return;
  c.closed[dir] = true;
  if (c.kind != Kind::kTds) return;
  StreamPiece context;
  context.frame = frame;
  context.ethernet = nullptr;  // the sinks keep the header of the direction's last bytes
  if (m_options.reassemble) c.seq[dir].Drain(m_seqSetup, context, *c.sink[dir]);
  c.sink[dir]->End(frame);
}

void ConnectionTable::End(Connection* it, uint64_t frame) {
  Connection& c = *it;
  CloseDirection(c, 0, frame);
  CloseDirection(c, 1, frame);
  if (c.kind == Kind::kTds) {
    m_view.CloseDirection(c.sink[0]);
    m_view.CloseDirection(c.sink[1]);
    c.sink[0] = c.sink[1] = nullptr;
    m_view.ConnectionEnded(c.number);
  }
  m_buffered -= c.buffered;
  if (m_last == it) m_last = nullptr;
  m_index.Erase(&c);
  Unlink(it);
  --m_count;
  delete it;
}

inline void ConnectionTable::Account(Connection& c) {
  size_t now = c.seq[0].bufferedBytes() + c.seq[1].bufferedBytes();
  if (m_limits.countSinkBytes)
    for (DirectionSink* sink : c.sink)
      if (sink) now += sink->HeldBytes();
  // A direction holds at most its ceilings (a few MiB): the count fits 32 bits; held to it
  // all the same, so that the table's sum stays exact.
  now = std::min<size_t>(now, UINT32_MAX);
  m_buffered = m_buffered - c.buffered + now;
  c.buffered = static_cast<uint32_t>(now);
}

void ConnectionTable::Evict(Connection* keep, uint64_t frame) {
  // Too many connections: the least recently used goes.
  while (m_count > m_limits.maxConnections) {
    Connection* last = m_oldest;
    if (last == keep) break;
    ++m_stats.connectionsEvicted;
    End(last, frame);
  }
  // Too many bytes held: the connection holding the most is cut short, whichever it is; idle
  // connections hold next to nothing and stay.
  while (m_buffered > m_limits.maxBufferedBytes) {
    Connection* most = m_newest;
    for (Connection* it = m_newest; it; it = it->older)
      if (it->buffered > most->buffered) most = it;
    if (most->buffered == 0) break;
    ++m_stats.connectionsCut;
    m_stats.bytesCut += most->buffered;
    for (DirectionSink* sink : most->sink)
      if (sink) sink->CutForMemory();
    End(most, frame);
  }
}

void ConnectionTable::Segment(const TcpSegment& s, uint64_t frame, const ConnectionHint* hint) {
  bool srcFirst = true;
  const KeyWords key = MakeKey(s, srcFirst);
  const bool syn = (s.flags & kTcpSyn) != 0;
  const bool hasPayload = s.wirePayloadLength > 0;
  Connection* it =
      m_last && IndexTraits::Same(WordsOf(m_last->key), key) ? m_last : m_index.Find(key);
  bool exists = it != nullptr;
  if (exists) {
    Connection& old = *it;
    const int dir = srcFirst == old.clientIsA ? 0 : 1;
    if (syn) {
      // A SYN repeated with its first sequence number belongs to the connection; any other SYN
      // on these addresses starts a new one.
      const bool repeat = old.synSeen[dir] && old.isn[dir] == s.seq;
      const bool first = !old.synSeen[dir] && !old.sent[dir] && !old.closed[dir];
      if (!repeat && !first) {
        End(it, frame);
        exists = false;
      }
    }
  }
  if (!exists) {
    if (!syn && !hasPayload) return;  // nothing to number a connection by
    it = Create(key, srcFirst, s, hint);
  } else if (it != m_newest) {
    Unlink(it);
    LinkNewest(it);
  }
  m_last = it;
  Connection& c = *it;
  // A bare acknowledgement changes nothing but the order of use.
  if (!hasPayload && !(s.flags & (kTcpSyn | kTcpFin | kTcpRst))) return;
  const int dir = srcFirst == c.clientIsA ? 0 : 1;

  if (syn && !c.synSeen[dir]) {
    c.synSeen[dir] = true;
    c.isn[dir] = s.seq;
    c.seq[dir].Syn(s.seq);
  }
  if (hasPayload) {
    c.sent[dir] = true;
    ++m_stats.tcpPayloadSegments;
    if (s.payloadLength < s.wirePayloadLength) ++m_stats.segmentsCutByCapture;
    if (c.kind == Kind::kUndecided && dir == 0) {
      // Off the TDS ports a connection is decoded when the client opens with a login.
      if (LooksLikeLogin(s.payload, s.payloadLength)) {
        c.kind = Kind::kTds;
        ++m_stats.tdsConnections;
        m_view.ConnectionOpened(c.number, EndsOf(c));
        c.sink[0] = m_view.OpenDirection(c.number, true, c.midStream);
        c.sink[1] = m_view.OpenDirection(c.number, false, c.midStream);
      } else {
        c.kind = Kind::kIgnored;
      }
    }
    if (c.kind == Kind::kTds) {
      Payload(c, dir, s, frame);
    } else if (c.kind == Kind::kUndecided && m_options.reassemble) {
      const StreamPiece piece = PieceOf(dir, s, frame);
      c.seq[dir].Segment(m_seqSetup, s.seq + (syn ? 1u : 0u), piece, s.wirePayloadLength,
                         g_discard);
    }
  }
  if (s.flags & kTcpFin) {
    c.finPending[dir] = true;
    c.seq[dir].Fin(s.seq + (syn ? 1u : 0u) + s.wirePayloadLength);
  }
  if (s.flags & kTcpRst) CloseDirection(c, dir, frame);
  if (c.finPending[dir] &&
      (!m_options.reassemble || c.kind != Kind::kTds || c.seq[dir].finReached()))
    CloseDirection(c, dir, frame);
  if (c.closed[0] && c.closed[1]) {
    End(it, frame);
    return;
  }
  Account(c);
  if (m_count > m_limits.maxConnections || m_buffered > m_limits.maxBufferedBytes) Evict(it, frame);
}

void ConnectionTable::EndAll(uint64_t lastFrame) {
  // In the order the connections were numbered.
  std::vector<Connection*> all;
  all.reserve(m_count);
  for (Connection* it = m_newest; it; it = it->older) all.push_back(it);
  std::sort(all.begin(), all.end(),
            [](const Connection* x, const Connection* y) { return x->number < y->number; });
  for (Connection* it : all) End(it, lastFrame);
}
